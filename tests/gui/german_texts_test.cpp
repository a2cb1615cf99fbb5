// Every text the windows show comes from the language: the main window's
// pages, the progress windows' stage texts, message boxes, the assist menu
// and the results, walked in German, hold no text equal to its English one
// (names, numbers, units and extensions aside); switching the language while
// the program runs changes them at once and keeps the counts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QPushButton>
#include <QLabel>
#include <QTextEdit>
#include <cstdlib>
#include <fstream>
#include <QMenu>
#include <QRegularExpression>
#include <QTreeWidgetItem>

#include "app/core/language/language_table.h"
#include "app/core/preview/missing_tool_notice.h"
#include "app/core/results/file_categories.h"
#include "app/gui/apply_section.h"
#include "app/gui/assist_menu.h"
#include "app/gui/create_image.h"
#include "app/gui/disk_rows.h"
#include "app/gui/file_type_page.h"
#include "app/gui/preview_controller.h"
#include "app/gui/preview_wnd.h"
#include "app/gui/recover_process_wnd.h"
#include "app/gui/result_view.h"
#include "app/gui/scan_process_wnd.h"
#include "app/gui/search_process_wnd.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/found_records.h"
#include "ui/disk_list.h"
#include "ui/file_tree.h"

namespace dunmere::test {
namespace {

// A text that may read the same in both languages: names of products and
// makers, numbers, units, extensions and marks only.
bool SameInEveryLanguage(const QString& text) {
  static const QStringList names = {"Korvanex", "Dunmere", "Pro", "Nikon", "Canon", "Sony", "Kodak", "Fuji", "Mamiya",
                                    "Sigma", "Olympus", "Pentax", "Minolta", "Adobe", "Photoshop", "Indesign",
                                    "Bitmap", "Real", "Media", "Audio", "Video", "OK", "Details", "Status",
                                    "Name", "Bytes", "KB", "MB", "GB", "TB", "STICK", "Hardware"};
  QString t = text;
  t.remove(QRegularExpression(QStringLiteral("\\([^)]*\\)")));  // "(.jpg .jpeg)", "(12)"
  t.remove(QRegularExpression(QStringLiteral("\\{[^}]*\\}")));  // markup
  for (const QString& word : t.split(QRegularExpression(QStringLiteral("[^A-Za-zÄÖÜäöüß]+")), Qt::SkipEmptyParts)) {
    if (names.contains(word)) continue;
    if (word == word.toUpper() && word.size() <= 5) continue;  // JPG, EPSON, sdb
    if (word.startsWith(QStringLiteral("sd")) || word.startsWith(QStringLiteral("loop"))) continue;  // devices
    return false;
  }
  return true;
}

// The texts of the named labels and buttons that are shown, by name.
std::map<QString, QString> ShownTexts(const gui::MainWnd& w) {
  std::map<QString, QString> out;
  for (QWidget* c : w.findChildren<QWidget*>()) {
    if (c->objectName().isEmpty() || !c->isVisibleTo(&w)) continue;
    QString text;
    if (auto* l = qobject_cast<QLabel*>(c)) text = l->text();
    else if (auto* b = qobject_cast<QAbstractButton*>(c)) text = b->text();
    if (!text.trimmed().isEmpty()) out[c->objectName()] = text;
  }
  return out;
}

// What a file dialog showed: its title and the names of its filters. The
// dialog is rejected at once, as the person's Cancel would.
struct DialogSeen {
  bool shown = false;
  QString title;
  QStringList filters;
  QStringList buttons;  // the captions of its push buttons
};

DialogSeen RunDialog(const std::function<void()>& open) {
  DialogSeen seen;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    poll.stop();
    seen.shown = true;
    seen.title = dialog->windowTitle();
    seen.filters = dialog->nameFilters();
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
      if (b->isVisible()) seen.buttons << b->text().remove(u'&');
    dialog->reject();
  });
  poll.start(20);
  open();
  return seen;
}

// The tool tips of the named controls of a window that are shown.
void TakeToolTips(const QWidget& w, const QString& where, std::map<QString, QString>& out) {
  for (QWidget* c : w.findChildren<QWidget*>())
    if (!c->objectName().isEmpty() && c->isVisibleTo(&w) && !c->toolTip().isEmpty())
      out[where + QStringLiteral("/tip/") + c->objectName()] = c->toolTip();
}

