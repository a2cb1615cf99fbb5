// The window base: layouts built with the program's own control types,
// notifications by name and their suppression, posted messages, modal runs
// closed from other threads, timers, caption dragging and menus.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QTimer>
#include <atomic>
#include <thread>

#include "tests/ui/ui_test_app.h"
#include "ui/button_ex.h"
#include "ui/disk_list.h"
#include "ui/file_tree.h"
#include "ui/list_ui.h"
#include "ui/markup.h"
#include "ui/pagination.h"
#include "ui/skin.h"
#include "ui/skin_loader.h"
#include "ui/window_base.h"

namespace dunmere::ui {
namespace {

class RecordingWnd : public WindowImplBase {
 public:
  explicit RecordingWnd(QString layout) : layout_(std::move(layout)) {}
  QString SkinFile() const override { return layout_; }
  void Notify(const Notification& n) override {
    seen.push_back(n);
    WindowImplBase::Notify(n);
  }
  bool HandleMessage(int message, quintptr w, quintptr l) override {
    messages.push_back({message, int(w), int(l)});
    return true;
  }
  std::vector<QString> Types() const {
    std::vector<QString> t;
    for (const auto& n : seen) t.push_back(n.type);
    return t;
  }
  const Notification* Last(const QString& type) const {
    for (auto it = seen.rbegin(); it != seen.rend(); ++it)
      if (it->type == type) return &*it;
    return nullptr;
  }
  std::vector<Notification> seen;
  std::vector<std::array<int, 3>> messages;

