// The results page's folder view: a quick scan of a FAT image with nested
// folders through the main window, the folders with their counts, a folder's
// check taking exactly the files below it, the partial state when one file
// of a folder is checked, and copy-out keeping the folders. Then a made-up
// result of 100,000 files, to see how long the tree takes (printed, not
// judged).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QPointer>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidgetItem>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

#include "app/core/language/language_table.h"
#include "app/gui/recover_process_wnd.h"
#include "app/gui/result_view.h"
#include "engine/found_item.h"
#include "tests/gui/gui_test_support.h"
#include "tests/gui/results_host.h"
#include "tests/support/found_records.h"
#include "ui/disk_list.h"
#include "ui/file_tree.h"
#include "ui/list_ui.h"
#include "ui/skin.h"

namespace dunmere::gui {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void Pump() { QCoreApplication::processEvents(); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The count at the end of a node's caption: "Photos (4)" -> 4.
int CountOf(const QTreeWidgetItem* item) { return item->text(0).section('(', -1).section(')', 0, 0).toInt(); }
QString NameOf(const QTreeWidgetItem* item) { return item->text(0).section(" (", 0, 0); }

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& name) {
  for (int i = 0; i < parent->childCount(); ++i)
    if (NameOf(parent->child(i)) == name) return parent->child(i);
  return nullptr;
}

class FolderViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::UiApp();
    test::UsePrivateDataFolder();
  }
  void SetUp() override {
    for (const char* tool : {"mkfs.fat", "mcopy", "mmd", "mdel"})
      if (!test::HaveTool(tool)) GTEST_SKIP() << "needs mkfs.fat and mtools: " << tool << " is missing";
    app::LanguageTable::Instance().SetUserConfigPath(user_ / "config.ini");
    fs::create_directories(fs::path(empty_.path()) / "sys/block");
    fs::create_directories(fs::path(empty_.path()) / "dev");
    std::ofstream(empty_ / "mountinfo").flush();
    MakeImage();
  }
  void TearDown() override {
    wnd_.reset();
    app::LanguageTable::Instance().SetUserConfigPath({});
  }

  // Photos/2020/{Trip Plan.pdf, Summer Notes.txt, Gone File.txt},
  // Photos/Shopping List.txt, Docs/Letter Home.txt and Read Me.txt in the
  // root, every file deleted (a quick scan lists deleted files), the folders
  // left in place. Long names, so the deleted entries keep them whole.
  void MakeImage() {
    const std::string src = files_.path();
    // Not a picture: a picture whose content fails its check is not listed.
    std::ofstream(src + "/Trip Plan.pdf", std::ios::binary) << "%PDF-1.4\n" << std::string(3000, 'p') << "\n%%EOF\n";
    std::ofstream(src + "/Summer Notes.txt") << "notes of the summer\n";
    std::ofstream(src + "/Gone File.txt") << std::string(1500, 'g');
    std::ofstream(src + "/Shopping List.txt") << "a list\n";
    std::ofstream(src + "/Letter Home.txt") << std::string(2500, 'l');
    std::ofstream(src + "/Read Me.txt") << "read me\n";
    image_ = files_ / "nested.img";
    const std::string img = test::ShellQuote(image_);
    auto in = [&](const char* name) { return test::ShellQuote(src + "/" + name); };
    auto on = [&](const char* path) { return test::ShellQuote(std::string("::/") + path); };
    std::string script = "set -e; export MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 LC_ALL=C.UTF-8; truncate -s 16M " +
                         img + "; mkfs.fat -F 16 -s 4 " + img + " >/dev/null; mmd -i " + img +
                         " ::/Photos ::/Photos/2020 ::/Docs";
    const std::pair<const char*, const char*> placed[] = {
        {"Trip Plan.pdf", "Photos/2020/"}, {"Summer Notes.txt", "Photos/2020/"}, {"Gone File.txt", "Photos/2020/"},
        {"Shopping List.txt", "Photos/"},  {"Letter Home.txt", "Docs/"},         {"Read Me.txt", ""}};
    for (const auto& [name, folder] : placed)
      script += "; mcopy -i " + img + " " + in(name) + " " + on(folder);
    for (const auto& [name, folder] : placed)
      script += "; mdel -i " + img + " " + on((std::string(folder) + name).c_str());
    std::string out;
    ASSERT_EQ(test::RunCommand(script, &out), 0) << out;
  }

  MainWnd& OpenAndScan() {
    MainWnd::Options o;
    o.roots.sysBlock = empty_ / "sys/block";
    o.roots.dev = empty_ / "dev";
    o.roots.udevData = empty_ / "udev";
    o.roots.mountInfo = empty_ / "mountinfo";
    o.monitor = [] { return std::unique_ptr<IDeviceMonitor>(); };
    wnd_ = std::make_unique<MainWnd>(std::move(o));
    EXPECT_TRUE(wnd_->Create(nullptr)) << wnd_->LoadError().toStdString();
    wnd_->resize(1000, 700);
    wnd_->show();
    Click("BtnDeletedRecovery");
    const std::vector<int> added = wnd_->AddImageFiles({QString::fromStdString(image_)});
    EXPECT_EQ(added.size(), 1u);
    if (!added.empty()) wnd_->DiskList()->SelectRow(added[0]);
    Click("BtnScan");
    EXPECT_TRUE(test::WaitFor([&] { return wnd_->CurrentPageIndex() == MainWnd::kPageResults; }));
    Pump();
    return *wnd_;
  }
  void Click(const char* name) {
    auto* b = wnd_->Find<QAbstractButton>(QString::fromLatin1(name));
    ASSERT_NE(b, nullptr) << name;
    b->click();
    Pump();
  }
  ui::FileTree* Folders() { return wnd_->Find<ui::FileTree>(QStringLiteral("FolderTree")); }
  ui::FileTree* Types() { return wnd_->Find<ui::FileTree>(QStringLiteral("TypeTree")); }
  ui::ListBox* Files() { return wnd_->Find<ui::ListBox>(QStringLiteral("FileList")); }
  // The user picks a node, opens it, clicks its box: as the tree reports them.
  void Select(QTreeWidgetItem* item) {
    Folders()->setCurrentItem(item);
    Pump();
  }
  void ClickBox(QTreeWidgetItem* item) {
    item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    Pump();
  }
  void ClickRowBox(int row) {
    ui::ListBox* list = Files();
    test::ClickAt(list->viewport(), list->visualRect(list->Model()->index(row, 0)).center());
    Pump();
  }
  QStringList Names() {
    QStringList out;
    ui::ListBox* list = Files();
    const int c = list->ColumnIndex(QStringLiteral("FileName"));
    for (int r = 0; r < list->RowCount(); ++r)
      out << list->Model()->data(list->Model()->index(r, c), Qt::DisplayRole).toString();
    return out;
  }
  // The folder the engine gives each checked file, as "Photos/2020/name".
  std::multiset<std::string> CheckedPaths() {
    std::multiset<std::string> out;
    for (const auto& [key, r] : wnd_->Results().Checked()) {
      std::string folder;
      ScanEngine* engine = wnd_->EngineOf(r);
      if (engine) (void)engine->GetFolderPath(&r, folder);
      out.insert(folder + RecordName(r));
    }
    return out;
  }

  TempDir user_, empty_, files_;
  std::string image_;
  std::unique_ptr<MainWnd> wnd_;
};

