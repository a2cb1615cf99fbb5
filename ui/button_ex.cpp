#include "ui/button_ex.h"

#include <QPainter>
#include <QStyleOptionButton>

#include "ui/skin.h"

namespace dunmere::ui {

ButtonEx::ButtonEx(QWidget* parent) : QPushButton(parent) {
  setAttribute(Qt::WA_Hover);
  setCursor(Qt::PointingHandCursor);
}

void ButtonEx::SetTextColor(QColor c) {
  textColor_ = c;
  update();
}

void ButtonEx::paintEvent(QPaintEvent* e) {
  auto prop = [this](const char* n) { return property(n).toString(); };
  QString image;
  if (!isEnabled()) image = prop("disabledimage");
  else if (isDown()) image = prop("pushedimage");
  else if (isCheckable() && isChecked()) image = prop("selectedimage");
  else if (underMouse()) image = prop("hotimage");
  if (image.isEmpty()) image = prop("normalimage");
  if (image.isEmpty() && !isFlat()) {
    QPushButton::paintEvent(e);
    return;
  }
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  if (!image.isEmpty()) Skin::Instance().Draw(p, rect(), image);
  else if (isEnabled() && (underMouse() || isDown()))
    p.fillRect(rect(), QColor(255, 255, 255, isDown() ? 90 : 50));  // flat buttons light up
  const QString fore = prop("foreimage");
  if (!fore.isEmpty()) Skin::Instance().Draw(p, rect(), fore);
  QRect textRect = rect();
  const QStringList pad = prop("textpadding").split(u',');
  if (pad.size() == 4)
    textRect.adjust(pad[0].toInt(), pad[1].toInt(), -pad[2].toInt(), -pad[3].toInt());
  if (!icon().isNull()) {
    const QSize is = iconSize();
    const QRect ir(QPoint(6, (height() - is.height()) / 2), is);
    icon().paint(&p, ir);
    textRect.setLeft(ir.right() + 4);
  }
  QColor tc = textColor_;
  if (!tc.isValid()) {
    const QString t = prop("textcolor");
    tc = t.isEmpty() ? palette().color(QPalette::ButtonText) : QColor(t);
  }
  if (!isEnabled()) tc.setAlpha(128);
  p.setPen(tc);
  p.drawText(textRect, Qt::AlignCenter | Qt::TextWordWrap, text());
}

}  // namespace dunmere::ui