 private:
  QString layout_;
};

void Pump(int ms = 0) {
  QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
  if (ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UiApp();
    Skin::Instance().UseBuiltIn();
  }
};

TEST_F(WindowTest, EveryLayoutBuildsWithTheProgramsOwnControlTypes) {
  for (const QString& name : Skin::Instance().Names()) {
    if (!name.startsWith("xml/") || name == "xml/menu_assist.xml") continue;
    RecordingWnd w(name);
    EXPECT_TRUE(w.Create(nullptr)) << name.toStdString() << ": " << w.LoadError().toStdString();
    EXPECT_TRUE(w.LoadWarnings().isEmpty()) << name.toStdString() << ": " << w.LoadWarnings().join("; ").toStdString();
  }
  RecordingWnd main("xml\\skin.xml");
  ASSERT_TRUE(main.Create(nullptr, 1020, 670));
  EXPECT_EQ(main.size(), QSize(1020, 670));
  EXPECT_EQ(main.minimumSize(), QSize(1000, 650));
  // The pages come from their own layouts, included into the tab pages.
  ASSERT_NE(main.Find<QStackedWidget>("TabPage"), nullptr);
  EXPECT_EQ(main.Find<QStackedWidget>("TabPage")->count(), 4);
  EXPECT_NE(main.Find<DiskList>("DiskList"), nullptr);
  EXPECT_NE(main.Find<FileTree>("TypeTree"), nullptr);
  EXPECT_NE(main.Find<ListBox>("FileList"), nullptr);
  EXPECT_NE(main.Find<ButtonEx>("BtnDeepRecovery"), nullptr);
  EXPECT_NE(main.Find<Pagination>("FilePages"), nullptr);
  EXPECT_NE(main.Find<QTextBrowser>("PreviewEdit"), nullptr);
  EXPECT_NE(main.FindControl("DiskListHeader"), nullptr);
  for (const char* name : {"LblProductName", "BtnAssist", "minbtn", "maxbtn", "restorebtn", "closebtn", "ToolBar1",
                           "SubBar1", "SubBar2", "ToolBar2", "ToolBar2Logo", "Txt1", "Txt2", "SelectedFileInfo",
                           "ToolBar3", "BtnPrev", "BtnNext", "BtnLoadImage", "ToolBtn", "BtnRecover",
                           "BtnAdvanceScan", "BtnScan", "BtnCreateImage", "BtnDeletedRecovery",
                           "BtnFormattedRecovery", "BtnCreateImageMode", "TxtMainInfo", "PartitionListBar",
                           "Label1", "Label10", "FileTypePhoto", "FileTypeOther", "OptPhotoFile", "OptOtherFile",
                           "FileTypePhotoGrid", "FileTypeOtherGrid", "BtnPhoto", "BtnOther", "TabScan", "TabFileType", "TabRecover",
                           "NodePhoto", "NodeOther", "ChkSelAll", "FileName", "Size", "ModifiedTime",
                           "CreatedTime", "Path", "Type"})
    EXPECT_TRUE(main.HasControl(name)) << name;
  EXPECT_FALSE(main.IsControlVisible("restorebtn"));
  EXPECT_FALSE(main.FindControl("TabFileType")->isEnabled());
}

TEST_F(WindowTest, LoaderReportsAClassItSilentlyReplacedByItsBase) {
  const QByteArray layout = R"(<?xml version="1.0"?><ui version="4.0"><class>T</class>
    <widget class="QWidget" name="T"><layout class="QVBoxLayout" name="l">
      <item><widget class="ButtonEx" name="good"/></item>
      <item><widget class="FancyButton" name="bad"/></item></layout></widget>
    <customwidgets>
      <customwidget><class>ButtonEx</class><extends>QPushButton</extends><header>x.h</header></customwidget>
      <customwidget><class>FancyButton</class><extends>QPushButton</extends><header>y.h</header></customwidget>
    </customwidgets></ui>)";
  SkinLoader loader;
  QWidget parent;
  QString error;
  QWidget* root = loader.Build(layout, &parent, &error);
  ASSERT_NE(root, nullptr) << error.toStdString();
  EXPECT_NE(qobject_cast<ButtonEx*>(root->findChild<QWidget*>("good")), nullptr);
  ASSERT_EQ(loader.Mismatches().size(), 1);
  EXPECT_TRUE(loader.Mismatches()[0].startsWith("bad: layout says FancyButton, built QPushButton"));
  EXPECT_TRUE(loader.pluginPaths().isEmpty());
  EXPECT_EQ(loader.Build("<not a layout", &parent, &error), nullptr);
}

TEST_F(WindowTest, MissingLayoutLeavesAnEmptyWindow) {
  RecordingWnd w("xml/NoSuchWnd.xml");
  EXPECT_FALSE(w.Create(nullptr, 300, 160));
  EXPECT_FALSE(w.LoadError().isEmpty());
  EXPECT_EQ(w.size(), QSize(300, 160));
  EXPECT_FALSE(w.SetText("title", "x"));
}

TEST_F(WindowTest, NotificationsArriveByNameAndAreQuietWhileTheProgramChangesControls) {
  RecordingWnd w("xml/skin.xml");
  ASSERT_TRUE(w.Create(nullptr));
  w.show();
  Pump();
  ASSERT_EQ(w.seen.size(), 1u);
  EXPECT_EQ(w.seen[0].type, "windowinit");

  w.seen.clear();
  w.Find<QAbstractButton>("BtnScan")->click();
  ASSERT_NE(w.Last("click"), nullptr);
  EXPECT_EQ(w.Last("click")->senderName, "BtnScan");

  // A user's change of an option is announced, the program's own is not.
  w.seen.clear();
  w.Find<QAbstractButton>("OptPhotoFile")->click();
  ASSERT_NE(w.Last("selectchanged"), nullptr);
  EXPECT_EQ(w.Last("selectchanged")->senderName, "OptPhotoFile");
  EXPECT_EQ(w.Last("selectchanged")->wParam, 0);
  w.seen.clear();
  EXPECT_TRUE(w.SetChecked("OptPhotoFile", true));
  EXPECT_TRUE(w.IsChecked("OptPhotoFile"));
  {
    WindowImplBase::Quiet quiet(&w);
    w.Find<QAbstractButton>("BtnScan")->click();
    w.Find<QAbstractButton>("OptAudioFile")->click();
  }
  EXPECT_TRUE(w.seen.empty());

  // Hovering a button.
  QEvent enter(QEvent::Enter);
  QCoreApplication::sendEvent(w.FindControl("BtnDeepRecovery"), &enter);
  ASSERT_NE(w.Last("onhot"), nullptr);
  EXPECT_EQ(w.Last("onhot")->senderName, "BtnDeepRecovery");

  // Tree: selecting a node, the user's check click, the program's check.
  auto* tree = w.Find<FileTree>("TypeTree");
  QTreeWidgetItem* photo = tree->Node("NodePhoto");
  ASSERT_NE(photo, nullptr);
  EXPECT_TRUE(photo->data(0, Qt::CheckStateRole).isValid()) << "layout nodes show their check boxes";
  QTreeWidgetItem* plain = tree->AddNode(nullptr, "Plain", "no box", false);
  w.seen.clear();
  plain->setText(0, "renamed");
  EXPECT_TRUE(w.seen.empty());
  QTreeWidgetItem* jpg = tree->AddNode(photo, "", "JPG (3)");
  tree->SetNodePicture(jpg, "file='FileIcon/jpg.png'");
  EXPECT_FALSE(jpg->icon(0).isNull());
  w.seen.clear();
  tree->SelectNode(jpg);
  ASSERT_NE(w.Last("itemselect"), nullptr);
  EXPECT_EQ(w.Last("itemselect")->lParam, qint64(reinterpret_cast<quintptr>(jpg)));
  tree->SelectNode(photo, false);
  w.seen.clear();
  tree->SetCheck(photo, Qt::PartiallyChecked);
  EXPECT_TRUE(w.seen.empty());
  EXPECT_EQ(FileTree::Check(photo), Qt::PartiallyChecked);
  photo->setCheckState(0, Qt::Checked);  // what a click on the box does
  ASSERT_NE(w.Last("checkboxselectchanged"), nullptr);
  EXPECT_EQ(w.Last("checkboxselectchanged")->senderName, "NodePhoto");
  EXPECT_EQ(w.Last("checkboxselectchanged")->wParam, Qt::Checked);
  w.seen.clear();
  photo->setText(0, "Photo (3)");  // a caption change is no check change
  EXPECT_TRUE(w.seen.empty());
  EXPECT_TRUE(w.SetText("NodeAudio", "Audio!"));
  EXPECT_EQ(tree->Node("NodeAudio")->text(0), "Audio!");
}

TEST_F(WindowTest, FileListChecksSortsAndKeepsUpWithManyRows) {
  RecordingWnd w("xml/skin.xml");
  ASSERT_TRUE(w.Create(nullptr, 1020, 670));
  w.SelectPage("TabPage", 3);
  w.show();
  Pump();
  auto* list = w.Find<ListBox>("FileList");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->ColumnIndex("ChkSelAll"), 0);
  EXPECT_EQ(list->ColumnIndex("Type"), 6);
  // Header captions are set by name like controls.
  EXPECT_TRUE(w.SetText("FileName", "File Name"));
  EXPECT_EQ(w.Text("FileName"), "File Name");

