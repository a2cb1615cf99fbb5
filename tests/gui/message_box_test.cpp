// Message boxes and pop-up windows: every kind with every way of closing it,
// keys, titles and captions from the language, centring, modal runs from a
// worker thread.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <thread>

#include "app/core/language/language_table.h"
#include "app/gui/apply_section.h"
#include "app/gui/message_box.h"
#include "app/gui/popup_wnd.h"
#include "tests/ui/ui_test_app.h"

namespace dunmere::gui {
namespace {

// What to do once the box is up: click a button by name, or press a key.
struct Action {
  QString button;
  int key = 0;
};

// The visible message box or pop-up, found while its modal loop runs.
ui::WindowImplBase* OpenWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* win = dynamic_cast<ui::WindowImplBase*>(w); win && win->isVisible() && win->IsModalRunning())
      return win;
  return nullptr;
}

void Perform(ui::WindowImplBase* w, const Action& a) {
  if (!a.button.isEmpty()) {
    w->Find<QAbstractButton>(a.button)->click();
  } else {
    QKeyEvent press(QEvent::KeyPress, a.key, Qt::NoModifier);
    QCoreApplication::sendEvent(w->FindControl("okbtn") ? w->FindControl("okbtn") : w, &press);
  }
}

// Runs the box and answers it; after `then` (Enter) the box must still be open.
int RunBox(MessageBoxWnd& box, const Action& first, const Action* then = nullptr, bool* stillOpen = nullptr) {
  QTimer::singleShot(0, [&] {
    ui::WindowImplBase* w = OpenWindow();
    ASSERT_EQ(w, &box);
    if (then) {
      Perform(w, *then);
      if (stillOpen) *stillOpen = w->isVisible() && w->IsModalRunning();
    }
    Perform(w, first);
  });
  return box.ShowModal();
}

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UiApp();
    ASSERT_EQ(app::LanguageTable::Instance().CurrentLanguage(), "English");
  }
};

TEST_F(MessageBoxTest, EveryKindClosesWithEveryResult) {
  struct Case {
    int kind;
    const char* layout;
    const char* titleId;
    bool twoButtons;
  };
  const Case cases[] = {{0, "xml/MessageBox_Error.xml", "MSG0401", false},
                        {1, "xml/MessageBox_Confirm.xml", "MSG0402", true},
                        {2, "xml/MessageBox_Information.xml", "MSG0403", false},
                        {3, "xml/MessageBox_Warning.xml", "MSG0405", false},
                        {4, "xml/MessageBox_Question.xml", "MSG0404", true},
                        {7, "xml/MessageBox_Error.xml", "MSG0401", false},
                        {-1, "xml/MessageBox_Error.xml", "MSG0401", false}};
  QWidget owner;
  owner.resize(800, 500);
  owner.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    // Escape never gives the answer that changes something: in the boxes that
    // ask it is "No"/"Cancel" (a "Stop the scan?" must not be confirmed by it).
    std::vector<std::pair<Action, int>> ways = {
        {{"okbtn"}, 1}, {{"closebtn"}, 2}, {{{}, Qt::Key_Escape}, c.twoButtons ? 2 : 1}};
    if (c.twoButtons) ways.push_back({{"cancelbtn"}, 2});
    for (const auto& [action, expected] : ways) {
      MessageBoxWnd box(c.kind);
      ASSERT_TRUE(box.Prepare(&owner, "Body text", 350, 160));
      EXPECT_EQ(box.SkinFile(), c.layout);
      EXPECT_EQ(box.ClassName(), "UIMessageBox");
      EXPECT_EQ(box.Text("title"), MessageText(c.titleId));
      EXPECT_FALSE(box.Text("title").isEmpty());
      EXPECT_EQ(box.Text("message"), "Body text");
      EXPECT_EQ(box.FindControl("cancelbtn") != nullptr, c.twoButtons);
      bool ownerDisabled = false;
      QTimer::singleShot(0, [&] { ownerDisabled = !owner.isEnabled(); });
      EXPECT_EQ(RunBox(box, action), expected) << action.button.toStdString();
      EXPECT_TRUE(ownerDisabled);
      EXPECT_TRUE(owner.isEnabled());
    }
  }
}

