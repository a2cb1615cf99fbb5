// Copy-out from the desktop program, on real FAT32 and NTFS images with
// deleted files whose hashes are known: the files and folders that come out,
// "(n)" names, the same-device question, cancelling in the middle of a file
// and a destination that fills up.
#include "app/gui/recover_process_wnd.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/core/recover/checked_set.h"
#include "app/core/recover/recovery_paths.h"
#include "app/gui/apply_section.h"
#include "app/gui/message_box.h"
#include "tests/app/fake_engine.h"
#include "tests/gui/gui_test_support.h"
#include "ui/list_ui.h"

namespace dunmere::gui {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// A deleted file of a fixture image: where it was and its content's hash.
struct Known {
  std::string folder, name, sha;
};

// A FAT name stored only as an upper-case 8.3 short name is found lowered,
// and deletion has taken its first character ("ROOTDEL.JPG" -> "!ootdel.jpg").
std::string FoundName(const std::string& name) {
  bool shortOnly = name.size() <= 12 && !name.empty();
  for (char c : name)
    if (!(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9') && c != '.') shortOnly = false;
  if (!shortOnly) return name;
  std::string out = "!";
  for (char c : name.substr(1)) out += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

// An image scanned the way the scan window does it, as a source of the main
// window's list.
struct Scanned {
  std::unique_ptr<ScanSourceItem> item = std::make_unique<ScanSourceItem>();
  std::vector<FoundEntry> files, folders;
  std::vector<ScanSourceItem*> Sources() const { return {item.get()}; }
  const FoundEntry* File(const std::string& folder, const std::string& name) const {
    for (const FoundEntry& e : files)
      if (e.folderPath == folder && (e.Name() == name || e.Name() == FoundName(name))) return &e;
    return nullptr;
  }
  const FoundEntry* Folder(const std::string& path) const {
    for (const FoundEntry& e : folders)
      if (e.folderPath + e.Name() == path) return &e;
    return nullptr;
  }
};

bool ScanImage(const std::string& path, Scanned& out, std::string& why) {
  SourceSpec spec;
  if (ResolveSource(path, spec, why) != kOk) return false;
  OpenedEngine opened;
  if (OpenEngine(spec, false, opened, why) != kOk) return false;
  if (RunScan(*opened.engine, {}) != kOk) {
    why = "scan failed";
    return false;
  }
  if (CollectFoundItems(*opened.engine, TypeFilter{}, out.files, &out.folders) != kOk) {
    why = "collect failed";
    return false;
  }
  out.item->imagePath = path;
  out.item->tag = spec.tag;
  out.item->engine = std::move(opened.engine);
  return true;
}

// The records of the entries, as the results page hands its checked ones over.
std::vector<const FoundItemRecord*> Check(const std::vector<const FoundEntry*>& entries) {
  std::vector<const FoundItemRecord*> records;
  for (const FoundEntry* e : entries)
    if (e) records.push_back(&e->record);
  return records;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream ss(line);
  for (std::string part; std::getline(ss, part, '\t');) out.push_back(part);
  return out;
}

// The open copy-out window, if any.
RecoverProcessWnd* OpenWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* r = qobject_cast<RecoverProcessWnd*>(w); r && r->isVisible()) return r;
  return nullptr;
}

void ClickIn(ui::WindowImplBase* w, const char* name) {
  if (auto* b = w->Find<QAbstractButton>(QString::fromLatin1(name))) b->click();
}

// What the window showed when it had finished.
struct Seen {
  bool finished = false;
  uint32_t processed = 0, failed = 0;
  QString recovered;
  std::vector<std::pair<QString, QString>> rows;  // file, status
  std::vector<QRgb> colors;
};

void Capture(RecoverProcessWnd* w, Seen& seen) {
  seen.finished = w->Finished();
  seen.processed = w->Processed();
  seen.failed = w->Failed();
  seen.recovered = w->Text(QStringLiteral("recovered"));
  if (auto* list = w->Find<ui::ListBox>(QStringLiteral("DetailList")))
    for (int r = 0; r < list->RowCount(); ++r) {
      seen.rows.emplace_back(list->Row(r).cells.value(0), list->Row(r).cells.value(1));
      seen.colors.push_back(list->Row(r).color);
    }
}

// Waits for the window to finish, notes what it shows and clicks "Finish";
// stops watching when it goes out of scope.
[[nodiscard]] std::unique_ptr<QTimer> FinishWhenDone(Seen* seen) {
  auto timer = std::make_unique<QTimer>();
  QTimer* t = timer.get();
  QObject::connect(t, &QTimer::timeout, [t, seen] {
    RecoverProcessWnd* w = OpenWindow();
    if (!w || !w->Finished()) return;
    Capture(w, *seen);
    t->stop();
    ClickIn(w, "FinishBtn");
  });
  t->start(30);
  return timer;
}

// Answers the message boxes that open while it lives with okbtn or cancelbtn
// and notes the first one's text and layout.
struct BoxWatch {
  test::BoxSeen seen;
  QString icon, title;
  int defaultAnswer = 0;
  QTimer timer;
  explicit BoxWatch(bool ok) {
    QObject::connect(&timer, &QTimer::timeout, [this, ok] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<MessageBoxWnd*>(w);
        if (!box || !box->isVisible() || !box->IsModalRunning()) continue;
        if (!seen.shown) {
          seen.shown = true;
          seen.message = box->Text(QStringLiteral("message"));
          seen.layout = box->SkinFile();
          if (QWidget* i = box->FindControl(QStringLiteral("icon"))) icon = i->property("bkimage").toString();
          title = box->Text(QStringLiteral("title"));
          defaultAnswer = box->DefaultAnswer();
        }
        box->Close(ok ? MessageBoxWnd::kOk : MessageBoxWnd::kCancel);
      }
    });
    timer.start(30);
  }
};

class RecoverWndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::UiApp();
    test::UsePrivateDataFolder();
  }
  void LoadFat32() {
    test::CachedFixture f = test::MakeCachedFixture("make_fat_images.sh", "fat-images");
    if (f.missingTool) GTEST_SKIP() << "the FAT images need mkfs.fat and mtools: " << f.message;
    ASSERT_FALSE(f.dir.empty()) << f.message;
    image_ = f.dir + "/fat32.img";
    std::ifstream in(image_ + ".manifest");
    for (std::string line; std::getline(in, line);) {
      auto p = Split(line);
      if (p.size() >= 4 && p[0] == "deleted") known_.push_back({p[1], p[2], p[3]});
    }
    std::string why;
    ASSERT_TRUE(ScanImage(image_, scanned_, why)) << why;
  }
  void LoadNtfs(const std::string& image) {
    test::CachedFixture f = test::MakeCachedFixture("make_ntfs_images.sh", "ntfs-images");
    if (f.missingTool) GTEST_SKIP() << "the NTFS images need mkntfs and ntfs-3g: " << f.message;
    ASSERT_FALSE(f.dir.empty()) << f.message;
    image_ = f.dir + "/" + image;
    std::ifstream in(f.dir + "/manifest.tsv");
    for (std::string line; std::getline(in, line);) {
      auto p = Split(line);
      // The folder is written without its trailing '/'.
      if (p.size() >= 4 && p[0] == image) known_.push_back({p[1].empty() ? "" : p[1] + "/", p[2], p[3]});
    }
    std::string why;
    ASSERT_TRUE(ScanImage(image_, scanned_, why)) << why;
  }
  std::string ShaOf(const std::string& folder, const std::string& name) const {
    for (const Known& k : known_)
      if (k.folder == folder && (k.name == name || FoundName(k.name) == name)) return k.sha;
    return {};
  }
  FolderChooser Chooses(const std::string& folder) {
    return [folder](QWidget*) { return QString::fromStdString(folder); };
  }

  std::string image_;
  std::vector<Known> known_;
  Scanned scanned_;
};