  std::vector<ListRow> rows;
  constexpr int kRows = 200000;
  rows.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    ListRow r;
    r.cells = {QString(), QStringLiteral("f%1.jpg").arg(i), QString::number((i * 7919) % kRows), "", "", "", "jpg"};
    r.check = Qt::Unchecked;
    r.icon = "file='FileIcon/jpg.png'";
    r.tag = quint64((i * 7919) % kRows);  // the size, as the owner's sort key
    rows.push_back(std::move(r));
  }
  list->AddRows(std::move(rows));
  ASSERT_EQ(list->RowCount(), kRows);
  EXPECT_EQ(list->sizeHintForRow(0), 20);
  Pump();

  // A click on a row's check box.
  w.seen.clear();
  const QRect cell = list->visualRect(list->Model()->index(0, 0));
  test::ClickAt(list->viewport(), cell.center());
  ASSERT_NE(w.Last("list_check_click"), nullptr);
  EXPECT_EQ(w.Last("list_check_click")->wParam, 0);
  EXPECT_EQ(w.Last("list_check_click")->lParam, Qt::Checked);
  EXPECT_EQ(list->Row(0).check, Qt::Checked);
  ASSERT_NE(w.Last("itemselect"), nullptr);
  w.seen.clear();
  list->SetRowCheck(1, Qt::Checked);
  EXPECT_TRUE(w.seen.empty());

  // Header: the check item toggles, the others report their names.
  auto* header = list->Header();
  const int sizeX = header->sectionViewportPosition(2) + header->sectionSize(2) / 2;
  test::ClickAt(header->viewport(), QPoint(sizeX, header->height() / 2));
  ASSERT_NE(w.Last("headerclick"), nullptr);
  EXPECT_EQ(w.Last("headerclick")->senderName, "Size");
  test::ClickAt(header->viewport(), QPoint(header->sectionSize(0) / 2, header->height() / 2));
  ASSERT_NE(w.Last("selectchanged"), nullptr);
  EXPECT_EQ(w.Last("selectchanged")->senderName, "ChkSelAll");
  EXPECT_EQ(list->HeaderCheck(), Qt::Checked);
  list->SetHeaderCheck(Qt::PartiallyChecked);
  EXPECT_EQ(list->HeaderCheck(), Qt::PartiallyChecked);

  // Sorting all rows by size, largest first.
  list->SetAllHeaderPictures("file='list_header_bg.png' corner='0,1,0,1'");
  list->SetHeaderPicture("Size", "file='list_header_desc.png' corner='0,1,13,1'");
  w.seen.clear();
  list->Sort([](const ListRow& a, const ListRow& b) { return a.tag > b.tag; });
  EXPECT_TRUE(w.seen.empty());
  EXPECT_EQ(list->Row(0).cells[2].toLongLong(), kRows - 1);
  EXPECT_EQ(list->Row(kRows - 1).cells[2].toLongLong(), 0);
  list->SelectRow(5);
  EXPECT_EQ(w.Last("itemselect")->wParam, 5);
  list->scrollToBottom();
  Pump();
  list->Clear();
  EXPECT_EQ(list->RowCount(), 0);
}

