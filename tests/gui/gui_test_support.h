#pragma once
// What the main-window tests share: the application, a fake sysfs tree per
// test (the hot-plug tests change it), a device monitor driven by the test,
// a main window over them, and waiting for a modal message box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

#include "app/gui/main_wnd.h"
#include "platform/device_monitor.h"
#include "tests/support/test_support.h"
#include "tests/ui/ui_test_app.h"
#include "ui/window_base.h"

namespace dunmere::ui {
class DiskList;
}

namespace dunmere::test {

// Stands in for the udev monitor: the test raises the events.
class FakeMonitor : public IDeviceMonitor {
 public:
  struct Shared {
    std::mutex mutex;
    Callback callback;
    bool started = false;
    bool stopped = false;
  };
  explicit FakeMonitor(std::shared_ptr<Shared> s) : s_(std::move(s)) {}
  bool Start(Callback cb) override {
    std::lock_guard lock(s_->mutex);
    s_->callback = std::move(cb);
    s_->started = true;
    return true;
  }
  void Stop() override {
    std::lock_guard lock(s_->mutex);
    s_->callback = nullptr;
    s_->stopped = true;
  }
  static void Raise(Shared& s, DeviceEvent::Action a, const std::string& node = "/dev/sdx") {
    std::lock_guard lock(s.mutex);
    if (s.callback) s.callback({a, node, "disk"});
  }

 private:
  std::shared_ptr<Shared> s_;
};

inline void Pump(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The message box that is open (modal) now, if any.
inline ui::WindowImplBase* OpenBox(const QWidget* except) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* win = dynamic_cast<ui::WindowImplBase*>(w); win && win != except && win->isVisible() && win->IsModalRunning())
      return win;
  return nullptr;
}

// Answers the next modal box with "okbtn" and reports its message text and
// layout. It looks every 20 ms while the BoxSeen lives, so a box that opens
// late is still answered. A modal dialog of another kind (a file dialog the
// test did not expect) is rejected and named in `unexpected`: the test then
// fails instead of waiting for a person.
struct BoxSeen {
  bool shown = false;
  QString message;
  QString layout;
  QString unexpected;
  std::unique_ptr<QTimer> poll;
};
void AnswerNextBox(const QWidget* main, BoxSeen* seen);

// A fake /sys/block, /dev, udev database and mountinfo of its own.
struct SysfsTree {
  TempDir dir;
  int status = -1;
  std::string output;
  EnumerationRoots roots;
  SysfsTree() {
    std::filesystem::create_directories(dir / "mnt");
    status = RunFixtureScript("make_sysfs_tree.sh", "'" + dir.path() + "' '" + dir.path() + "/mnt'", &output);
    roots.sysBlock = dir / "sys/block";
    roots.dev = dir / "dev";
    roots.udevData = dir / "udev";
    roots.mountInfo = dir / "mountinfo";
  }
};

// A main window over a fake sysfs tree with a test-driven device monitor; the
// choice of language goes to a file of the test's own, never into the source
// tree's config.ini. Skips when the tree's tools are missing.
class MainWndFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  gui::MainWnd& Open(EnumerationRoots roots, int deviceSettleMs = 300);
  gui::MainWnd& Open() { return Open(tree_->roots); }
  void Click(const char* name);
  bool Visible(const char* name) const;
  QString Text(const char* name) const;
  ui::DiskList& List() const;
  // The first cell of every location row, in order.
  QStringList Names() const;
  int RowNamed(const QString& name) const { return int(Names().indexOf(name)); }

  TempDir user_;
  std::unique_ptr<SysfsTree> tree_;
  std::shared_ptr<FakeMonitor::Shared> monitor_ = std::make_shared<FakeMonitor::Shared>();
  std::unique_ptr<gui::MainWnd> wnd_;
};

}  // namespace dunmere::test