class GermanTextsTest : public MainWndFixture {
 protected:
  // The results page with these files, as after a search.
  void ShowFound(gui::MainWnd& w, const std::vector<FoundItemRecord>& found) {
    w.Results().ShowResults(found, w.FileTypes().SelectedUserData());
    w.Notify({QStringLiteral("selectchanged"), QStringLiteral("TabRecover"), nullptr, 1});
    Pump(50);
  }
  void UseLanguage(const char* name) { ASSERT_TRUE(app::LanguageTable::Instance().SetLanguage(name)); }
  void TearDown() override {
    app::LanguageTable::Instance().SetLanguage("English");
    MainWndFixture::TearDown();
  }

  // Every page of the main window, the results of a few files included,
  // as (page name, control) -> text.
  std::map<QString, QString> WalkMainWindow() {
    std::map<QString, QString> all;
    auto take = [&](const QString& page) {
      Pump(30);
      for (const auto& [name, text] : ShownTexts(*wnd_)) all[page + u'/' + name] = text;
    };
    gui::MainWnd& w = Open();
    w.Notify({QStringLiteral("onhot"), QStringLiteral("BtnDeepRecovery")});
    take(QStringLiteral("mode"));
    Click("BtnDeletedRecovery");
    take(QStringLiteral("location"));
    Click("BtnAdvanceScan");
    take(QStringLiteral("types"));
    std::vector<FoundItemRecord> found = {MakeRecord("a.jpg", 1, 100), MakeRecord("b.jpg", 2, 200),
                                          MakeRecord("Bilder", 3), MakeRecord("noext", 4, 10)};
    found[2].isFolder = 1;
    ShowFound(w, found);
    take(QStringLiteral("results"));
    // The tree's nodes and the list's Type column.
    auto* tree = w.Find<ui::FileTree>(QStringLiteral("TypeTree"));
    for (const char* node : {"NodePhoto", "NodeOther"})
      if (QTreeWidgetItem* n = tree ? tree->Node(QString::fromLatin1(node)) : nullptr)
        all[QStringLiteral("tree/") + QLatin1String(node)] = n->text(0);
    auto* list = w.Find<ui::ListBox>(QStringLiteral("FileList"));
    const int type = list ? list->ColumnIndex(QStringLiteral("Type")) : -1;
    for (int r = 0; list && r < list->RowCount(); ++r) {
      const QString t = list->Model()->data(list->Model()->index(r, type), Qt::DisplayRole).toString();
      if (t == u"jpg") continue;
      all[QStringLiteral("list/type%1").arg(r)] = t;
    }
    // The rows' type nodes hold the file-type captions.
    Click("BtnPrev");
    Click("BtnPrev");
    ui::DiskList& l = List();
    for (int r = 0; r < l.RowCount(); ++r)
      if (w.Disks().IsHeader(r)) all[QStringLiteral("disk/%1").arg(r)] = l.Row(r).cells.value(0);
    // One file-type option of each kind.
    for (QAbstractButton* b : w.findChildren<QAbstractButton*>())
      if (!b->property("caption").toString().isEmpty()) all[QStringLiteral("option/") + b->objectName()] = b->text();
    return all;
  }

