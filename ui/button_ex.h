#pragma once
// "ButtonEx": a push button drawn from skin pictures. Layout properties
// (picture attribute strings): normalimage, hotimage, pushedimage,
// disabledimage, selectedimage (checkable buttons), foreimage; textcolor
// (#RRGGBB); textpadding ("l,t,r,b"). Without pictures it draws like a plain
// push button, or, when flat, as its text alone.
#include <QPushButton>

namespace dunmere::ui {

class ButtonEx : public QPushButton {
  Q_OBJECT
 public:
  explicit ButtonEx(QWidget* parent = nullptr);
  void SetTextColor(QColor c);

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  QColor textColor_;
};

}  // namespace dunmere::ui
