#include "app/gui/preview_wnd.h"

#include <QTextEdit>

#include "app/core/preview/picture_navigation.h"
#include "app/gui/apply_section.h"
#include "app/gui/preview_controller.h"

namespace dunmere::gui {

PreviewWnd::PreviewWnd(PreviewController& controller, std::unique_ptr<PreviewContent> content)
    : PopUpWnd(QStringLiteral("PreviewWnd.xml"), QStringLiteral("PreviewWnd")),
      controller_(controller),
      content_(std::move(content)) {}

PreviewWnd::~PreviewWnd() {
  // A player may still be reading the media copy; the next preview or the
  // program's exit removes that one.
  if (content_) content_->Discard(true);
}

void PreviewWnd::OnWindowInit() {
  // Stepping works on the files of the list as it is now.
  for (const FoundItemRecord& r : controller_.Listed())
    if (!r.isFolder) listed_.push_back(r);
  ShowContent();
}

QString PreviewWnd::PictureFailedText() {
  // A blank line first: the text stands below the panel's top edge.
  return QLatin1Char('\n') + MessageText("MSG1306");
}

void PreviewWnd::ShowContent() {
  const bool withFile = content_->HasFile();
  SetVisible(QStringLiteral("PrevBar"), withFile);
  SetVisible(QStringLiteral("NextBar"), withFile);
  SetText(QStringLiteral("FileName"), QString::fromStdString(RecordName(content_->record)));
  controller_.Show(Find<QTextEdit>(QStringLiteral("PreviewEdit")), *content_, PictureFailedText());
}

bool PreviewWnd::Step(bool forward) {
  const int next = NextPictureIndex(listed_, content_->record, forward);
  if (next < 0) return false;
  auto fresh = std::make_unique<PreviewContent>();
  if (!controller_.Read(this, listed_[size_t(next)], *fresh, 370, 200)) return false;
  // Pictures share one temporary name: the new copy is not the old one's to delete.
  if (content_->path != fresh->path) content_->Discard();
  content_ = std::move(fresh);
  ShowContent();
  return true;
}

bool PreviewWnd::OnClick(const ui::Notification& n) {
  if (n.senderName == u"NextBtn" || n.senderName == u"PrevBtn") {
    Step(n.senderName == u"NextBtn");
    return true;
  }
  if (n.senderName == u"RecoveryBtn") {
    controller_.StartSingleRecovery(this, content_->record);
    return true;
  }
  if (n.senderName == u"CancelBtn") {
    Close(kCancelled);
    return true;
  }
  return PopUpWnd::OnClick(n);
}

}  // namespace dunmere::gui
