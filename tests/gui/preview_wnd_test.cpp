// The preview in windows: the reading window over a real engine interface,
// the pane showing pictures made by ImageMagick, a picture that cannot be
// decoded, bytes, an archive listing, the preview window's stepping
// through the pictures of the list, and films and sound played inside the
// pane by a stand-in player that writes down how it was started.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFragment>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <functional>
#include <sstream>

#include "app/core/language/language_table.h"
#include "app/core/sessions/scan_session.h"
#include "app/gui/apply_section.h"
#include "app/gui/preview_controller.h"
#include "app/gui/preview_process_wnd.h"
#include "app/gui/preview_wnd.h"
#include "tests/app/fake_engine.h"
#include "tests/support/test_support.h"
#include "tests/gui/results_host.h"
#include "tests/ui/ui_test_app.h"

namespace dunmere::gui {
namespace {
namespace fs = std::filesystem;

std::string FileText(const std::string& path) {
  const auto b = test::ReadBytes(path);
  return std::string(b.begin(), b.end());
}

// The size of the first picture in a panel; empty when it shows none.
QSize PictureIn(QTextEdit* panel) {
  for (QTextBlock b = panel->document()->begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat f = it.fragment().charFormat();
      if (f.isImageFormat()) {
        const QTextImageFormat img = f.toImageFormat();
        const QVariant res = panel->document()->resource(QTextDocument::ImageResource, QUrl(img.name()));
        if (res.isValid()) return QSize(int(img.width()), int(img.height()));
      }
    }
  return {};
}

class PreviewWndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::UiApp();
    test::UsePrivateDataFolder();
  }
  void SetUp() override {
    if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick (convert) is not installed";
    dir_ = fs::temp_directory_path() / ("dunmere-previewwnd-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    ASSERT_EQ(test::RunCommand("cd '" + dir_.string() +
                               "' && convert -size 640x480 gradient:red-blue a.jpg && convert -size 40x30 xc:green b.png"),
              0);
    std::vector<test::FakeItem> items = {
        {"first.jpg", 10, 5, 0, false, FileText((dir_ / "a.jpg").string())},
        {"notes.txt", 11, 5, 0, false, "plain words"},
        {"second.png", 12, 5, 0, false, FileText((dir_ / "b.png").string())},
        {"broken.jpg", 13, 5, 0, false, "this is no picture"},
        {"README", 14, 5, 0, false, std::string("ab\0cd", 5)},
        {"letter.doc", 16, 5, 0, false, "a letter"},
    };
    if (test::HaveTool("zip")) {
      ASSERT_EQ(test::RunCommand("cd '" + dir_.string() + "' && zip -q c.zip b.png"), 0);
      items.push_back({"bundle.zip", 15, 5, 0, false, FileText((dir_ / "c.zip").string())});
    }
    engine_ = std::make_unique<test::FakeEngine>(items);
    ASSERT_EQ(RunScan(*engine_, {}), kOk);
    std::vector<FoundEntry> files;
    ASSERT_EQ(CollectFoundItems(*engine_, TypeFilter{}, files, nullptr), kOk);
    for (const FoundEntry& f : files) listed_.push_back(f.record);
    ASSERT_TRUE(host_.Open(1000, 600));
    host_.show();
    controller_ = std::make_unique<PreviewController>(
        host_, [this](const FoundItemRecord&) { return engine_.get(); }, [this] { return listed_; });
  }
  void TearDown() override {
    controller_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const FoundItemRecord& Named(const std::string& name) {
    for (const FoundItemRecord& r : listed_)
      if (RecordName(r) == name) return r;
    ADD_FAILURE() << name;
    return listed_.front();
  }
  QTextEdit* Pane() { return host_.Find<QTextEdit>(QStringLiteral("PreviewEdit")); }

  fs::path dir_;
  std::unique_ptr<test::FakeEngine> engine_;
  std::vector<FoundItemRecord> listed_;
  test::ResultsHostWnd host_;
  std::unique_ptr<PreviewController> controller_;
};