TEST_F(WindowTest, DiskListGroupsRowsUnderDiskHeaders) {
  RecordingWnd w("xml/skin.xml");
  ASSERT_TRUE(w.Create(nullptr));
  auto* disks = w.Find<DiskList>("DiskList");
  const int d0 = disks->AddHeaderRow("Hard Disk 1");
  const int d1 = disks->AddHeaderRow("Removable Disk 2");
  ListRow part;
  part.cells = {"C:\\ System", "NTFS", "100.00 GB"};
  part.usage = 42;
  disks->AddSourceRow(d0, part);
  part.cells[0] = "E:\\ Stick";
  const int stick = disks->AddSourceRow(d1 + 1, part);
  ASSERT_EQ(disks->RowCount(), 4);
  EXPECT_EQ(disks->HeaderOf(stick), 2);
  EXPECT_EQ(disks->GroupRows(0), QList<int>{1});
  disks->SetCollapsed(0, true);
  EXPECT_TRUE(disks->isRowHidden(1, {}));
  disks->SetCollapsed(0, false);
  EXPECT_FALSE(disks->isRowHidden(1, {}));
  disks->SetRowVisible(2, false);
  EXPECT_TRUE(disks->isRowHidden(3, {}));
  disks->SetRowVisible(2, true);
  disks->RemoveGroup(0);
  EXPECT_EQ(disks->RowCount(), 2);
  EXPECT_EQ(disks->Row(1).cells[0], "E:\\ Stick");
  w.seen.clear();
  emit disks->activated(disks->Model()->index(0, 0));
  EXPECT_TRUE(disks->Row(0).collapsed);
  ASSERT_NE(w.Last("itemactivate"), nullptr);
  EXPECT_EQ(w.Last("itemactivate")->senderName, "DiskList");
}