  // Texts of the other windows and boxes, by where they show.
  std::map<QString, QString> OtherTexts() {
    std::map<QString, QString> out;
    ScanSourceItem part;
    part.volume = VolumeInfo{};
    part.volume->volumePath = "/dev/sdb1";
    out[QStringLiteral("scan/stage")] = gui::ScanProcessWnd::StageText(part);
    out[QStringLiteral("search/stage")] = gui::SearchProcessWnd::StageText(part);
    out[QStringLiteral("recover/ok")] = gui::RecoverProcessWnd::StatusText(kOk);
    out[QStringLiteral("recover/stopped")] = gui::RecoverProcessWnd::StatusText(kStopRequested);
    out[QStringLiteral("recover/partial")] = gui::RecoverProcessWnd::OutcomeText({"cut.mov", kOk, true});
    ResetMissingToolNotices();
    out[QStringLiteral("preview/player")] =
        QString::fromStdString(TakeMissingToolNotice("mpv", "mpv", MissingToolFallback::kNothing));
    out[QStringLiteral("help/guide")] = gui::MessageText("MSG0906");
    QMenu menu;
    menu.addAction(QStringLiteral("Help"))->setObjectName(QStringLiteral("item_help"));
    menu.addAction(QStringLiteral("Exit"))->setObjectName(QStringLiteral("item_exit"));
    QMenu* sub = menu.addMenu(QStringLiteral("Language"));
    sub->setObjectName(QStringLiteral("item_language"));
    gui::PrepareAssistMenu(&menu);
    for (QAction* a : menu.actions())
      if (!a->objectName().isEmpty()) out[QStringLiteral("menu/") + a->objectName()] = a->text();
    out[QStringLiteral("menu/language")] = sub->title();
    // A message box: "Scan" before a location was chosen.
    BoxSeen seen;
    AnswerNextBox(wnd_.get(), &seen);
    Click("BtnScan");
    Pump(50);
    out[QStringLiteral("box/nolocation")] = seen.message;
    // The file dialogs: loading an image, saving a disk image, the folder
    // files are copied to.
    auto takeDialog = [&out](const QString& where, const DialogSeen& d) {
      out[where + QStringLiteral("/shown")] = d.shown ? QStringLiteral("1") : QString();
      out[where + QStringLiteral("/title")] = d.title;
      for (qsizetype i = 0; i < d.filters.size(); ++i) out[where + QStringLiteral("/filter%1").arg(i)] = d.filters[i];
    };
    takeDialog(QStringLiteral("dialog/loadimage"), RunDialog([this] { Click("BtnLoadImage"); }));
    Click("BtnPrev");
    Click("BtnCreateImageMode");
    wnd_->DiskList()->SelectRow(RowNamed(QStringLiteral("sda1 MYFAT")));
    takeDialog(QStringLiteral("dialog/saveimage"), RunDialog([this] { Click("BtnCreateImage"); }));
    takeDialog(QStringLiteral("dialog/recoverto"),
               RunDialog([this] { (void)gui::ChooseRecoveryFolder(wnd_.get()); }));
    // The main window's and a message box's tool tips.
    TakeToolTips(*wnd_, QStringLiteral("main"), out);
    gui::MessageBoxWnd box(gui::MessageBoxWnd::kWarning);
    box.Prepare(wnd_.get(), QStringLiteral("x"), 300, 150);
    box.show();
    Pump(20);
    TakeToolTips(box, QStringLiteral("box"), out);
    box.hide();
    // The preview window of a picture that cannot be decoded.
    auto content = std::make_unique<PreviewContent>();
    content->kind = PreviewKind::kPicture;
    content->path = previewDir_ / "broken.jpg";
    { std::ofstream(content->path) << "not a picture"; }
    gui::PreviewWnd preview(wnd_->Preview(), std::move(content));
    if (preview.CreatePopup(wnd_.get(), 600, 500)) {
      preview.show();
      Pump(50);
      if (auto* panel = preview.Find<QTextEdit>(QStringLiteral("PreviewEdit")))
        out[QStringLiteral("preview/failed")] = panel->toPlainText().trimmed();
      TakeToolTips(preview, QStringLiteral("preview"), out);
      preview.Close(gui::PopUpWnd::kCancelled);
    }
    return out;
  }
  TempDir previewDir_;
};

TEST_F(GermanTextsTest, EveryWindowInGermanShowsNoEnglishText) {
  UseLanguage("English");
  std::map<QString, QString> english = WalkMainWindow();
  for (const auto& [k, v] : OtherTexts()) english[k] = v;
  wnd_.reset();
  UseLanguage("German");
  std::map<QString, QString> german = WalkMainWindow();
  for (const auto& [k, v] : OtherTexts()) german[k] = v;
  int compared = 0;
  for (const auto& [where, text] : english) {
    auto it = german.find(where);
    if (it == german.end()) continue;
    ++compared;
    if (it->second == text && !SameInEveryLanguage(text)) ADD_FAILURE() << where.toStdString() << ": " << text.toStdString();
  }
  EXPECT_GT(compared, 150);
  EXPECT_TRUE(german.count(QStringLiteral("tree/NodePhoto")));
  // Every file dialog was seen, and each says what it is for.
  for (const char* dialog : {"loadimage", "saveimage", "recoverto"})
    for (const auto* texts : {&english, &german}) {
      const QString where = QStringLiteral("dialog/") + QLatin1String(dialog);
      EXPECT_EQ(texts->count(where + QStringLiteral("/shown")) ? texts->at(where + QStringLiteral("/shown")) : QString(),
                QStringLiteral("1"))
          << dialog;
      EXPECT_FALSE(texts->count(where + QStringLiteral("/title")) == 0 ||
                   texts->at(where + QStringLiteral("/title")).isEmpty())
          << dialog << " has no title";
    }
  EXPECT_TRUE(german.count(QStringLiteral("dialog/loadimage/filter1"))) << "the Load Image dialog offers all files";
  EXPECT_TRUE(german.count(QStringLiteral("preview/failed")));
}

