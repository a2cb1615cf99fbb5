// The disk image command and its window: real copies of an image file and of
// a loop device with progress, cancelling (and declining to), the question at
// the first unreadable sector, the destination checks in their order through
// a faked file-system query, and the offer to scan the new image.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <QTest>
#include <atomic>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>

#include "app/core/language/language_table.h"
#include "app/gui/apply_section.h"
#include "app/gui/create_image.h"
#include "app/gui/create_image_process_wnd.h"
#include "app/gui/disk_rows.h"
#include "app/gui/message_box.h"
#include "tests/gui/gui_test_support.h"
#include "ui/disk_list.h"

namespace dunmere::gui {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> Pattern(size_t bytes) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = uint8_t(i * 7 + i / 512);
  return v;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// Answers every message box that opens: `policy` gets its text and says 1
// (OK), 2 (Escape), 3 (the "No"/"Cancel" button) or 0 (leave it open); the
// texts are kept in order.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(std::function<int(const QString&)> policy) : policy_(std::move(policy)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(30);
  }
  QStringList seen;

 private:
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = dynamic_cast<MessageBoxWnd*>(w);
      if (!box || !box->isVisible() || !box->IsModalRunning() || box->property("answered").toBool()) continue;
      const QString text = box->Text(QStringLiteral("message"));
      const int answer = policy_(text);
      if (!answer) continue;
      box->setProperty("answered", true);  // a later box may reuse its address
      seen << text;
      if (answer == 1) box->Find<QAbstractButton>(QStringLiteral("okbtn"))->click();
      else if (answer == 3) box->Find<QAbstractButton>(QStringLiteral("cancelbtn"))->click();
      else QTest::keyClick(box, Qt::Key_Escape);
      return;
    }
  }
  std::function<int(const QString&)> policy_;
  QTimer timer_;
};

CreateImageProcessWnd* OpenImageWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* p = dynamic_cast<CreateImageProcessWnd*>(w); p && p->isVisible()) return p;
  return nullptr;
}

class CreateImageWndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UiApp();
    owner_ = std::make_unique<QWidget>();
    owner_->resize(600, 400);
    owner_->show();
  }
  int Run(CreateImageProcessWnd& wnd, ImagingJob job) {
    wnd.SetJob(std::move(job));
    EXPECT_TRUE(wnd.CreatePopup(owner_.get(), 450, 270));
    return wnd.RunModal();
  }
  // A 64 MiB source whose reads stop half-way until `release`: the copy
  // cannot end before the test has acted, however the threads are timed.
  static ImagingJob HeldJob(const std::string& image, const std::atomic<bool>* release) {
    ImagingJob job;
    job.sectorSize = 512;
    job.sectorCount = 131072;
    job.imagePath = image;
    job.reader = [release](uint64_t sector, uint32_t count, uint8_t* buf, uint32_t& got) -> Status {
      while (sector >= 131072 / 2 && !*release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::memset(buf, 0x5A, size_t(count) * 512);
      got = count;
      return kOk;
    };
    return job;
  }
  QString Msg(const char* id) { return MessageText(id); }

  std::unique_ptr<QWidget> owner_;
  TempDir dir_;
};

TEST_F(CreateImageWndTest, ImagesAFileByteForByteWithProgress) {
  const auto data = Pattern(3 * 1024 * 1024 + 512);  // a short last chunk
  WriteFile(dir_ / "src.bin", data);
  WriteFile(dir_ / "out.img.map", {1, 2, 3});  // left by an earlier image
  ImagingJob job;
  job.sourcePath = dir_ / "src.bin";
  job.imagePath = dir_ / "out.img";
  CreateImageProcessWnd wnd;
  ASSERT_EQ(Run(wnd, job), PopUpWnd::kDone);
  EXPECT_EQ(wnd.CopyStatus(), kOk);
  // Whether the job went by 100 ms or not, the last progress was drawn.
  EXPECT_GE(wnd.ProgressUpdates(), 1);
  EXPECT_EQ(wnd.Text(QStringLiteral("sectors")), QStringLiteral("%1 6145 / 6145").arg(Msg("MSG0303")));
  EXPECT_EQ(wnd.Text(QStringLiteral("percent")), QStringLiteral("%1 100%").arg(Msg("MSG0301")));
  auto* bar = wnd.Find<QProgressBar>(QStringLiteral("progress"));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 100);
  EXPECT_EQ(wnd.Text(QStringLiteral("stage")), Msg("MSG0302") + u' ' + QString::fromStdString(dir_ / "out.img"));
  EXPECT_EQ(ReadFile(dir_ / "out.img"), data);
  EXPECT_FALSE(fs::exists(dir_ / "out.img.part"));
  EXPECT_FALSE(fs::exists(dir_ / "out.img.map")) << "a stale map would describe another image";
}