TEST_F(WindowTest, PostedMessagesFromWorkersBecomeWindowMessages) {
  RecordingWnd w("xml/ScanProcessWnd.xml");
  ASSERT_TRUE(w.Create(nullptr));
  std::thread worker([&] {
    PostMessageTo(&w, 1025);
    PostMessageTo(&w, 1026, 0, 0);
    PostMessageTo(&w, 1027, 0, 77);
    PostMessageTo(&w, 1030);
  });
  worker.join();
  EXPECT_FALSE(PostMessageTo(&w, 12));
  Pump();
  ASSERT_EQ(w.messages.size(), 4u);
  EXPECT_EQ(w.messages[0][0], 1025);
  EXPECT_EQ(w.messages[2][2], 77);
  EXPECT_EQ(w.messages[3][0], 1030);
}

TEST_F(WindowTest, ModalRunClosedFromAWorkerThreadDisablesTheOwnerMeanwhile) {
  QWidget owner;
  owner.resize(600, 400);
  owner.show();
  RecordingWnd w("xml/ScanProcessWnd.xml");
  ASSERT_TRUE(w.Create(&owner, 350, 250));
  w.CenterWindow();
  EXPECT_LE((w.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
  bool ownerDisabled = false;
  std::atomic<bool> started{false};
  std::thread worker;
  QTimer::singleShot(0, [&] {
    ownerDisabled = !owner.isEnabled();
    started = true;
    worker = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      w.CloseFromAnyThread(3);
      w.CloseFromAnyThread(1);  // a second close loses: the first one decided
    });
  });
  const int result = w.ShowModal();
  worker.join();
  EXPECT_TRUE(started);
  EXPECT_EQ(result, 3);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(owner.isEnabled());
  EXPECT_FALSE(w.isVisible());
  Pump();
  // A window closed inside its own "windowinit" never enters the loop.
  struct Quick : RecordingWnd {
    using RecordingWnd::RecordingWnd;
    void Notify(const Notification& n) override {
      if (n.type == "windowinit") Close(2);
    }
  } quick("xml/SearchProcessWnd.xml");
  quick.Create(&owner);
  EXPECT_EQ(quick.ShowModal(), 2);
  EXPECT_TRUE(owner.isEnabled());
  // Closed by the window system: handled as a click on its close button.
  RecordingWnd byWm("xml/ScanProcessWnd.xml");
  ASSERT_TRUE(byWm.Create(&owner));
  QTimer::singleShot(0, [&] { byWm.close(); });
  EXPECT_EQ(byWm.ShowModal(), 2);
  ASSERT_NE(byWm.Last("click"), nullptr);
  EXPECT_EQ(byWm.Last("click")->senderName, "closebtn");
  // A worker may ask the UI thread for an answer and wait for it.
  int answer = 0;
  std::thread asker([&] { answer = CallOnUiThread([] { return 42; }); });
  while (answer == 0) Pump(5);
  asker.join();
  EXPECT_EQ(answer, 42);
}

TEST_F(WindowTest, TimersBelongToControlsAndRestartWhenSetAgain) {
  RecordingWnd w("xml/skin.xml");
  ASSERT_TRUE(w.Create(nullptr));
  EXPECT_FALSE(w.SetTimer("NoSuchControl", 0, 10));
  ASSERT_TRUE(w.SetTimer("PartitionListBar", 1, 20));
  ASSERT_TRUE(w.SetTimer("PartitionListBar", 1, 20));  // one timer, restarted
  EXPECT_TRUE(w.HasTimer("PartitionListBar", 1));
  // However long a busy machine takes to get there.
  while (!w.Last("timer")) Pump(5);
  const Notification* t = w.Last("timer");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->senderName, "PartitionListBar");
  EXPECT_EQ(t->wParam, 1);
  w.KillTimer("PartitionListBar", 1);
  EXPECT_FALSE(w.HasTimer("PartitionListBar", 1));
  w.seen.clear();
  Pump(50);
  EXPECT_EQ(w.Last("timer"), nullptr);
}