TEST_F(PreviewWndTest, PanePicturesAreDecodedAndScaledToFit) {
  ASSERT_NE(Pane(), nullptr);
  controller_->PreviewSelected(Named("first.jpg"));
  const QSize jpeg = PictureIn(Pane());
  ASSERT_FALSE(jpeg.isEmpty()) << Pane()->toPlainText().toStdString();
  EXPECT_LE(jpeg.width(), Pane()->viewport()->width());
  EXPECT_LE(jpeg.height(), Pane()->viewport()->height());
  EXPECT_NEAR(double(jpeg.width()) / jpeg.height(), 640.0 / 480.0, 0.05);
  EXPECT_TRUE(controller_->PaneContent().HasFile());

  controller_->PreviewSelected(Named("second.png"));
  EXPECT_EQ(PictureIn(Pane()), QSize(40, 30));  // small ones keep their size

  controller_->PreviewSelected(Named("broken.jpg"));
  EXPECT_TRUE(PictureIn(Pane()).isEmpty());
  EXPECT_EQ(Pane()->toPlainText(), MessageText("MSG0905"));
}

TEST_F(PreviewWndTest, PaneShowsBytesListingsAndFolders) {
  controller_->PreviewSelected(Named("README"));
  EXPECT_EQ(Pane()->toPlainText(), QStringLiteral("ab.cd\n"));
  EXPECT_FALSE(controller_->PaneContent().HasFile());
  if (test::HaveTool("zip") && test::HaveTool("7z")) {
    controller_->PreviewSelected(Named("bundle.zip"));
    // Listed beside the window; delivered once 7z is done.
    ASSERT_TRUE(test::WaitFor([&] { return !controller_->Conversions().Busy(); }));
    EXPECT_TRUE(Pane()->toPlainText().startsWith(QStringLiteral("-------------------")))
        << Pane()->toPlainText().toStdString();
    EXPECT_TRUE(Pane()->toPlainText().contains(QStringLiteral("b.png")));
  }
  FoundItemRecord folder = Named("README");
  folder.isFolder = 1;
  controller_->PreviewSelected(folder);
  EXPECT_EQ(Pane()->toPlainText(), MessageText("MSG0904"));
}

// The pane's message is the program's own text: a language chosen while it
// stands there takes it over, as the rest of the window does.
TEST_F(PreviewWndTest, AMessageInThePaneFollowsAnotherLanguage) {
  app::LanguageTable& texts = app::LanguageTable::Instance();
  test::TempDir user;
  texts.SetUserConfigPath(user / "config.ini");
  ASSERT_TRUE(texts.SetLanguage("English"));
  FoundItemRecord folder = Named("README");
  folder.isFolder = 1;
  controller_->PreviewSelected(folder);
  const QString english = MessageText("MSG0904");
  ASSERT_EQ(Pane()->toPlainText(), english);
  ASSERT_TRUE(texts.SetLanguage("German"));
  controller_->ApplyLanguage();
  EXPECT_NE(MessageText("MSG0904"), english);
  EXPECT_EQ(Pane()->toPlainText(), MessageText("MSG0904"));
  // A picture that cannot be shown: its message too.
  controller_->PreviewSelected(Named("broken.jpg"));
  ASSERT_TRUE(texts.SetLanguage("English"));
  controller_->ApplyLanguage();
  EXPECT_EQ(Pane()->toPlainText(), MessageText("MSG0905"));
  ASSERT_TRUE(texts.SetLanguage("German"));
  // A file's own content is not a message: it stays as it is.
  controller_->PreviewSelected(Named("README"));
  ASSERT_TRUE(texts.SetLanguage("English"));
  controller_->ApplyLanguage();
  EXPECT_EQ(Pane()->toPlainText(), QStringLiteral("ab.cd\n"));
  texts.SetUserConfigPath({});
}

