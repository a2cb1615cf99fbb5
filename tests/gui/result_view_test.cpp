// The results page: the type tree built from a real FAT scan and from made-up
// results, checking by row, node, category and "ChkSelAll" with the three
// states, the summary, sorting by header clicks and the preview hand-off,
// driven through the controls as the user drives them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QRegularExpression>
#include <QTextEdit>
#include <QTreeWidgetItem>
#include <optional>

#include "app/core/results/file_categories.h"
#include "app/gui/control_dump.h"
#include "app/core/sessions/scan_session.h"
#include "engine/found_item.h"
#include "tests/support/found_records.h"
#include "tests/support/test_support.h"
#include "tests/gui/results_host.h"
#include "tests/ui/ui_test_app.h"
#include "ui/file_tree.h"
#include "ui/list_ui.h"
#include "ui/skin.h"

namespace dunmere {
namespace {

using test::ResultsHostWnd;

void Pump() { QCoreApplication::processEvents(); }

// Records as an NTFS scan reports them, their contents intact.
FoundItemRecord Rec(const char* name, uint32_t index, uint64_t size, uint16_t tag = 'E') {
  return test::MakeRecord(name, index, size, tag, kSourceQuickNtfs, true);
}

// Every option of the file-type page checked, as at start-up.
std::map<std::string, std::string> AllSelected() {
  std::map<std::string, std::string> sel;
  for (const FileTypeOption& o : FileTypeOptions()) {
    std::string_view u = o.extensions;
    size_t start = 0;
    while (true) {
      const size_t bar = u.find('|', start);
      sel[std::string(u.substr(start, bar - start))] = std::string(u);
      if (bar == std::string_view::npos) break;
      start = bar + 1;
    }
  }
  return sel;
}

// The filter the main window hands the type search: "..jpg|..jpeg|...".
std::string FilterOf(const std::map<std::string, std::string>& sel) {
  std::string f;
  for (const auto& [ext, userData] : sel) f += (f.empty() ? ".." : "|..") + ext;
  return f;
}

class ResultViewTest : public ::testing::Test {
 protected:
  // The window is a member: the application must exist before the fixture.
  static void SetUpTestSuite() { test::UiApp(); }
  void SetUp() override {
    ui::Skin::Instance().UseBuiltIn();
    ASSERT_TRUE(w.Open()) << w.LoadError().toStdString();
    tree = w.Find<ui::FileTree>("TypeTree");
    list = w.Find<ui::ListBox>("FileList");
    ASSERT_TRUE(tree && list);
    w.view->SetPreviewHandler([this](const FoundItemRecord& r) { previewed.push_back(RecordName(r)); });
    w.show();
    Pump();
  }
  QTreeWidgetItem* Node(const char* name) { return tree->Node(name); }
  QStringList Children(const char* category) {
    QStringList out;
    QTreeWidgetItem* n = Node(category);
    for (int i = 0; i < n->childCount(); ++i) out << n->child(i)->text(0);
    return out;
  }
  QTreeWidgetItem* Child(const char* category, const QString& startsWith) {
    QTreeWidgetItem* n = Node(category);
    for (int i = 0; i < n->childCount(); ++i)
      if (n->child(i)->text(0).startsWith(startsWith)) return n->child(i);
    return nullptr;
  }
  // The user picks a node: the tree reports it to the window.
  void SelectNode(QTreeWidgetItem* node) {
    tree->setCurrentItem(node);
    Pump();
  }
  // A click on a node's check box changes its state the way this does.
  void ClickNodeBox(QTreeWidgetItem* node) {
    node->setCheckState(0, node->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    Pump();
  }
  void ClickRowBox(int row) {
    test::ClickAt(list->viewport(), list->visualRect(list->Model()->index(row, 0)).center());
    Pump();
  }
  void ClickHeader(const QString& item) {
    auto* h = list->Header();
    const int c = list->ColumnIndex(item);
    test::ClickAt(h->viewport(), QPoint(h->sectionViewportPosition(c) + h->sectionSize(c) / 2, h->height() / 2));
    Pump();
  }
  QStringList Column(const QString& item) {
    QStringList out;
    const int c = list->ColumnIndex(item);
    for (int r = 0; r < list->RowCount(); ++r) out << list->Model()->data(list->Model()->index(r, c), Qt::DisplayRole).toString();
    return out;
  }
  int CheckedRows() {
    int n = 0;
    for (int r = 0; r < list->RowCount(); ++r) n += list->Model()->CheckOf(r) == Qt::Checked;
    return n;
  }
  QString Summary() { return w.Text("SelectedFileInfo"); }
  bool RecoverEnabled() { return w.FindControl("BtnRecover")->isEnabled(); }

  ResultsHostWnd w;
  ui::FileTree* tree = nullptr;
  ui::ListBox* list = nullptr;
  std::vector<std::string> previewed;
};

// Made-up results of two sources: pictures, songs, other files.
std::vector<FoundItemRecord> Mixed() {
  std::vector<FoundItemRecord> v = {
      Rec("b.jpg", 1, 300),      Rec("A.JPEG", 2, 100),     Rec("c.jpg", 3, 200),
      Rec("song.mp3", 4, 5000),  Rec("x.xyz", 5, 10),       Rec("README", 6, 20),
      Rec("d.jpg", 1, 400, 'F'),  // record 1 of another source
      Rec("shot.png", 7, 50),
  };
  return v;
}

TEST_F(ResultViewTest, TreeFromARealFatScan) {
  std::string why;
  const test::CachedFixture fx = test::MakeCachedFixture("make_fat_images.sh", "fat-images");
  if (fx.dir.empty()) {
    if (fx.missingTool) GTEST_SKIP() << "needs mkfs.fat and mtools: " << fx.message;
    FAIL() << fx.message;
  }
  test::UsePrivateDataFolder();
  SourceSpec source;
  std::string error;
  ASSERT_EQ(ResolveSource(fx.dir + "/fat16.img", source, error), kOk) << error;
  OpenedEngine opened;
  ASSERT_EQ(OpenEngine(source, false, opened, error), kOk) << error;
  ASSERT_EQ(RunScan(*opened.engine, {}), kOk);
  std::map<std::string, std::string> selected = AllSelected();
  selected["other"] = "other";
  std::vector<FoundItemRecord> found;
  ASSERT_EQ(opened.engine->SearchByType(FilterOf(selected), found), 1);
  ASSERT_FALSE(found.empty());
  w.view->ShowResults(found, selected);
  Pump();

  // Deleted .txt files under Office; .bin and .dat under Other, "Zq" (no
  // extension) in the UNKNOW node, which comes last.
  const QStringList office = Children("NodeOffice");
  ASSERT_EQ(office.size(), 1) << office.join(", ").toStdString();
  EXPECT_TRUE(office[0].startsWith("TXT Files (")) << office[0].toStdString();
  const QStringList other = Children("NodeOther");
  ASSERT_GE(other.size(), 3) << other.join(", ").toStdString();
  EXPECT_TRUE(other.filter(QRegularExpression("^BIN Files \\(\\d+\\)$")).size() == 1);
  EXPECT_TRUE(other.filter(QRegularExpression("^DAT Files \\(\\d+\\)$")).size() == 1);
  EXPECT_EQ(other.last(), "UNKNOW Files (1)");
  EXPECT_TRUE(Node("NodeOther")->text(0).startsWith("Other Files ("));
  // The deleted ROOTDEL.JPG is the one picture: its node is listed first and
  // its row previewed.
  EXPECT_EQ(Children("NodePhoto"), QStringList{"JPG/JPEG (1)"});
  EXPECT_EQ(Node("NodePhoto")->text(0), "Photo (1)");
  EXPECT_EQ(tree->currentItem(), Node("NodePhoto")->child(0));
  // (its short name lost its first letter when it was deleted)
  EXPECT_EQ(Column("FileName"), QStringList{"!ootdel.jpg"});
  EXPECT_EQ(Column("Type"), QStringList{"jpg"});
  EXPECT_EQ(previewed, std::vector<std::string>{"!ootdel.jpg"});
  // The text files: as many rows as the node says, names as the engine found them.
  SelectNode(Node("NodeOffice")->child(0));
  const int txtFiles = office[0].section('(', 1).section(')', 0, 0).toInt();
  EXPECT_EQ(list->RowCount(), txtFiles);
  EXPECT_TRUE(Column("FileName").contains("deleted from live folder.txt"));
  EXPECT_TRUE(Column("FileName").contains("Résumé naïve.txt"));
  EXPECT_EQ(Column("Path").first(), "    ----    ");
  EXPECT_EQ(previewed.size(), 1u);  // listing alone previews nothing
  EXPECT_EQ(Summary(), "No file checked");
  EXPECT_FALSE(RecoverEnabled());

  // Checking the whole Other category: every node below it and the summary.
  ClickNodeBox(Node("NodeOther"));
  EXPECT_EQ(tree->Check(Node("NodeOther")->child(0)), Qt::Checked);
  uint64_t otherFiles = 0;
  for (const QString& caption : other) otherFiles += caption.section('(', 1).section(')', 0, 0).toULongLong();
  EXPECT_EQ(w.view->Checked().size(), otherFiles);
  for (const auto& [key, record] : w.view->Checked()) EXPECT_EQ(CategoryOfName(RecordName(record)), "others");
  EXPECT_TRUE(Summary().endsWith(QStringLiteral("in %1 files").arg(otherFiles))) << Summary().toStdString();
  EXPECT_TRUE(RecoverEnabled());

  // DUNMERE_SHOT_DIR=<folder>: a picture of the page to look at.
  if (const char* dir = getenv("DUNMERE_SHOT_DIR")) {
    SelectNode(Node("NodeOffice")->child(0));
    ClickHeader("Size");
    ClickRowBox(1);
    ClickRowBox(2);
    list->SelectRow(0);
    Pump();
    w.grab().save(QString::fromLocal8Bit(dir) + "/results_page.png");
  }
}

TEST_F(ResultViewTest, OnlyJpgAndOtherSelectedShowsAliasesAndOtherNodes) {
  std::map<std::string, std::string> selected = {{"jpg", "jpg|jpeg"}, {"jpeg", "jpg|jpeg"}, {"other", "other"}};
  w.view->ShowResults(Mixed(), selected);
  Pump();
  EXPECT_EQ(Children("NodePhoto"), QStringList{"JPG/JPEG (4)"});
  EXPECT_EQ(Node("NodePhoto")->text(0), "Photo (4)");
  // png and mp3 were not selected: they are other files now.
  EXPECT_EQ(Children("NodeOther"),
            (QStringList{"MP3 Files (1)", "PNG Files (1)", "XYZ Files (1)", "UNKNOW Files (1)"}));
  EXPECT_EQ(Node("NodeOther")->text(0), "Other Files (4)");
  EXPECT_EQ(Node("NodeAudio")->childCount(), 0);
  EXPECT_EQ(Node("NodeAudio")->text(0), "Audio");
  EXPECT_FALSE(Node("NodeAudio")->data(0, Qt::CheckStateRole).isValid());
  EXPECT_TRUE(Node("NodePhoto")->data(0, Qt::CheckStateRole).isValid());
  EXPECT_EQ(Node("NodePhoto")->child(0)->data(0, ui::FileTree::kUserDataRole).toString(), "jpg|jpeg");
  EXPECT_EQ(Node("NodePhoto")->child(0)->data(0, ui::FileTree::kIconRole).toString(), "file='FileIcon/jpg.png'");
  // The list shows the group in result order with the node's picture.
  EXPECT_EQ(Column("FileName"), (QStringList{"b.jpg", "A.JPEG", "c.jpg", "d.jpg"}));
  EXPECT_EQ(list->Row(0).icon, "file='FileIcon/jpg.png'");
  EXPECT_EQ(Column("Type"), (QStringList{"jpg", "JPEG", "jpg", "jpg"}));
  EXPECT_EQ(Column("Size"), (QStringList{"300 Bytes", "100 Bytes", "200 Bytes", "400 Bytes"}));
  EXPECT_EQ(Column("ModifiedTime").first(), "    ----    ");
  EXPECT_EQ(previewed, std::vector<std::string>{"b.jpg"});

  // Without "other" the unselected extensions are dropped altogether.
  w.view->ShowResults(Mixed(), {{"jpg", "jpg|jpeg"}, {"jpeg", "jpg|jpeg"}});
  Pump();
  EXPECT_EQ(Node("NodeOther")->childCount(), 0);
  EXPECT_EQ(Children("NodePhoto"), QStringList{"JPG/JPEG (4)"});
}

TEST_F(ResultViewTest, ThreeStatesFromRowsUpAndFromNodesDown) {
  std::map<std::string, std::string> selected = AllSelected();
  selected["other"] = "other";
  w.view->ShowResults(Mixed(), selected);
  Pump();
  QTreeWidgetItem* jpg = Child("NodePhoto", "JPG/JPEG");
  QTreeWidgetItem* png = Child("NodePhoto", "PNG");
  ASSERT_TRUE(jpg && png);
  ASSERT_EQ(tree->currentItem(), jpg);
  ASSERT_EQ(list->RowCount(), 4);

  // Half the rows: node, category and "ChkSelAll" partial.
  ClickRowBox(0);
  ClickRowBox(3);
  EXPECT_EQ(CheckedRows(), 2);
  EXPECT_EQ(list->HeaderCheck(), Qt::PartiallyChecked);
  EXPECT_EQ(tree->Check(jpg), Qt::PartiallyChecked);
  EXPECT_EQ(tree->Check(Node("NodePhoto")), Qt::PartiallyChecked);
  EXPECT_EQ(Summary(), "Selected: 700 Bytes in 2 files");
  // Record 1 of both sources are separate entries.
  EXPECT_EQ(w.view->Checked().count({1, ('E' << 16) | kSourceQuickNtfs}), 1u);
  EXPECT_EQ(w.view->Checked().count({1, ('F' << 16) | kSourceQuickNtfs}), 1u);
  // The rest: the node is checked, the category still partial (png is not).
  ClickRowBox(1);
  ClickRowBox(2);
  EXPECT_EQ(list->HeaderCheck(), Qt::Checked);
  EXPECT_EQ(tree->Check(jpg), Qt::Checked);
  EXPECT_EQ(tree->Check(Node("NodePhoto")), Qt::PartiallyChecked);
  ClickNodeBox(png);
  EXPECT_EQ(tree->Check(Node("NodePhoto")), Qt::Checked);
  EXPECT_EQ(Summary(), "Selected: 1.03 KB in 5 files");

  // Down: the category clears every node and the visible rows.
  ClickNodeBox(Node("NodePhoto"));
  EXPECT_EQ(tree->Check(Node("NodePhoto")), Qt::Unchecked);
  EXPECT_EQ(tree->Check(jpg), Qt::Unchecked);
  EXPECT_EQ(CheckedRows(), 0);
  EXPECT_EQ(list->HeaderCheck(), Qt::Unchecked);
  EXPECT_EQ(Summary(), "No file checked");
  EXPECT_FALSE(RecoverEnabled());

  // "ChkSelAll" checks the listed node only.
  test::ClickAt(list->Header()->viewport(), QPoint(list->Header()->sectionSize(0) / 2, list->Header()->height() / 2));
  Pump();
  EXPECT_EQ(CheckedRows(), 4);
  EXPECT_EQ(tree->Check(jpg), Qt::Checked);
  EXPECT_EQ(tree->Check(png), Qt::Unchecked);
  EXPECT_EQ(tree->Check(Node("NodePhoto")), Qt::PartiallyChecked);
  // A file checked under another node stays checked and counted.
  QTreeWidgetItem* xyz = Child("NodeOther", "XYZ");
  SelectNode(xyz);
  EXPECT_EQ(list->HeaderCheck(), Qt::Unchecked);
  ClickRowBox(0);
  EXPECT_EQ(tree->Check(xyz), Qt::Checked);
  EXPECT_EQ(Summary(), "Selected: 1010 Bytes in 5 files");
  SelectNode(jpg);
  EXPECT_EQ(CheckedRows(), 4);
  EXPECT_EQ(list->HeaderCheck(), Qt::Checked);
  // Node box clicked from partial: fully checked.
  ClickRowBox(2);
  EXPECT_EQ(tree->Check(jpg), Qt::PartiallyChecked);
  ClickNodeBox(jpg);
  EXPECT_EQ(tree->Check(jpg), Qt::Checked);
  EXPECT_EQ(CheckedRows(), 4);

  // A new search's results replace everything but what is still found.
  w.view->Clear();
  EXPECT_TRUE(w.view->Checked().empty());
  EXPECT_EQ(list->RowCount(), 0);
  EXPECT_EQ(Node("NodePhoto")->childCount(), 0);
  EXPECT_EQ(Summary(), "No file checked");
}

// A carved file whose own structure does not close says so in its name's tip.
TEST_F(ResultViewTest, APartialFileSaysSoInItsNameTip) {
  FoundItemRecord cut = Rec("cut.jpg", 8, 700);
  cut.contentOk = kContentPartial;
  std::vector<FoundItemRecord> v = Mixed();
  v.push_back(cut);
  w.view->ShowResults(v, AllSelected());
  Pump();
  SelectNode(Child("NodePhoto", "JPG/JPEG"));
  const int name = list->ColumnIndex("FileName");
  std::map<QString, QString> tips;
  for (int r = 0; r < list->RowCount(); ++r)
    tips[list->Model()->data(list->Model()->index(r, name), Qt::DisplayRole).toString()] =
        list->Model()->data(list->Model()->index(r, name), Qt::ToolTipRole).toString();
  ASSERT_TRUE(tips.count("cut.jpg"));
  EXPECT_EQ(tips["cut.jpg"], "cut.jpg (Partial)");
  EXPECT_EQ(tips["b.jpg"], "b.jpg");
}

TEST_F(ResultViewTest, HeaderClicksSortAndTheSelectionFollows) {
  std::vector<FoundItemRecord> v = {Rec("m.jpg", 1, 20), Rec("Z.jpg", 2, 5), Rec("a.jpg", 3, 20),
                                    Rec("k.jpg", 4, 90)};
  v[0].modified = 132593294490000000ull;  // 2021-3-5
  v[1].modified = 132775776000000000ull;  // 2021-10-1: newer, though "2021-10" < "2021-3" as text
  w.view->ShowResults(v, AllSelected());
  Pump();
  ASSERT_EQ(list->RowCount(), 4);
  ClickHeader("Size");
  EXPECT_EQ(Column("FileName"), (QStringList{"k.jpg", "m.jpg", "a.jpg", "Z.jpg"}));
  ClickHeader("Size");
  EXPECT_EQ(Column("FileName"), (QStringList{"Z.jpg", "m.jpg", "a.jpg", "k.jpg"}));
  ClickHeader("FileName");
  EXPECT_EQ(Column("FileName"), (QStringList{"a.jpg", "k.jpg", "m.jpg", "Z.jpg"}));
  ClickHeader("FileName");
  EXPECT_EQ(Column("FileName"), (QStringList{"Z.jpg", "m.jpg", "k.jpg", "a.jpg"}));
  ClickHeader("ModifiedTime");
  EXPECT_EQ(Column("FileName").mid(0, 2), (QStringList{"Z.jpg", "m.jpg"}));
  // The check-box item is no sort key.
  const QStringList before = Column("FileName");
  w.seen.clear();
  ClickHeader("ChkSelAll");
  EXPECT_EQ(Column("FileName"), before);

  // The preview gets the record of the row picked, wherever the sort put it.
  previewed.clear();
  list->SelectRow(2);
  Pump();
  ASSERT_EQ(previewed.size(), 1u);
  EXPECT_EQ(QString::fromStdString(previewed[0]), before[2]);
  // The selected record stays selected through a sort, without a new preview.
  ClickHeader("Size");
  EXPECT_EQ(Column("FileName")[list->CurrentRow()], before[2]);
  EXPECT_EQ(previewed.size(), 1u);
  ASSERT_EQ(w.view->ListedRowCount(), 4);
  EXPECT_EQ(RecordName(*w.view->ListedRecord(list->CurrentRow())), before[2].toStdString());
  EXPECT_EQ(w.view->ListedRecord(4), nullptr);
}

TEST_F(ResultViewTest, FolderRowsTellThePreviewPanelInsteadOfPreviewing) {
  std::vector<FoundItemRecord> v = {Rec("album.jpg", 1, 0), Rec("b.jpg", 2, 10)};
  v[0].isFolder = 1;
  w.view->ShowResults(v, AllSelected());
  Pump();
  EXPECT_TRUE(previewed.empty());
  EXPECT_EQ(w.Text("PreviewEdit"), "This is a folder. Select a file to preview it.");
  EXPECT_EQ(Column("Type").first(), "folder");
  EXPECT_EQ(Column("Size").first(), "");
  list->SelectRow(1);
  Pump();
  EXPECT_EQ(previewed, std::vector<std::string>{"b.jpg"});
}

TEST_F(ResultViewTest, EmptyResultsLeaveEveryCategoryEmpty) {
  w.view->ShowResults({}, AllSelected());
  Pump();
  for (const char* n : {"NodePhoto", "NodeAudio", "NodeVideo", "NodeOffice", "NodeZip", "NodeOther"})
    EXPECT_EQ(Node(n)->childCount(), 0) << n;
  EXPECT_EQ(list->RowCount(), 0);
  EXPECT_TRUE(previewed.empty());
  // A category with nothing under it offers no check box.
  EXPECT_FALSE(Node("NodePhoto")->data(0, Qt::CheckStateRole).isValid());
  EXPECT_EQ(Summary(), "No file checked");
  EXPECT_FALSE(RecoverEnabled());
}

// Where the dump says a thing is on the screen is where a script's click
// reaches it: a row selects that file, a check box checks it, in the list
// and in the type tree.
TEST_F(ResultViewTest, ControlDumpTellsScriptsWhereToClick) {
  w.view->ShowResults(Mixed(), {{"jpg", "jpg|jpeg"}, {"jpeg", "jpg|jpeg"}, {"other", "other"}});
  Pump();
  const QString dump = gui::DescribeControls();
  auto Place = [&](const QString& kind, const QString& name) -> std::optional<QRect> {
    for (const QString& line : dump.split(QLatin1Char('\n'))) {
      const QStringList f = line.split(QLatin1Char('\t'));
      if (f.size() == 7 && f[0] == kind && f[2] == name)
        return QRect(f[3].toInt(), f[4].toInt(), f[5].toInt(), f[6].toInt());
    }
    return std::nullopt;
  };
  EXPECT_EQ(Place("window", w.windowTitle()), QRect(w.mapToGlobal(QPoint(0, 0)), w.size())) << dump.toStdString();
  QWidget* pane = w.FindControl("PreviewEdit");
  EXPECT_EQ(Place("control", "PreviewEdit"), QRect(pane->mapToGlobal(QPoint(0, 0)), pane->size()));
  auto Local = [](QWidget* on, QRect screen) { return on->mapFromGlobal(screen.center()); };

  const int c = int(Column("FileName").indexOf("c.jpg"));
  ASSERT_GE(c, 0);
  const auto row = Place("row", "c.jpg");
  ASSERT_TRUE(row) << dump.toStdString();
  EXPECT_EQ(list->indexAt(Local(list->viewport(), *row)).row(), c);
  const auto box = Place("check", "c.jpg");
  ASSERT_TRUE(box);
  test::ClickAt(list->viewport(), Local(list->viewport(), *box));
  Pump();
  EXPECT_EQ(list->Model()->CheckOf(c), Qt::Checked);
  EXPECT_EQ(CheckedRows(), 1);

  const auto header = Place("header", list->model()->headerData(list->ColumnIndex("FileName"), Qt::Horizontal).toString());
  ASSERT_TRUE(header);
  EXPECT_EQ(list->Header()->logicalIndexAt(Local(list->Header()->viewport(), *header)), list->ColumnIndex("FileName"));

  QTreeWidgetItem* jpg = Child("NodePhoto", "JPG/JPEG");
  ASSERT_NE(jpg, nullptr);
  const auto node = Place("check", jpg->text(0));
  ASSERT_TRUE(node) << dump.toStdString();
  const Qt::CheckState before = jpg->checkState(0);
  test::ClickAt(tree->viewport(), Local(tree->viewport(), *node));
  Pump();
  EXPECT_NE(jpg->checkState(0), before) << "the click missed the node's box";

  // The file holds what is on the screen when it is written.
  test::TempDir dir;
  const QString file = QString::fromStdString(dir / "controls");
  ASSERT_TRUE(gui::WriteControlDump(file));
  QFile in(file);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(in.readAll()), gui::DescribeControls());
}

// Camera folders are what a card's photos are told apart by: the Path column
// shows them whole where the window has room, and never takes the list.
TEST(ResultListColumns, PathColumnTakesTheFoldersOfTheListedRows) {
  test::UiApp();
  ui::Skin::Instance().UseBuiltIn();
  test::ResultsHostWnd host;
  ASSERT_TRUE(host.Open(1280, 700)) << host.LoadError().toStdString();
  auto* list = host.Find<ui::ListBox>("FileList");
  ASSERT_NE(list, nullptr);
  host.view->SetFolderSource([](const FoundItemRecord& r, std::string& out) {
    out = r.recordIndex == 7 ? std::string(300, 'x') + "/" : "DCIM/100CANON/";
    return true;
  });
  std::vector<FoundItemRecord> photos;
  for (uint32_t i = 0; i < 5; ++i) photos.push_back(Rec("IMG_0001.JPG", i + 1, 4000));
  host.view->ShowResults(photos, AllSelected());
  host.show();
  Pump();
  ui::FileTree* tree = host.Find<ui::FileTree>("TypeTree");
  tree->setCurrentItem(tree->Node("NodePhoto")->child(0));
  Pump();
  ASSERT_EQ(list->RowCount(), 5);
  const int path = list->ColumnIndex(QStringLiteral("Path"));
  const QString text = list->Model()->data(list->Model()->index(0, path), Qt::DisplayRole).toString();
  ASSERT_TRUE(text.contains(QStringLiteral("100CANON"))) << text.toStdString();
  EXPECT_GE(list->header()->sectionSize(path), list->fontMetrics().horizontalAdvance(text) + 6);

  // One very long folder: the column stops at a third of the list.
  photos.push_back(Rec("IMG_0002.JPG", 7, 4000));
  host.view->ShowResults(photos, AllSelected());
  Pump();
  tree->setCurrentItem(tree->Node("NodePhoto")->child(0));
  Pump();
  ASSERT_EQ(list->RowCount(), 6);
  EXPECT_LE(list->header()->sectionSize(path), list->viewport()->width() / 3);
  EXPECT_LE(list->header()->length(), list->viewport()->width());
}

}  // namespace
}  // namespace dunmere