TEST_F(WindowTest, CaptionBandDragsTheWindowButNotFromItsButtons) {
  RecordingWnd w("xml/MessageBox_Question.xml");
  ASSERT_TRUE(w.Create(nullptr, 350, 160));
  w.move(100, 100);
  w.show();
  Pump();
  EXPECT_TRUE(w.IsCaptionPoint(QPoint(50, 10)));
  EXPECT_FALSE(w.IsCaptionPoint(QPoint(50, 36)));
  QWidget* band = w.FindControl("captionBar");
  auto drag = [&](QWidget* target, QPoint at, QPoint by) {
    const QPoint g = target->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, g, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, at + by, g + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at + by, g + by, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QCoreApplication::sendEvent(target, &move);
    QCoreApplication::sendEvent(target, &release);
    Pump(10);  // the platform reports the new position afterwards
  };
  const QPoint before = w.pos();
  drag(band, QPoint(60, 12), QPoint(30, 20));
  EXPECT_EQ(w.pos(), before + QPoint(30, 20));
  QWidget* close = w.FindControl("closebtn");
  const QPoint at = w.pos();
  drag(close, QPoint(5, 5), QPoint(40, 40));
  EXPECT_EQ(w.pos(), at);
  QWidget* message = w.FindControl("message");
  drag(message, QPoint(5, 5), QPoint(40, 40));
  EXPECT_EQ(w.pos(), at) << "below the band is client area";
}

TEST_F(WindowTest, TextsVisibilityColoursPicturesAndPages) {
  RecordingWnd w("xml/skin.xml");
  ASSERT_TRUE(w.Create(nullptr));
  EXPECT_TRUE(w.SetText("Txt2", "{f 7}{c #316D1E}12{/c}{/f} files <found>"));
  auto* txt2 = w.Find<QLabel>("Txt2");
  EXPECT_EQ(txt2->textFormat(), Qt::RichText);
  EXPECT_TRUE(txt2->text().contains("color:#316D1E"));
  EXPECT_TRUE(txt2->text().contains("&lt;found&gt;"));
  EXPECT_EQ(w.Text("Txt2"), "{f 7}{c #316D1E}12{/c}{/f} files <found>");
  EXPECT_TRUE(w.SetText("Txt1", "a <b> name"));
  EXPECT_EQ(w.Find<QLabel>("Txt1")->textFormat(), Qt::PlainText);
  EXPECT_TRUE(w.SetTextColor("Txt1", 0xFF0089BE));
  EXPECT_EQ(w.FindControl("Txt1")->palette().color(QPalette::WindowText), QColor(0x00, 0x89, 0xBE));
  // The colour shows when drawn, style sheets of the layout notwithstanding.
  w.SetText("Txt1", "WWWWWWWW");
  w.SetTextColor("Txt1", 0xFFFF0000);
  auto* txt1 = w.Find<QLabel>("Txt1");
  txt1->resize(200, 30);
  const QImage shot = txt1->grab().toImage();
  int red = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) {
      const QColor c = shot.pixelColor(x, y);
      red += c.red() > 200 && c.green() < 80 && c.blue() < 80;
    }
  EXPECT_GT(red, 20);
  EXPECT_TRUE(w.SetVisible("ToolBar2", false));
  EXPECT_FALSE(w.IsControlVisible("ToolBar2"));
  EXPECT_TRUE(w.SetEnabled("BtnRecover", false));
  EXPECT_FALSE(w.FindControl("BtnRecover")->isEnabled());
  EXPECT_TRUE(w.SetPicture("ToolBar2Logo", "file='main/step_recover.png'"));
  EXPECT_TRUE(w.SetToolTip("Label1", "/images/disk.img"));
  EXPECT_TRUE(w.SelectPage("TabPage", 2));
  EXPECT_EQ(w.CurrentPage("TabPage"), 2);
  EXPECT_FALSE(w.SelectPage("TabPage", 4));
  RecordingWnd scan("xml/ScanProcessWnd.xml");
  ASSERT_TRUE(scan.Create(nullptr));
  EXPECT_TRUE(scan.SetValue("progress", 37));
  EXPECT_EQ(scan.Find<QProgressBar>("progress")->value(), 37);
  EXPECT_FALSE(scan.IsControlVisible("sectors"));
  // Rendering the window exercises every picture of it.
  w.show();
  EXPECT_FALSE(w.grab().isNull());
}

