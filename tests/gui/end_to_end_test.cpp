// The whole path through the real main window, scan window and search
// window: mode, location row, scan, search, the results page, checking and
// sorting, on FAT32 and NTFS images made by mkfs.fat/mtools and
// mkntfs/ntfs-3g, compared with what the command line finds in the same
// image. Then a disk header row over a two-volume disk (the disk table
// points at an image file), cancelling during the first of its volumes,
// refusing to cancel, and the resume question answered both ways.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeWidgetItem>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>
#include <map>
#include <sstream>

#include "app/core/language/language_table.h"
#include "app/core/sessions/scan_job.h"
#include "app/core/sessions/scan_source_item.h"
#include "app/gui/apply_section.h"
#include "app/gui/disk_rows.h"
#include "app/gui/result_view.h"
#include "app/gui/scan_process_wnd.h"
#include "engine/scan_log_folder.h"
#include "storage/disk_table.h"
#include "tests/gui/gui_test_support.h"
#include "ui/disk_list.h"
#include "ui/file_tree.h"
#include "ui/list_ui.h"

namespace dunmere::gui {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// One shell word, whatever `s` holds (the fixture scripts quote inside).
std::string Quote(const std::string& s) { return test::ShellQuote(s); }

// One file as `dunmere-cli scan --json` lists it: its path ("/" + folder +
// name) and size.
using NameSize = std::pair<std::string, uint64_t>;

std::string JsonField(const std::string& line, const std::string& key) {
  const std::string k = "\"" + key + "\":";
  size_t at = line.find(k);
  if (at == std::string::npos) return {};
  at += k.size();
  if (line[at] != '"') return line.substr(at, line.find_first_of(",}", at) - at);
  std::string out;
  for (size_t i = at + 1; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      ++i;
      if (line[i] == 'u') {  // names here are ASCII or Latin-1; enough for the comparison
        const unsigned cp = std::stoul(line.substr(i + 1, 4), nullptr, 16);
        out += QString(QChar(char16_t(cp))).toStdString();
        i += 4;
        continue;
      }
    }
    out += line[i];
  }
  return out;
}

// The files (not folders) the command line finds in `image`.
std::multiset<NameSize> CliFiles(const std::string& image, std::string* error) {
  std::string out;
  const std::string cli = std::string(DUNMERE_BINARY_DIR) + "/cli/dunmere-cli";
  TempDir data;
  const int rc = test::RunCommand("XDG_DATA_HOME=" + Quote(data.path()) + " HOME=" + Quote(data.path()) + " " +
                                      Quote(cli) + " scan --json " + Quote(image) + " 2>/dev/null",
                                  &out);
  std::multiset<NameSize> files;
  if (rc != 0) {
    *error = "dunmere-cli exited " + std::to_string(rc) + ": " + out;
    return files;
  }
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] != '{' || JsonField(line, "isFolder") == "true") continue;
    const std::string size = JsonField(line, "size");
    if (size.empty() || !std::isdigit(static_cast<unsigned char>(size[0]))) {
      *error = "not a file line: " + line;
      return {};
    }
    files.insert({"/" + JsonField(line, "folder") + JsonField(line, "name"), std::stoull(size)});
  }
  return files;
}

// The message box open now, whichever window owns it.
ui::WindowImplBase* OpenMessageBox() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* win = dynamic_cast<ui::WindowImplBase*>(w);
        win && win->isVisible() && win->IsModalRunning() && win->SkinFile().startsWith(u"xml/MessageBox"))
      return win;
  return nullptr;
}

// The scan window while it runs.
ui::WindowImplBase* OpenScanWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* win = dynamic_cast<ui::WindowImplBase*>(w);
        win && win->IsModalRunning() && win->ClassName() == u"UIScanProcessWnd")
      return win;
  return nullptr;
}

class EndToEndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::UiApp();
    test::UsePrivateDataFolder();
  }
  void SetUp() override {
    app::LanguageTable::Instance().SetUserConfigPath(user_ / "config.ini");
    fs::create_directories(fs::path(empty_.path()) / "sys/block");
    fs::create_directories(fs::path(empty_.path()) / "dev");
    std::ofstream(empty_ / "mountinfo").flush();
  }
  void TearDown() override {
    wnd_.reset();
    DiskTable::SetOverride({});
    app::LanguageTable::Instance().SetUserConfigPath({});
  }
  // No disks of the machine: only what the test adds.
  EnumerationRoots NoDisks() const {
    EnumerationRoots r;
    r.sysBlock = empty_ / "sys/block";
    r.dev = empty_ / "dev";
    r.udevData = empty_ / "udev";
    r.mountInfo = empty_ / "mountinfo";
    return r;
  }
  MainWnd& Open(EnumerationRoots roots) {
    MainWnd::Options o;
    o.roots = std::move(roots);
    o.monitor = [] { return std::unique_ptr<IDeviceMonitor>(); };
    wnd_ = std::make_unique<MainWnd>(std::move(o));
    EXPECT_TRUE(wnd_->Create(nullptr)) << wnd_->LoadError().toStdString();
    wnd_->resize(1000, 700);
    wnd_->show();
    return *wnd_;
  }
  void Click(const char* name) {
    auto* b = wnd_->Find<QAbstractButton>(QString::fromLatin1(name));
    ASSERT_NE(b, nullptr) << name;
    b->click();
  }
  ui::DiskList& List() { return *wnd_->DiskList(); }
  ui::FileTree* Tree() { return wnd_->Find<ui::FileTree>(QStringLiteral("TypeTree")); }
  ui::ListBox* Files() { return wnd_->Find<ui::ListBox>(QStringLiteral("FileList")); }

  // Clicks "BtnScan" with `tick` run every few ms inside the modal windows;
  // returns once the scan, the search and the results are done. The tick
  // returns true when the box open now is its own to answer.
  void Scan(const std::function<bool()>& tick = [] { return false; }) {
    // A message box the test did not claim is answered at once, and its text
    // kept for the test to look at; a claimed one is never touched, however
    // long it stays open.
    boxes_.clear();
    std::vector<QPointer<QWidget>> claimed, answered;
    auto among = [](const std::vector<QPointer<QWidget>>& v, QWidget* w) {
      return std::find(v.begin(), v.end(), w) != v.end();
    };
    QTimer t;
    QObject::connect(&t, &QTimer::timeout, [&] {
      const bool mine = tick();
      ui::WindowImplBase* box = OpenMessageBox();
      if (!box || among(claimed, box) || among(answered, box)) return;
      if (mine) {
        claimed.emplace_back(box);
        return;
      }
      answered.emplace_back(box);
      boxes_ << box->Text(QStringLiteral("message"));
      QTimer::singleShot(0, box, [box] {
        if (auto* ok = box->Find<QAbstractButton>(QStringLiteral("okbtn"))) ok->click();
      });
    });
    t.start(5);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
      ADD_FAILURE() << "the scan did not end";
      if (ui::WindowImplBase* b = OpenMessageBox()) b->Close(2);
      if (ui::WindowImplBase* s = OpenScanWindow()) s->Close(2);
    });
    guard.start(10 * 60 * 1000);  // only bounds a hang
    Click("BtnScan");
    // The scan window's 1025 may still be on its way when it has closed:
    // the search and the results follow from the event loop then.
    test::WaitFor([&] { return wnd_->CurrentPageIndex() == MainWnd::kPageResults && !OpenScanWindow(); });
    QCoreApplication::processEvents();
  }

  // Every file node of the type tree: its caption's count against the rows it
  // lists; all rows as (name, size).
  std::multiset<NameSize> RowsOfEveryNode(int* nodes) {
    std::multiset<NameSize> rows;
    ui::FileTree* tree = Tree();
    ui::ListBox* list = Files();
    const int nameCol = list->ColumnIndex(QStringLiteral("FileName"));
    const int pathCol = list->ColumnIndex(QStringLiteral("Path"));
    *nodes = 0;
    for (int c = 0; c < tree->topLevelItemCount(); ++c) {
      QTreeWidgetItem* category = tree->topLevelItem(c);
      if (category->isHidden()) continue;
      uint64_t sum = 0;
      for (int g = 0; g < category->childCount(); ++g) {
        QTreeWidgetItem* group = category->child(g);
        if (group->isHidden()) continue;
        tree->setCurrentItem(group);
        QCoreApplication::processEvents();
        const uint64_t count = group->text(0).section('(', -1).section(')', 0, 0).toULongLong();
        EXPECT_EQ(uint64_t(list->RowCount()), count) << group->text(0).toStdString();
        EXPECT_EQ(wnd_->Results().ListedRowCount(), list->RowCount());
        for (int r = 0; r < list->RowCount(); ++r) {
          const FoundItemRecord* rec = wnd_->Results().ListedRecord(r);
          EXPECT_EQ(list->Model()->data(list->Model()->index(r, nameCol), Qt::DisplayRole).toString().toStdString(),
                    RecordName(*rec));
          // The Path column shows the folder the engine knows; the name's tip the whole path.
          const std::string path =
              list->Model()->data(list->Model()->index(r, pathCol), Qt::DisplayRole).toString().toStdString() +
              RecordName(*rec);
          EXPECT_EQ(list->Model()->data(list->Model()->index(r, nameCol), Qt::ToolTipRole).toString().toStdString(),
                    path);
          rows.insert({path, rec->size});
        }
        sum += count;
        ++*nodes;
      }
      const uint64_t total = category->text(0).section('(', -1).section(')', 0, 0).toULongLong();
      EXPECT_EQ(total, sum) << category->text(0).toStdString();
    }
    return rows;
  }

  // Checks one node's box, then sorts its rows by size both ways.
  void CheckAndSort() {
    ui::FileTree* tree = Tree();
    ui::ListBox* list = Files();
    QTreeWidgetItem* biggest = nullptr;
    for (int c = 0; c < tree->topLevelItemCount(); ++c)
      for (int g = 0; g < tree->topLevelItem(c)->childCount(); ++g) {
        QTreeWidgetItem* n = tree->topLevelItem(c)->child(g);
        if (n->isHidden()) continue;
        if (!biggest || n->text(0).section('(', -1).toInt() > biggest->text(0).section('(', -1).toInt()) biggest = n;
      }
    ASSERT_NE(biggest, nullptr);
    tree->setCurrentItem(biggest);
    QCoreApplication::processEvents();
    const int rows = list->RowCount();
    ASSERT_GT(rows, 0);
    EXPECT_FALSE(wnd_->FindControl("BtnRecover")->isEnabled()) << "nothing checked yet";
    biggest->setCheckState(0, Qt::Checked);
    QCoreApplication::processEvents();
    EXPECT_EQ(int(wnd_->Results().Checked().size()), rows);
    for (int r = 0; r < rows; ++r) EXPECT_EQ(list->Model()->CheckOf(r), Qt::Checked) << r;
    EXPECT_TRUE(wnd_->FindControl("BtnRecover")->isEnabled());
    EXPECT_TRUE(wnd_->Text(QStringLiteral("SelectedFileInfo")).endsWith(QStringLiteral("in %1 files").arg(rows)))
        << wnd_->Text(QStringLiteral("SelectedFileInfo")).toStdString();
    // Unchecking one row leaves the others.
    test::ClickAt(list->viewport(), list->visualRect(list->Model()->index(0, 0)).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(int(wnd_->Results().Checked().size()), rows - 1);

    auto* h = list->Header();
    const int c = list->ColumnIndex(QStringLiteral("Size"));
    ASSERT_GE(c, 0);
    auto sizes = [&] {
      std::vector<uint64_t> v;
      for (int r = 0; r < list->RowCount(); ++r) v.push_back(wnd_->Results().ListedRecord(r)->size);
      return v;
    };
    test::ClickAt(h->viewport(), QPoint(h->sectionViewportPosition(c) + h->sectionSize(c) / 2, h->height() / 2));
    QCoreApplication::processEvents();
    std::vector<uint64_t> first = sizes();
    test::ClickAt(h->viewport(), QPoint(h->sectionViewportPosition(c) + h->sectionSize(c) / 2, h->height() / 2));
    QCoreApplication::processEvents();
    std::vector<uint64_t> second = sizes();
    const bool up = std::is_sorted(first.begin(), first.end());
    EXPECT_TRUE(up || std::is_sorted(first.rbegin(), first.rend()));
    if (up) EXPECT_TRUE(std::is_sorted(second.rbegin(), second.rend()));
    else EXPECT_TRUE(std::is_sorted(second.begin(), second.end()));
    EXPECT_EQ(int(wnd_->Results().Checked().size()), rows - 1) << "sorting keeps the checks";
  }

  // A quick scan of an image file through the window, compared with the CLI.
  void QuickScanMatchesTheCli(const std::string& image) {
    std::string error;
    const std::multiset<NameSize> cli = CliFiles(image, &error);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_FALSE(cli.empty());
    Open(NoDisks());
    Click("BtnDeletedRecovery");
    const std::vector<int> added = wnd_->AddImageFiles({QString::fromStdString(image)});
    ASSERT_EQ(added.size(), 1u);
    List().SelectRow(added[0]);
    Scan();
    ASSERT_EQ(wnd_->CurrentPageIndex(), MainWnd::kPageResults);
    int nodes = 0;
    const std::multiset<NameSize> shown = RowsOfEveryNode(&nodes);
    EXPECT_GT(nodes, 1);
    EXPECT_EQ(shown.size(), cli.size());
    std::vector<NameSize> onlyCli, onlyWindow;
    std::set_difference(cli.begin(), cli.end(), shown.begin(), shown.end(), std::back_inserter(onlyCli));
    std::set_difference(shown.begin(), shown.end(), cli.begin(), cli.end(), std::back_inserter(onlyWindow));
    for (const auto& [n, s] : onlyCli) ADD_FAILURE() << "only the command line lists " << n << " " << s;
    for (const auto& [n, s] : onlyWindow) ADD_FAILURE() << "only the window lists " << n << " " << s;
    CheckAndSort();
  }

  static const test::CachedFixture& Images() {
    static const test::CachedFixture fx = test::MakeCachedFixture("make_cli_images.sh", "gui-cli-images");
    return fx;
  }
  void RequireImages() {
    if (Images().dir.empty()) {
      if (Images().missingTool) GTEST_SKIP() << "image tools missing: " << Images().message;
      FAIL() << Images().message;
    }
  }

  TempDir user_, empty_;
  std::unique_ptr<MainWnd> wnd_;
  QStringList boxes_;  // texts of the boxes Scan() answered itself
};

