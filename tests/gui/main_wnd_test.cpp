// The main window: pages and mode buttons, the location rows built from a
// fake sysfs tree and from real image files, the file-type selection and its
// filter text, the scan start without a location, and the language switch
// kept per user.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QImage>
#include <QTextDocument>
#include <QTextBrowser>
#include <QTextBlock>

#include <QMenu>
#include <fstream>

#include "app/core/results/file_categories.h"
#include "app/core/language/language_table.h"
#include "app/core/results/text_formats.h"
#include "app/gui/apply_section.h"
#include "app/gui/assist_menu.h"
#include "app/gui/disk_rows.h"
#include "app/gui/file_type_page.h"
#include "app/gui/help_wnd.h"
#include "app/gui/message_box.h"
#include "base/version.h"
#include "tests/gui/gui_test_support.h"
#include "ui/disk_list.h"
#include "ui/skin.h"

namespace dunmere::gui {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A FAT image made by mkfs.fat, as a user would add one.
std::string MakeFatImage(const TempDir& dir, const std::string& name) {
  const std::string path = dir / name;
  test::RunCommand("truncate -s 8M '" + path + "' && mkfs.fat -n PHOTOS '" + path + "' >/dev/null");
  return path;
}

class MainWndTest : public test::MainWndFixture {};

TEST_F(MainWndTest, ModeButtonsSetTheFlagsAndLeadToTheLocationPage) {
  Open();
  EXPECT_EQ(wnd_->windowTitle(), "Korvanex Dunmere Pro");
  EXPECT_EQ(Text("LblProductName"), "Korvanex Dunmere Pro");
  EXPECT_EQ(wnd_->CurrentPageIndex(), 0);
  EXPECT_FALSE(Visible("ToolBar2"));
  EXPECT_FALSE(Visible("ToolBar3"));
  EXPECT_TRUE(Visible("SubBar1"));
  EXPECT_FALSE(Visible("SubBar2"));
  EXPECT_TRUE(monitor_->started);

  // The pointer over a mode button explains it.
  wnd_->SendNotify("onhot", wnd_->FindControl("BtnFormattedRecovery"));
  EXPECT_EQ(Text("TxtMainInfo"), MessageText("MSG0102"));
  wnd_->SendNotify("onhot", wnd_->FindControl("BtnCreateImageMode"));
  EXPECT_EQ(Text("TxtMainInfo"), MessageText("MSG0104"));

  Click("BtnDeletedRecovery");
  EXPECT_EQ(wnd_->CurrentPageIndex(), 1);
  EXPECT_EQ(wnd_->DeepScan(), 0);
  EXPECT_EQ(wnd_->ImageMode(), 0);
  EXPECT_TRUE(Visible("ToolBar2"));
  EXPECT_TRUE(Visible("SubBar2"));
  EXPECT_FALSE(Visible("SubBar1"));
  EXPECT_TRUE(Visible("BtnLoadImage"));
  EXPECT_TRUE(Visible("BtnAdvanceScan"));
  EXPECT_TRUE(Visible("BtnScan"));
  EXPECT_FALSE(Visible("BtnCreateImage"));
  EXPECT_FALSE(Visible("BtnRecover"));
  EXPECT_FALSE(Visible("BtnNext"));
  EXPECT_FALSE(Visible("SelectedFileInfo"));
  EXPECT_TRUE(Text("Txt1").endsWith(MessageText("MSG0501"))) << "the mode stands in front";
  EXPECT_EQ(Text("TabScan"), MessageText("MSG0503"));
  EXPECT_TRUE(wnd_->IsChecked("TabScan"));

  Click("BtnPrev");
  EXPECT_EQ(wnd_->CurrentPageIndex(), 0);
  Click("BtnDeepRecovery");
  EXPECT_EQ(wnd_->DeepScan(), 1);
  // Image mode keeps the scan depth and shows only the image button.
  Click("BtnPrev");
  Click("BtnCreateImageMode");
  EXPECT_EQ(wnd_->ImageMode(), 1);
  EXPECT_EQ(wnd_->DeepScan(), 1);
  EXPECT_TRUE(Visible("BtnCreateImage"));
  EXPECT_FALSE(Visible("BtnScan"));
  EXPECT_FALSE(Visible("BtnLoadImage"));
  EXPECT_FALSE(Visible("TabFileType"));
  EXPECT_FALSE(Visible("TabRecover"));
  EXPECT_TRUE(Text("Txt1").endsWith(MessageText("MSG0212")));
  EXPECT_EQ(Text("TabScan"), MessageText("MSG0211"));
  Click("BtnPrev");
  Click("BtnFormattedRecovery");
  EXPECT_EQ(wnd_->DeepScan(), 1);
  EXPECT_EQ(wnd_->ImageMode(), 0);
  EXPECT_TRUE(Visible("TabFileType"));

  // The file-type step and back, once a location is chosen.
  EXPECT_FALSE(wnd_->FindControl("BtnAdvanceScan")->isEnabled());
  List().SelectRow(1);
  Click("BtnAdvanceScan");
  EXPECT_EQ(wnd_->CurrentPageIndex(), 2);
  EXPECT_TRUE(Visible("BtnScan"));
  EXPECT_FALSE(Visible("BtnLoadImage"));
  EXPECT_TRUE(Text("Txt1").endsWith(MessageText("MSG0601")));
  EXPECT_TRUE(wnd_->IsChecked("TabFileType"));
  Click("BtnPrev");
  EXPECT_EQ(wnd_->CurrentPageIndex(), 1);
  // The step options choose pages too.
  Click("TabFileType");
  EXPECT_EQ(wnd_->CurrentPageIndex(), 2);
  Click("TabScan");
  EXPECT_EQ(wnd_->CurrentPageIndex(), 1);
}

TEST_F(MainWndTest, LocationRowsComeFromTheDisksWithDeviceNamesAndLabels) {
  Open();
  const QString dev = QString::fromStdString(tree_->roots.dev);
  // mmcblk0 (an SD card, nothing readable), sda with two volumes, a gap and
  // free space at its end, sdb with FAT32 on the whole stick, sdc on USB.
  EXPECT_EQ(Names(), (QStringList{MessageText("MSG0202") + " 1", "mmcblk0", MessageText("MSG0201") + " 2",
                                  "sda1 MYFAT", "* sda", "sda2 My Disk", "* sda", MessageText("MSG0202") + " 3",
                                  "sdb STICK", MessageText("MSG0202") + " 4", "sdc"}));
  DiskRows& rows = wnd_->Disks();
  std::set<uint16_t> tags;
  for (int r = 0; r < List().RowCount(); ++r) {
    EXPECT_EQ(List().Row(r).header, rows.IsHeader(r)) << r;
    if (ScanSourceItem* item = rows.Item(r)) {
      EXPECT_TRUE(item->IsPartition());
      EXPECT_EQ(item->volume->letter, item->tag) << "the tag is what the engines put into their records";
      EXPECT_TRUE(tags.insert(item->tag).second) << "tags are unique";
    }
  }
  EXPECT_EQ(tags.size(), 7u);
  const int sda1 = RowNamed("sda1 MYFAT");
  EXPECT_EQ(List().Row(sda1).cells.value(1), "FAT");
  // Mounted (in the fake tree, on a folder of the test): sizes from the mount.
  const QString sda1Size = QString::fromStdString(FormatSize(int64_t(rows.Item(sda1)->volume->totalBytes)));
  EXPECT_EQ(List().Row(sda1).cells.value(2), sda1Size);
  EXPECT_EQ(List().Row(RowNamed("sdb STICK")).cells.value(2), "34.00 MB");
  EXPECT_GE(List().Row(sda1).usage, 0);
  EXPECT_LE(List().Row(sda1).usage, 100);
  EXPECT_EQ(List().Row(RowNamed("sda2 My Disk")).cells.value(1), "NTFS");
  EXPECT_EQ(List().Row(RowNamed("sdb STICK")).cells.value(1), "FAT32");
  EXPECT_EQ(rows.DiskDevice(sda1), (dev + "/sda").toStdString());

  // Choosing a mode chooses no location for the person; they pick one.
  Click("BtnDeletedRecovery");
  EXPECT_EQ(List().CurrentRow(), -1);
  EXPECT_EQ(Text("Label1"), MessageText("MSG0225"));
  List().SelectRow(1);
  EXPECT_EQ(Text("Label1"), MessageText("MSG0203") + " " + dev + "/mmcblk0");
  EXPECT_TRUE(wnd_->FindControl("BtnAdvanceScan")->isEnabled());
  EXPECT_TRUE(wnd_->FindControl("TabFileType")->isEnabled());

  // A volume's information; a header row leaves it as it was.
  List().SelectRow(sda1);
  EXPECT_EQ(Text("Label1"), MessageText("MSG0203") + " " + dev + "/sda1");
  EXPECT_EQ(Text("Label2"), MessageText("MSG0204") + " MYFAT");
  EXPECT_EQ(Text("Label3"), MessageText("MSG0205") + " FAT");
  EXPECT_EQ(Text("Label4"), MessageText("MSG0206") + " " + sda1Size);
  const int sdaHeader = sda1 - 1;
  List().SelectRow(sdaHeader);
  EXPECT_EQ(Text("Label2"), MessageText("MSG0204") + " MYFAT");
  // A header row scans every source of its disk, in list order.
  std::vector<ScanSourceItem*> sources = rows.SourcesOf(sdaHeader);
  ASSERT_EQ(sources.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(sources[i], rows.Item(sda1 + int(i)));
  EXPECT_EQ(sources[1]->volume->kind, EntryKind::kUnallocated);
  // An unlabelled stretch shows the label id alone.
  List().SelectRow(sda1 + 1);
  EXPECT_EQ(Text("Label2"), MessageText("MSG0204"));
  EXPECT_EQ(Text("Label1"), MessageText("MSG0203") + " * " + dev + "/sda");
}

TEST_F(MainWndTest, ImageFilesBecomeRowsOfTheirOwn) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  TempDir images;
  const std::string fat = MakeFatImage(images, "card.img");
  Open();
  const int disks = List().RowCount();

  // Files that are not there, and folders, are left out.
  EXPECT_TRUE(wnd_->AddImageFiles({QString::fromStdString(images / "missing.img"),
                                   QString::fromStdString(images.path())}).empty());
  std::vector<int> added = wnd_->AddImageFiles({QString::fromStdString(fat)});
  ASSERT_EQ(added.size(), 1u);
  const int row = added[0];
  EXPECT_EQ(row, disks + 1);
  EXPECT_TRUE(List().Row(row - 1).header);
  EXPECT_EQ(List().Row(row - 1).cells.value(0), "Image File");
  EXPECT_EQ(List().Row(row).cells.value(0), QString::fromStdString(fat));
  EXPECT_EQ(List().Row(row).cells.value(1), "FAT");
  EXPECT_EQ(List().Row(row).cells.value(2), "8.00 MB");
  ScanSourceItem* item = wnd_->Disks().Item(row);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(item->IsImage());
  EXPECT_EQ(item->imagePath, fat);
  EXPECT_EQ(wnd_->Disks().SourcesOf(row - 1), std::vector<ScanSourceItem*>{item});
  // Naming it again finds the same row.
  EXPECT_EQ(wnd_->AddImageFiles({QString::fromStdString(fat)}), std::vector<int>{row});
  EXPECT_EQ(List().RowCount(), disks + 2);

  // Its information.
  Click("BtnDeletedRecovery");
  List().SelectRow(row);
  // The label keeps the file's name in sight; the tool tip has the whole path.
  EXPECT_TRUE(Text("Label1").startsWith(MessageText("MSG0209") + " ")) << Text("Label1").toStdString();
  EXPECT_TRUE(Text("Label1").endsWith("card.img")) << Text("Label1").toStdString();
  EXPECT_LE(wnd_->FindControl("Label1")->fontMetrics().horizontalAdvance(Text("Label1")),
            wnd_->FindControl("Label1")->width());
  EXPECT_EQ(wnd_->FindControl("Label1")->toolTip(), QString::fromStdString(fat));
  EXPECT_EQ(Text("Label2"), MessageText("MSG0210") + " 8.00 MB");
  EXPECT_EQ(Text("Label3"), "");

  // Image rows are hidden while a disk image is being made.
  Click("BtnPrev");
  Click("BtnCreateImageMode");
  EXPECT_TRUE(List().isRowHidden(row, {}));
  EXPECT_TRUE(List().isRowHidden(row - 1, {}));
  EXPECT_FALSE(List().isRowHidden(1, {}));
  Click("BtnPrev");
  Click("BtnDeepRecovery");
  EXPECT_FALSE(List().isRowHidden(row, {}));

  // "Load Image" adds the chosen file and selects it.
  const std::string second = MakeFatImage(images, "second.img");
  wnd_->SetImageChooser([&](QWidget*) { return QString::fromStdString(second); });
  Click("BtnLoadImage");
  ASSERT_EQ(List().RowCount(), disks + 4);
  EXPECT_EQ(List().CurrentRow(), disks + 3);
  EXPECT_EQ(wnd_->FindControl("Label1")->toolTip(), QString::fromStdString(second));
  EXPECT_NE(wnd_->Disks().Item(disks + 3)->tag, item->tag);
  // Cancelling the dialog adds nothing.
  wnd_->SetImageChooser([](QWidget*) { return QString(); });
  Click("BtnLoadImage");
  EXPECT_EQ(List().RowCount(), disks + 4);
}

// A volume made ext2 over an NTFS whose boot sector and table are still in
// place: the row names both, the newer first, whether the image is the
// volume itself (read by the program's own detection) or a disk holding it
// (read by libblkid, which names neither alone).
TEST_F(MainWndTest, AnImageMadeOverAnOlderFileSystemNamesBoth) {
  const test::CachedFixture images = test::MakeCachedFixture("make_ext_over_ntfs_images.sh", "ext-over-ntfs-images");
  if (images.missingTool) GTEST_SKIP() << images.message;
  ASSERT_FALSE(images.dir.empty()) << images.message;
  Open();
  std::vector<int> volume = wnd_->AddImageFiles({QString::fromStdString(images.dir + "/ext-over-ntfs.img")});
  ASSERT_EQ(volume.size(), 1u);
  EXPECT_EQ(List().Row(volume[0]).cells.value(1), "ext over NTFS");
  std::vector<int> disk = wnd_->AddImageFiles({QString::fromStdString(images.dir + "/disk.img")});
  ASSERT_EQ(disk.size(), 1u);
  bool seen = false;
  for (int r = 0; r < List().RowCount(); ++r)
    if (List().Row(r).cells.value(0).startsWith("disk.img:1")) {
      seen = true;
      EXPECT_EQ(List().Row(r).cells.value(1), "ext2 over NTFS");
      Click("BtnFormattedRecovery");
      List().SelectRow(r);
      EXPECT_EQ(Text("Label3"), MessageText("MSG0205") + " ext2 over NTFS");
    }
  EXPECT_TRUE(seen);
}

// Scanning reads the selected row: it is only ever the one the person chose.
// An image named on the command line (or to a later start) is that choice;
// changing modes keeps it; with nothing chosen nothing is selected.
TEST_F(MainWndTest, TheSelectedLocationIsAlwaysThePersonsChoice) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  TempDir images;
  const std::string first = MakeFatImage(images, "first.img");
  const std::string second = MakeFatImage(images, "second.img");
  Open();
  wnd_->ChooseImageFiles({QString::fromStdString(first)});
  Click("BtnDeletedRecovery");
  ASSERT_GE(List().CurrentRow(), 0);
  EXPECT_EQ(wnd_->Disks().Item(List().CurrentRow())->imagePath, first) << "the image named, not the first disk";
  // A later start names another: that one is chosen now.
  wnd_->ChooseImageFiles({QString::fromStdString(second)});
  ASSERT_GE(List().CurrentRow(), 0);
  EXPECT_EQ(wnd_->Disks().Item(List().CurrentRow())->imagePath, second);
  // Through every mode and back, the choice stays; imaging hides image rows
  // and then selects nothing rather than a disk.
  Click("BtnPrev");
  Click("BtnDeepRecovery");
  EXPECT_EQ(wnd_->Disks().Item(List().CurrentRow())->imagePath, second);
  Click("BtnPrev");
  Click("BtnCreateImageMode");
  EXPECT_EQ(List().CurrentRow(), -1);
  EXPECT_EQ(Text("Label1"), MessageText("MSG0225"));
  Click("BtnPrev");
  Click("BtnFormattedRecovery");
  ASSERT_GE(List().CurrentRow(), 0);
  EXPECT_EQ(wnd_->Disks().Item(List().CurrentRow())->imagePath, second);
  // A disk the person picks is kept the same way.
  List().SelectRow(1);
  const uint16_t disk = wnd_->Disks().Item(1)->tag;
  Click("BtnPrev");
  Click("BtnDeletedRecovery");
  ASSERT_EQ(List().CurrentRow(), 1);
  EXPECT_EQ(wnd_->Disks().Item(1)->tag, disk);
}

