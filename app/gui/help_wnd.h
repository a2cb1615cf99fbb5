#pragma once
// The user guide in a window of the program's own: the Markdown file shown
// with its screenshots (paths relative to the guide), so help works as root
// and on systems with no viewer registered for Markdown. Links to other
// places are shown, not followed.
#include "app/gui/popup_wnd.h"

class QTextBrowser;

namespace dunmere::gui {

class HelpWnd : public PopUpWnd {
  Q_OBJECT
 public:
  explicit HelpWnd(QString guidePath);
  QString ClassName() const override { return QStringLiteral("UIHelpWnd"); }
  // Reads the guide into the created window; false when it cannot be read.
  bool Load();
  bool Loaded() const { return loaded_; }

 private:
  static void FitPictures(QTextBrowser& text, int widest);

  QString guide_;
  bool loaded_ = false;
};

}  // namespace dunmere::gui