TEST_F(RecoverWndTest, CheckedFilesAndAFolderComeOutWholeAndNeverOverwrite) {
  LoadFat32();
  std::vector<const FoundEntry*> files;
  for (const Known& k : known_)
    if (k.folder == "" || k.folder == "docs/" || k.folder == "frag/") files.push_back(scanned_.File(k.folder, k.name));
  for (const FoundEntry* f : files) ASSERT_NE(f, nullptr);
  const FoundEntry* trash = scanned_.Folder("Trash Bin");
  ASSERT_NE(trash, nullptr);
  std::vector<const FoundEntry*> all = files;
  all.push_back(trash);

  TempDir out;
  for (int round = 0; round < 3; ++round) {
    Seen seen;
    auto finisher1 = FinishWhenDone(&seen);
    std::string chosen;
    // The dialog's trailing '/' is dropped.
    EXPECT_EQ(StartRecovery(nullptr, scanned_.Sources(), Check(all), Chooses(out.path() + "/"), &chosen),
              PopUpWnd::kDone);
    EXPECT_EQ(chosen, out.path());
    ASSERT_TRUE(seen.finished);
    EXPECT_EQ(seen.failed, 0u);
    const size_t trashFiles = std::count_if(known_.begin(), known_.end(),
                                            [](const Known& k) { return k.folder.rfind("Trash Bin/", 0) == 0; });
    EXPECT_EQ(seen.processed, files.size() + trashFiles);
    ASSERT_EQ(seen.rows.size(), seen.processed);
    for (const auto& [file, status] : seen.rows) EXPECT_EQ(status, "Success") << file.toStdString();
    EXPECT_TRUE(seen.recovered.contains(QString::number(seen.processed))) << seen.recovered.toStdString();

    // Each file in its category folder; later rounds get "(1)" and "(2)".
    const std::string suffix = round == 0 ? "" : "(" + std::to_string(round) + ")";
    for (const FoundEntry* f : files) {
      std::string path = CategoryDestination(out.path(), f->Name());
      const size_t dot = path.rfind('.');
      const bool hasExt = dot != std::string::npos && dot > path.rfind('/') + 1;
      path = hasExt ? path.substr(0, dot) + suffix + path.substr(dot) : path + suffix;
      EXPECT_EQ(test::Sha256OfFile(path), ShaOf(f->folderPath, f->Name())) << path;
    }
    // The folder as a tree, its own name made unique, files inside as they were.
    const std::string tree = CategoryDestination(out.path(), "Trash Bin") + suffix;
    for (const Known& k : known_) {
      if (k.folder.rfind("Trash Bin/", 0) != 0) continue;
      const std::string path = tree + "/" + k.folder.substr(10) + k.name;
      EXPECT_EQ(test::Sha256OfFile(path), k.sha) << path;
    }
  }
  EXPECT_EQ(test::Sha256OfFile(out / "photo/!ootdel(2).jpg"), ShaOf("", "ROOTDEL.JPG"));
}

TEST_F(RecoverWndTest, NtfsFilesMatchTheOriginals) {
  LoadNtfs("ntfs_s512_c4k.img");
  std::vector<const FoundEntry*> picked;
  for (const Known& k : known_)
    if (const FoundEntry* e = scanned_.File(k.folder, k.name); e && e->record.size < (64u << 20)) picked.push_back(e);
  ASSERT_GE(picked.size(), 3u);
  TempDir out;
  Seen seen;
  auto finisher2 = FinishWhenDone(&seen);
  EXPECT_EQ(StartRecovery(nullptr, scanned_.Sources(), Check(picked), Chooses(out.path())), PopUpWnd::kDone);
  ASSERT_TRUE(seen.finished);
  EXPECT_EQ(seen.failed, 0u);
  for (const FoundEntry* e : picked) {
    const std::string path = CategoryDestination(out.path(), e->Name());
    EXPECT_EQ(test::Sha256OfFile(path), ShaOf(e->folderPath, e->Name())) << path;
  }

  // One record from the preview: the smaller window, the next free name.
  Seen single;
  QSize size;
  auto sized = std::make_unique<QTimer>();
  QObject::connect(sized.get(), &QTimer::timeout, [&] {
    if (RecoverProcessWnd* w = OpenWindow()) size = w->size();
  });
  sized->start(10);
  auto finisher = FinishWhenDone(&single);
  EXPECT_EQ(StartSingleRecovery(nullptr, scanned_.Sources(), picked[0]->record, Chooses(out.path())),
            PopUpWnd::kDone);
  EXPECT_EQ(size, QSize(500, 200));
  EXPECT_EQ(single.processed, 1u);
  EXPECT_EQ(single.failed, 0u);
  ASSERT_EQ(single.rows.size(), 1u);
  const std::string path = single.rows[0].first.toStdString();
  EXPECT_NE(path, CategoryDestination(out.path(), picked[0]->Name()));
  EXPECT_NE(path.find("(1)"), std::string::npos) << path;
  EXPECT_EQ(test::Sha256OfFile(path), ShaOf(picked[0]->folderPath, picked[0]->Name()));
}

