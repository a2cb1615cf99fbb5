// The program as a whole: one copy per user (in-process and with the real
// `dunmere` started twice), the clean-up at exit, and the usage marker.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <fstream>
#include <thread>

#include "app/core/language/usage_marker.h"
#include "app/gui/single_instance.h"
#include "tests/gui/gui_test_support.h"

namespace dunmere::gui {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Asks for the first copy from another thread, as a second process would,
// while this thread's event loop lets the first copy answer.
SingleInstance::Role AcquireFromOtherThread(const QString& folder, const QStringList& images) {
  SingleInstance::Role role = SingleInstance::Role::kFirst;
  bool done = false;
  std::thread t([&] {
    SingleInstance second(folder);
    role = second.Acquire(images, 10 * 60 * 1000);
    done = true;
  });
  test::WaitFor([&] { return done; });
  t.join();
  return role;
}

TEST(SingleInstance, ASecondCopyHandsItsFilesToTheFirst) {
  test::UiApp();
  TempDir dir;
  const QString folder = QString::fromStdString(dir.path());
  SingleInstance first(folder);
  ASSERT_EQ(first.Acquire({}), SingleInstance::Role::kFirst);
  QStringList received;
  int activations = 0;
  QObject::connect(&first, &SingleInstance::activated, [&](const QStringList& images) {
    received = images;
    ++activations;
  });

  // Before the window is up, the second copy is told so.
  EXPECT_EQ(AcquireFromOtherThread(folder, {"/a.img"}), SingleInstance::Role::kFirstHasNoWindow);
  EXPECT_EQ(activations, 0);

  first.SetReady(true);
  // Names with line breaks, percent signs and non-ASCII letters arrive whole.
  const QStringList images{"/tmp/x y.img", "/tmp/odd\nname%41.img", QString::fromUtf8("/tmp/Bilder/Ürlaub.img")};
  EXPECT_EQ(AcquireFromOtherThread(folder, images), SingleInstance::Role::kHandedOver);
  ASSERT_TRUE(test::WaitFor([&] { return activations == 1; }));
  EXPECT_EQ(received, images);
  EXPECT_EQ(AcquireFromOtherThread(folder, {}), SingleInstance::Role::kHandedOver);
  ASSERT_TRUE(test::WaitFor([&] { return activations == 2; }));
  EXPECT_TRUE(received.isEmpty());
}

TEST(SingleInstance, ALockLeftByADeadCopyDoesNotBlockTheNextStart) {
  test::UiApp();
  TempDir dir;
  const QString folder = QString::fromStdString(dir.path());
  // A copy that was killed leaves its lock file and socket behind.
  QProcess dead;
  dead.start("sleep", {"0"});
  dead.waitForFinished();
  const qint64 deadPid = dead.processId() ? dead.processId() : 999999;
  SingleInstance probe(folder);
  {
    std::ofstream lock(probe.LockPath().toStdString());
    lock << deadPid << "\ndunmere\n" << QSysInfo::machineHostName().toStdString() << "\n";
  }
  std::ofstream(probe.SocketPath().toStdString()).close();
  EXPECT_EQ(probe.Acquire({}), SingleInstance::Role::kFirst);
}

// The real program, started as the user would start it.
class ProgramProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UiApp();
    binary_ = QString::fromStdString(std::string(DUNMERE_BINARY_DIR) + "/app/gui/dunmere");
    ASSERT_TRUE(fs::exists(binary_.toStdString())) << binary_.toStdString();
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime_.path()));
    env_.insert("DUNMERE_DATA_DIR", QString::fromStdString(data_.path()));
    env_.insert("QT_QPA_PLATFORM", "offscreen");
    env_.remove("DUNMERE_PROGRAM_DIR");
  }
  void Start(QProcess& p, const QStringList& args = {}) {
    p.setProcessEnvironment(env_);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(binary_, args);
    ASSERT_TRUE(p.waitForStarted(-1));
  }
  // The first copy is ready once the socket exists and it says it has a window.
  bool WaitUntilListening() {
    const QString folder = QString::fromStdString(runtime_.path());
    return test::WaitFor([&] { return fs::exists(SingleInstance(folder).SocketPath().toStdString()); });
  }
  QString binary_;
  QProcessEnvironment env_;
  TempDir runtime_, data_;
};