TEST(MainWndOpening, LargerWhereTheScreenHasRoomNeverSmallerThanItsLayout) {
  const QSize layout(1020, 670);
  EXPECT_EQ(MainWnd::OpeningSize(layout, QSize(1920, 1050)), QSize(1400, 900));
  EXPECT_EQ(MainWnd::OpeningSize(layout, QSize(1280, 770)), QSize(1152, 693));
  EXPECT_EQ(MainWnd::OpeningSize(layout, QSize(1024, 740)), layout) << "a small screen keeps the layout's size";
}

TEST(LoadImageDialog, OffersTheNamesRawImagesAreGivenAndAllFiles) {
  test::UiApp();  // the language files of the source tree
  const QStringList filters = MainWnd::ImageFileFilter().split(QStringLiteral(";;"));
  ASSERT_EQ(filters.size(), 2);
  const QString images = filters[0].section(u'(', 1).section(u')', 0, 0);
  auto offered = [&](const QString& name) {
    for (const QString& p : images.split(u' ', Qt::SkipEmptyParts))
      if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(p)).match(name).hasMatch()) return true;
    return false;
  };
  for (const char* name : {"card.img", "sdb.dd", "disk.raw", "usb.bin", "cd.iso", "split.001", "CARD.IMG", "SDB.DD"})
    EXPECT_TRUE(offered(QString::fromLatin1(name))) << name;
  EXPECT_FALSE(offered(QStringLiteral("notes.txt")));
  EXPECT_TRUE(filters[1].contains(QStringLiteral("(*)"))) << "and every file";
}

