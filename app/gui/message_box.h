#pragma once
// The program's message box: five kinds, each with its own layout and title,
// one to three buttons, run modally over its owner.
#include "ui/window_base.h"

namespace dunmere::gui {

// What a question may change from its kind's usual look and answers.
struct MessageBoxChoice {
  // The answer of Escape, the close button and the window system's close:
  // the one that changes nothing. 0: the kind's (kCancel in boxes that ask,
  // else kOk).
  int safeAnswer = 0;
  // The button Enter (and Space, it has the focus) presses; drawn as the
  // highlighted one. 0: the safe answer.
  int defaultAnswer = 0;
  QString icon;  // a picture of "common/" (e.g. "warning.png"); empty: the kind's
  const char* titleId = nullptr;  // null: the kind's
  // Captions; empty keeps the language's. A third button is shown only
  // with a caption of its own.
  QString ok, cancel, other;
};

class MessageBoxWnd : public ui::WindowImplBase {
  Q_OBJECT
 public:
  enum Kind { kError = 0, kConfirm = 1, kInformation = 2, kWarning = 3, kQuestion = 4 };
  // kOther: the third button of a box that offers three ways ("otherbtn").
  enum Result { kOk = 1, kCancel = 2, kOther = 3 };

  using Choice = MessageBoxChoice;

  // Shows text (already looked up) and returns 1 (OK) or 2 (cancel or close).
  // Escape and closing answer 2 in the boxes that ask (Question, Confirm), 1
  // otherwise; Enter presses the same button. Any kind outside 0..4 shows the
  // Error box. Safe to call from a worker thread: the box then runs on the UI
  // thread while the worker waits.
  static int Show(int kind, QWidget* owner, const QString& text, int width, int height);
  // The same with the choice's answers, captions and look.
  static int Ask(int kind, QWidget* owner, const QString& text, int width, int height, const Choice& choice);

  explicit MessageBoxWnd(int kind, Choice choice = {});
  QString ClassName() const override { return QStringLiteral("UIMessageBox"); }
  QString SkinFile() const override;

  static int NormalizedKind(int kind) { return kind >= kError && kind <= kQuestion ? kind : kError; }
  static QString LayoutFile(int kind);  // "MessageBox_Error.xml" ...
  static const char* TitleId(int kind);  // "MSG0401" ...
  static bool Asks(int kind) { return NormalizedKind(kind) == kQuestion || NormalizedKind(kind) == kConfirm; }

  // Builds the box (title and message set) without running it.
  bool Prepare(QWidget* owner, const QString& text, int width, int height);

  int SafeAnswer() const;
  int DefaultAnswer() const;
  // "okbtn", "cancelbtn" or "otherbtn".
  static QString ButtonOf(int answer);

  void Notify(const ui::Notification& n) override;

 protected:
  bool OnKey(int key, Qt::KeyboardModifiers mods) override;
  void showEvent(QShowEvent* e) override;

 private:
  void AddOtherButton();
  void MarkDefaultButton();
  void ApplyCaptions();

  int kind_;
  Choice choice_;
};

}  // namespace dunmere::gui