TEST_F(EndToEndTest, QuickScanOfAFat32ImageShowsWhatTheCommandLineFinds) {
  RequireImages();
  QuickScanMatchesTheCli(Images().dir + "/fat32.img");
}

TEST_F(EndToEndTest, QuickScanOfAnNtfsImageShowsWhatTheCommandLineFinds) {
  RequireImages();
  QuickScanMatchesTheCli(Images().dir + "/ntfs.img");
}

// An image of a whole disk (two FAT partitions in an MBR table) is listed as
// a disk is: a row per partition under its header; the header scans both.
TEST_F(EndToEndTest, WholeDiskImageListsItsPartitionsAndItsHeaderScansThemAll) {
  const test::CachedFixture fx = test::MakeCachedFixture("make_two_fat_disk_image.sh", "two-fat-disk");
  if (fx.dir.empty()) {
    if (fx.missingTool) GTEST_SKIP() << "image tools missing: " << fx.message;
    FAIL() << fx.message;
  }
  const std::string image = fx.dir + "/two-fat-disk.img";
  Open(NoDisks());
  Click("BtnDeletedRecovery");
  const std::vector<int> added = wnd_->AddImageFiles({QString::fromStdString(image)});
  ASSERT_EQ(added.size(), 1u);
  // Header, partition 1, partition 2 (the table leaves no stretch of a
  // cylinder free); the first partition's row is the one returned.
  ASSERT_EQ(List().RowCount(), 3);
  const int header = 0;
  EXPECT_TRUE(List().Row(header).header);
  EXPECT_EQ(List().Row(header).cells.value(0), "Image File");
  EXPECT_EQ(added[0], 1);
  EXPECT_EQ(List().Row(1).cells.value(0), "two-fat-disk.img:1 FIRST");
  EXPECT_EQ(List().Row(1).cells.value(1), "FAT");
  EXPECT_EQ(List().Row(1).cells.value(2), "32.00 MB");
  EXPECT_EQ(List().Row(2).cells.value(0), "two-fat-disk.img:2 SECOND");
  EXPECT_EQ(List().Row(2).cells.value(1), "FAT32");
  ScanSourceItem* first = wnd_->Disks().Item(1);
  ScanSourceItem* second = wnd_->Disks().Item(2);
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(first->IsImage());
  EXPECT_EQ(first->imagePath, image);
  ASSERT_TRUE(first->volume.has_value());
  EXPECT_EQ(first->volume->startSector, 2048u);
  EXPECT_EQ(second->volume->startSector, 67584u);
  EXPECT_EQ(wnd_->Disks().SourcesOf(header), (std::vector<ScanSourceItem*>{first, second}));
  // Naming the image again finds its rows.
  EXPECT_EQ(wnd_->AddImageFiles({QString::fromStdString(image)}), std::vector<int>{1});
  EXPECT_EQ(List().RowCount(), 3);

  // A partition row tells of its partition.
  List().SelectRow(2);
  EXPECT_EQ(wnd_->Text(QStringLiteral("Label1")), MessageText("MSG0203") + " two-fat-disk.img:2 SECOND");
  EXPECT_EQ(wnd_->Text(QStringLiteral("Label3")), MessageText("MSG0205") + " FAT32");

  List().SelectRow(header);
  Scan();
  EXPECT_TRUE(boxes_.isEmpty()) << boxes_.join(" | ").toStdString();
  ASSERT_EQ(wnd_->CurrentPageIndex(), MainWnd::kPageResults);
  EXPECT_TRUE(first->engine);
  EXPECT_TRUE(second->engine);
  // A deleted file of each partition, under its own source.
  std::map<std::string, uint16_t> tagOf;
  for (const FoundItemRecord& r : wnd_->Results().Results()) tagOf[RecordName(r)] = r.sourceTag;
  ASSERT_TRUE(tagOf.count("first-letter 2.txt"));
  ASSERT_TRUE(tagOf.count("second-letter 5.txt"));
  EXPECT_EQ(tagOf["first-letter 2.txt"], first->tag);
  EXPECT_EQ(tagOf["second-letter 5.txt"], second->tag);
}