TEST_F(MainWndTest, WithNothingNamedNoLocationIsChosenForThePerson) {
  Open();
  Click("BtnDeepRecovery");
  EXPECT_EQ(List().CurrentRow(), -1);
  EXPECT_EQ(Text("Label1"), MessageText("MSG0225"));
  EXPECT_FALSE(wnd_->FindControl("BtnAdvanceScan")->isEnabled());
}

// Roots under which no disk is listed.
struct NoDisks {
  TempDir dir;
  EnumerationRoots roots;
  NoDisks() {
    fs::create_directories(dir / "sys/block");
    roots.sysBlock = dir / "sys/block";
    roots.dev = dir / "dev";
    roots.udevData = dir / "udev";
    roots.mountInfo = dir / "mountinfo";
  }
};

TEST_F(MainWndTest, ScanWithoutAChosenLocationOnlyTellsTheUser) {
  NoDisks none;
  Open(none.roots);
  EXPECT_EQ(List().RowCount(), 0);
  Click("BtnDeletedRecovery");
  test::BoxSeen seen;
  test::AnswerNextBox(wnd_.get(), &seen);
  Click("BtnScan");
  EXPECT_TRUE(seen.shown);
  EXPECT_EQ(seen.layout, "xml/MessageBox_Information.xml") << "no scan window opens";
  EXPECT_EQ(seen.message, MessageText("MSG0505"));
  EXPECT_FALSE(wnd_->Scanning());
  EXPECT_EQ(wnd_->CurrentPageIndex(), 1);
}