TEST_F(ProgramProcess, ASecondStartHandsTheImageToTheRunningCopyAndEnds) {
  // This test is the first copy; the real program is the second.
  SingleInstance first(QString::fromStdString(runtime_.path()));
  ASSERT_EQ(first.Acquire({}), SingleInstance::Role::kFirst);
  first.SetReady(true);
  QStringList received;
  QObject::connect(&first, &SingleInstance::activated, [&](const QStringList& i) { received = i; });
  TempDir images;
  const std::string image = images / "card.img";
  std::ofstream(image) << "not much";
  QProcess second;
  second.setWorkingDirectory(QString::fromStdString(images.path()));
  Start(second, {"card.img"});
  ASSERT_TRUE(test::WaitFor([&] { return second.state() == QProcess::NotRunning; }))
      << "the second copy should end at once";
  EXPECT_EQ(second.exitCode(), 0) << second.readAll().toStdString();
  ASSERT_TRUE(test::WaitFor([&] { return !received.isEmpty(); }));
  EXPECT_EQ(received, QStringList{QString::fromStdString(image)}) << "a relative name arrives as a full path";
}

TEST_F(ProgramProcess, TheRealProgramAnswersALaterStartAndCleansUpAtExit) {
  QProcess program;
  Start(program);
  ASSERT_TRUE(WaitUntilListening()) << program.readAll().toStdString();
  SingleInstance::Role role = SingleInstance::Role::kFirstHasNoWindow;
  ASSERT_TRUE(test::WaitFor(
      [&] {
        role = AcquireFromOtherThread(QString::fromStdString(runtime_.path()), {});
        return role == SingleInstance::Role::kHandedOver;
      }));
  // The real program's own second start ends too, handing over its file.
  QProcess second;
  Start(second, {"/nonexistent.img"});
  ASSERT_TRUE(test::WaitFor([&] { return second.state() == QProcess::NotRunning; }));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(program.state(), QProcess::Running);

  // The preview's temporary video does not outlive the program, even when
  // the session ends it with a signal.
  fs::create_directories(data_ / "ScanLog");
  std::ofstream(data_ / "ScanLog/tmp.avi") << "video";
  std::ofstream(data_ / "ScanLog/keep.txt") << "other";
  ::kill(pid_t(program.processId()), SIGTERM);
  ASSERT_TRUE(test::WaitFor([&] { return program.state() == QProcess::NotRunning; }));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << program.readAll().toStdString();
  EXPECT_FALSE(fs::exists(data_ / "ScanLog/tmp.avi"));
  EXPECT_TRUE(fs::exists(data_ / "ScanLog/keep.txt"));
  // Its lock went with it: the next start is a first copy again.
  SingleInstance next(QString::fromStdString(runtime_.path()));
  EXPECT_EQ(next.Acquire({}), SingleInstance::Role::kFirst);
}

TEST_F(ProgramProcess, ALaterStartWhileTheFirstHasNoWindowSaysDunmereIsRunning) {
  SingleInstance first(QString::fromStdString(runtime_.path()));
  ASSERT_EQ(first.Acquire({}), SingleInstance::Role::kFirst);
  bool activated = false;
  QObject::connect(&first, &SingleInstance::activated, [&] { activated = true; });
  QProcess second;
  Start(second);
  // Told so, it waits in its "Dunmere is running." box rather than starting
  // a window or ending.
  ASSERT_TRUE(test::WaitFor([&] { return first.AnsweredWithoutWindow() == 1; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(second.state(), QProcess::Running) << second.readAll().toStdString();
  EXPECT_FALSE(activated);
  second.kill();
  second.waitForFinished(-1);
}

TEST(UsageMarker, MadeOnceAndNeverRewritten) {
  TempDir dir;
  const std::string folder = dir / "deep/Free Dunmere";
  EXPECT_TRUE(app::EnsureUsageMarker(folder));
  ASSERT_TRUE(fs::exists(folder + "/Used"));
  EXPECT_EQ(fs::file_size(folder + "/Used"), 0u);
  std::ofstream(folder + "/Used") << "kept";
  EXPECT_TRUE(app::EnsureUsageMarker(folder));
  EXPECT_EQ(fs::file_size(folder + "/Used"), 4u);
  // A folder that cannot be made is no error worth stopping for.
  std::ofstream(dir / "file").close();
  EXPECT_FALSE(app::EnsureUsageMarker(dir / "file/sub"));
}

}  // namespace
}  // namespace dunmere::gui