TEST_F(GermanTextsTest, SwitchingLanguageWhileRunningChangesTheTextsAndKeepsTheCounts) {
  UseLanguage("English");
  gui::MainWnd& w = Open();
  Click("BtnDeletedRecovery");
  std::vector<FoundItemRecord> found = {MakeRecord("a.jpg", 1, 100), MakeRecord("b.jpg", 2, 200)};
  ShowFound(w, found);
  auto* tree = w.Find<ui::FileTree>(QStringLiteral("TypeTree"));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->Node(QStringLiteral("NodePhoto"))->text(0), "Photo (2)");
  const QString header = List().Row(0).cells.value(0);

  UseLanguage("German");
  ui::PostMessageTo(&w, gui::kMsgLanguageChanged);
  Pump(50);
  EXPECT_EQ(tree->Node(QStringLiteral("NodePhoto"))->text(0), gui::MessageText("MSG0807") + " (2)") << "the count stays";
  EXPECT_NE(List().Row(0).cells.value(0), header) << "disk headers follow the language";
  EXPECT_TRUE(List().Row(0).cells.value(0).startsWith(gui::MessageText("MSG0201")) ||
              List().Row(0).cells.value(0).startsWith(gui::MessageText("MSG0202")));
  EXPECT_EQ(Text("SelectedFileInfo"), "Keine Datei angehakt");
  EXPECT_TRUE(Text("Txt2").contains(QStringLiteral("gefunden")));
  // Back on the mode page: the hint shown follows too.
  Click("BtnPrev");
  Click("BtnPrev");
  w.Notify({QStringLiteral("onhot"), QStringLiteral("BtnDeepRecovery")});
  UseLanguage("English");
  ui::PostMessageTo(&w, gui::kMsgLanguageChanged);
  Pump(50);
  EXPECT_EQ(Text("TxtMainInfo"), gui::MessageText("MSG0103"));
  UseLanguage("German");
  ui::PostMessageTo(&w, gui::kMsgLanguageChanged);
  Pump(50);
  EXPECT_EQ(Text("TxtMainInfo"), gui::MessageText("MSG0103"));
  EXPECT_NE(Text("TxtMainInfo"), "Search every sector of a partition or disk for lost files. Slower, finds the most.");
}

// Every node of the type tree (categories and the type groups under them)
// reads after a switch as a fresh search's tree in that language would, counts
// included; and back.
TEST_F(GermanTextsTest, SwitchingLanguageRecaptionsEveryTypeNodeWithItsCount) {
  UseLanguage("English");
  gui::MainWnd& w = Open();
  Click("BtnDeletedRecovery");
  const std::vector<FoundItemRecord> found = {MakeRecord("a.jpg", 1, 100), MakeRecord("b.png", 2, 200),
                                              MakeRecord("c.png", 3, 300), MakeRecord("d.xyz", 4, 10),
                                              MakeRecord("noext", 5, 10)};
  ShowFound(w, found);
  auto* tree = w.Find<ui::FileTree>(QStringLiteral("TypeTree"));
  ASSERT_NE(tree, nullptr);
  auto captions = [tree] {
    QStringList out;
    for (int c = 0; c < tree->topLevelItemCount(); ++c) {
      QTreeWidgetItem* cat = tree->topLevelItem(c);
      if (cat->isHidden()) continue;
      out << cat->text(0);
      for (int i = 0; i < cat->childCount(); ++i) out << QStringLiteral("  ") + cat->child(i)->text(0);
    }
    return out;
  };
  const QStringList english = captions();
  ASSERT_TRUE(english.contains(QStringLiteral("  PNG Graphics Files (2)"))) << english.join(u'|').toStdString();
  ASSERT_TRUE(english.contains(QStringLiteral("  XYZ Files (1)"))) << english.join(u'|').toStdString();

  for (const char* language : {"German", "English"}) {
    SCOPED_TRACE(language);
    UseLanguage(language);
    ui::PostMessageTo(&w, gui::kMsgLanguageChanged);
    Pump(50);
    const QStringList switched = captions();
    ShowFound(w, found);  // what a search in this language shows
    EXPECT_EQ(switched, captions());
  }
  UseLanguage("German");
  ui::PostMessageTo(&w, gui::kMsgLanguageChanged);
  Pump(50);
  const QStringList german = captions();
  EXPECT_TRUE(german.contains(QStringLiteral("  PNG-Grafikdateien (2)"))) << german.join(u'|').toStdString();
  EXPECT_TRUE(german.contains(QStringLiteral("  XYZ-Dateien (1)"))) << german.join(u'|').toStdString();
  EXPECT_TRUE(german.contains(gui::MessageText("MSG0807") + QStringLiteral(" (3)"))) << german.join(u'|').toStdString();
}

