// Every text the windows show comes from the language: the main window's
// pages, the progress windows' stage texts, message boxes, the assist menu
// and the results, walked in German, hold no text equal to its English one
// (names, numbers, units and extensions aside); switching the language while
// the program runs changes them at once and keeps the counts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <cstdlib>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QTreeWidgetItem>

#include "app/core/language/language_table.h"
#include "app/core/preview/missing_tool_notice.h"
#include "app/core/results/file_categories.h"
#include "app/gui/apply_section.h"
#include "app/gui/assist_menu.h"
#include "app/gui/disk_rows.h"
#include "app/gui/file_type_page.h"
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
    return out;
  }
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