TEST_F(CreateImageWndTest, ProgressTextsAndTimeLeft) {
  auto t = CreateImageProcessWnd::TextsFor(42, -1, 10, 20);
  EXPECT_EQ(t.value, 42);
  EXPECT_EQ(t.time, Msg("MSG0304"));
  EXPECT_EQ(t.sectors, QStringLiteral("%1 10 / 20").arg(Msg("MSG0303")));
  t = CreateImageProcessWnd::TextsFor(150, 65, 10, 20);
  EXPECT_EQ(t.value, 100);
  EXPECT_TRUE(t.time.startsWith(Msg("MSG0305") + u' ')) << t.time.toStdString();
  EXPECT_NE(t.time, Msg("MSG0305") + u' ');
}

// The share of the bar's groove that is filled, read from its picture: the
// chunk's colour along the middle row.
double FilledShare(QProgressBar& bar) {
  const QImage img = bar.grab().toImage();
  const int y = img.height() / 2;
  int filled = 0, inside = 0;
  for (int x = 2; x < img.width() - 2; ++x, ++inside)
    if (img.pixelColor(x, y) == QColor(0x2f, 0x8f, 0xd8)) ++filled;
  return inside ? double(filled) / inside : 0;
}

// What the window showed while its copy was held at 3 %.
struct HeldAt3 {
  int result = -1;
  QString percent, sectors;
  int value = -1, maximum = -1;
  double share = -1;
};