// Qt's own file dialog (where the desktop offers none of its own) labels its
// buttons in the language chosen too, and again after a switch back.
TEST_F(GermanTextsTest, QtFileDialogButtonsFollowTheLanguage) {
  if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_de.qm")))
    GTEST_SKIP() << "Qt's own German texts are not installed (Debian package qt6-translations-l10n)";
  UseLanguage("German");
  gui::MainWnd& w = Open();
  Click("BtnDeletedRecovery");
  DialogSeen seen = RunDialog([this] { Click("BtnLoadImage"); });
  ASSERT_TRUE(seen.shown);
  EXPECT_TRUE(seen.buttons.contains(QStringLiteral("Abbrechen"))) << seen.buttons.join(u'|').toStdString();
  EXPECT_FALSE(seen.buttons.contains(QStringLiteral("Cancel"))) << seen.buttons.join(u'|').toStdString();

  UseLanguage("English");
  ui::PostMessageTo(&w, gui::kMsgLanguageChanged);
  Pump(50);
  seen = RunDialog([this] { Click("BtnLoadImage"); });
  EXPECT_TRUE(seen.buttons.contains(QStringLiteral("Cancel"))) << seen.buttons.join(u'|').toStdString();
}

TEST_F(GermanTextsTest, TextsSayWhatTheyMean) {
  UseLanguage("English");
  gui::MainWnd& w = Open();
  // The chosen mode is in the titles of the location and file-type pages.
  Click("BtnDeletedRecovery");
  EXPECT_EQ(Text("Txt1"), "Deleted Recovery: Choose a location");
  w.DiskList()->SelectRow(1);  // the person chooses a location
  Click("BtnAdvanceScan");
  EXPECT_EQ(Text("Txt1"), "Deleted Recovery: Choose file types");
  // One checked file is "1 file"; none checked says "checked".
  std::vector<FoundItemRecord> found = {MakeRecord("a.jpg", 1, 100)};
  ShowFound(w, found);
  EXPECT_EQ(Text("SelectedFileInfo"), "No file checked");
  EXPECT_TRUE(Text("Txt2").contains(QStringLiteral("file was found"))) << Text("Txt2").toStdString();
  auto* tree = w.Find<ui::FileTree>(QStringLiteral("TypeTree"));
  ASSERT_NE(tree, nullptr);
  // An empty quick scan says what to try next.
  w.Results().ShowResults({}, w.FileTypes().SelectedUserData());
  ui::PostMessageTo(&w, gui::kMsgSearchFinished);
  Pump(50);
  EXPECT_TRUE(Text("Txt2").contains(QStringLiteral("Deep Recovery"))) << Text("Txt2").toStdString();
  EXPECT_FALSE(Text("Txt2").contains(QStringLiteral("Check the files")));
}

}  // namespace
}  // namespace dunmere::test

namespace dunmere::test {
namespace {

// Pictures of the German pages for a person to look at (run on request:
// --gtest_also_run_disabled_tests; DUNMERE_SHOTS names the folder).
TEST_F(GermanTextsTest, DISABLED_GermanPagesToPictures) {
  const char* folder = std::getenv("DUNMERE_SHOTS");
  if (!folder) GTEST_SKIP() << "DUNMERE_SHOTS names the folder for the pictures";
  UseLanguage("German");
  gui::MainWnd& w = Open();
  w.resize(1020, 670);
  Click("BtnDeletedRecovery");
  Pump(100);
  w.grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/location.png"));
  ShowFound(w, {MakeRecord("a.jpg", 1, 100), MakeRecord("noext", 2, 10)});
  Pump(100);
  w.grab().save(QString::fromLocal8Bit(folder) + QStringLiteral("/results.png"));
}

}  // namespace
}  // namespace dunmere::test