// Imaging with no location chosen says so in a box the user answers, and no
// save dialog opens. (Going through a mode that picks a default row would
// open the save dialog instead: a location is chosen then.)
TEST_F(MainWndTest, ImagingWithoutAChosenLocationOnlyTellsTheUser) {
  NoDisks none;
  Open(none.roots);
  Click("BtnCreateImageMode");
  ASSERT_EQ(List().CurrentRow(), -1);
  test::BoxSeen seen;
  test::AnswerNextBox(wnd_.get(), &seen);
  Click("BtnCreateImage");
  EXPECT_TRUE(seen.shown);
  EXPECT_EQ(seen.message, MessageText("MSG0216"));
  EXPECT_TRUE(seen.unexpected.isEmpty()) << seen.unexpected.toStdString();
  EXPECT_TRUE(wnd_->isEnabled()) << "the box gave the window back";
  EXPECT_EQ(wnd_->CurrentPageIndex(), 1);
}

// The helper that answers boxes rejects a dialog it cannot answer, so a
// test that opens the real save dialog fails at once instead of hanging.
TEST_F(MainWndTest, AnUnexpectedFileDialogFailsTheTestInsteadOfHangingIt) {
  Open();
  Click("BtnCreateImageMode");
  List().SelectRow(1);
  ASSERT_GE(List().CurrentRow(), 0);
  test::BoxSeen seen;
  test::AnswerNextBox(wnd_.get(), &seen);
  Click("BtnCreateImage");  // no hooks: the real save dialog
  EXPECT_FALSE(seen.shown);
  EXPECT_EQ(seen.unexpected, "QFileDialog");
}

