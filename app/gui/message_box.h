#pragma once
// The program's message box: five kinds, each with its own layout and title,
// one or two buttons, run modally over its owner.
#include "ui/window_base.h"

namespace dunmere::gui {

class MessageBoxWnd : public ui::WindowImplBase {
  Q_OBJECT
 public:
  enum Kind { kError = 0, kConfirm = 1, kInformation = 2, kWarning = 3, kQuestion = 4 };
  enum Result { kOk = 1, kCancel = 2 };

  // Shows text (already looked up) and returns 1 (OK) or 2 (cancel or close).
  // Escape answers 2 in the boxes that ask (Question, Confirm), 1 otherwise. Any kind outside 0..4 shows the Error box. Safe to call
  // from a worker thread: the box then runs on the UI thread while the worker waits.
  static int Show(int kind, QWidget* owner, const QString& text, int width, int height);

  explicit MessageBoxWnd(int kind);
  QString ClassName() const override { return QStringLiteral("UIMessageBox"); }
  QString SkinFile() const override;

  static int NormalizedKind(int kind) { return kind >= kError && kind <= kQuestion ? kind : kError; }
  static QString LayoutFile(int kind);  // "MessageBox_Error.xml" ...
  static const char* TitleId(int kind);  // "MSG0401" ...

  // Builds the box (title and message set) without running it.
  bool Prepare(QWidget* owner, const QString& text, int width, int height);

  void Notify(const ui::Notification& n) override;

 protected:
  bool OnKey(int key, Qt::KeyboardModifiers mods) override;

 private:
  int kind_;
};

}  // namespace dunmere::gui