// A disk "sda" of two FAT volumes; the first is big, so a deep scan of the
// disk spends a while in it. The fake sysfs tree lists it, the disk table
// reads the image in its place.
class TwoVolumeDisk : public EndToEndTest {
 protected:
  static constexpr uint64_t kStart1 = 2048, kSize1 = 1228800, kStart2 = kStart1 + kSize1, kSize2 = 40960;
  void SetUp() override {
    EndToEndTest::SetUp();
    DUNMERE_REQUIRE_TOOL("sfdisk");
    DUNMERE_REQUIRE_TOOL("mkfs.fat");
    DUNMERE_REQUIRE_TOOL("mcopy");
    const std::string sys = disk_ / "sys/block/sda", dev = disk_ / "dev";
    const std::string img = dev + "/sda";
    fs::create_directories(sys + "/queue");
    fs::create_directories(sys + "/sda1");
    fs::create_directories(sys + "/sda2");
    fs::create_directories(disk_ / "udev");
    std::ofstream(disk_ / "mountinfo").flush();
    auto put = [](const std::string& p, const std::string& v) { std::ofstream(p) << v << "\n"; };
    put(sys + "/size", std::to_string(kStart2 + kSize2 + 2048));
    put(sys + "/dev", "8:0");
    put(sys + "/removable", "0");
    put(sys + "/queue/logical_block_size", "512");
    put(sys + "/sda1/partition", "1");
    put(sys + "/sda1/start", std::to_string(kStart1));
    put(sys + "/sda1/size", std::to_string(kSize1));
    put(sys + "/sda1/dev", "8:1");
    put(sys + "/sda2/partition", "2");
    put(sys + "/sda2/start", std::to_string(kStart2));
    put(sys + "/sda2/size", std::to_string(kSize2));
    put(sys + "/sda2/dev", "8:2");
    const std::string o1 = std::to_string(kStart1 * 512), o2 = std::to_string(kStart2 * 512);
    std::ostringstream cmd;
    cmd << "set -e; export MTOOLS_SKIP_CHECK=1; cd " << Quote(disk_.path()) << "; mkdir -p dev; "
        << "truncate -s " << (kStart2 + kSize2 + 2048) * 512 << " dev/sda; "
        << "printf 'label: dos\\nstart=" << kStart1 << ", size=" << kSize1 << ", type=c\\nstart=" << kStart2
        << ", size=" << kSize2 << ", type=6\\n' | sfdisk -q dev/sda; "
        << "mkfs.fat -F 32 -n BIGVOL --offset " << kStart1 << " dev/sda " << kSize1 / 2 << " >/dev/null; "
        << "mkfs.fat -F 16 -n SMALLVOL --offset " << kStart2 << " dev/sda " << kSize2 / 2 << " >/dev/null; "
        << "head -c 70000 /dev/urandom > a.bin; printf 'first volume text\\n' > one.txt; "
        << "printf 'second volume text\\n' > two.txt; head -c 30000 /dev/urandom > b.dat; "
        << "mcopy -i dev/sda@@" << o1 << " a.bin one.txt ::/; mdel -i dev/sda@@" << o1 << " ::/a.bin ::/one.txt; "
        << "mcopy -i dev/sda@@" << o2 << " b.dat two.txt ::/; mdel -i dev/sda@@" << o2 << " ::/b.dat ::/two.txt; "
        << "dd if=dev/sda of=dev/sda1 bs=512 skip=" << kStart1 << " count=" << kSize1 << " conv=sparse status=none; "
        << "dd if=dev/sda of=dev/sda2 bs=512 skip=" << kStart2 << " count=" << kSize2 << " status=none";
    std::string out;
    ASSERT_EQ(test::RunCommand("bash -c " + Quote(cmd.str()), &out), 0) << out;
    DiskTable::SetOverride({img});
    roots_.sysBlock = disk_ / "sys/block";
    roots_.dev = dev;
    roots_.udevData = disk_ / "udev";
    roots_.mountInfo = disk_ / "mountinfo";
    Open(roots_);
    header_ = -1;
    for (int r = 0; r < List().RowCount(); ++r)
      if (wnd_->Disks().IsHeader(r)) header_ = r;
    ASSERT_GE(header_, 0);
    sources_ = wnd_->Disks().SourcesOf(header_);
  }
  // The sources that are volumes (the disk's free stretches are sources too).
  std::vector<ScanSourceItem*> Volumes() {
    std::vector<ScanSourceItem*> v;
    for (ScanSourceItem* s : sources_)
      if (s->volume && s->volume->kind != EntryKind::kUnallocated) v.push_back(s);
    return v;
  }
  std::set<uint16_t> TagsShown() {
    std::set<uint16_t> tags;
    for (const FoundItemRecord& r : wnd_->Results().Results()) tags.insert(r.sourceTag);
    return tags;
  }
  // Deep scan of the header row, cancelled at a known point: the first
  // source's real engine is made and held there until cancel has been
  // clicked; the question is answered (`yes` or not) once the worker waits
  // for it at its first progress report of that source.
  void DeepScanAndCancel(bool yes, bool* asked) {
    // An earlier test's deep scan of a disk like this one is not offered for
    // resume: the question would come while the worker is held.
    ScanLogFolder& logs = ScanLogFolder::Instance();
    while (!logs.Entries().empty()) (void)logs.RemoveScanFolder(EntryScanFolder(logs.Entries().front()));
    ASSERT_EQ(logs.Save(), kOk);
    std::atomic<bool> opened{false}, go{false};
    ScanSourceItem* first = sources_.front();
    wnd_->SetScanEngineOpener([&](const ScanSourceItem& item, bool deep, std::string& error) {
      std::unique_ptr<ScanEngine> engine = OpenEngineForItem(item, deep, error);
      if (&item == first) {
        opened = true;
        while (!go) std::this_thread::yield();
      }
      return engine;
    });
    Click("BtnDeepRecovery");
    List().SelectRow(header_);
    bool clicked = false, answered = false;
    Scan([&] {
      ui::WindowImplBase* box = OpenMessageBox();
      auto* scan = dynamic_cast<ScanProcessWnd*>(OpenScanWindow());
      if (!clicked && opened && scan && scan->isVisible()) {
        clicked = true;
        QTimer::singleShot(0, [scan] {
          if (auto* b = scan->Find<QAbstractButton>(QStringLiteral("cancelbtn"))) b->click();
        });
        return false;
      }
      if (!box || answered || !clicked) return false;
      // The question is open: let the worker on to its first report.
      go = true;
      if (!scan || !scan->WorkerHeld()) return true;
      answered = true;
      *asked = box->Text(QStringLiteral("message")) == MessageText("MSG0709");
      QTimer::singleShot(0, [box, yes] {
        box->Find<QAbstractButton>(yes ? QStringLiteral("okbtn") : QStringLiteral("cancelbtn"))->click();
      });
      return true;
    });
    go = true;
    wnd_->SetScanEngineOpener({});
  }