// Enter and Return press the default button, which has the focus (so Space
// presses it too) and is the highlighted one; in a box that asks, that is the
// answer that changes nothing.
TEST_F(MessageBoxTest, EnterPressesTheDefaultButton) {
  for (int kind = 0; kind <= 4; ++kind) {
    for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
      SCOPED_TRACE(kind);
      MessageBoxWnd box(kind);
      ASSERT_TRUE(box.Prepare(nullptr, "Body text", 350, 160));
      const int expected = MessageBoxWnd::Asks(kind) ? 2 : 1;
      EXPECT_EQ(box.DefaultAnswer(), expected);
      auto* chosen = box.Find<QPushButton>(MessageBoxWnd::ButtonOf(expected));
      ASSERT_NE(chosen, nullptr);
      EXPECT_TRUE(chosen->isDefault());
      if (auto* ok = box.Find<QPushButton>("okbtn"); ok && ok != chosen) {
        EXPECT_FALSE(ok->isDefault());
        EXPECT_EQ(chosen->property("normalimage"), QVariant(QStringLiteral(
                                                         "file='common/button.png' source='0,0,90,30' corner='5,5,5,5'")))
            << "the default button is the highlighted one";
        EXPECT_NE(ok->property("normalimage"), chosen->property("normalimage"));
      }
      EXPECT_EQ(RunBox(box, {{}, key}), expected);
    }
  }
}

// A box with a third way out: Escape, the close button and the window
// system's close give the safe answer, Enter the default, each button its own.
TEST_F(MessageBoxTest, AThreeWayQuestionNeverAnswersForTheUser) {
  MessageBoxWnd::Choice c;
  c.ok = "Resume";
  c.other = "Scan afresh";
  c.cancel = "Cancel";
  c.defaultAnswer = MessageBoxWnd::kOk;
  const std::pair<Action, int> ways[] = {{{"okbtn"}, 1},         {{"otherbtn"}, 3},
                                         {{"cancelbtn"}, 2},     {{"closebtn"}, 2},
                                         {{{}, Qt::Key_Escape}, 2}, {{{}, Qt::Key_Return}, 1}};
  for (const auto& way : ways) {
    const Action& action = way.first;
    const int expected = way.second;
    MessageBoxWnd box(MessageBoxWnd::kQuestion, c);
    ASSERT_TRUE(box.Prepare(nullptr, "?", 400, 160));
    int result = 0;
    QTimer::singleShot(0, [&] {
      EXPECT_EQ(box.Text("okbtn"), "Resume");
      EXPECT_EQ(box.Text("otherbtn"), "Scan afresh");
      EXPECT_EQ(box.Text("cancelbtn"), "Cancel");
      Perform(&box, action);
    });
    result = box.ShowModal();
    EXPECT_EQ(result, expected) << action.button.toStdString() << " " << action.key;
  }
  // Alt+F4 and the like: the window system asks the box to close.
  MessageBoxWnd box(MessageBoxWnd::kQuestion, c);
  ASSERT_TRUE(box.Prepare(nullptr, "?", 400, 160));
  QTimer::singleShot(0, [&] { box.close(); });
  EXPECT_EQ(box.ShowModal(), 2);
}

TEST_F(MessageBoxTest, ButtonCaptionsComeFromTheLanguage) {
  MessageBoxWnd question(MessageBoxWnd::kQuestion);
  question.Prepare(nullptr, "?", 350, 160);
  MessageBoxWnd confirm(MessageBoxWnd::kConfirm);
  confirm.Prepare(nullptr, "?", 350, 160);
  std::map<QString, QString> seen;
  QTimer::singleShot(0, [&] {
    seen["q.ok"] = question.Text("okbtn");
    seen["q.cancel"] = question.Text("cancelbtn");
    question.Close(2);
  });
  question.ShowModal();
  QTimer::singleShot(0, [&] {
    seen["c.ok"] = confirm.Text("okbtn");
    seen["c.cancel"] = confirm.Text("cancelbtn");
    confirm.Close(2);
  });
  confirm.ShowModal();
  EXPECT_EQ(seen["q.ok"], "Yes");
  EXPECT_EQ(seen["q.cancel"], "No");
  EXPECT_EQ(seen["c.ok"], "OK");
  EXPECT_EQ(seen["c.cancel"], "Cancel");
}

