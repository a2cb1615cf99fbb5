#include "app/gui/preview_process_wnd.h"

#include <algorithm>

#include "app/gui/apply_section.h"

namespace dunmere::gui {

PreviewProcessWnd::PreviewProcessWnd(ScanEngine& engine, const FoundItemRecord& record, PreviewContent& out)
    : ProgressWnd(QStringLiteral("PreviewProcessWnd.xml"), QStringLiteral("PreviewProcessWnd"), "MSG0903"),
      engine_(engine),
      record_(record),
      out_(out) {}

PreviewProcessWnd::~PreviewProcessWnd() { StopWorker(); }

QString PreviewProcessWnd::PercentText(int percent) {
  return QStringLiteral("%1 %2%").arg(MessageText("MSG0901")).arg(std::clamp(percent, 0, 100));
}

int PreviewProcessWnd::OnProgress(void* user, int percent, Status) {
  auto* self = static_cast<PreviewProcessWnd*>(user);
  ScanProgress p;
  p.percent = percent;
  return self->Link().Report(p);
}

void PreviewProcessWnd::OnWindowInit() {
  const QString name = QString::fromStdString(RecordName(record_));
  SetText(QStringLiteral("FileName"), name);
  SetText(QStringLiteral("stage"), MessageText("MSG0902") + u' ' + name);
  SetText(QStringLiteral("percent"), PercentText(0));
  SetRange(QStringLiteral("progress"), 0, 100);
  SetValue(QStringLiteral("progress"), 0);
  StartWorker([this] { status_ = ReadPreviewContent(engine_, record_, out_, &PreviewProcessWnd::OnProgress, this); });
}

void PreviewProcessWnd::DrawProgress(const ScanProgress& p) {
  SetValue(QStringLiteral("progress"), std::clamp(p.percent, 0, 100));
  SetText(QStringLiteral("percent"), PercentText(p.percent));
}

void PreviewProcessWnd::WorkerEnded() {
  if (int32_t(status_) == kStopRequested || CancelConfirmed()) Close(kCancelled);
  else Close(status_ == kOk ? kDone : kFailed);
}

}  // namespace dunmere::gui