  TempDir disk_;
  EnumerationRoots roots_;
  int header_ = -1;
  std::vector<ScanSourceItem*> sources_;
};

TEST_F(TwoVolumeDisk, HeaderRowQuickScansEveryVolume) {
  ASSERT_EQ(Volumes().size(), 2u);
  Click("BtnDeletedRecovery");
  List().SelectRow(header_);
  Scan();
  EXPECT_TRUE(boxes_.isEmpty()) << boxes_.join(" | ").toStdString();
  ASSERT_EQ(wnd_->CurrentPageIndex(), MainWnd::kPageResults);
  // The 600 MB volume has more free space than the look for lost folders
  // reads: the page says a deep scan may find more, without a box.
  EXPECT_TRUE(wnd_->Text(QStringLiteral("Txt2")).contains(MessageText("MSG1401")))
      << wnd_->Text(QStringLiteral("Txt2")).toStdString();
  // Whole on the line, the reason under the pointer.
  auto* line = wnd_->Find<QLabel>(QStringLiteral("Txt2"));
  ASSERT_NE(line, nullptr);
  EXPECT_GE(line->width(), line->sizeHint().width()) << line->text().toStdString();
  EXPECT_EQ(line->toolTip(), MessageText("MSG1400"));
  for (ScanSourceItem* v : Volumes()) EXPECT_TRUE(v->engine) << v->tag;
  // The deleted files of both volumes, each under its own source.
  std::map<std::string, uint16_t> tagOf;
  for (const FoundItemRecord& r : wnd_->Results().Results()) tagOf[RecordName(r)] = r.sourceTag;
  EXPECT_EQ(TagsShown(), (std::set<uint16_t>{Volumes()[0]->tag, Volumes()[1]->tag}));
  int nodes = 0;
  const std::multiset<NameSize> rows = RowsOfEveryNode(&nodes);
  EXPECT_EQ(rows.size(), wnd_->Results().Results().size());
  bool a = false, b = false;
  for (const auto& [name, size] : rows) {
    // At the root of its volume: "/" and a name whose first letter is gone.
    a = a || (size == 70000 && name.size() == 6 && name[0] == '/' && name.substr(2) == ".bin");
    b = b || (size == 30000 && name.size() == 6 && name[0] == '/' && name.substr(2) == ".dat");
  }
  EXPECT_TRUE(a && b) << "a deleted file of each volume";
}

