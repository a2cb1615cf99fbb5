#pragma once
// One QApplication for the whole test program, on the offscreen platform
// unless another one is asked for (the X server check runs with xcb), and a
// left click delivered to a widget as the user's mouse makes it.
#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
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

// Presses and releases the left button at `at` in w's coordinates.
inline void ClickAt(QWidget* w, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
  QCoreApplication::sendEvent(w, &release);
}

}  // namespace dunmere::test