// LibreOffice may take seconds: the window does not wait for it, and when
// the person moves on to another file the conversion is ended, its result
// never shown.
TEST_F(PreviewWndTest, DocumentsAreMadeBesideTheWindowAndDroppedWhenThePersonMovesOn) {
  const fs::path bin = dir_ / "bin";
  fs::create_directories(bin);
  const std::string pidFile = (dir_ / "soffice.pid").string();
  std::ofstream(bin / "soffice") << "#!/bin/sh\necho $$ > '" << pidFile << "'\nexec sleep 600\n";
  fs::permissions(bin / "soffice", fs::perms::owner_all);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1);
  struct RestorePath {
    std::string path;
    ~RestorePath() { ::setenv("PATH", path.c_str(), 1); }
  } restore{oldPath};

  controller_->PreviewSelected(Named("letter.doc"));
  EXPECT_EQ(Pane()->toPlainText(), MessageText("MSG0909")) << "the window is back at once";
  EXPECT_TRUE(controller_->Conversions().Busy());
  ASSERT_TRUE(test::WaitFor([&] { return fs::exists(pidFile) && fs::file_size(pidFile) > 0; }))
      << "the converter never started";
  const pid_t converter = pid_t(std::stol(FileText(pidFile)));
  ASSERT_GT(converter, 0);

  controller_->PreviewSelected(Named("second.png"));
  EXPECT_EQ(PictureIn(Pane()), QSize(40, 30));
  EXPECT_FALSE(controller_->Conversions().Busy());
  EXPECT_TRUE(test::WaitFor([&] { return ::kill(converter, 0) != 0; })) << "the abandoned converter still runs";
  // Nothing of the letter arrives later.
  QCoreApplication::processEvents();
  EXPECT_EQ(PictureIn(Pane()), QSize(40, 30));
}

TEST_F(PreviewWndTest, ReadingWindowReportsProgressAndResult) {
  PreviewContent content;
  PreviewProcessWnd wnd(*engine_, Named("first.jpg"), content);
  ASSERT_TRUE(wnd.CreatePopup(&host_, 370, 220));
  EXPECT_EQ(wnd.RunModal(), PopUpWnd::kDone);
  EXPECT_EQ(wnd.Text(QStringLiteral("FileName")), QStringLiteral("first.jpg"));
  EXPECT_TRUE(wnd.Text(QStringLiteral("stage")).endsWith(QStringLiteral("first.jpg")));
  EXPECT_TRUE(content.HasFile());
  EXPECT_EQ(PreviewProcessWnd::PercentText(150), MessageText("MSG0901") + QStringLiteral(" 100%"));
}

TEST_F(PreviewWndTest, WindowStepsThroughThePicturesOfTheListWrappingRound) {
  auto content = std::make_unique<PreviewContent>();
  ASSERT_TRUE(controller_->Read(&host_, Named("first.jpg"), *content, 370, 200));
  FoundItemRecord recovered{};
  controller_->SetRecover([&](QWidget*, const FoundItemRecord& r) { recovered = r; });
  PreviewWnd wnd(*controller_, std::move(content));
  ASSERT_TRUE(wnd.CreatePopup(&host_, 600, 500));
  wnd.show();
  ASSERT_TRUE(test::WaitFor([&] { return wnd.Text(QStringLiteral("FileName")) == QStringLiteral("first.jpg"); }));
  auto* panel = wnd.Find<QTextEdit>(QStringLiteral("PreviewEdit"));
  ASSERT_NE(panel, nullptr);
  EXPECT_FALSE(PictureIn(panel).isEmpty());
  EXPECT_TRUE(wnd.IsControlVisible(QStringLiteral("NextBar")));

  QStringList seen;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(wnd.Step(true));
    seen << wnd.Text(QStringLiteral("FileName"));
  }
  // Pictures only, in list order, and round again (broken.jpg is a picture by name).
  EXPECT_EQ(seen, (QStringList{"second.png", "broken.jpg", "first.jpg", "second.png"}));
  ASSERT_TRUE(wnd.Step(false));
  EXPECT_EQ(wnd.Text(QStringLiteral("FileName")), QStringLiteral("first.jpg"));
  ASSERT_TRUE(wnd.Step(false));
  EXPECT_EQ(wnd.Text(QStringLiteral("FileName")), QStringLiteral("broken.jpg"));
  EXPECT_TRUE(PictureIn(panel).isEmpty());
  EXPECT_TRUE(panel->toPlainText().contains(MessageText("MSG1306")));

  wnd.SendNotify(QStringLiteral("click"), wnd.FindControl(QStringLiteral("RecoveryBtn")), QStringLiteral("RecoveryBtn"));
  EXPECT_EQ(RecordName(recovered), "broken.jpg");
  const std::string copy = wnd.Content().path;
  EXPECT_TRUE(fs::exists(copy));
  wnd.Close(PopUpWnd::kCancelled);
}