TEST_F(MainWndTest, CopyOutNeedsCheckedFiles) {
  Open();
  Click("BtnDeletedRecovery");
  // Nothing is checked before a scan: copy-out cannot even be asked for.
  EXPECT_FALSE(wnd_->FindControl("BtnRecover")->isEnabled());
}

TEST_F(MainWndTest, FileTypeOptionsMakeTheSelectionAndTheFilter) {
  Open();
  FileTypePage& types = wnd_->FileTypes();
  // The options are made from the file-format table, with their extensions
  // and pictures, all checked.
  auto* jpg = wnd_->Find<QAbstractButton>("OptPhotoFileItem3");
  ASSERT_NE(jpg, nullptr);
  EXPECT_EQ(jpg->text(), "JPG/JPEG (.jpg .jpeg)");
  EXPECT_EQ(jpg->property("userdata").toString(), "jpg|jpeg");
  EXPECT_TRUE(jpg->property("picture").toString().startsWith("file='FileIcon/jpg.png'"));
  EXPECT_TRUE(jpg->isChecked());
  EXPECT_EQ(wnd_->FindControl("OptOtherFileItem")->property("userdata").toString(), "other");
  EXPECT_EQ(wnd_->Find<QAbstractButton>("OptOfficeFileItem1")->property("userdata").toString(), "doc|docx");
  int options = 0;
  for (const char* grid : {"FileTypePhotoGrid", "FileTypeAudioGrid", "FileTypeVideoGrid", "FileTypeOfficeGrid",
                           "FileTypeZipGrid", "FileTypeOtherGrid"})
    options += int(wnd_->FindControl(grid)->findChildren<QAbstractButton*>().size());
  EXPECT_EQ(options, int(FileTypeOptions().size()));
  // At start the layout's checked options are selected, "other" among them.
  ASSERT_TRUE(types.Selected().count("bmp"));
  ASSERT_TRUE(types.Selected().count("jpg"));
  EXPECT_EQ(types.Selected().at("other"), "OptOtherFileItem");
  const size_t all = types.Selected().size();

  // One option off takes its extensions out, on puts them back.
  auto* bmp = wnd_->Find<QAbstractButton>("OptPhotoFileItem1");
  bmp->click();
  EXPECT_FALSE(types.Selected().count("bmp"));
  EXPECT_EQ(types.Selected().size(), all - 1);
  bmp->click();
  EXPECT_TRUE(types.Selected().count("bmp"));

  // The category option and its button switch the whole container.
  Click("OptPhotoFile");
  EXPECT_FALSE(wnd_->IsChecked("OptPhotoFile"));
  EXPECT_FALSE(bmp->isChecked());
  EXPECT_FALSE(types.Selected().count("jpg"));
  EXPECT_TRUE(types.Selected().count("other"));
  Click("BtnPhoto");
  EXPECT_TRUE(wnd_->IsChecked("OptPhotoFile"));
  EXPECT_TRUE(bmp->isChecked());
  EXPECT_EQ(types.Selected().size(), all);
  Click("BtnOther");
  EXPECT_FALSE(types.Selected().count("other"));

  // The filter: "..ext" pieces joined by "|", pattern characters escaped.
  EXPECT_EQ(FileTypePage::FilterText({"jpg", "png"}), "..jpg|..png");
  EXPECT_EQ(FileTypePage::FilterText({"c++", "x{1}", "a[b]", "^$?"}), "..c\\+\\+|..x\\{1\\}|..a\\[b\\]|..\\^\\$\\?");
  EXPECT_EQ(FileTypePage::FilterText({}), "");
  const std::string filter = types.FilterText();
  EXPECT_NE(filter.find("..bmp|"), std::string::npos);
  EXPECT_EQ(filter.find("..other"), std::string::npos);
  // What the result views get: each extension with its option's user data.
  const auto data = types.SelectedUserData();
  EXPECT_EQ(data.at("bmp"), "bmp");
}

