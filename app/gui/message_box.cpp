#include "app/gui/message_box.h"

#include <QBoxLayout>
#include <QPushButton>

#include "app/gui/apply_section.h"
#include "ui/button_ex.h"

namespace dunmere::gui {

namespace {
// The pictures and text colour that make a button the highlighted one, or a
// plain one; taken from the layout's own OK and Cancel buttons.
const char* const kLookProperties[] = {"normalimage", "hotimage", "pushedimage", "disabledimage", "textcolor"};
}  // namespace

MessageBoxWnd::MessageBoxWnd(int kind, Choice choice) : kind_(NormalizedKind(kind)), choice_(std::move(choice)) {}

QString MessageBoxWnd::LayoutFile(int kind) {
  switch (NormalizedKind(kind)) {
    case kConfirm: return QStringLiteral("MessageBox_Confirm.xml");
    case kInformation: return QStringLiteral("MessageBox_Information.xml");
    case kWarning: return QStringLiteral("MessageBox_Warning.xml");
    case kQuestion: return QStringLiteral("MessageBox_Question.xml");
    default: return QStringLiteral("MessageBox_Error.xml");
  }
}

const char* MessageBoxWnd::TitleId(int kind) {
  switch (NormalizedKind(kind)) {
    case kConfirm: return "MSG0402";
    case kInformation: return "MSG0403";
    case kWarning: return "MSG0405";
    case kQuestion: return "MSG0404";
    default: return "MSG0401";
  }
}

QString MessageBoxWnd::ButtonOf(int answer) {
  switch (answer) {
    case kOk: return QStringLiteral("okbtn");
    case kOther: return QStringLiteral("otherbtn");
    default: return QStringLiteral("cancelbtn");
  }
}

int MessageBoxWnd::SafeAnswer() const {
  if (choice_.safeAnswer) return choice_.safeAnswer;
  return Asks(kind_) ? kCancel : kOk;
}

int MessageBoxWnd::DefaultAnswer() const {
  const int wanted = choice_.defaultAnswer ? choice_.defaultAnswer : SafeAnswer();
  // A box without that button (a notice has only OK) presses what it has.
  return FindControl(ButtonOf(wanted)) ? wanted : kOk;
}

QString MessageBoxWnd::SkinFile() const { return QStringLiteral("xml/") + LayoutFile(kind_); }

bool MessageBoxWnd::Prepare(QWidget* owner, const QString& text, int width, int height) {
  const bool built = Create(owner, width, height);
  // Missing controls are skipped: the box still runs and answers.
  const char* title = choice_.titleId ? choice_.titleId : TitleId(kind_);
  if (FindControl(QStringLiteral("title"))) SetText(QStringLiteral("title"), MessageText(title));
  if (FindControl(QStringLiteral("message"))) SetText(QStringLiteral("message"), text);
  if (!choice_.icon.isEmpty() && FindControl(QStringLiteral("icon")))
    SetPicture(QStringLiteral("icon"), QStringLiteral("file='common/%1'").arg(choice_.icon));
  if (!choice_.other.isEmpty()) AddOtherButton();
  MarkDefaultButton();
  CenterWindow();
  return built;
}

void MessageBoxWnd::AddOtherButton() {
  auto* cancel = Find<QPushButton>(QStringLiteral("cancelbtn"));
  auto* bar = cancel && cancel->parentWidget() ? qobject_cast<QBoxLayout*>(cancel->parentWidget()->layout()) : nullptr;
  if (!bar) return;
  auto* other = new ui::ButtonEx(cancel->parentWidget());
  other->setObjectName(QStringLiteral("otherbtn"));
  for (const char* p : kLookProperties) other->setProperty(p, cancel->property(p));
  other->setMinimumSize(cancel->minimumSize());
  // A longer caption than "No" may need more room.
  other->setMaximumSize(QWIDGETSIZE_MAX, cancel->maximumHeight());
  other->setCursor(cancel->cursor());
  bar->insertWidget(bar->indexOf(cancel), other);
  AdoptControls(other->parentWidget());
}

void MessageBoxWnd::MarkDefaultButton() {
  auto* ok = Find<QPushButton>(QStringLiteral("okbtn"));
  auto* cancel = Find<QPushButton>(QStringLiteral("cancelbtn"));
  if (!ok) return;
  QVariantList strong, plain;
  for (const char* p : kLookProperties) {
    strong << ok->property(p);
    plain << (cancel ? cancel->property(p) : ok->property(p));
  }
  const QString chosen = ButtonOf(DefaultAnswer());
  for (const QString& name : {QStringLiteral("okbtn"), QStringLiteral("otherbtn"), QStringLiteral("cancelbtn")}) {
    auto* b = Find<QPushButton>(name);
    if (!b) continue;
    const QVariantList& look = name == chosen ? strong : plain;
    for (size_t i = 0; i < std::size(kLookProperties); ++i) b->setProperty(kLookProperties[i], look[int(i)]);
    if (auto* ex = qobject_cast<ui::ButtonEx*>(b)) ex->SetTextColor(QColor(b->property("textcolor").toString()));
    b->setDefault(name == chosen);
    b->update();
  }
}

void MessageBoxWnd::ApplyCaptions() {
  const std::pair<const char*, const QString*> captions[] = {
      {"okbtn", &choice_.ok}, {"cancelbtn", &choice_.cancel}, {"otherbtn", &choice_.other}};
  for (const auto& [name, text] : captions)
    if (!text->isEmpty() && FindControl(QString::fromLatin1(name))) SetText(QString::fromLatin1(name), *text);
}

int MessageBoxWnd::Show(int kind, QWidget* owner, const QString& text, int width, int height) {
  return Ask(kind, owner, text, width, height, Choice{});
}

int MessageBoxWnd::Ask(int kind, QWidget* owner, const QString& text, int width, int height, const Choice& choice) {
  return ui::CallOnUiThread([&] {
    MessageBoxWnd box(kind, choice);
    box.Prepare(owner, text, width, height);
    return box.ShowModal();
  });
}

void MessageBoxWnd::showEvent(QShowEvent* e) {
  ui::WindowImplBase::showEvent(e);
  // The focus starts on the default button, so Space presses it too, not
  // whichever button comes first in the layout.
  if (QWidget* b = FindControl(ButtonOf(DefaultAnswer()))) b->setFocus(Qt::OtherFocusReason);
}

void MessageBoxWnd::Notify(const ui::Notification& n) {
  if (n.type == u"windowinit") {
    ApplySection(this, QStringLiteral("MessageBox"));
    // A kind's own section, when the language has one, may caption its buttons
    // differently (a question answers Yes/No where a confirmation says OK/Cancel).
    ApplySection(this, LayoutFile(kind_).chopped(4));
    ApplyCaptions();
    return;
  }
  if (n.type != u"click") return;
  if (n.senderName == u"okbtn") Close(kOk);
  else if (n.senderName == u"otherbtn") Close(kOther);
  else if (n.senderName == u"cancelbtn") Close(kCancel);
  // Closing the box is no answer: it leaves things as they are.
  else if (n.senderName == u"closebtn") Close(choice_.safeAnswer ? choice_.safeAnswer : kCancel);
}

bool MessageBoxWnd::OnKey(int key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_Escape) {
    // Escape means "leave things as they are", never the answer that stops or deletes.
    Close(SafeAnswer());
    return true;
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    Close(DefaultAnswer());
    return true;
  }
  return false;
}

}  // namespace dunmere::gui