// The other view lists other files: what the pane showed is of none of them.
TEST_F(FolderViewTest, SwitchingViewsDropsWhatThePaneShowed) {
  ASSERT_FALSE(HasFatalFailure()) << "no image";
  MainWnd& w = OpenAndScan();
  ASSERT_EQ(w.CurrentPageIndex(), MainWnd::kPageResults);
  auto* pane = wnd_->Find<QTextEdit>("PreviewEdit");
  ASSERT_NE(pane, nullptr);
  pane->setPlainText(QStringLiteral("a file of the type view"));
  // The folder view's first row may be shown in its place, never the old file.
  Click("BtnFolderView");
  ASSERT_TRUE(w.Results().FolderViewShown());
  EXPECT_FALSE(pane->toPlainText().contains(QStringLiteral("type view"))) << pane->toPlainText().toStdString();
  pane->setPlainText(QStringLiteral("a file of the folder view"));
  Click("BtnTypeView");
  EXPECT_FALSE(pane->toPlainText().contains(QStringLiteral("folder view"))) << pane->toPlainText().toStdString();
}

TEST_F(FolderViewTest, FoldersCountsChecksAndCopyOutKeepingTheFolders) {
  ASSERT_FALSE(HasFatalFailure()) << "no image";
  MainWnd& w = OpenAndScan();
  ASSERT_EQ(w.CurrentPageIndex(), MainWnd::kPageResults);
  ui::FileTree* folders = Folders();
  ASSERT_NE(folders, nullptr);
  EXPECT_FALSE(folders->isVisible()) << "the type view comes first";
  EXPECT_TRUE(Types()->isVisible());
  EXPECT_EQ(wnd_->Find<QAbstractButton>("BtnTypeView")->text(), "File types");
  EXPECT_EQ(wnd_->Find<QAbstractButton>("BtnFolderView")->text(), "Folders");

  Click("BtnFolderView");
  EXPECT_TRUE(w.Results().FolderViewShown());
  EXPECT_TRUE(folders->isVisible());
  EXPECT_FALSE(Types()->isVisible());
  if (const char* shot = std::getenv("DUNMERE_FOLDER_VIEW_SHOT")) w.grab().save(QString::fromLocal8Bit(shot));

  // One source with everything: two folders at its top, 2020 inside Photos
  // made once Photos is opened.
  ASSERT_EQ(folders->topLevelItemCount(), 1);
  QTreeWidgetItem* source = folders->topLevelItem(0);
  EXPECT_TRUE(NameOf(source).contains("nested.img")) << source->text(0).toStdString();
  EXPECT_EQ(CountOf(source), 6);
  ASSERT_EQ(source->childCount(), 2);
  QTreeWidgetItem* docs = ChildNamed(source, "DOCS") ? ChildNamed(source, "DOCS") : ChildNamed(source, "Docs");
  QTreeWidgetItem* photos = ChildNamed(source, "PHOTOS") ? ChildNamed(source, "PHOTOS") : ChildNamed(source, "Photos");
  ASSERT_TRUE(docs && photos) << source->child(0)->text(0).toStdString() << ", " << source->child(1)->text(0).toStdString();
  EXPECT_EQ(CountOf(docs), 1);
  EXPECT_EQ(CountOf(photos), 4);
  EXPECT_EQ(photos->childCount(), 0) << "made when opened";
  photos->setExpanded(true);
  Pump();
  ASSERT_EQ(photos->childCount(), 1);
  QTreeWidgetItem* y2020 = photos->child(0);
  EXPECT_EQ(NameOf(y2020), "2020");
  EXPECT_EQ(CountOf(y2020), 3);

  // The source's node lists the root's file; a folder its own files.
  Select(source);
  EXPECT_EQ(Names(), QStringList{"Read Me.txt"});
  Select(y2020);
  EXPECT_EQ(Files()->RowCount(), 3);
  EXPECT_TRUE(Names().contains("Trip Plan.pdf") && Names().contains("Summer Notes.txt")) << Names().join(", ").toStdString();

  // Checking Photos checks exactly the four files below it.
  ClickBox(photos);
  EXPECT_EQ(CheckedPaths().size(), 4u);
  for (const std::string& p : CheckedPaths()) EXPECT_EQ(p.rfind("Photos/", 0) == 0 || p.rfind("PHOTOS/", 0) == 0, true) << p;
  EXPECT_EQ(folders->Check(photos), Qt::Checked);
  EXPECT_EQ(folders->Check(y2020), Qt::Checked);
  EXPECT_EQ(folders->Check(docs), Qt::Unchecked);
  EXPECT_EQ(folders->Check(source), Qt::PartiallyChecked);
  for (int r = 0; r < Files()->RowCount(); ++r) EXPECT_EQ(Files()->Model()->CheckOf(r), Qt::Checked);
  EXPECT_TRUE(w.FindControl("BtnRecover")->isEnabled());
  EXPECT_TRUE(w.Text("SelectedFileInfo").endsWith("in 4 files")) << w.Text("SelectedFileInfo").toStdString();

  // Three states: one file of 2020 alone makes 2020, Photos and the source partial.
  ClickBox(photos);
  EXPECT_TRUE(w.Results().Checked().empty());
  EXPECT_EQ(folders->Check(source), Qt::Unchecked);
  ClickRowBox(0);
  EXPECT_EQ(w.Results().Checked().size(), 1u);
  EXPECT_EQ(folders->Check(y2020), Qt::PartiallyChecked);
  EXPECT_EQ(folders->Check(photos), Qt::PartiallyChecked);
  EXPECT_EQ(folders->Check(source), Qt::PartiallyChecked);
  EXPECT_EQ(folders->Check(docs), Qt::Unchecked);
  // The type view shares the checks.
  Click("BtnTypeView");
  EXPECT_FALSE(w.Results().FolderViewShown());
  EXPECT_TRUE(Types()->isVisible());
  EXPECT_EQ(w.Results().Checked().size(), 1u);
  Click("BtnFolderView");
  ClickRowBox(0);
  EXPECT_TRUE(w.Results().Checked().empty());

  // Copy-out from the folder view: Photos with its tree, nothing of Docs.
  ClickBox(photos);
  TempDir dest;
  w.SetRecoveryFolderChooser([&](QWidget*) { return QString::fromStdString(dest.path()); });
  bool finished = false;
  uint32_t failed = 99;
  QTimer t;
  QObject::connect(&t, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* r = qobject_cast<RecoverProcessWnd*>(top);
      if (r && r->isVisible() && r->Finished()) {
        finished = true;
        failed = r->Failed();
        if (auto* b = r->Find<QAbstractButton>("FinishBtn")) b->click();
        return;
      }
      // The destination question, should the image's folder count as the source.
      if (auto* box = dynamic_cast<ui::WindowImplBase*>(top);
          box && box->isVisible() && box->IsModalRunning() && box->SkinFile().startsWith(u"xml/MessageBox"))
        if (auto* ok = box->Find<QAbstractButton>("okbtn")) ok->click();
    }
  });
  t.start(20);
  Click("BtnRecover");
  t.stop();
  ASSERT_TRUE(finished);
  EXPECT_EQ(failed, 0u);
  std::set<std::string> written;
  for (const auto& e : fs::recursive_directory_iterator(dest.path()))
    if (e.is_regular_file()) written.insert(fs::relative(e.path(), dest.path()).string());
  std::set<std::string> lower;
  for (std::string p : written) {
    for (char& c : p) c = char(std::tolower(static_cast<unsigned char>(c)));
    lower.insert(p);
  }
  EXPECT_EQ(written.size(), 4u);
  EXPECT_TRUE(lower.count("photos/2020/trip plan.pdf")) << *written.begin();
  EXPECT_TRUE(lower.count("photos/2020/summer notes.txt"));
  EXPECT_TRUE(lower.count("photos/shopping list.txt"));
  for (const std::string& p : written) {
    EXPECT_EQ(p.find("ocs"), std::string::npos) << p;
    if (p.size() >= 13 && p.substr(p.size() - 13) == "Trip Plan.pdf") {
      EXPECT_EQ(ReadAll(dest / p), ReadAll(files_ / "Trip Plan.pdf"));
    }
  }
}