TEST_F(MainWndTest, LanguageChoiceIsKeptPerUserAndReappliesTheTexts) {
  const std::string programConfig = app::LanguageTable::Instance().ConfigPath();
  const std::string before = ReadAll(programConfig);
  Open();
  Click("BtnDeletedRecovery");
  List().SelectRow(1);
  const QString englishScan = Text("BtnScan");

  // The language submenu lists the languages, the current one marked.
  QStringList entries;
  bool currentMarked = false, otherMarked = false;
  QTimer::singleShot(100, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    auto* languages = menu->findChild<QMenu*>("item_language");
    ASSERT_NE(languages, nullptr);
    QAction* german = nullptr;
    for (QAction* a : languages->actions()) {
      entries << a->objectName();
      if (a->objectName() == "language:English") currentMarked = !a->icon().isNull();
      if (a->objectName() == "language:German") {
        otherMarked = !a->icon().isNull();
        german = a;
      }
    }
    ASSERT_NE(german, nullptr);
    german->trigger();
    menu->close();
  });
  Click("BtnAssist");
  EXPECT_EQ(entries, (QStringList{"language:English", "language:German"}));
  EXPECT_TRUE(currentMarked);
  EXPECT_FALSE(otherMarked);

  ASSERT_TRUE(test::WaitFor([&] { return Text("BtnScan") != englishScan; }));
  EXPECT_EQ(app::LanguageTable::Instance().CurrentLanguage(), "German");
  EXPECT_TRUE(Text("Txt1").endsWith(MessageText("MSG0501"))) << "the mode stands in front";
  EXPECT_EQ(Text("BtnScan"), QString::fromStdString(app::LanguageTable::Instance().Text("MainWnd", "BtnScan")));
  EXPECT_EQ(Text("Label1").section(' ', 0, 0), MessageText("MSG0203")) << "the selected row's information again";

  // Kept in the user's file; the program's own stays as it was.
  EXPECT_EQ(ReadAll(programConfig), before);
  EXPECT_NE(ReadAll(user_ / "config.ini").find("Default=German"), std::string::npos);
  app::LanguageTable fresh(app::ProgramFolder());
  EXPECT_EQ(fresh.CurrentLanguage(), "English");
  fresh.SetUserConfigPath(user_ / "config.ini");
  EXPECT_EQ(fresh.CurrentLanguage(), "German");
  app::LanguageTable::Instance().SetLanguage("English");
}