// Copies 64 MiB, holding at 3 % (a read that does not come back, as on a
// failing disk) while the window is read; with `badSector`, that sector is
// unreadable first and the question about it is answered Yes.
HeldAt3 CopyHeldAtThreePercent(QWidget* owner, const std::string& image, int64_t badSector) {
  std::atomic<bool> release{false};
  ImagingJob job;
  job.sectorSize = 512;
  job.sectorCount = 131072;
  job.imagePath = image;
  const uint64_t holdAt = 131072 * 3 / 100 + 128;  // 3 % and a little, on a chunk boundary below
  job.reader = [&](uint64_t sector, uint32_t count, uint8_t* buf, uint32_t& got) -> Status {
    // Reads spread over about 150 ms, so the last before the stall falls
    // inside the drawing interval of the one before.
    if (sector < holdAt) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    while (sector >= holdAt && !release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    got = 0;
    for (uint32_t i = 0; i < count; ++i, ++got) {
      if (int64_t(sector + i) == badSector) return kReadFault;
      std::memset(buf + size_t(i) * 512, 0x33, 512);
    }
    return kOk;
  };
  BoxAnswerer answers([](const QString& t) { return t == MessageText("MSG0222") ? 1 : 0; });
  HeldAt3 seen;
  CreateImageProcessWnd wnd;
  wnd.SetJob(std::move(job));
  EXPECT_TRUE(wnd.CreatePopup(owner, 450, 270));
  QTimer::singleShot(0, [&] {
    EXPECT_TRUE(test::WaitFor(
        [&] { return wnd.isVisible() && wnd.Text(QStringLiteral("percent")).endsWith(" 3%"); }));
    QCoreApplication::processEvents();
    auto* bar = wnd.Find<QProgressBar>(QStringLiteral("progress"));
    seen.percent = wnd.Text(QStringLiteral("percent"));
    seen.sectors = wnd.Text(QStringLiteral("sectors"));
    seen.value = bar->value();
    seen.maximum = bar->maximum();
    seen.share = FilledShare(*bar);
    release = true;
  });
  seen.result = wnd.RunModal();
  return seen;
}

// The last progress is drawn although no later report follows, with its
// texts, the bar's value and range, and the bar as drawn (not all of it);
// the same after the window was hidden for the unreadable-sector question.
TEST_F(CreateImageWndTest, ProgressAtThreePercentIsDrawnAsThreePercent) {
  for (int64_t bad : {int64_t(-1), int64_t(1000)}) {
    SCOPED_TRACE(bad < 0 ? "no question" : "after the question");
    const HeldAt3 seen = CopyHeldAtThreePercent(owner_.get(), dir_ / "held.img", bad);
    ASSERT_EQ(seen.result, PopUpWnd::kDone);
    EXPECT_EQ(seen.percent, QStringLiteral("%1 3%").arg(Msg("MSG0301")));
    EXPECT_TRUE(seen.sectors.endsWith(QStringLiteral(" / 131072"))) << seen.sectors.toStdString();
    EXPECT_EQ(seen.value, 3);
    EXPECT_EQ(seen.maximum, 100);
    EXPECT_GT(seen.share, 0.01);
    EXPECT_LT(seen.share, 0.08) << "the bar is drawn fuller than the copy is";
  }
}

// A disk of more than 2^32 sectors: counts are not cut to 32 bits and the
// value never leaves the bar's range.
TEST_F(CreateImageWndTest, TextsOfADiskBeyondFourGigaSectors) {
  const uint64_t total = 7814037168ULL;  // a 4 TB disk in 512-byte sectors
  const auto t = CreateImageProcessWnd::TextsFor(int(total / 33 * 100 / total), 3600, total / 33, total);
  EXPECT_EQ(t.value, 3);
  EXPECT_EQ(t.sectors, QStringLiteral("%1 %2 / 7814037168").arg(Msg("MSG0303")).arg(total / 33));
  EXPECT_EQ(CreateImageProcessWnd::TextsFor(-5, -1, 0, total).value, 0);
}

TEST_F(CreateImageWndTest, CancelAskedFirstEscapeGoesOnYesDeletesThePartialImage) {
  std::atomic<bool> release{false};
  ImagingJob job = HeldJob(dir_ / "c.img", &release);
  int questions = 0;
  BoxAnswerer answers([&](const QString& text) {
    if (text != Msg("MSG0306")) return 0;
    if (++questions == 1) return 2;  // Escape (No) first, then Yes
    release = true;
    return 1;
  });
  // Click "cancelbtn" twice once copying is under way.
  int clicks = 0;
  QTimer clicker;
  QObject::connect(&clicker, &QTimer::timeout, [&] {
    CreateImageProcessWnd* w = OpenImageWindow();
    if (!w || w->ProgressUpdates() < 1 || clicks >= 2 || questions < clicks) return;
    ++clicks;
    w->Find<QAbstractButton>(QStringLiteral("cancelbtn"))->click();
  });
  clicker.start(20);
  CreateImageProcessWnd wnd;
  const int result = Run(wnd, job);
  release = true;
  ASSERT_EQ(result, PopUpWnd::kCancelled);
  EXPECT_EQ(questions, 2);
  EXPECT_EQ(wnd.CopyStatus(), kStopRequested);
  EXPECT_GT(wnd.Job().bytesWritten, 0u);
  EXPECT_LT(wnd.Job().bytesWritten, 131072u * 512);
  // A header-less image cut short would pass for a whole one: nothing stays.
  EXPECT_FALSE(fs::exists(dir_ / "c.img"));
  EXPECT_FALSE(fs::exists(dir_ / "c.img.part"));
}

TEST_F(CreateImageWndTest, UnreadableSectorAsksThenZerosAndMapOrStops) {
  const std::set<uint64_t> bad{300, 301, 5000};
  auto makeJob = [&](const std::string& image) {
    ImagingJob job;
    job.sectorSize = 512;
    job.sectorCount = 8192;
    job.imagePath = image;
    job.reader = [bad](uint64_t sector, uint32_t count, uint8_t* buf, uint32_t& got) -> Status {
      got = 0;
      for (uint32_t i = 0; i < count; ++i, ++got) {
        if (bad.count(sector + i)) return kReadFault;
        std::memset(buf + size_t(i) * 512, 0x77, 512);
      }
      return kOk;
    };
    return job;
  };
  {
    SCOPED_TRACE("yes: zeros and a map");
    BoxAnswerer answers([&](const QString& t) { return t == Msg("MSG0222") ? 1 : 0; });
    CreateImageProcessWnd wnd;
    ASSERT_EQ(Run(wnd, makeJob(dir_ / "y.img")), PopUpWnd::kDone);
    EXPECT_EQ(answers.seen, QStringList{Msg("MSG0222")});  // asked once only
    const auto img = ReadFile(dir_ / "y.img");
    ASSERT_EQ(img.size(), 8192u * 512);
    EXPECT_EQ(img[300 * 512], 0);
    EXPECT_EQ(img[302 * 512], 0x77);
    EXPECT_EQ(img[5000 * 512 + 511], 0);
    ASSERT_TRUE(fs::exists(dir_ / "y.img.map"));
    EXPECT_EQ(wnd.Job().badRanges.size(), 2u);
  }
  {
    // No stops imaging and deletes the image: leaving the question must not.
    SCOPED_TRACE("Escape: imaging goes on with zeros");
    BoxAnswerer answers([&](const QString& t) { return t == Msg("MSG0222") ? 2 : 0; });
    CreateImageProcessWnd wnd;
    ASSERT_EQ(Run(wnd, makeJob(dir_ / "e.img")), PopUpWnd::kDone);
    EXPECT_EQ(answers.seen, QStringList{Msg("MSG0222")});
    EXPECT_TRUE(fs::exists(dir_ / "e.img"));
    EXPECT_TRUE(fs::exists(dir_ / "e.img.map"));
  }
  {
    SCOPED_TRACE("no: imaging fails, nothing is left");
    BoxAnswerer answers([&](const QString& t) { return t == Msg("MSG0222") ? 3 : 0; });
    CreateImageProcessWnd wnd;
    ASSERT_EQ(Run(wnd, makeJob(dir_ / "n.img")), PopUpWnd::kFailed);
    EXPECT_EQ(wnd.CopyStatus(), kReadFault);
    EXPECT_FALSE(fs::exists(dir_ / "n.img"));
    EXPECT_FALSE(fs::exists(dir_ / "n.img.part"));
    EXPECT_FALSE(fs::exists(dir_ / "n.img.map"));
  }
}

TEST_F(CreateImageWndTest, ImagesALoopDevice) {
  const auto data = Pattern(4 * 1024 * 1024);
  WriteFile(dir_ / "backing.bin", data);
  std::string out;
  if (test::RunCommand("losetup --find --show '" + dir_ / "backing.bin" + "' 2>&1", &out) != 0 || out.empty())
    GTEST_SKIP() << "loop devices are not available here: " << out;
  const std::string loop = QString::fromStdString(out).trimmed().toStdString();
  struct Detach {
    std::string dev;
    ~Detach() { (void)test::RunCommand("losetup -d '" + dev + "'"); }
  } detach{loop};
  ImagingJob job;
  job.sourcePath = loop;
  job.imagePath = dir_ / "loop.img";
  CreateImageProcessWnd wnd;
  ASSERT_EQ(Run(wnd, job), PopUpWnd::kDone) << loop;
  EXPECT_EQ(ReadFile(dir_ / "loop.img"), data);
  EXPECT_EQ(wnd.Text(QStringLiteral("sectors")), QStringLiteral("%1 8192 / 8192").arg(Msg("MSG0303")));
}

// ---- the command in the main window ----

class CreateImageCommandTest : public test::MainWndFixture {
 protected:
  QString Msg(const char* id) { return MessageText(id); }

  TempDir out_;
};

// The checks in their order, each sending the user back to the save dialog:
// a FAT32 destination refuses 4 GiB and more, FAT12/16 2 GiB and more, exFAT
// neither; then free space, one byte short being too little.
TEST_F(CreateImageCommandTest, DestinationChecksInOrderReturnToTheDialog) {
  // sdb (FAT32 on the whole disk) grows to 5 GiB in the fake sysfs.
  const uint64_t bytes = 5ULL << 30;
  { std::ofstream(tree_->roots.sysBlock + "/sdb/size") << bytes / 512 << "\n"; }
  MainWnd& w = Open();
  Click("BtnCreateImageMode");
  const int sdb = RowNamed("sdb STICK");
  ASSERT_GE(sdb, 0);
  w.DiskList()->SelectRow(sdb);

  struct Try {
    DestinationFacts facts;
    const char* expected;  // null: passes (the test then cancels the dialog)
  };
  DestinationFacts fat32{false, "FAT32", true, 1ULL << 40}, fat16{false, "FAT", true, 1ULL << 40},
      exfatShort{false, "exFAT", true, bytes - 1}, onSource{true, "FAT32", true, 1ULL << 40};
  const std::vector<Try> tries{{onSource, "MSG0218"},
                               {fat32, "MSG0220"},
                               {fat16, "MSG0219"},
                               {exfatShort, "MSG0221"}};
  size_t call = 0;
  QStringList suggested;
  ImageCommandHooks hooks;
  hooks.chooseSave = [&](QWidget*, const QString& name) {
    suggested << name;
    return call < tries.size() ? QString::fromStdString(out_ / "x.img") : QString();
  };
  hooks.facts = [&](const std::string&, const std::string&) { return tries[call++].facts; };
  w.SetImageCommandHooks(hooks);
  BoxAnswerer answers([](const QString&) { return 1; });
  Click("BtnCreateImage");
  ASSERT_EQ(call, tries.size());
  QStringList want;
  for (const Try& t : tries) want << Msg(t.expected);
  EXPECT_EQ(answers.seen, want);
  EXPECT_EQ(suggested.size(), int(tries.size()) + 1);
  // Named as the list names the source, not by a number shown nowhere.
  EXPECT_EQ(suggested.value(0), Names().value(sdb));
  EXPECT_FALSE(suggested.value(0).contains(QString::number(w.Disks().Item(sdb)->volume->letter) + QStringLiteral(" (")));

  // The limits themselves: exactly 4 GiB does not fit FAT32, 4 GiB - 1 does;
  // FAT12/16 takes 2 GiB; exFAT has no such limit.
  EXPECT_EQ(CheckImageDestination(4ULL << 30, false, "FAT32", false, 0), ImageCheck::kTooBigForFat32);
  EXPECT_EQ(CheckImageDestination((4ULL << 30) - 1, false, "FAT32", false, 0), ImageCheck::kOk);
  EXPECT_EQ(CheckImageDestination(3ULL << 30, false, "FAT32", false, 0), ImageCheck::kOk);
  EXPECT_EQ(CheckImageDestination(3ULL << 30, false, "FAT16", false, 0), ImageCheck::kTooBigForFat);
  EXPECT_EQ(CheckImageDestination(2ULL << 30, false, "FAT", false, 0), ImageCheck::kOk);
  EXPECT_EQ(CheckImageDestination(64ULL << 30, false, "exFAT", false, 0), ImageCheck::kOk);
  EXPECT_EQ(CheckImageDestination(10, false, "ext4", true, 9), ImageCheck::kNotEnoughSpace);
  EXPECT_EQ(CheckImageDestination(10, false, "ext4", true, 10), ImageCheck::kOk);
}

// The same refusal with the file-system query not faked: a FAT32 volume made
// by mkfs.fat and mounted through a loop device.
TEST_F(CreateImageCommandTest, RealFat32VolumeRefusesAFiveGiBSource) {
  const std::string vol = out_ / "fat32.bin", mnt = out_ / "mnt";
  fs::create_directories(mnt);
  std::string out;
  if (test::RunCommand("truncate -s 64M '" + vol + "' && mkfs.fat -F 32 '" + vol + "' >/dev/null 2>&1 && mount -o loop '" +
                           vol + "' '" + mnt + "' 2>&1",
                       &out) != 0)
    GTEST_SKIP() << "cannot mount a FAT32 volume through a loop device here: " << out;
  struct Unmount {
    std::string dir;
    ~Unmount() { (void)test::RunCommand("umount '" + dir + "'"); }
  } unmount{mnt};
  { std::ofstream(tree_->roots.sysBlock + "/sdb/size") << (5ULL << 30) / 512 << "\n"; }
  MainWnd& w = Open();
  Click("BtnCreateImageMode");
  w.DiskList()->SelectRow(RowNamed("sdb STICK"));
  int calls = 0;
  ImageCommandHooks hooks;
  hooks.chooseSave = [&](QWidget*, const QString&) {
    return ++calls == 1 ? QString::fromStdString(mnt + "/big.img") : QString();
  };
  w.SetImageCommandHooks(hooks);
  BoxAnswerer answers([](const QString&) { return 1; });
  Click("BtnCreateImage");
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(answers.seen, QStringList{Msg("MSG0220")});
  EXPECT_FALSE(fs::exists(mnt + "/big.img"));
  EXPECT_EQ(GatherDestinationFacts(mnt + "/big.img", "/nonexistent").fsName, "FAT32");
}

TEST_F(CreateImageCommandTest, NothingSelectedSaysSo) {
  MainWnd& w = Open();
  Click("BtnCreateImageMode");
  w.DiskList()->SelectRow(-1, false);
  bool asked = false;
  ImageCommandHooks hooks;
  hooks.chooseSave = [&](QWidget*, const QString&) { return asked = true, QString(); };
  w.SetImageCommandHooks(hooks);
  BoxAnswerer answers([](const QString&) { return 1; });
  Click("BtnCreateImage");
  EXPECT_EQ(answers.seen, QStringList{Msg("MSG0216")});
  EXPECT_FALSE(asked);
}

// A partition imaged through the real window, then the offer to scan it:
// deep-scan mode, the image's row selected, the file-type page shown.
TEST_F(CreateImageCommandTest, ImageThenScanOfferSwitchesToDeepModeWithTheImageSelected) {
  MainWnd& w = Open();
  Click("BtnDeletedRecovery");  // quick mode first: the offer must switch
  Click("BtnPrev");
  Click("BtnCreateImageMode");
  const int sda1 = RowNamed("sda1 MYFAT");
  ASSERT_GE(sda1, 0);
  w.DiskList()->SelectRow(sda1);
  const VolumeInfo v = *w.Disks().Item(sda1)->volume;
  const std::string image = out_ / "part.img";
  ImageCommandHooks hooks;
  hooks.chooseSave = [&](QWidget*, const QString&) { return QString::fromStdString(out_ / "part"); };  // ".img" added
  w.SetImageCommandHooks(hooks);
  BoxAnswerer answers([&](const QString& t) { return t == Msg("MSG0214") ? 1 : 0; });
  Click("BtnCreateImage");
  EXPECT_EQ(answers.seen, QStringList{Msg("MSG0214")});

  // The image is the partition's range of its disk, byte for byte.
  const auto disk = ReadFile(tree_->roots.dev + "/sda");
  const auto img = ReadFile(image);
  ASSERT_EQ(img.size(), v.sectorCount * 512);
  EXPECT_TRUE(std::equal(img.begin(), img.end(), disk.begin() + std::ptrdiff_t(v.startSector * 512)));

  EXPECT_EQ(w.DeepScan(), 1);
  EXPECT_EQ(w.ImageMode(), 0);
  EXPECT_EQ(w.CurrentPageIndex(), int(MainWnd::kPageFileType));
  const int row = w.DiskList()->CurrentRow();
  EXPECT_EQ(row, w.DiskList()->RowCount() - 1);
  ScanSourceItem* item = w.Disks().Item(row);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->imagePath, image);
}