TEST_F(MessageBoxTest, CentredOnTheOwnerOrTheScreen) {
  QWidget owner;
  owner.setGeometry(50, 60, 700, 500);
  owner.show();
  QCoreApplication::processEvents();
  MessageBoxWnd box(MessageBoxWnd::kWarning);
  box.Prepare(&owner, "x", 300, 160);
  EXPECT_EQ(box.size(), QSize(300, 160));
  EXPECT_LE((box.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
  MessageBoxWnd alone(MessageBoxWnd::kInformation);
  alone.Prepare(nullptr, "Dunmere is running.", 350, 150);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((alone.frameGeometry().center() - screen.center()).manhattanLength(), 2);
  // Smaller than the layout allows: the minimum size wins.
  MessageBoxWnd tiny(MessageBoxWnd::kError);
  tiny.Prepare(nullptr, "x", 100, 50);
  EXPECT_EQ(tiny.size(), QSize(300, 160));
}

TEST_F(MessageBoxTest, AWorkerThreadAsksAndWaitsForTheAnswer) {
  QWidget owner;
  owner.show();
  int answer = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    answer = MessageBoxWnd::Show(MessageBoxWnd::kQuestion, &owner, "Resume?", 350, 160);
    done = true;
  });
  // The box runs its own loop on this thread; a timer answers it from there.
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [] {
    if (ui::WindowImplBase* w = OpenWindow()) w->Find<QAbstractButton>("cancelbtn")->click();
  });
  answerer.start(5);
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  EXPECT_EQ(answer, 2);
}

class TestPopup : public PopUpWnd {
 public:
  using PopUpWnd::PopUpWnd;
  int inits = 0;

 protected:
  void OnWindowInit() override { ++inits; }
};

TEST_F(MessageBoxTest, PopUpWindowsCreateCentreRunAndClose) {
  QWidget owner;
  owner.setGeometry(100, 100, 900, 600);
  owner.show();
  QCoreApplication::processEvents();
  struct Way {
    Action action;
    int result;
  };
  const Way ways[] = {{{"okbtn"}, 1}, {{"cancelbtn"}, 2}, {{"closebtn"}, 2}, {{{}, Qt::Key_Escape}, 2}};
  for (const Way& way : ways) {
    TestPopup popup("ScanProcessWnd.xml", "ScanWnd");
    EXPECT_EQ(popup.SkinFile(), "xml/ScanProcessWnd.xml");
    EXPECT_EQ(popup.ClassName(), "UIPopUpWnd");
    ASSERT_TRUE(popup.CreatePopup(&owner, 350, 250));
    EXPECT_EQ(popup.size(), QSize(350, 250));
    EXPECT_LE((popup.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 2);
    QString caption;
    bool open = false;
    QTimer::singleShot(0, [&] {
      caption = popup.Text("cancelbtn");
      QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QCoreApplication::sendEvent(&popup, &enter);
      open = popup.isVisible();
      if (way.action.button == "okbtn") {
        // The scan window has no OK button; a click on one would close with 1.
        ui::Notification n;
        n.type = "click";
        n.senderName = "okbtn";
        popup.Notify(n);
      } else {
        Perform(&popup, way.action);
      }
    });
    EXPECT_EQ(popup.RunModal(), way.result);
    EXPECT_TRUE(open);
    EXPECT_EQ(caption, "Cancel") << "the language section is applied on windowinit";
    EXPECT_EQ(popup.inits, 1);
    EXPECT_TRUE(owner.isEnabled());
  }
  // A pop-up nobody waits for removes itself when closed.
  QPointer<TestPopup> self = new TestPopup("SearchProcessWnd.xml", "SearchProcessWnd");
  self->SetDestroyOnClose(true);
  self->CreatePopup(&owner, 370, 220);
  self->show();
  self->Close(2);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(self.isNull());
}

TEST_F(MessageBoxTest, ApplySectionSetsOnlyExistingControls) {
  TestPopup popup("RecoverProcessWnd.xml", "RecoverProcessWnd");
  popup.CreatePopup(nullptr, 500, 240);
  EXPECT_EQ(ApplySection(&popup, "RecoverProcessWnd"), 7);
  EXPECT_EQ(popup.Text("DetailBtn"), "Details");
  EXPECT_EQ(popup.Text("Status"), "Status");  // a header item of the detail list
  EXPECT_EQ(ApplySection(&popup, "NoSuchSection"), 0);
  EXPECT_EQ(ApplySection(nullptr, "MainWnd"), 0);
}

}  // namespace
}  // namespace dunmere::gui