// Help shows the guide in the program's own window, its screenshots too, as
// root and without a viewer for Markdown; a guide that cannot be read is said.
TEST(HelpWindow, ShowsTheGuideWithItsPictures) {
  test::UiApp();
  ui::Skin::Instance().UseBuiltIn();
  TempDir dir;
  fs::create_directories(dir / "shots");
  QImage picture(2000, 1500, QImage::Format_RGB32);
  picture.fill(Qt::green);
  ASSERT_TRUE(picture.save(QString::fromStdString(dir / "shots/page.png")));
  std::ofstream(dir / "guide.md") << "# Getting files back\n\nChoose a mode.\n\n![The page](shots/page.png)\n";
  HelpWnd help(QString::fromStdString(dir / "guide.md"));
  ASSERT_TRUE(help.CreatePopup(nullptr, 820, 620));
  EXPECT_TRUE(help.Load());
  auto* text = help.Find<QTextBrowser>("GuideText");
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->toPlainText().contains("Getting files back"));
  EXPECT_FALSE(text->toPlainText().contains("#")) << "shown as a page, not as Markdown source";
  const QVariant image = text->document()->resource(QTextDocument::ImageResource, QUrl("shots/page.png"));
  EXPECT_TRUE(image.isValid()) << "the screenshot beside the guide is shown";
  // A picture wider than the window is shown at the page's width.
  bool fitted = false;
  for (QTextBlock b = text->document()->begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isImageFormat()) {
        const QTextImageFormat f = it.fragment().charFormat().toImageFormat();
        fitted = f.width() > 0 && f.width() < 820 && std::abs(f.height() / f.width() - 0.75) < 0.01;
      }
  EXPECT_TRUE(fitted);
  EXPECT_EQ(help.Text("Title"), MessageText("MSG0910"));

  HelpWnd missing(QString::fromStdString(dir / "none.md"));
  ASSERT_TRUE(missing.CreatePopup(nullptr, 820, 620));
  EXPECT_FALSE(missing.Load());
}

