#include "app/gui/search_process_wnd.h"

#include <algorithm>
#include <filesystem>

#include "app/core/sessions/scan_job.h"
#include "app/gui/apply_section.h"
#include "app/gui/disk_rows.h"

namespace dunmere::gui {

SearchProcessWnd::SearchProcessWnd()
    : ProgressWnd(QStringLiteral("SearchProcessWnd.xml"), QStringLiteral("SearchProcessWnd"), "MSG1205") {}

SearchProcessWnd::~SearchProcessWnd() { StopWorker(); }

void SearchProcessWnd::SetSearch(std::vector<ScanSourceItem*> sources, std::string filter,
                                  std::vector<FoundItemRecord>* results) {
  sources_ = std::move(sources);
  filter_ = std::move(filter);
  results_ = results;
}

QString SearchProcessWnd::StageText(const ScanSourceItem& item) {
  if (item.IsPartition()) return FillFormat(MessageText(LocationMessageId(item, true)), LocationName(item));
  std::string name = std::filesystem::path(item.imagePath).filename().string();
  // A part of a whole-disk image, as the list names it.
  if (item.volume) name = DiskRows::ImagePartName(item.imagePath, *item.volume).toStdString();
  return FillFormat(MessageText("MSG1203"), QString::fromStdString(name));
}

void SearchProcessWnd::OnWindowInit() {
  SetRange(QStringLiteral("progress"), 0, 100);
  SetValue(QStringLiteral("progress"), 0);
  StartWorker([this] {
    // Without a list to fill there is nothing to do; the window still closes.
    if (!results_) {
      missingEngine_ = true;
      return;
    }
    SearchJobResult r = RunSearchJob(sources_, filter_, *results_, Link(),
                                     [this](size_t i) { PostStage(StageText(*sources_[i])); });
    stopped_ = r.stopped;
    missingEngine_ = r.missingEngine;
  });
}

void SearchProcessWnd::DrawProgress(const ScanProgress& p) {
  const int percent = std::clamp(p.percent, 0, 100);
  SetText(QStringLiteral("percent"), QStringLiteral("%1 %2%").arg(MessageText("MSG1204")).arg(percent));
  SetValue(QStringLiteral("progress"), percent);
}

void SearchProcessWnd::WorkerEnded() {
  // A source without an engine, or nothing to search: closed without a message.
  // The program is closing: nothing is to be shown.
  if (missingEngine_ || sources_.empty() || StoppingForExit()) {
    Close(kDone);
    return;
  }
  ui::PostMessageTo(Owner(), kSearchFinished);
  Close(stopped_ && CancelConfirmed() ? kCancelled : kDone);
}

}  // namespace dunmere::gui