// "BtnRecover" hands over the checked records where the results page holds
// them (no map of copies): exactly those come out, in the map's order, and
// the unchecked ones do not.
TEST_F(RecoverWndTest, TheResultsPagesCheckedRecordsComeOutAndNoOthers) {
  LoadNtfs("ntfs_s512_c4k.img");
  std::vector<const FoundEntry*> known;
  for (const Known& k : known_)
    if (const FoundEntry* e = scanned_.File(k.folder, k.name); e && e->record.size < (64u << 20)) known.push_back(e);
  ASSERT_GE(known.size(), 4u);
  std::vector<FoundItemRecord> results;
  for (const FoundEntry* e : known) results.push_back(e->record);
  ResultGroups groups;
  groups.Build(results);
  CheckedSet set;
  set.Attach(results, groups);
  for (size_t i = 0; i < results.size(); i += 2) set.SetChecked(uint32_t(i), true);
  const std::vector<const FoundItemRecord*> checked = set.Records();
  ASSERT_EQ(checked.size(), (results.size() + 1) / 2);

  // One job per checked record, in the checked set's order, each with its engine.
  const std::vector<RecoverJob> jobs = JobsForChecked(checked, scanned_.Sources());
  ASSERT_EQ(jobs.size(), set.Map().size());
  size_t i = 0;
  for (const auto& [key, record] : set.Map()) {
    EXPECT_EQ(CheckedKeyOf(jobs[i].entry.record), key);
    EXPECT_NE(jobs[i].engine, nullptr);
    ++i;
  }

  TempDir out;
  Seen seen;
  auto finisher = FinishWhenDone(&seen);
  EXPECT_EQ(StartRecovery(nullptr, scanned_.Sources(), checked, Chooses(out.path())), PopUpWnd::kDone);
  ASSERT_TRUE(seen.finished);
  EXPECT_EQ(seen.processed, checked.size());
  EXPECT_EQ(seen.failed, 0u);
  for (size_t i = 0; i < known.size(); ++i) {
    const std::string path = CategoryDestination(out.path(), known[i]->Name());
    if (i % 2 == 0)
      EXPECT_EQ(test::Sha256OfFile(path), ShaOf(known[i]->folderPath, known[i]->Name())) << path;
    else
      EXPECT_FALSE(fs::exists(path)) << path;
  }
}

// Holds its worker at the first piece written until the test lets it go.
class HeldWnd : public RecoverProcessWnd {
 public:
  using RecoverProcessWnd::RecoverProcessWnd;
  using RecoverProcessWnd::Link;
  void Draw(const ScanProgress& p) { DrawProgress(p); }

 protected:
  void OnWindowInit() override {
    Link().Pause();
    RecoverProcessWnd::OnWindowInit();
  }
};