TEST_F(PreviewWndTest, WindowWithoutACopyHidesStepping) {
  auto content = std::make_unique<PreviewContent>();
  ASSERT_TRUE(controller_->Read(&host_, Named("README"), *content, 370, 200));
  PreviewWnd wnd(*controller_, std::move(content));
  ASSERT_TRUE(wnd.CreatePopup(&host_, 600, 500));
  wnd.show();
  ASSERT_TRUE(test::WaitFor([&] { return !wnd.Text(QStringLiteral("FileName")).isEmpty(); }));
  EXPECT_FALSE(wnd.IsControlVisible(QStringLiteral("PrevBar")));
  EXPECT_FALSE(wnd.IsControlVisible(QStringLiteral("NextBar")));
  EXPECT_EQ(wnd.Find<QTextEdit>(QStringLiteral("PreviewEdit"))->toPlainText(), QStringLiteral("ab.cd\n"));
}

// The player draws into a window the pane lends it. mpv is a stand-in on PATH
// that writes its arguments to args.<pid>, then its id to "players" (so that a
// listed id has its arguments complete), says it plays and waits to be ended.
class PanePlayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::UiApp();
    test::UsePrivateDataFolder();
  }
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("dunmere-paneplayer-" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "bin");
    std::ofstream(dir_ / "bin" / "mpv") << "#!/bin/sh\n"
                                        << "for a in \"$@\"; do echo \"$a\"; done > '" << dir_.string() << "'/args.$$\n"
                                        << "echo $$ >> '" << dir_.string() << "/players'\n"
                                        << "echo " << MediaPlayer::kPlayingMark << "\n"
                                        << "exec sleep 600\n";
    fs::permissions(dir_ / "bin" / "mpv", fs::perms::owner_all);
    oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", ((dir_ / "bin").string() + ":" + oldPath_).c_str(), 1);
    engine_ = std::make_unique<test::FakeEngine>(std::vector<test::FakeItem>{
        {"holiday.avi", 10, 5, 0, false, std::string(4000, 'v')},
        {"song.mp3", 11, 5, 0, false, std::string(3000, 'a')},
        {"notes.txt", 12, 5, 0, false, "plain words"},
    });
    ASSERT_EQ(RunScan(*engine_, {}), kOk);
    std::vector<FoundEntry> files;
    ASSERT_EQ(CollectFoundItems(*engine_, TypeFilter{}, files, nullptr), kOk);
    for (const FoundEntry& f : files) listed_.push_back(f.record);
    ASSERT_TRUE(host_.Open(1000, 600));
    host_.show();
    controller_ = std::make_unique<PreviewController>(
        host_, [this](const FoundItemRecord&) { return engine_.get(); }, [this] { return listed_; });
  }
  void TearDown() override {
    controller_.reset();
    ::setenv("PATH", oldPath_.c_str(), 1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const FoundItemRecord& Named(const std::string& name) {
    for (const FoundItemRecord& r : listed_)
      if (RecordName(r) == name) return r;
    ADD_FAILURE() << name;
    return listed_.front();
  }
  QTextEdit* Pane() { return host_.Find<QTextEdit>(QStringLiteral("PreviewEdit")); }
  // The ids of the players started so far, in order.
  std::vector<pid_t> Players() {
    std::vector<pid_t> ids;
    std::istringstream in(FileText((dir_ / "players").string()));
    for (long id; in >> id;) ids.push_back(pid_t(id));
    return ids;
  }
  // Waits until the n-th player (from 1) has started; its id, 0 when none came.
  pid_t WaitForPlayer(size_t n) {
    if (!test::WaitFor([&] { return fs::exists(dir_ / "players") && Players().size() >= n; })) return 0;
    return Players()[n - 1];
  }
  std::vector<std::string> ArgumentsOf(pid_t player) {
    std::istringstream in(FileText((dir_ / ("args." + std::to_string(player))).string()));
    std::vector<std::string> args;
    for (std::string line; std::getline(in, line);) args.push_back(line);
    return args;
  }
  static bool Has(const std::vector<std::string>& args, const std::string& arg) {
    return std::find(args.begin(), args.end(), arg) != args.end();
  }
  // The player is gone: ended and reaped by the controller.
  static bool Gone(pid_t pid) { return ::kill(pid, 0) != 0; }

  fs::path dir_;
  std::string oldPath_;
  std::unique_ptr<test::FakeEngine> engine_;
  std::vector<FoundItemRecord> listed_;
  test::ResultsHostWnd host_;
  std::unique_ptr<PreviewController> controller_;
};

TEST_F(PanePlayerTest, FilmPlaysInANativeChildOfThePaneSizedWithItAndEndsWhenThePreviewMovesOn) {
  ASSERT_NE(Pane(), nullptr);
  controller_->PreviewSelected(Named("holiday.avi"));
  const pid_t player = WaitForPlayer(1);
  ASSERT_GT(player, 0) << "no player was started";
  QPointer<QWidget> surface = controller_->PlayerSurface();
  ASSERT_NE(surface, nullptr);
  EXPECT_TRUE(Pane()->isAncestorOf(surface));
  EXPECT_TRUE(surface->testAttribute(Qt::WA_NativeWindow));
  EXPECT_TRUE(surface->isVisible());
  EXPECT_EQ(surface->geometry(), Pane()->viewport()->rect());

  const std::vector<std::string> args = ArgumentsOf(player);
  EXPECT_TRUE(Has(args, "--wid=" + std::to_string(surface->winId())))
      << "the player was not given the pane's window " << surface->winId();
  EXPECT_FALSE(Has(args, "--geometry=326x189+845+260")) << "a window of its own as well";
  ASSERT_GE(args.size(), 2u);
  EXPECT_EQ(args[args.size() - 2], "--");
  EXPECT_EQ(args.back(), controller_->PaneContent().path);

  // The pane grows with the window; the film's window with the pane.
  const int before = Pane()->viewport()->height();
  host_.resize(host_.width() + 40, host_.height() + 120);
  ASSERT_TRUE(test::WaitFor([&] { return Pane()->viewport()->height() > before; }));
  EXPECT_EQ(surface->geometry(), Pane()->viewport()->rect());

  controller_->PreviewSelected(Named("notes.txt"));
  EXPECT_TRUE(Gone(player)) << "the film still plays after another file was chosen";
  EXPECT_TRUE(surface.isNull()) << "the film's window is left in the pane";
  EXPECT_EQ(Pane()->toPlainText(), QStringLiteral("plain words\n"));
}

TEST_F(PanePlayerTest, PlayerEndsWithAnotherNodeAFolderAndTheWindowClosing) {
  controller_->PreviewSelected(Named("song.mp3"));
  const pid_t sound = WaitForPlayer(1);
  ASSERT_GT(sound, 0);
  // Sound also gets the pane's window, to show where it stands.
  const std::vector<std::string> args = ArgumentsOf(sound);
  EXPECT_TRUE(Has(args, "--force-window=yes"));
  ASSERT_NE(controller_->PlayerSurface(), nullptr);
  EXPECT_TRUE(Has(args, "--wid=" + std::to_string(controller_->PlayerSurface()->winId())));
  controller_->ClearPane();  // another type or folder chosen in the tree
  EXPECT_TRUE(Gone(sound));
  EXPECT_EQ(controller_->PlayerSurface(), nullptr);

  controller_->PreviewSelected(Named("holiday.avi"));
  const pid_t film = WaitForPlayer(2);
  ASSERT_GT(film, 0);
  FoundItemRecord folder = Named("notes.txt");
  folder.isFolder = 1;
  controller_->PreviewSelected(folder);
  EXPECT_TRUE(Gone(film));
  EXPECT_EQ(Pane()->toPlainText(), MessageText("MSG0904"));

  // The list tells the pane of a folder row itself.
  controller_->PreviewSelected(Named("holiday.avi"));
  const pid_t again = WaitForPlayer(3);
  ASSERT_GT(again, 0);
  host_.SetText(QStringLiteral("PreviewEdit"), MessageText("MSG0904"));
  EXPECT_TRUE(Gone(again));
  EXPECT_EQ(controller_->PlayerSurface(), nullptr);

  controller_->PreviewSelected(Named("holiday.avi"));
  const pid_t last = WaitForPlayer(4);
  ASSERT_GT(last, 0);
  host_.Close(2);
  EXPECT_TRUE(Gone(last)) << "the film plays on after its window closed";
  EXPECT_EQ(controller_->PlayerSurface(), nullptr);
}

}  // namespace
}  // namespace dunmere::gui