TEST_F(TwoVolumeDisk, CancelDuringTheFirstVolumeShowsItsResultsAndSkipsTheRest) {
  ASSERT_EQ(Volumes().size(), 2u);
  bool asked = false;
  DeepScanAndCancel(true, &asked);
  EXPECT_TRUE(asked);
  ASSERT_TRUE(sources_[0]->engine) << "the first source was scanned";
  for (size_t i = 1; i < sources_.size(); ++i) EXPECT_FALSE(sources_[i]->engine) << "source " << i << " was scanned";
  EXPECT_EQ(wnd_->CurrentPageIndex(), MainWnd::kPageResults);
  for (uint16_t t : TagsShown()) EXPECT_EQ(t, sources_[0]->tag);
}

TEST_F(TwoVolumeDisk, NoToTheCancelQuestionScansOn) {
  bool asked = false;
  DeepScanAndCancel(false, &asked);
  EXPECT_TRUE(boxes_.isEmpty()) << boxes_.join(" | ").toStdString();
  EXPECT_TRUE(asked);
  for (ScanSourceItem* s : sources_) EXPECT_TRUE(s->engine) << "every source was scanned";
  EXPECT_EQ(wnd_->CurrentPageIndex(), MainWnd::kPageResults);
  EXPECT_TRUE(TagsShown().count(Volumes()[1]->tag)) << "the second volume's files are shown";
}