TEST_F(RecoverWndTest, CancelInTheMiddleOfALargeFileLeavesNoPartOfIt) {
  LoadNtfs("ntfs_s4096_c64k.img");
  const FoundEntry* big = scanned_.File("", "big.bin");
  ASSERT_NE(big, nullptr);
  ASSERT_EQ(uint64_t(big->record.size), 3000000u);
  TempDir out;
  const std::string dest = CategoryDestination(out.path(), "big.bin");

  // Escape in the question answers No: the copy goes on and ends whole.
  {
    HeldWnd wnd(JobsForChecked(Check({big}), scanned_.Sources()), out.path(), RecoverProcessWnd::Mode::kList);
    wnd.CreatePopup(nullptr, 500, 240);
    bool asked = false;
    QTimer::singleShot(0, [&] {
      ASSERT_TRUE(test::WaitFor([&] { return fs::exists(dest) && fs::file_size(dest) > 0; }));
      // Runs inside the question's own loop: the click below opens it first.
      QTimer::singleShot(0, [&] {
        ui::WindowImplBase* box = test::OpenBox(&wnd);
        if (!box) return;
        asked = box->Text(QStringLiteral("message")) == MessageText("MSG1103");
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(box, &esc);
      });
      ClickIn(&wnd, "CancelBtn");
    });
    Seen seen;
    auto finisher3 = FinishWhenDone(&seen);
    EXPECT_EQ(wnd.RunModal(), PopUpWnd::kDone);
    EXPECT_TRUE(asked);
    EXPECT_FALSE(wnd.CancelConfirmed());
    EXPECT_EQ(test::Sha256OfFile(dest), ShaOf("", "big.bin"));
  }

  // Yes stops at the next piece: the part written is removed and listed.
  const std::string second = CategoryDestination(out.path(), "big(1).bin");
  HeldWnd wnd(JobsForChecked(Check({big}), scanned_.Sources()), out.path(), RecoverProcessWnd::Mode::kList);
  wnd.CreatePopup(nullptr, 500, 240);
  uint64_t partial = 0;
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(test::WaitFor([&] { return fs::exists(second) && fs::file_size(second) > 0; }));
    partial = fs::file_size(second);
    if (const char* dir = getenv("DUNMERE_SHOT_DIR")) {
      ScanProgress p;
      p.percent = int(partial * 100 / 3000000);
      p.secondsLeft = 75;
      wnd.Draw(p);
      test::Pump(300);
      wnd.grab().save(QString::fromLocal8Bit(dir) + "/recover_copying.png");
    }
    test::BoxSeen box;
    test::AnswerNextBox(&wnd, &box);
    ClickIn(&wnd, "CancelBtn");
  });
  EXPECT_EQ(wnd.RunModal(), PopUpWnd::kCancelled);
  EXPECT_GT(partial, 0u);
  EXPECT_LT(partial, 3000000u);
  EXPECT_FALSE(fs::exists(second));
  EXPECT_TRUE(wnd.CancelConfirmed());
  auto* list = wnd.Find<ui::ListBox>(QStringLiteral("DetailList"));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->RowCount(), 1);
  EXPECT_EQ(list->Row(0).cells.value(0).toStdString(), second);
  EXPECT_TRUE(list->Row(0).cells.value(1).startsWith("Stopped"));
  EXPECT_EQ(list->Row(0).color, RecoverProcessWnd::kFailedColor);
  EXPECT_EQ(wnd.Processed(), 0u);
}

// Runs a shell command; false (with its output) when it failed.
bool Sh(const std::string& cmd, std::string& output) { return test::RunCommand(cmd, &output) == 0; }

// A folder mounted for the test and unmounted at the end.
struct Mounted {
  std::string point;
  bool ok = false;
  std::string output;
  Mounted(const std::string& point, const std::string& how) : point(point) {
    fs::create_directories(point);
    ok = Sh("mount " + how + " '" + point + "' 2>&1", output);
  }
  ~Mounted() {
    std::string ignored;
    if (ok) (void)Sh("umount '" + point + "' 2>&1", ignored);
  }
};

