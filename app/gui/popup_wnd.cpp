#include "app/gui/popup_wnd.h"

#include "app/gui/apply_section.h"

namespace dunmere::gui {

PopUpWnd::PopUpWnd(QString layoutFile, QString languageSection)
    : layout_(std::move(layoutFile)), section_(std::move(languageSection)) {}

QString PopUpWnd::SkinFile() const {
  QString name = layout_;
  name.replace(u'\\', u'/');
  return name.startsWith(u"xml/") ? name : QStringLiteral("xml/") + name;
}

bool PopUpWnd::CreatePopup(QWidget* owner, int width, int height) {
  const bool built = Create(owner, width, height);
  CenterWindow();
  return built;
}

void PopUpWnd::ApplyLanguage() {
  // A window without a section of its own still has the close button's tip.
  ApplySection(this, section_);
}

void PopUpWnd::Notify(const ui::Notification& n) {
  if (n.type == u"windowinit") {
    ApplyLanguage();
    OnWindowInit();
    return;
  }
  if (n.type == u"click") OnClick(n);
}

bool PopUpWnd::OnClick(const ui::Notification& n) {
  if (n.senderName == u"okbtn") Close(kDone);
  else if (n.senderName == u"cancelbtn" || n.senderName == u"closebtn") Close(kCancelled);
  else return false;
  return true;
}

bool PopUpWnd::OnKey(int key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_Escape) {
    Close(kCancelled);
    return true;
  }
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

void PopUpWnd::OnFinalMessage() {
  if (destroyOnClose_) deleteLater();
}

}  // namespace dunmere::gui