TEST_F(WindowTest, RichTextPanelShowsAPictureFileOrReportsItCannot) {
  test::TempDir dir;
  const QImage img = Skin::Instance().Image("FileIcon/jpg.png");
  ASSERT_TRUE(img.save(QString::fromStdString(dir / "p.png")));
  QTextBrowser edit;
  edit.resize(300, 200);
  EXPECT_EQ(WindowImplBase::ShowPictureIn(&edit, QString::fromStdString(dir / "p.png")), QSize(32, 32));
  test::WriteBytes(dir / "bad.jpg", {0xFF, 0xD8, 0xFF, 0x00, 0x01});
  EXPECT_TRUE(WindowImplBase::ShowPictureIn(&edit, QString::fromStdString(dir / "bad.jpg")).isEmpty());
  EXPECT_TRUE(edit.toPlainText().isEmpty());
}

TEST_F(WindowTest, PopupMenuFromALayoutReturnsTheChosenEntry) {
  RecordingWnd w("xml/skin.xml");
  ASSERT_TRUE(w.Create(nullptr));
  w.show();
  QStringList entries;
  QTimer::singleShot(20, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions()) entries << a->objectName();
    for (QAction* a : menu->actions())
      if (a->objectName() == "item_exit") a->trigger();
    menu->close();
  });
  const QString chosen = w.PopupMenu("xml/menu_assist.xml", QPoint(10, 10), [](QMenu* menu) {
    QMenu* lang = menu->findChild<QMenu*>("item_language");
    ASSERT_NE(lang, nullptr);
    QAction* en = lang->addAction("English");
    en->setObjectName("English");
    en->setIcon(QIcon(Skin::Instance().Picture("file='point.png' source='0,0,16,16' dest='0,4,16,20'")));
  });
  EXPECT_EQ(chosen, "item_exit");
  EXPECT_TRUE(entries.contains("item_help"));
  EXPECT_TRUE(entries.contains("item_support"));
  EXPECT_TRUE(entries.contains("item_about"));
  EXPECT_TRUE(w.PopupMenu("xml/NoMenu.xml", QPoint()).isEmpty());
}

TEST(Markup, TurnsInlineMarkupIntoEscapedRichText) {
  EXPECT_FALSE(HasMarkup("plain {text}"));
  EXPECT_TRUE(HasMarkup("{b}x{/b}"));
  EXPECT_EQ(MarkupToHtml("{b}a{/b}{n}<x>"), "<b>a</b><br/>&lt;x&gt;");
  EXPECT_EQ(MarkupToHtml("{c #FF316D1E}7{/c}"), "<span style=\"color:#316D1E\">7</span>");
  EXPECT_EQ(MarkupToHtml("{{literal}"), "{literal}");
  EXPECT_EQ(MarkupToHtml("{unknown} {"), "{unknown} {");
}

}  // namespace
}  // namespace dunmere::ui