TEST_F(RecoverWndTest, ADestinationOnTheScannedMediumIsAskedAbout) {
  LoadFat32();
  const FoundEntry* file = scanned_.File("", "ROOTDEL.JPG");
  ASSERT_NE(file, nullptr);
  DUNMERE_REQUIRE_TOOL("mkfs.ext4");
  TempDir work;
  // A block device read as the source, with a file system on it mounted
  // where the user picks the destination: writing there changes the device.
  const std::string fsImage = work / "medium.img";
  std::string out;
  ASSERT_TRUE(Sh("truncate -s 16M '" + fsImage + "' && mkfs.ext4 -q '" + fsImage + "' 2>&1", out)) << out;
  Mounted mnt(work / "mnt", "-o loop '" + fsImage + "'");
  if (!mnt.ok) GTEST_SKIP() << "cannot loop-mount an image here (needs root and loop devices): " << mnt.output;
  std::string device;
  ASSERT_TRUE(Sh("findmnt -n -o SOURCE '" + mnt.point + "'", device)) << device;
  while (!device.empty() && (device.back() == '\n' || device.back() == ' ')) device.pop_back();
  ASSERT_EQ(device.rfind("/dev/loop", 0), 0u) << device;
  scanned_.item->imagePath = device;
  const std::string onSource = mnt.point + "/out";
  fs::create_directories(onSource);

  // No: nothing is written and no window opens.
  {
    BoxWatch no(false);
    EXPECT_EQ(StartRecovery(nullptr, scanned_.Sources(), Check({file}), Chooses(onSource)), 0);
    EXPECT_TRUE(no.seen.shown);
    EXPECT_EQ(no.seen.message, MessageText("MSG0805"));
    EXPECT_TRUE(no.seen.layout.endsWith(MessageBoxWnd::LayoutFile(MessageBoxWnd::kConfirm)))
        << no.seen.layout.toStdString();
    EXPECT_TRUE(fs::is_empty(onSource));
    // A warning, not a confirmation: its icon and title say so, and Enter
    // gives the answer that writes nothing.
    EXPECT_EQ(no.icon, "file='common/warning.png'");
    EXPECT_EQ(no.title, MessageText("MSG0405"));
    EXPECT_EQ(no.defaultAnswer, MessageBoxWnd::kCancel);
  }
  // Yes: the copy goes ahead.
  {
    BoxWatch yes(true);
    Seen seen;
    auto finisher = FinishWhenDone(&seen);
    EXPECT_EQ(StartRecovery(nullptr, scanned_.Sources(), Check({file}), Chooses(onSource)), PopUpWnd::kDone);
    EXPECT_TRUE(yes.seen.shown);
    EXPECT_TRUE(seen.finished);
    EXPECT_EQ(seen.failed, 0u);
    EXPECT_TRUE(fs::exists(onSource + "/photo/" + FoundName("ROOTDEL.JPG")));
  }
  // An image file is a copy: writing beside it, even on the same file
  // system, cannot change it.
  {
    fs::copy_file(image_, mnt.point + "/copy.img");
    scanned_.item->imagePath = mnt.point + "/copy.img";
    BoxWatch beside(true);
    Seen seen;
    auto finisher = FinishWhenDone(&seen);
    EXPECT_EQ(StartRecovery(nullptr, scanned_.Sources(), Check({file}), Chooses(mnt.point + "/out2")),
              PopUpWnd::kDone);
    EXPECT_FALSE(beside.seen.shown);
    EXPECT_TRUE(seen.finished);
    scanned_.item->imagePath = device;
  }
  // Elsewhere: no question.
  {
    BoxWatch none(true);
    Seen seen;
    auto finisher = FinishWhenDone(&seen);
    EXPECT_EQ(StartRecovery(nullptr, scanned_.Sources(), Check({file}), Chooses(work / "beside")), PopUpWnd::kDone);
    EXPECT_FALSE(none.seen.shown);
    EXPECT_TRUE(seen.finished);
    EXPECT_EQ(seen.failed, 0u);
  }
}

// A destination where no file can be made is refused before copy-out starts,
// with the reason, instead of failing every file on its own.
TEST_F(RecoverWndTest, ADestinationThatCannotBeWrittenIsRefusedUpFront) {
  LoadFat32();
  const FoundEntry* file = scanned_.File("", "ROOTDEL.JPG");
  ASSERT_NE(file, nullptr);
  TempDir work;
  std::string why;
  EXPECT_TRUE(CanWriteInto(work.path(), why)) << why;
  EXPECT_TRUE(fs::is_empty(work.path())) << "the probe leaves nothing behind";

  auto refused = [&](const std::string& dest) {
    BoxWatch box(true);
    EXPECT_EQ(StartRecovery(nullptr, scanned_.Sources(), Check({file}), Chooses(dest)), 0);
    EXPECT_TRUE(box.seen.shown);
    EXPECT_TRUE(box.seen.layout.endsWith(MessageBoxWnd::LayoutFile(MessageBoxWnd::kError)))
        << box.seen.layout.toStdString();
    EXPECT_TRUE(box.seen.message.contains(QString::fromStdString(dest))) << box.seen.message.toStdString();
    EXPECT_FALSE(box.seen.message.contains(u'%')) << box.seen.message.toStdString();
    EXPECT_TRUE(fs::is_empty(dest));
  };
  bool tried = false;
  // Mode bits stop everyone but root.
  if (geteuid() != 0) {
    const std::string locked = work / "locked";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms(0555));
    refused(locked);
    fs::permissions(locked, fs::perms(0755));
    tried = true;
  }
  // A read-only mount stops root too.
  Mounted ro(work / "ro", "-t tmpfs -o ro,size=1m tmpfs");
  if (ro.ok) {
    refused(ro.point);
    tried = true;
  }
  if (!tried) GTEST_SKIP() << "running as root and cannot mount a read-only tmpfs: " << ro.output;
}