TEST_F(EndToEndTest, ResumeQuestionAnsweredBothWaysThroughTheMainWindow) {
  RequireImages();
  TempDir dir;
  const std::string image = dir / "deep.img";
  fs::copy_file(Images().dir + "/fat32.img", image);
  Open(NoDisks());
  Click("BtnDeepRecovery");
  const std::vector<int> added = wnd_->AddImageFiles({QString::fromStdString(image)});
  ASSERT_EQ(added.size(), 1u);
  auto scan = [&](int answer) {
    bool asked = false;
    if (wnd_->CurrentPageIndex() == MainWnd::kPageResults) Click("BtnPrev");
    EXPECT_EQ(wnd_->CurrentPageIndex(), MainWnd::kPageLocation);
    List().SelectRow(added[0]);
    Scan([&] {
      ui::WindowImplBase* box = OpenMessageBox();
      if (!box || asked) return false;
      asked = true;
      // The first scan ran to its end: its results are offered again.
      EXPECT_EQ(box->Text(QStringLiteral("message")), MessageText("MSG1208"));
      QTimer::singleShot(0, [box, answer] {
        box->Find<QAbstractButton>(answer == 1 ? QStringLiteral("okbtn") : QStringLiteral("otherbtn"))->click();
      });
      return true;
    });
    EXPECT_EQ(wnd_->CurrentPageIndex(), MainWnd::kPageResults);
    return asked;
  };
  EXPECT_FALSE(scan(2)) << "nothing to resume yet";
  const std::string first = ScanLogFolder::Instance().CurrentScanFolder();
  const size_t found = wnd_->Results().Results().size();
  ASSERT_GT(found, 0u);

  EXPECT_TRUE(scan(1));
  EXPECT_EQ(ScanLogFolder::Instance().CurrentScanFolder(), first) << "yes takes the earlier scan up again";
  EXPECT_EQ(wnd_->Results().Results().size(), found);

  EXPECT_TRUE(scan(2));
  EXPECT_NE(ScanLogFolder::Instance().CurrentScanFolder(), first) << "scanning afresh starts a new scan";
  EXPECT_EQ(wnd_->Results().Results().size(), found);
}


