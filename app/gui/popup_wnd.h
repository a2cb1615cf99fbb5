#pragma once
// The base of the program's pop-up windows (progress windows, preview,
// copy-out, disk image): built from "xml/<layout>", owned by another window,
// centred on it and run modally; "okbtn" closes with 1, "cancelbtn" and
// "closebtn" with 2, Escape with 2, Enter is ignored.
#include "ui/window_base.h"

namespace dunmere::gui {

class PopUpWnd : public ui::WindowImplBase {
  Q_OBJECT
 public:
  enum Result { kDone = 1, kCancelled = 2, kFailed = 3 };

  // layoutFile: "ScanProcessWnd.xml" (looked up as "xml/ScanProcessWnd.xml").
  explicit PopUpWnd(QString layoutFile, QString languageSection = {});
  QString ClassName() const override { return QStringLiteral("UIPopUpWnd"); }
  QString SkinFile() const override;

  // Creates the window owned by owner, at the given size, centred.
  bool CreatePopup(QWidget* owner, int width, int height);
  int RunModal() { return ShowModal(); }
  // The window deletes itself once it is closed (pop-ups nobody waits for).
  void SetDestroyOnClose(bool on) { destroyOnClose_ = on; }

  // Applies the window's language section; called on "windowinit".
  virtual void ApplyLanguage();
  QString LanguageSection() const { return section_; }

  void Notify(const ui::Notification& n) override;

 protected:
  bool OnKey(int key, Qt::KeyboardModifiers mods) override;
  void OnFinalMessage() override;
  // Derived windows hook here; the default handles okbtn/cancelbtn/closebtn.
  virtual void OnWindowInit() {}
  virtual bool OnClick(const ui::Notification& n);

 private:
  QString layout_;
  QString section_;
  bool destroyOnClose_ = false;
};

}  // namespace dunmere::gui