// 100,000 files in 1,000 folders: the folder view is built when it is first
// shown, its first two levels at once and the rest as they are opened.
TEST(FolderViewBig, TimeToShowTheFolderViewOfABigResult) {
  test::UiApp();
  ui::Skin::Instance().UseBuiltIn();
  test::ResultsHostWnd w;
  ASSERT_TRUE(w.Open()) << w.LoadError().toStdString();
  std::vector<FoundItemRecord> list;
  list.reserve(100'000);
  for (uint32_t i = 0; i < 100'000; ++i) list.push_back(test::MakeRecord("photo.jpg", i + 1, 1000));
  w.view->SetFolderSource([](const FoundItemRecord& r, std::string& out) {
    const uint32_t f = r.recordIndex % 1000;
    out = "Level " + std::to_string(f / 100) + "/Sub " + std::to_string(f / 10) + "/Leaf " + std::to_string(f) + "/";
    return true;
  });
  w.show();
  w.view->ShowResults(std::move(list), {{"jpg", "jpg|jpeg"}});
  Pump();
  QElapsedTimer timer;
  timer.start();
  w.view->ShowFolderView(true);
  Pump();
  std::cout << "[ info ] folder view of 100000 files shown in " << timer.elapsed() << " ms\n";
  auto* tree = w.Find<ui::FileTree>("FolderTree");
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  EXPECT_EQ(CountOf(tree->topLevelItem(0)), 100000);
  EXPECT_EQ(tree->topLevelItem(0)->childCount(), 10);
  timer.restart();
  tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
  Pump();
  std::cout << "[ info ] checking all 100000 through the folder view: " << timer.elapsed() << " ms\n";
  EXPECT_EQ(w.view->CheckedRecords().size(), 100000u);
}

}  // namespace
}  // namespace dunmere::gui