// A whole-disk image loaded with Load Image is listed as a disk is, its
// logical partitions too: each partition row, and the image's header row for
// all of it, is imaged in Create Disk Image mode to exactly its bytes.
class ImagePartitionsTest : public CreateImageCommandTest {
 protected:
  void SetUp() override {
    CreateImageCommandTest::SetUp();
    if (IsSkipped()) return;
    const test::CachedFixture c = test::MakeCachedFixture("make_logical_partitions_image.sh", "logical-disk");
    if (c.missingTool) GTEST_SKIP() << "the logical-partition image needs sfdisk, mkfs.fat and mtools: " << c.message;
    ASSERT_FALSE(c.dir.empty()) << c.message;
    image_ = c.dir + "/logical-disk.img";
  }
  // Images the selected row to `name` in out_, declining the offer to scan it.
  std::string ImageSelected(MainWnd& w, const std::string& name) {
    ImageCommandHooks hooks;
    hooks.chooseSave = [&](QWidget*, const QString& proposed) {
      suggested_ << proposed;
      return QString::fromStdString(out_ / name);
    };
    w.SetImageCommandHooks(hooks);
    BoxAnswerer answers([&](const QString& t) { return t == Msg("MSG0214") ? 3 : 1; });
    Click("BtnCreateImage");
    EXPECT_EQ(answers.seen, QStringList{Msg("MSG0214")}) << name;
    return out_ / name;
  }
  std::string image_;
  QStringList suggested_;
};