namespace dunmere {
namespace {

TEST(ResultViewBinding, AViewMadeBeforeTheLayoutFindsItsControlsLater) {
  test::UiApp();
  test::ResultsHostWnd w;
  w.view = std::make_unique<gui::ResultView>(w);  // no controls yet
  ASSERT_TRUE(w.Create(nullptr, 1000, 480));
  w.view->ShowResults({Rec("a.jpg", 1, 10), Rec("b.jpg", 2, 20)}, AllSelected());
  auto* list = w.Find<ui::ListBox>("FileList");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->RowCount(), 2);
  EXPECT_EQ(w.Find<ui::FileTree>("TypeTree")->Node("NodePhoto")->childCount(), 1);
}

// At the main window's width every column of the list is in view, with a
// scroll bar for many rows: nothing to scroll sideways, and the widest date,
// the no-path text, a large size and each header caption fit their column whole.
TEST(ResultListColumns, AllFitTheWindowAtItsDefaultWidth) {
  test::UiApp();
  ui::Skin::Instance().UseBuiltIn();
  test::ResultsHostWnd host;
  ASSERT_TRUE(host.Open(1020, 660)) << host.LoadError().toStdString();
  auto* list = host.Find<ui::ListBox>("FileList");
  ASSERT_NE(list, nullptr);
  std::vector<FoundItemRecord> many;
  for (uint32_t i = 0; i < 200; ++i) {
    FoundItemRecord r = Rec("Holiday photo taken on the beach.jpeg", i + 1, 1023ULL << 20);
    r.modified = r.created = 134429102550000000ULL;  // 2026-12-28 05:44:15
    many.push_back(r);
  }
  host.view->ShowResults(many, AllSelected());
  host.show();
  Pump();
  ui::FileTree* tree = host.Find<ui::FileTree>("TypeTree");
  tree->setCurrentItem(tree->Node("NodePhoto")->child(0));
  Pump();
  ASSERT_EQ(list->RowCount(), 200);
  ASSERT_TRUE(list->verticalScrollBar()->isVisible());
  QHeaderView* header = list->header();
  EXPECT_LE(header->length(), list->viewport()->width()) << "the columns run past the visible list";
  const QFontMetrics fm = list->fontMetrics();
  const int pad = 8;  // the cell's margins
  for (const char* name : {"ModifiedTime", "CreatedTime", "Path"}) {
    const int c = list->ColumnIndex(QString::fromLatin1(name));
    ASSERT_GE(c, 0) << name;
    const QString text = list->Model()->data(list->Model()->index(0, c), Qt::DisplayRole).toString();
    EXPECT_GE(header->sectionSize(c), fm.horizontalAdvance(text) + pad - 2) << name;
  }
  const int size = list->ColumnIndex(QStringLiteral("Size"));
  EXPECT_GE(header->sectionSize(size), fm.horizontalAdvance(QStringLiteral("1023.00 MB")) + pad);
  const QFontMetrics hm = header->fontMetrics();
  for (int c = 1; c < header->count(); ++c) {
    // A caption also leaves room for the section's divider.
    const QString caption = list->Model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_GE(header->sectionSize(c), hm.horizontalAdvance(caption) + 2 * pad) << caption.toStdString();
  }
}

}  // namespace
}  // namespace dunmere