// Closing the program while a scan runs asks first. No, Escape and closing
// the question let the scan go on; yes stops it, waits for its worker and
// closes the window, with nothing searched or shown.
TEST_F(EndToEndTest, ClosingDuringAScanAsksThenStopsAndExits) {
  RequireImages();
  Open(NoDisks());
  Click("BtnDeletedRecovery");
  const std::vector<int> added = wnd_->AddImageFiles({QString::fromStdString(Images().dir + "/fat32.img")});
  ASSERT_EQ(added.size(), 1u);
  List().SelectRow(added[0]);
  // The engine is made and then held until the test lets it go: the scan
  // is known to be running while the window is closed.
  std::atomic<bool> opened{false}, go{false};
  wnd_->SetScanEngineOpener([&](const ScanSourceItem& item, bool deep, std::string& error) {
    std::unique_ptr<ScanEngine> engine = OpenEngineForItem(item, deep, error);
    opened = true;
    while (!go) std::this_thread::yield();
    return engine;
  });
  enum Step { kCloseForEscape, kEscape, kCloseForNo, kNo, kCloseForYes, kYes, kDone };
  int step = kCloseForEscape;
  QStringList questions;
  bool stillScanningAfterNo = false;
  QTimer t;
  QObject::connect(&t, &QTimer::timeout, [&] {
    ui::WindowImplBase* scan = OpenScanWindow();
    ui::WindowImplBase* box = OpenMessageBox();
    switch (step) {
      case kCloseForEscape:
      case kCloseForNo:
      case kCloseForYes:
        if (!opened || !scan || !scan->isVisible() || box) return;
        ++step;
        QTimer::singleShot(0, wnd_.get(), [this] { wnd_->close(); });
        return;
      case kEscape:
      case kNo:
      case kYes: {
        if (!box) return;
        questions << box->Text(QStringLiteral("message"));
        const int now = step++;
        if (now == kEscape) {
          QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
          QCoreApplication::sendEvent(box, &esc);
        } else {
          box->Find<QAbstractButton>(now == kNo ? QStringLiteral("cancelbtn") : QStringLiteral("okbtn"))->click();
        }
        if (now == kNo) stillScanningAfterNo = OpenScanWindow() != nullptr && wnd_->isVisible();
        if (now == kYes) go = true;
        return;
      }
      default:
        return;
    }
  });
  t.start(5);
  QTimer guard;  // only bounds a hang: the scan is let go and cancelled
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&] {
    ADD_FAILURE() << "no question came (step " << step << ")";
    go = true;
    if (ui::WindowImplBase* b = OpenMessageBox()) b->Close(2);
    if (ui::WindowImplBase* s = OpenScanWindow()) s->Close(2);
  });
  guard.start(60 * 1000);
  Click("BtnScan");
  test::WaitFor([&] { return !wnd_->isVisible(); });
  t.stop();
  guard.stop();
  go = true;
  QCoreApplication::processEvents();
  const QString question = MessageText("MSG0713");
  EXPECT_EQ(questions, QStringList({question, question, question}));
  EXPECT_TRUE(stillScanningAfterNo) << "no lets the scan go on";
  EXPECT_FALSE(wnd_->isVisible()) << "yes closes the window";
  EXPECT_NE(wnd_->CurrentPageIndex(), MainWnd::kPageResults) << "nothing is searched or shown";
  EXPECT_FALSE(OpenScanWindow());
  wnd_->SetScanEngineOpener({});
}

}  // namespace
}  // namespace dunmere::gui
