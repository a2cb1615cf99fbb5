#include "app/gui/create_image_process_wnd.h"

#include <algorithm>
#include <cstdio>

#include <QFontMetrics>

#include "app/core/results/text_formats.h"
#include "app/gui/apply_section.h"
#include "app/gui/message_box.h"

namespace dunmere::gui {

CreateImageProcessWnd::CreateImageProcessWnd()
    : ProgressWnd(QStringLiteral("CreateImageProcessWnd.xml"), QStringLiteral("CreateImageWnd"), "MSG0306") {}

CreateImageProcessWnd::~CreateImageProcessWnd() { StopWorker(); }

void CreateImageProcessWnd::SetJob(ImagingJob job) {
  job_ = std::move(job);
  imagePath_ = job_.imagePath;
}

CreateImageProcessWnd::ProgressTexts CreateImageProcessWnd::TextsFor(int percent, int64_t secondsLeft,
                                                                       uint64_t done, uint64_t total) {
  ProgressTexts t;
  t.value = std::clamp(percent, 0, 100);
  t.percent = QStringLiteral("%1 %2%").arg(MessageText("MSG0301")).arg(t.value);
  t.time = secondsLeft < 0 ? MessageText("MSG0304")
                           : QStringLiteral("%1 %2").arg(MessageText("MSG0305"),
                                                         QString::fromStdString(FormatDuration(secondsLeft)));
  t.sectors = QStringLiteral("%1 %2 / %3").arg(MessageText("MSG0303")).arg(done).arg(total);
  return t;
}

int CreateImageProcessWnd::OnProgress(void* user, int percent, uint64_t done, uint64_t total, int64_t secondsLeft) {
  auto* self = static_cast<CreateImageProcessWnd*>(user);
  ScanProgress p;
  p.percent = percent;
  p.secondsLeft = secondsLeft;
  p.done = done;
  p.total = total;
  // Waits here while the cancel question is open.
  return self->Link().Report(p);
}

void CreateImageProcessWnd::OnWindowInit() {
  SetRange(QStringLiteral("progress"), 0, 100);
  SetValue(QStringLiteral("progress"), 0);
  // A long path loses its middle, not its file name; the tool tip has all of it.
  QString stage = QStringLiteral("%1 %2").arg(MessageText("MSG0302"), QString::fromStdString(imagePath_));
  if (QWidget* label = FindControl(QStringLiteral("stage")))
    stage = label->fontMetrics().elidedText(stage, Qt::ElideMiddle, std::max(label->width(), width() - 40) - 4);
  SetText(QStringLiteral("stage"), stage);
  SetToolTip(QStringLiteral("stage"), QString::fromStdString(imagePath_));
  SetText(QStringLiteral("time"), MessageText("MSG0304"));
  StartWorker([this] {
    // The chosen name appears only for a complete image; an older image and
    // map there were replaced on the user's word in the save dialog.
    std::remove(imagePath_.c_str());
    std::remove(MapPath().c_str());
    job_.imagePath = PartPath();
    job_.mapPath = MapPath();
    job_.progress = &OnProgress;
    job_.user = this;
    job_.askOnReadError = [this] {
      // "No" stops imaging and deletes the image written so far: leaving
      // the question (Escape, closing it) must not, so it goes on.
      MessageBoxWnd::Choice c;
      c.safeAnswer = c.defaultAnswer = MessageBoxWnd::kOk;
      return AskFromWorker("MSG0222", MessageBoxWnd::kCancel, c) == MessageBoxWnd::kOk;
    };
    status_ = CopySourceToImage(job_);
    Link().Flush();  // the last chunk's progress, held back by the coalescing
    if (Link().Cancelled() && status_ == kReadFault) status_ = kStopRequested;
    mapFailed_ = status_ != kOk && job_.mapWanted && status_ == job_.mapStatus;
    if (status_ == kOk || mapFailed_) {
      if (std::rename(PartPath().c_str(), imagePath_.c_str()) != 0) {
        status_ = LastSystemStatus();
        mapFailed_ = false;
      }
    }
    if (status_ != kOk && !mapFailed_) {
      std::remove(PartPath().c_str());
      std::remove(MapPath().c_str());
    }
  });
}

void CreateImageProcessWnd::DrawProgress(const ScanProgress& p) {
  const ProgressTexts t = TextsFor(p.percent, p.secondsLeft, p.done, p.total);
  SetValue(QStringLiteral("progress"), t.value);
  SetText(QStringLiteral("percent"), t.percent);
  SetText(QStringLiteral("time"), t.time);
  SetText(QStringLiteral("sectors"), t.sectors);
  SetVisible(QStringLiteral("sectors"), true);
}

void CreateImageProcessWnd::WorkerEnded() {
  if (status_ == kStopRequested) Close(kCancelled);
  else if (status_ != kOk && !mapFailed_) Close(kFailed);
  else Close(kDone);
}

}  // namespace dunmere::gui