TEST(AssistMenu, EntriesAndTheUserGuide) {
  EXPECT_EQ(ChoiceFromEntry("item_help").kind, AssistChoice::Kind::kHelp);
  EXPECT_EQ(ChoiceFromEntry("item_support").kind, AssistChoice::Kind::kSupport);
  EXPECT_EQ(ChoiceFromEntry("item_about").kind, AssistChoice::Kind::kAbout);
  EXPECT_EQ(ChoiceFromEntry("item_exit").kind, AssistChoice::Kind::kExit);
  EXPECT_EQ(ChoiceFromEntry("").kind, AssistChoice::Kind::kNone);
  // A language may be named like a fixed entry; its entry still is a language.
  const AssistChoice c = ChoiceFromEntry("language:item_exit");
  EXPECT_EQ(c.kind, AssistChoice::Kind::kLanguage);
  EXPECT_EQ(c.language, "item_exit");
}

// About tells the version the build, the command line and the package show,
// in the language chosen, in a box titled by the language too.
TEST(AssistMenu, AboutShowsTheVersion) {
  test::UiApp();
  const QString version = QString::fromUtf8(ProgramVersion().data(), qsizetype(ProgramVersion().size()));
  ASSERT_FALSE(version.isEmpty());
  auto& table = app::LanguageTable::Instance();
  // The choice goes to a user file of the test's own, not to the source tree.
  TempDir user;
  table.SetUserConfigPath(user / "config.ini");
  for (const char* language : {"English", "German"}) {
    ASSERT_TRUE(table.SetLanguage(language));
    const QString text = AboutText();
    EXPECT_TRUE(text.contains("Dunmere " + version)) << language << " " << text.toStdString();
    EXPECT_FALSE(text.contains('%')) << text.toStdString();
    MessageBoxWnd::Choice about;
    about.titleId = "MSG1380";
    MessageBoxWnd box(MessageBoxWnd::kInformation, about);
    ASSERT_TRUE(box.Prepare(nullptr, text, 420, 190));
    EXPECT_EQ(box.Text("title"), MessageText("MSG1380"));
    EXPECT_FALSE(box.Text("title").isEmpty());
  }
  table.SetLanguage("English");
  table.SetUserConfigPath({});
}

}  // namespace
}  // namespace dunmere::gui
