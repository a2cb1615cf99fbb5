#include "app/gui/message_box.h"

#include "app/gui/apply_section.h"

namespace dunmere::gui {

MessageBoxWnd::MessageBoxWnd(int kind) : kind_(NormalizedKind(kind)) {}

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

QString MessageBoxWnd::SkinFile() const { return QStringLiteral("xml/") + LayoutFile(kind_); }

bool MessageBoxWnd::Prepare(QWidget* owner, const QString& text, int width, int height) {
  const bool built = Create(owner, width, height);
  // Missing controls are skipped: the box still runs and answers.
  if (FindControl(QStringLiteral("title"))) SetText(QStringLiteral("title"), MessageText(TitleId(kind_)));
  if (FindControl(QStringLiteral("message"))) SetText(QStringLiteral("message"), text);
  CenterWindow();
  return built;
}

int MessageBoxWnd::Show(int kind, QWidget* owner, const QString& text, int width, int height) {
  return ui::CallOnUiThread([&] {
    MessageBoxWnd box(kind);
    box.Prepare(owner, text, width, height);
    return box.ShowModal();
  });
}

void MessageBoxWnd::Notify(const ui::Notification& n) {
  if (n.type == u"windowinit") {
    ApplySection(this, QStringLiteral("MessageBox"));
    // A kind's own section, when the language has one, may caption its buttons
    // differently (a question answers Yes/No where a confirmation says OK/Cancel).
    ApplySection(this, LayoutFile(kind_).chopped(4));
    return;
  }
  if (n.type != u"click") return;
  if (n.senderName == u"okbtn") Close(kOk);
  else if (n.senderName == u"cancelbtn" || n.senderName == u"closebtn") Close(kCancel);
}

bool MessageBoxWnd::OnKey(int key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_Escape) {
    // Escape means "leave things as they are": in a box that asks, that is the
    // second answer (No / Cancel), never the one that stops or deletes.
    Close(kind_ == kQuestion || kind_ == kConfirm ? kCancel : kOk);
    return true;
  }
  // Enter does nothing: a stray key must not answer a question.
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace dunmere::gui
