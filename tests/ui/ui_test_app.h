#pragma once
// One QApplication for the whole test program, on the offscreen platform
// unless another one is asked for (the X server check runs with xcb), a left
// click delivered to a widget as the user's mouse makes it, and waits on the
// event loop that end at a condition, not after a time.
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>
#include <cstdlib>
#include <functional>
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

// Runs the event loop until pred holds, however long a busy machine takes;
// false only past a guard against a hang (minutes), never as a verdict on speed.
inline bool WaitFor(const std::function<bool()>& pred) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > 5 * 60 * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}
// Runs the event loop until pred holds or ms have passed: only for deciding
// whether the machine can run a test at all (then it skips), never a verdict.
inline bool WaitAtMost(const std::function<bool()>& pred, int ms) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace dunmere::test
