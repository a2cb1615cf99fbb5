#pragma once
// One QApplication for the whole test program, on the offscreen platform
// unless another one is asked for (the X server check runs with xcb).
#include <QApplication>
#include <cstdlib>
#include <string>

#include "tests/support/test_support.h"

namespace dunmere::test {

inline QApplication& UiApp() {
  static int argc = 1;
  static char name[] = "test_ui";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The language files of the source tree stand in for the program folder.
    setenv("DUNMERE_PROGRAM_DIR", SourcePath("languages").c_str(), 1);
    return new QApplication(argc, argv);
  }();
  return *app;
}

}  // namespace dunmere::test
