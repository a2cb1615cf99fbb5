// The scan and search windows: real images scanned through the window, cancel
// (confirmed, refused, by Escape), the resume question both ways, engines that
// cannot be made, windows destroyed while their worker runs, and progress
// handed to the UI thread at a bounded rate.
#include "app/gui/scan_process_wnd.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QKeyEvent>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <filesystem>

#include "app/core/sessions/scan_session.h"
#include "app/gui/apply_section.h"
#include "app/gui/message_box.h"
#include "app/gui/search_process_wnd.h"
#include "engine/scan_log_folder.h"
#include "platform/data_folder.h"
#include "tests/app/fake_engine.h"
#include "tests/ui/ui_test_app.h"

namespace fs = std::filesystem;

namespace dunmere::gui {
namespace {

using test::FakeEngine;
using test::SampleItems;

// The main window's stand-in: records the messages posted to it.
class OwnerWnd : public QWidget {
 public:
  std::vector<int> messages;
  int Count(int m) const { return int(std::count(messages.begin(), messages.end(), m)); }

 protected:
  bool event(QEvent* e) override {
    if (auto* m = dynamic_cast<ui::PostedMessage*>(e)) {
      messages.push_back(m->message);
      return true;
    }
    return QWidget::event(e);
  }
};

// Finds its items at once, then keeps reporting progress until the gate
// opens, so a test can act while it runs.
struct Gate {
  std::atomic<bool> open{false};
  std::atomic<int> scans{0};
  std::atomic<int> reports{0};
};
class GatedEngine : public FakeEngine {
 public:
  explicit GatedEngine(Gate* gate) : FakeEngine(SampleItems()), gate_(gate) {}
  Status Scan(const std::string* name) override {
    ++gate_->scans;
    if (Status s = FakeEngine::Scan(name)) return s;
    uint64_t done = 0;
    while (!gate_->open) {
      ++gate_->reports;
      if (progress_)
        if (int a = progress_(user_, 50, share_, 30, ++done, 1000000, 13, 0)) return a;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return kOk;
  }

 private:
  Gate* gate_;
};

EngineOpener GatedOpener(Gate* gate) {
  return [gate](const ScanSourceItem&, bool, std::string&) -> std::unique_ptr<ScanEngine> {
    return std::make_unique<GatedEngine>(gate);
  };
}

std::vector<ScanSourceItem> ImageItems(int n) {
  std::vector<ScanSourceItem> v(n);
  for (int i = 0; i < n; ++i) {
    v[i].imagePath = "/nowhere/source" + std::to_string(i) + ".img";
    v[i].tag = uint16_t(i + 1);
  }
  return v;
}
std::vector<ScanSourceItem*> Pointers(std::vector<ScanSourceItem>& v) {
  std::vector<ScanSourceItem*> p;
  for (auto& i : v) p.push_back(&i);
  return p;
}

// The open message box, if any.
MessageBoxWnd* OpenBox() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* b = dynamic_cast<MessageBoxWnd*>(w); b && b->isVisible() && b->IsModalRunning()) return b;
  return nullptr;
}

// Clicks from a fresh event: the question it opens runs a loop of its own,
// in which the ticks (a timer never re-enters its own slot) must go on.
void ClickLater(ui::WindowImplBase* w, const char* name) {
  QTimer::singleShot(0, w, [w, name] { w->Find<QAbstractButton>(name)->click(); });
}

void PressKey(QWidget* w, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
}

// Runs the window modally; `tick` runs every 2 ms on the UI thread meanwhile
// (also while a message box is open). Gives up after 60 s.
int RunWindow(PopUpWnd& w, OwnerWnd& owner, int width, int height, const std::function<void()>& tick) {
  EXPECT_TRUE(w.CreatePopup(&owner, width, height));
  QTimer t;
  QObject::connect(&t, &QTimer::timeout, tick);
  t.start(2);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    ADD_FAILURE() << "the window did not close";
    if (MessageBoxWnd* b = OpenBox()) b->Close(2);
    w.Close(99);
  });
  guard.start(10 * 60 * 1000);  // only bounds a hang
  const int result = w.RunModal();
  // What the window posted on closing reaches the owner.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  return result;
}

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

class ScanWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    test::UiApp();
    owner.resize(900, 600);
    owner.show();
  }
  bool app_ = (test::UiApp(), true);  // before any widget
  OwnerWnd owner;
};

TEST_F(ScanWindowTest, ProgressTextsAndStageTexts) {
  ScanProgress p;
  p.secondsLeft = -1;
  EXPECT_EQ(ScanProcessWnd::TextsFor(p).time, MessageText("MSG0705"));
  p.secondsLeft = 3599;
  EXPECT_EQ(ScanProcessWnd::TextsFor(p).time, MessageText("MSG0708") + "59 Min 59 Sec");
  p.secondsLeft = 3600;
  EXPECT_EQ(ScanProcessWnd::TextsFor(p).time, MessageText("MSG0708") + "1 Hour 0 Min");
  p.percent = 50;
  EXPECT_EQ(ScanProcessWnd::TextsFor(p).percent, MessageText("MSG0704") + " 50%");
  p.percent = 3;
  p.share = 30;
  EXPECT_EQ(ScanProcessWnd::TextsFor(p).value, 0);
  // A deep scan's pass reports 10..110 with share 90: the bar stays in range.
  p.percent = 110;
  p.share = 90;
  EXPECT_EQ(ScanProcessWnd::TextsFor(p).value, 99);
  EXPECT_FALSE(ScanProcessWnd::TextsFor(p).showCounts);
  p.done = 7;
  p.total = 9;
  p.found = 3;
  auto t = ScanProcessWnd::TextsFor(p);
  EXPECT_TRUE(t.showCounts);
  EXPECT_EQ(t.sectors, MessageText("MSG0706") + " 7 / 9");
  EXPECT_EQ(t.totalFiles, MessageText("MSG0707") + " 3");
  // A deep scan names its stage beside the percent.
  p.percent = 93;
  p.share = 100;
  p.stage = kStageBuildingFolders;
  EXPECT_EQ(ScanProcessWnd::TextsFor(p).percent, MessageText("MSG0704") + " 93% \u2013 " + MessageText("MSG0721"));
  p.stage = kStageReadingSectors;
  EXPECT_TRUE(ScanProcessWnd::TextsFor(p).percent.endsWith(MessageText("MSG0720")));
  EXPECT_TRUE(ScanProcessWnd::TextsFor(p).sectors.startsWith(MessageText("MSG0706")));
  // A pass over the free stretches counts free sectors and says so.
  p.stage = kStageReadingFreeSectors;
  EXPECT_EQ(ScanProcessWnd::TextsFor(p).sectors, MessageText("MSG0724") + " 7 / 9");

  // A source is named as the location list names it, never by the list's
  // own tag number, which is shown nowhere.
  ScanSourceItem part;
  part.volume = VolumeInfo{};
  part.volume->letter = 3;
  part.volume->volumePath = "/dev/sdb1";
  part.volume->label = "CARD";
  EXPECT_EQ(ScanProcessWnd::StageText(part), "Scanning sdb1 CARD ...");
  EXPECT_EQ(SearchProcessWnd::StageText(part), "Searching sdb1 CARD ...");
  ScanSourceItem imagePart;
  imagePart.imagePath = "/data/images/disk.img";
  imagePart.volume = VolumeInfo{};
  imagePart.volume->letter = 5;
  imagePart.volume->partitionNumber = 1;
  imagePart.volume->label = "DATA";
  EXPECT_EQ(ScanProcessWnd::StageText(imagePart), "Scanning disk.img:1 DATA ...");
  ScanSourceItem image;
  image.imagePath = "/data/images/card.img";
  EXPECT_EQ(ScanProcessWnd::StageText(image), "Scanning image file card.img");
  EXPECT_EQ(SearchProcessWnd::StageText(image), "Searching image file card.img ...");
  EXPECT_EQ(FillFormat("100%% of %s done", "x"), "100%% of x done") << "only a conversion is replaced";
}