TEST_F(ImagePartitionsTest, LocationListShowsTheLogicalPartitions) {
  MainWnd& w = Open();
  ASSERT_EQ(w.AddImageFiles({QString::fromStdString(image_)}).size(), 1u);
  const QStringList names = Names();
  for (const char* part : {"logical-disk.img:1 PRIMARY", "logical-disk.img:5 LOGICAL5", "logical-disk.img:6 LOGICAL6"})
    EXPECT_TRUE(names.contains(QLatin1String(part))) << part << "\n" << names.join(u'|').toStdString();
  // The extended partition only holds them: the image's rows are the three
  // partitions (the gaps between them are too small to be listed).
  EXPECT_FALSE(names.contains(QStringLiteral("logical-disk.img:2"))) << names.join(u'|').toStdString();
  const int row5 = RowNamed(QStringLiteral("logical-disk.img:5 LOGICAL5"));
  ASSERT_GE(row5, 0);
  const VolumeInfo& v = *w.Disks().Item(row5)->volume;
  EXPECT_EQ(v.startSector, 36864u);
  EXPECT_EQ(v.sectorCount, 32768u);
  EXPECT_EQ(v.fsName, "FAT");
  EXPECT_EQ(w.DiskList()->GroupRows(w.DiskList()->HeaderOf(row5)).size(), 3);
}