TEST_F(RecoverWndTest, AFullDestinationFailsThatFileAndLeavesNoHalfOfIt) {
  LoadNtfs("ntfs_s4096_c64k.img");
  const FoundEntry* big = scanned_.File("", "big.bin");
  const FoundEntry* small = scanned_.File("", "small.txt");
  ASSERT_TRUE(big && small);
  TempDir work;
  Mounted mnt(work / "small", "-t tmpfs -o size=1m tmpfs");
  if (!mnt.ok) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root): " << mnt.output;

  Seen seen;
  auto finisher7 = FinishWhenDone(&seen);
  EXPECT_EQ(StartRecovery(nullptr, scanned_.Sources(), Check({big, small}), Chooses(mnt.point)), PopUpWnd::kDone);
  ASSERT_TRUE(seen.finished);
  EXPECT_EQ(seen.processed, 2u);
  EXPECT_EQ(seen.failed, 1u);
  // The failure first, in red, saying why.
  ASSERT_EQ(seen.rows.size(), 2u);
  EXPECT_EQ(seen.rows[0].first.toStdString(), CategoryDestination(mnt.point, "big.bin"));
  EXPECT_EQ(seen.rows[0].second, RecoverProcessWnd::StatusText(kDiskFull));
  EXPECT_EQ(seen.colors[0], RecoverProcessWnd::kFailedColor);
  EXPECT_EQ(seen.rows[1].second, "Success");
  EXPECT_FALSE(fs::exists(CategoryDestination(mnt.point, "big.bin")));
  EXPECT_EQ(test::Sha256OfFile(CategoryDestination(mnt.point, "small.txt")), ShaOf("", "small.txt"));
}