TEST_F(ScanWindowTest, ConstructingTheScanWindowLeavesTheUsageMarker) {
  const std::string marker = DataFolderPath() + "/Used";
  fs::remove(marker);
  { ScanProcessWnd w; }
  ASSERT_TRUE(fs::exists(marker));
  test::WriteBytes(marker, {'x'});
  { ScanProcessWnd w; }
  EXPECT_EQ(test::ReadBytes(marker), std::vector<uint8_t>{'x'}) << "an existing marker is not touched";
}

TEST_F(ScanWindowTest, CancelDuringTheFirstSourceKeepsItsResultsAndSkipsTheRest) {
  Gate gate;
  auto items = ImageItems(3);
  ScanProcessWnd w;
  w.SetSources(Pointers(items), 0);
  w.SetEngineOpener(GatedOpener(&gate));
  bool clicked = false, answered = false, hiddenDuringQuestion = false, keysIgnored = false;
  int reportsAtQuestion = -1, reportsAtAnswer = -1, ticksWithBox = 0;
  int result = RunWindow(w, owner, 350, 250, [&] {
    // Cancel once the engine has found its files and waits at the gate (its
    // own first reports come before it lists anything).
    if (!clicked && w.ProgressUpdates() > 0 && gate.reports > 0) {
      // Enter and Escape do not close a progress window.
      PressKey(&w, Qt::Key_Escape);
      PressKey(&w, Qt::Key_Return);
      keysIgnored = w.isVisible();
      clicked = true;
      ClickLater(&w, "cancelbtn");
      return;
    }
    MessageBoxWnd* box = OpenBox();
    if (!box || answered) return;
    if (ticksWithBox++ == 0) {
      hiddenDuringQuestion = !w.isVisible();
      EXPECT_EQ(box->Text("message"), MessageText("MSG0709"));
      reportsAtQuestion = gate.reports;
      return;
    }
    if (ticksWithBox < 40) return;  // the worker must stand still meanwhile
    reportsAtAnswer = gate.reports;
    answered = true;
    box->Find<QAbstractButton>("okbtn")->click();
  });
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(keysIgnored);
  EXPECT_TRUE(hiddenDuringQuestion);
  EXPECT_LE(reportsAtAnswer - reportsAtQuestion, 1) << "the worker waits at its next report";
  EXPECT_EQ(gate.scans, 1) << "later sources are not scanned";
  EXPECT_EQ(owner.Count(ScanProcessWnd::kScanFinished), 1);
  ASSERT_TRUE(items[0].engine);
  EXPECT_EQ(items[0].engine->GetFoundCount(), int64_t(SampleItems().size()));
  EXPECT_FALSE(items[1].engine);
  EXPECT_FALSE(items[2].engine);
  EXPECT_TRUE(owner.isEnabled());
}