TEST_F(ImagePartitionsTest, EachPartitionAndTheWholeImageAreImagedToExactlyTheirBytes) {
  MainWnd& w = Open();
  ASSERT_EQ(w.AddImageFiles({QString::fromStdString(image_)}).size(), 1u);
  Click("BtnCreateImageMode");
  const std::vector<uint8_t> disk = ReadFile(image_);
  for (const char* part : {"logical-disk.img:1 PRIMARY", "logical-disk.img:5 LOGICAL5", "logical-disk.img:6 LOGICAL6"}) {
    SCOPED_TRACE(part);
    const int row = RowNamed(QLatin1String(part));
    ASSERT_GE(row, 0);
    EXPECT_FALSE(w.DiskList()->isRowHidden(w.DiskList()->HeaderOf(row), {})) << "image rows hidden in image mode";
    w.DiskList()->SelectRow(row);
    const VolumeInfo v = *w.Disks().Item(row)->volume;
    const std::vector<uint8_t> copy = ReadFile(ImageSelected(w, std::string(part).substr(17, 1) + ".img"));
    ASSERT_EQ(copy.size(), v.sectorCount * 512);
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), disk.begin() + std::ptrdiff_t(v.startSector * 512)));
  }
  // The header row: the whole disk the image holds.
  w.DiskList()->SelectRow(w.DiskList()->HeaderOf(RowNamed(QStringLiteral("logical-disk.img:5 LOGICAL5"))));
  EXPECT_TRUE(ReadFile(ImageSelected(w, "whole.img")) == disk);
  // The names proposed say which part they hold, and none is the image's own.
  EXPECT_EQ(suggested_, (QStringList{QStringLiteral("logical-disk-1 PRIMARY"), QStringLiteral("logical-disk-5 LOGICAL5"),
                                     QStringLiteral("logical-disk-6 LOGICAL6"), QStringLiteral("logical-disk-copy")}));
  // Chosen anyway, the image itself is refused: it would be emptied first.
  EXPECT_TRUE(GatherDestinationFacts(image_, image_).onSource);
  EXPECT_FALSE(GatherDestinationFacts(out_ / "beside.img", image_).onSource);
}

}  // namespace
}  // namespace dunmere::gui