TEST_F(RecoverWndTest, DetailsOpenFolderAndFinish) {
  LoadFat32();
  const FoundEntry* file = scanned_.File("", "ROOTDEL.JPG");
  ASSERT_NE(file, nullptr);
  const FoundEntry* other = scanned_.File("docs/", "Résumé naïve.txt");
  ASSERT_NE(other, nullptr);
  TempDir out;
  // The second file's source has gone meanwhile (no engine): it fails.
  std::vector<RecoverJob> jobs = JobsForChecked(Check({file, other}), scanned_.Sources());
  ASSERT_EQ(jobs.size(), 2u);
  for (RecoverJob& j : jobs)
    if (j.entry.Name() != FoundName("ROOTDEL.JPG")) j.engine = nullptr;
  RecoverProcessWnd wnd(std::move(jobs), out.path(), RecoverProcessWnd::Mode::kList);
  wnd.CreatePopup(nullptr, 500, 240);
  QString opened;
  wnd.SetFolderOpener([&](const QString& f) {
    opened = f;
    return true;
  });
  test::BoxSeen noManager;
  QSize before, grown, back;
  bool listShown = false, cancelHidden = false, finishShown = false;
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(test::WaitFor([&] { return wnd.Finished(); }));
    cancelHidden = !wnd.IsControlVisible(QStringLiteral("CancelBtn"));
    finishShown = wnd.IsControlVisible(QStringLiteral("FinishBtn"));
    before = wnd.size();
    ClickIn(&wnd, "DetailBtn");
    grown = wnd.size();
    listShown = wnd.IsControlVisible(QStringLiteral("DetailList"));
    // DUNMERE_SHOT_DIR=<folder>: a picture of the finished window to look at.
    if (const char* dir = getenv("DUNMERE_SHOT_DIR")) {
      test::Pump(200);
      wnd.grab().save(QString::fromLocal8Bit(dir) + "/recover_details.png");
    }
    ClickIn(&wnd, "DetailBtn");
    back = wnd.size();
    ClickIn(&wnd, "OpenBtn");
    // No file manager could be started: the window says where the files are.
    wnd.SetFolderOpener([](const QString&) { return false; });
    test::AnswerNextBox(&wnd, &noManager);
    ClickIn(&wnd, "OpenBtn");
    ClickIn(&wnd, "FinishBtn");
  });
  EXPECT_EQ(wnd.RunModal(), PopUpWnd::kDone);
  EXPECT_TRUE(cancelHidden);
  EXPECT_TRUE(finishShown);
  EXPECT_TRUE(listShown);
  EXPECT_EQ(grown, before + QSize(150, 300));
  EXPECT_EQ(back, before);
  EXPECT_EQ(opened.toStdString(), out.path());
  EXPECT_TRUE(noManager.shown);
  EXPECT_TRUE(noManager.message.contains(QString::fromStdString(out.path()))) << noManager.message.toStdString();
  EXPECT_FALSE(wnd.WorkerRunning());
  EXPECT_EQ(wnd.Processed(), 2u);
  EXPECT_EQ(wnd.Failed(), 1u);
  auto* list = wnd.Find<ui::ListBox>(QStringLiteral("DetailList"));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->RowCount(), 2);
  EXPECT_EQ(list->Row(0).cells.value(1), RecoverProcessWnd::StatusText(kNotReady));
  EXPECT_EQ(list->Row(0).color, RecoverProcessWnd::kFailedColor);
  EXPECT_EQ(list->Row(1).cells.value(1), "Success");
  EXPECT_EQ(test::Sha256OfFile(out / ("photo/" + FoundName("ROOTDEL.JPG"))), ShaOf("", "ROOTDEL.JPG"));
}

// A carved file whose structure does not close is written as found and
// counted as recovered, but its row says "Partial", before the whole files.
TEST_F(RecoverWndTest, APartialFileIsRecoveredAndShownAsPartial) {
  test::FakeEngine engine({{"whole.txt", 20, 5, 0, false, "all of it"},
                           {"cut.mov", 21, 5, 0, false, std::string(3000, 'm'), kContentPartial}});
  ASSERT_EQ(RunScan(engine, {}), kOk);
  std::vector<FoundEntry> files;
  ASSERT_EQ(CollectFoundItems(engine, TypeFilter{}, files, nullptr), kOk);
  ASSERT_EQ(files.size(), 2u);
  std::vector<RecoverJob> jobs;
  for (const FoundEntry& e : files) jobs.push_back({&engine, e});
  TempDir out;
  RecoverProcessWnd wnd(std::move(jobs), out.path(), RecoverProcessWnd::Mode::kList);
  wnd.CreatePopup(nullptr, 500, 240);
  QTimer::singleShot(0, [&] {
    ASSERT_TRUE(test::WaitFor([&] { return wnd.Finished(); }));
    ClickIn(&wnd, "FinishBtn");
  });
  EXPECT_EQ(wnd.RunModal(), PopUpWnd::kDone);
  EXPECT_EQ(wnd.Processed(), 2u);
  EXPECT_EQ(wnd.Failed(), 0u);
  auto* list = wnd.Find<ui::ListBox>(QStringLiteral("DetailList"));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->RowCount(), 2);
  EXPECT_TRUE(list->Row(0).cells.value(0).endsWith(QStringLiteral("cut.mov")));
  EXPECT_EQ(list->Row(0).cells.value(1), "Partial");
  EXPECT_NE(list->Row(0).color, RecoverProcessWnd::kFailedColor);
  EXPECT_EQ(list->Row(1).cells.value(1), "Success");
  EXPECT_EQ(fs::file_size(out / "video/cut.mov"), 3000u);
}

}  // namespace
}  // namespace dunmere::gui