TEST_F(ScanWindowTest, NoOrEscapeToTheCancelQuestionGoesOn) {
  for (bool byEscape : {false, true}) {
    SCOPED_TRACE(byEscape ? "Escape" : "No");
    owner.messages.clear();
    Gate gate;
    auto items = ImageItems(2);
    ScanProcessWnd w;
    w.SetSources(Pointers(items), 0);
    w.SetEngineOpener(GatedOpener(&gate));
    int phase = 0;
    bool shownAgain = false, ownerDisabledAfter = false;
    int updatesAtAnswer = 0;
    int result = RunWindow(w, owner, 350, 250, [&] {
      if (phase == 0 && w.ProgressUpdates() > 0) {
        phase = 1;
        ClickLater(&w, "cancelbtn");
      } else if (phase == 1 && OpenBox()) {
        phase = 2;
        updatesAtAnswer = w.ProgressUpdates();
        if (byEscape) PressKey(OpenBox(), Qt::Key_Escape);
        else OpenBox()->Find<QAbstractButton>("cancelbtn")->click();
      } else if (phase == 2 && !OpenBox()) {
        shownAgain = w.isVisible();
        ownerDisabledAfter = !owner.isEnabled();
        if (w.ProgressUpdates() > updatesAtAnswer + 1) {
          phase = 3;
          gate.open = true;  // progress went on: let the scans end
        }
      }
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(phase, 3);
    EXPECT_TRUE(shownAgain);
    EXPECT_TRUE(ownerDisabledAfter) << "the scan window is still modal over its owner";
    EXPECT_EQ(gate.scans, 2);
    EXPECT_TRUE(items[1].engine);
    EXPECT_EQ(owner.Count(ScanProcessWnd::kScanFinished), 1);
  }
}

TEST_F(ScanWindowTest, ProgressReachesTheUiThreadAtABoundedRate) {
  Gate gate;
  auto items = ImageItems(1);
  class Recording : public ScanProcessWnd {
   public:
    std::atomic<int> offThread{0};

   protected:
    void DrawProgress(const ScanProgress& p) override {
      if (QThread::currentThread() != QCoreApplication::instance()->thread()) ++offThread;
      ScanProcessWnd::DrawProgress(p);
    }
  } w;
  w.SetSources(Pointers(items), 0);
  w.SetEngineOpener(GatedOpener(&gate));
  // The engine reports until 3,000 reports were made, however long that
  // takes; the draws are bounded by the time it took (one per interval of
  // the link, one per late-progress flush, the last one).
  QElapsedTimer clock;
  clock.start();
  int result = RunWindow(w, owner, 350, 250, [&] {
    if (gate.reports >= 3000) gate.open = true;
  });
  const qint64 took = clock.elapsed();
  EXPECT_EQ(result, 1);
  const int reports = gate.reports;
  EXPECT_EQ(w.offThread, 0);
  EXPECT_GE(reports, 3000);
  EXPECT_GE(w.ProgressUpdates(), 1);
  EXPECT_LE(w.ProgressUpdates(), took / 100 + took / 250 + 3) << reports << " reports in " << took << " ms";
  EXPECT_TRUE(w.IsControlVisible("sectors"));
  EXPECT_EQ(w.Text("totalfile"), MessageText("MSG0707") + " 13");
}

TEST_F(ScanWindowTest, NoEngineClosesWithThreeAndKeepsEarlierEngines) {
  Gate gate;
  gate.open = true;
  auto items = ImageItems(3);
  ScanProcessWnd w;
  w.SetSources(Pointers(items), 0);
  int made = 0;
  w.SetEngineOpener([&](const ScanSourceItem& item, bool, std::string& error) -> std::unique_ptr<ScanEngine> {
    ++made;
    if (item.tag == 2) {
      error = "no file system";
      return nullptr;
    }
    return std::make_unique<GatedEngine>(&gate);
  });
  EXPECT_EQ(RunWindow(w, owner, 350, 250, [] {}), 3);
  EXPECT_EQ(made, 2);
  EXPECT_TRUE(items[0].engine);
  EXPECT_FALSE(items[1].engine);
  EXPECT_FALSE(w.FailureShown());
  EXPECT_EQ(w.JobResult().failedIndex, 1u);
  EXPECT_EQ(owner.Count(ScanProcessWnd::kScanFinished), 0) << "nothing is posted after a failure";
  // An image that is not there: the factory makes no engine.
  auto missing = ImageItems(1);
  ScanProcessWnd w2;
  w2.SetSources(Pointers(missing), 0);
  EXPECT_EQ(RunWindow(w2, owner, 350, 250, [] {}), 3);
}

// A whole disk's quick scan: its free stretch has no file system, the volumes
// around it are still scanned; only a disk where nothing could be read fails.
TEST_F(ScanWindowTest, QuickScanOfADiskSkipsWhatHasNoFileSystem) {
  Gate gate;
  gate.open = true;
  std::vector<ScanSourceItem> items(3);
  for (int i = 0; i < 3; ++i) {
    items[i].volume = VolumeInfo{};
    items[i].volume->kind = i == 1 ? EntryKind::kUnallocated : EntryKind::kVolume;
    items[i].tag = uint16_t(i + 1);
  }
  auto opener = [&](const ScanSourceItem& item, bool, std::string& error) -> std::unique_ptr<ScanEngine> {
    if (item.volume->kind == EntryKind::kUnallocated) {
      error = "no file system";
      return nullptr;
    }
    return std::make_unique<GatedEngine>(&gate);
  };
  ScanProcessWnd w;
  w.SetSources(Pointers(items), 0);
  w.SetEngineOpener(opener);
  EXPECT_EQ(RunWindow(w, owner, 350, 250, [] {}), 1);
  EXPECT_TRUE(items[0].engine && items[2].engine);
  EXPECT_FALSE(items[1].engine);
  EXPECT_EQ(w.JobResult().skipped, std::vector<size_t>{1});
  EXPECT_EQ(owner.Count(ScanProcessWnd::kScanFinished), 1);

  // Nothing on the disk to quick-scan: the scan fails as a single source does.
  for (auto& i : items) i.volume->kind = EntryKind::kUnallocated;
  ScanProcessWnd w2;
  w2.SetSources(Pointers(items), 0);
  w2.SetEngineOpener(opener);
  EXPECT_EQ(RunWindow(w2, owner, 350, 250, [] {}), 3);
  EXPECT_EQ(w2.JobResult().failedIndex, 0u);
}

TEST_F(ScanWindowTest, NoRightsToTheSourceSaysHowToStartAsAdministrator) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may read everything";
  test::TempDir dir;
  test::WriteBytes(dir / "locked.img", std::vector<uint8_t>(65536, 0));
  ::chmod((dir / "locked.img").c_str(), 0);
  auto items = ImageItems(1);
  items[0].imagePath = dir / "locked.img";
  ScanProcessWnd w;
  w.SetSources(Pointers(items), 0);
  QString shown;
  int result = RunWindow(w, owner, 350, 250, [&] {
    if (MessageBoxWnd* b = OpenBox(); b && shown.isEmpty()) {
      shown = b->Text("message");
      b->Find<QAbstractButton>("okbtn")->click();
    }
  });
  EXPECT_EQ(result, 3);
  EXPECT_TRUE(w.FailureShown());
  EXPECT_TRUE(shown.contains(QString::fromStdString(dir / "locked.img"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains("pkexec dunmere")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("sudo dunmere"));
}

// As the administrator a refused device is the system's doing: starting
// again as administrator would not help, so the message does not say to.
TEST_F(ScanWindowTest, RefusedToTheAdministratorSaysTheSystemForbidsIt) {
  const QString user = ScanProcessWnd::NoRightsText("/dev/sdz", false);
  const QString admin = ScanProcessWnd::NoRightsText("/dev/sdz", true);
  EXPECT_TRUE(user.contains("sudo dunmere"));
  EXPECT_TRUE(admin.contains("/dev/sdz"));
  EXPECT_FALSE(admin.contains("sudo")) << admin.toStdString();
  EXPECT_NE(admin, user);
}

TEST_F(ScanWindowTest, DestroyedWhileTheWorkerRunsJoinsIt) {
  // Run under -fsanitize=address too: no thread may touch the freed window.
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    Gate gate;  // never opens: only the cancel ends the scan
    auto items = ImageItems(2);
    auto* w = new ScanProcessWnd;
    w->SetSources(Pointers(items), 0);
    w->SetEngineOpener(GatedOpener(&gate));
    w->CreatePopup(&owner, 350, 250);
    w->show();  // windowinit starts the worker
    QElapsedTimer clock;
    clock.start();
    // The guard only bounds a hang.
    while (gate.reports < 20 && clock.elapsed() < 300000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_TRUE(w->WorkerRunning());
    if (variant == 1) {
      // Progress and stage updates still queued for the window when it goes.
      std::this_thread::sleep_for(std::chrono::milliseconds(120));
    }
    if (variant == 2) {
      // Destroyed while its cancel question is open: the question's answer
      // must not reach the freed window.
      QTimer::singleShot(0, [&] { w->Find<QAbstractButton>("cancelbtn")->click(); });
      QTimer::singleShot(30, [&] {
        delete w;
        w = nullptr;
        if (MessageBoxWnd* b = OpenBox()) b->Close(1);
      });
      clock.restart();
      while (w && clock.elapsed() < 300000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      ASSERT_EQ(w, nullptr);
    } else {
      delete w;
    }
    Pump(100);  // anything still posted must find nothing to call
    EXPECT_EQ(gate.scans, 1);
    ASSERT_TRUE(items[0].engine);
    EXPECT_EQ(items[0].engine->GetFoundCount(), int64_t(SampleItems().size()));
    EXPECT_EQ(owner.Count(ScanProcessWnd::kScanFinished), 0);
    EXPECT_TRUE(owner.isEnabled());
  }
}

// ---- real images through the window ----

class ScanWindowImages : public ScanWindowTest {
 protected:
  static void SetUpTestSuite() {
    ScanWindowTest::SetUpTestSuite();
    const std::string script = test::SourcePath("tests/fixtures/make_cli_images.sh");
    dir_ = std::string(DUNMERE_BINARY_DIR) + "/test-fixtures/cli-images-" + test::Sha256OfFile(script).substr(0, 16);
    auto q = [](const std::string& s) { return "'" + s + "'"; };
    const std::string cmd = "mkdir -p " + q(dir_) + " && exec 9>" + q(dir_ + ".lock") + " && flock 9 && { [ -f " +
                            q(dir_ + "/done") + " ] || { bash " + q(script) + " " + q(dir_) + " both && touch " +
                            q(dir_ + "/done") + "; }; }";
    status_ = test::RunCommand("bash -c " + q(cmd), &log_);
    if (status_ != 0 && log_.find("missing tool") != std::string::npos) status_ = 77;
  }
  void RequireImages() {
    if (status_ == 77) GTEST_SKIP() << "image tools missing: " << log_;
    ASSERT_EQ(status_, 0) << log_;
  }
  static int64_t ReferenceCount(const std::string& image, bool deep) {
    SourceSpec s;
    s.path = s.text = image;
    OpenedEngine opened;
    std::string error;
    if (OpenEngine(s, deep, opened, error)) return -1;
    SettleResume(*opened.engine, true);
    if (RunScan(*opened.engine, {})) return -1;
    return opened.engine->GetFoundCount();
  }
  // How a resume question is answered: a button, Escape, or the window
  // system's close (Alt+F4).
  enum class Way { kOk, kOther, kCancel, kCloseButton, kEscape, kClose };
  // Scans through the window; answers a resume question the given way and
  // tells its message id.
  int ScanImage(ScanSourceItem& item, bool deep, Way way, bool* asked = nullptr, QString* message = nullptr) {
    ScanProcessWnd w;
    std::vector<ScanSourceItem*> list{&item};
    w.SetSources(list, deep ? 1 : 0);
    return RunWindow(w, owner, 350, 250, [&] {
      MessageBoxWnd* b = OpenBox();
      if (!b) return;
      if (message) *message = b->Text("message");
      EXPECT_FALSE(w.isVisible()) << "hidden while it asks";
      if (asked) *asked = true;
      switch (way) {
        case Way::kOk: b->Find<QAbstractButton>("okbtn")->click(); break;
        case Way::kOther: b->Find<QAbstractButton>("otherbtn")->click(); break;
        case Way::kCancel: b->Find<QAbstractButton>("cancelbtn")->click(); break;
        case Way::kCloseButton: b->Find<QAbstractButton>("closebtn")->click(); break;
        case Way::kEscape: PressKey(b, Qt::Key_Escape); break;
        case Way::kClose: b->close(); break;
      }
    });
  }
  int ScanImage(ScanSourceItem& item, bool deep, int resume, bool* asked = nullptr) {
    return ScanImage(item, deep, resume == 1 ? Way::kOk : Way::kOther, asked);
  }
  static std::string dir_, log_;
  static int status_;
};
std::string ScanWindowImages::dir_, ScanWindowImages::log_;
int ScanWindowImages::status_ = 0;

TEST_F(ScanWindowImages, QuickScansFindWhatTheSessionFinds) {
  RequireImages();
  for (const char* name : {"fat32.img", "ntfs.img"}) {
    SCOPED_TRACE(name);
    const std::string image = dir_ + "/" + name;
    const int64_t expected = ReferenceCount(image, false);
    ASSERT_GT(expected, 0);
    ScanSourceItem item;
    item.imagePath = image;
    item.tag = 1;
    owner.messages.clear();
    EXPECT_EQ(ScanImage(item, false, 2), 1);
    ASSERT_TRUE(item.engine);
    EXPECT_EQ(item.engine->GetFoundCount(), expected);
    EXPECT_EQ(owner.Count(ScanProcessWnd::kScanFinished), 1);

    // The search window over the same engine lists every file once more.
    std::vector<FoundItemRecord> all, jpgs;
    ASSERT_EQ(item.engine->SearchByType(TypeFilter{}.SearchPatterns(), all), 1);
    SearchProcessWnd s;
    std::vector<ScanSourceItem*> list{&item, &item};
    s.SetSearch(list, TypeFilter{}.SearchPatterns(), &jpgs);
    EXPECT_EQ(RunWindow(s, owner, 370, 220, [] {}), 1);
    EXPECT_EQ(jpgs.size(), 2 * all.size()) << "each source's matches appended";
    EXPECT_EQ(owner.Count(SearchProcessWnd::kSearchFinished), 1);
  }
}

TEST_F(ScanWindowImages, TheResumeQuestionAnsweredEveryWay) {
  RequireImages();
  // A copy of its own, so no other test's deep scans are offered.
  test::TempDir dir;
  const std::string image = dir / "deep.img";
  fs::copy_file(dir_ + "/fat32.img", image);
  ScanSourceItem item;
  item.imagePath = image;
  bool asked = false;
  ASSERT_EQ(ScanImage(item, true, 2, &asked), 1);
  EXPECT_FALSE(asked) << "nothing to resume yet";
  const int64_t found = item.engine->GetFoundCount();
  ASSERT_GT(found, 0);
  const std::string firstFolder = ScanLogFolder::Instance().CurrentScanFolder();

  // Leaving the question scans nothing and deletes nothing, whichever way:
  // the earlier scan is offered again next time.
  for (Way way : {Way::kEscape, Way::kCloseButton, Way::kClose, Way::kCancel}) {
    SCOPED_TRACE(int(way));
    asked = false;
    QString message;
    owner.messages.clear();
    EXPECT_EQ(ScanImage(item, true, way, &asked, &message), PopUpWnd::kCancelled);
    EXPECT_TRUE(asked);
    // That scan ran to its end: it is not called unfinished.
    EXPECT_EQ(message, MessageText("MSG1208"));
    EXPECT_TRUE(fs::exists(firstFolder)) << "the earlier scan is kept";
    EXPECT_FALSE(item.engine) << "nothing was scanned";
    EXPECT_EQ(owner.Count(ScanProcessWnd::kScanFinished), 0);
  }

  // "Show results": the earlier scan's folder is taken up again.
  asked = false;
  ASSERT_EQ(ScanImage(item, true, Way::kOk, &asked), 1);
  EXPECT_TRUE(asked);
  EXPECT_EQ(ScanLogFolder::Instance().CurrentScanFolder(), firstFolder);
  EXPECT_TRUE(fs::exists(firstFolder));
  ASSERT_TRUE(item.engine);
  EXPECT_EQ(item.engine->GetFoundCount(), found);

  // "Scan afresh": the earlier scan is deleted and a new one made.
  asked = false;
  item.engine.reset();
  ASSERT_EQ(ScanImage(item, true, Way::kOther, &asked), 1);
  EXPECT_TRUE(asked);
  EXPECT_FALSE(fs::exists(firstFolder));
  EXPECT_NE(ScanLogFolder::Instance().CurrentScanFolder(), firstFolder);
  EXPECT_EQ(item.engine->GetFoundCount(), found);
}

// The buttons of the question say what they do, for a stopped scan and for
// one that ended; Enter takes the earlier scan up (it loses nothing).
TEST_F(ScanWindowTest, TheResumeQuestionNamesItsWays) {
  for (bool ended : {false, true}) {
    MessageBoxWnd box(MessageBoxWnd::kQuestion, ScanProcessWnd::ResumeChoice(ended));
    ASSERT_TRUE(box.Prepare(&owner, MessageText(ScanProcessWnd::ResumeQuestionId(ended)), 450, 170));
    EXPECT_EQ(ScanProcessWnd::ResumeQuestionId(ended), std::string(ended ? "MSG1208" : "MSG1206"));
    int result = 0;
    QTimer::singleShot(0, [&] {
      EXPECT_EQ(box.Text("okbtn"), MessageText(ended ? "MSG1210" : "MSG1209"));
      EXPECT_EQ(box.Text("otherbtn"), MessageText("MSG1211"));
      EXPECT_EQ(box.Text("cancelbtn"), MessageText("MSG1212"));
      PressKey(&box, Qt::Key_Return);
    });
    result = box.ShowModal();
    EXPECT_EQ(result, MessageBoxWnd::kOk);
  }
}

// ---- the search window ----

TEST_F(ScanWindowTest, SearchAppendsEachSourceAndCancelClosesWithTwo) {
  auto items = ImageItems(2);
  for (auto& it : items) {
    it.engine = std::make_unique<FakeEngine>(SampleItems());
    ASSERT_EQ(RunScan(*it.engine, {}), kOk);
  }
  std::vector<FoundItemRecord> results;
  {
    SearchProcessWnd s;
    s.SetSearch(Pointers(items), "..txt", &results);
    EXPECT_EQ(RunWindow(s, owner, 370, 220, [] {}), 1);
  }
  // dup.txt twice, deep.txt, empty.txt: per source.
  EXPECT_EQ(results.size(), 8u);
  EXPECT_EQ(owner.Count(SearchProcessWnd::kSearchFinished), 1);

  // A source without an engine ends the search without a message.
  items[1].engine.reset();
  results.clear();
  owner.messages.clear();
  {
    SearchProcessWnd s;
    s.SetSearch(Pointers(items), "..txt", &results);
    EXPECT_EQ(RunWindow(s, owner, 370, 220, [] {}), 1);
  }
  EXPECT_EQ(results.size(), 4u);
  EXPECT_EQ(owner.Count(SearchProcessWnd::kSearchFinished), 0);

  // Cancelled: the question, then result 2; a gated engine's search waits
  // at its progress reports.
  class SlowSearch : public FakeEngine {
   public:
    using FakeEngine::FakeEngine;
    int SearchByType(const std::string&, std::vector<FoundItemRecord>&) override {
      for (int i = 0; i < 100000; ++i) {
        if (search_ && search_(searchUser_, i % 100, 0)) return 1;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      return 1;
    }
    Status SetSearchCallback(SearchProgressCallback cb, void* user) override {
      search_ = cb;
      searchUser_ = user;
      return kOk;
    }
    SearchProgressCallback search_ = nullptr;
    void* searchUser_ = nullptr;
  };
  items[0].engine = std::make_unique<SlowSearch>(SampleItems());
  items[1].engine = std::make_unique<SlowSearch>(SampleItems());
  owner.messages.clear();
  SearchProcessWnd s;
  s.SetSearch(Pointers(items), "..txt", &results);
  bool clicked = false;
  QString question;
  int result = RunWindow(s, owner, 370, 220, [&] {
    if (!clicked && s.ProgressUpdates() > 0) {
      clicked = true;
      ClickLater(&s, "cancelbtn");
    } else if (MessageBoxWnd* b = OpenBox()) {
      question = b->Text("message");
      b->Find<QAbstractButton>("okbtn")->click();
    }
  });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(question, MessageText("MSG1205"));
  EXPECT_EQ(owner.Count(SearchProcessWnd::kSearchFinished), 1);
}

}  // namespace
}  // namespace dunmere::gui
