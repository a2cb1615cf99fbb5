#include "app/gui/scan_process_wnd.h"

#include <algorithm>
#include <filesystem>

#include "app/core/results/text_formats.h"
#include "app/core/language/usage_marker.h"
#include "app/gui/apply_section.h"
#include "app/gui/disk_rows.h"
#include "app/gui/message_box.h"
#include "platform/data_folder.h"
#include "platform/this_process.h"

namespace dunmere::gui {

ScanProcessWnd::ScanProcessWnd()
    : ProgressWnd(QStringLiteral("ScanProcessWnd.xml"), QStringLiteral("ScanWnd"), "MSG0709") {
  app::EnsureUsageMarker(DataFolderPath());
}

ScanProcessWnd::~ScanProcessWnd() { StopWorker(); }

void ScanProcessWnd::SetSources(std::vector<ScanSourceItem*> sources, int deep) {
  sources_ = std::move(sources);
  deep_ = deep;
}

QString ScanProcessWnd::StageText(const ScanSourceItem& item) {
  if (item.IsPartition() || item.volume) return FillFormat(MessageText(LocationMessageId(item, false)), LocationName(item));
  std::string name = std::filesystem::path(item.imagePath).filename().string();
  // A part of a whole-disk image, as the list names it.
  if (item.volume) name = DiskRows::ImagePartName(item.imagePath, *item.volume).toStdString();
  return MessageText("MSG0703") + u' ' + QString::fromStdString(name);
}

ScanProcessWnd::ProgressTexts ScanProcessWnd::TextsFor(const ScanProgress& p) {
  ProgressTexts t;
  t.time = p.secondsLeft < 0 ? MessageText("MSG0705")
                             : MessageText("MSG0708") + QString::fromStdString(FormatDuration(p.secondsLeft));
  t.value = std::clamp(p.percent * p.share / 100, 0, 100);
  t.percent = QStringLiteral("%1 %2%").arg(MessageText("MSG0704")).arg(t.value);
  // A deep scan says which of its stages runs: the bar's last tenth is the
  // building of folders, which reads little and may take a while.
  if (p.stage == kStageReadingSectors || p.stage == kStageReadingFreeSectors)
    t.percent += QStringLiteral(" \u2013 ") + MessageText("MSG0720");
  else if (p.stage == kStageBuildingFolders)
    t.percent += QStringLiteral(" \u2013 ") + MessageText("MSG0721");
  t.showCounts = p.total != 0;
  if (t.showCounts) {
    // A pass over free space counts free sectors, not the volume's.
    const char* label = p.stage == kStageReadingFreeSectors ? "MSG0724" : "MSG0706";
    t.sectors = QStringLiteral("%1 %2 / %3").arg(MessageText(label)).arg(p.done).arg(p.total);
    t.totalFiles = QStringLiteral("%1 %2").arg(MessageText("MSG0707")).arg(p.found);
  }
  return t;
}

void ScanProcessWnd::OnWindowInit() {
  SetRange(QStringLiteral("progress"), 0, 100);
  SetValue(QStringLiteral("progress"), 0);
  SetVisible(QStringLiteral("sectors"), false);
  SetVisible(QStringLiteral("totalfile"), false);
  StartWorker([this] {
    ScanJobHooks hooks;
    hooks.stage = [this](size_t i) { PostStage(StageText(*sources_[i])); };
    hooks.askResume = [this](size_t, bool ended) { return AskResume(ended); };
    hooks.askOtherMedium = [this](size_t) {
      return AskFromWorker("MSG0723", MessageBoxWnd::kCancel, {}, {450, 170}) == MessageBoxWnd::kOk;
    };
    hooks.openEngine = opener_;
    result_ = RunScanJob(sources_, deep_ == 1, Link(), hooks);
  });
}

MessageBoxWnd::Choice ScanProcessWnd::ResumeChoice(bool ended) {
  MessageBoxWnd::Choice c;
  // Taking the earlier scan up loses nothing, so Enter may give it; leaving
  // the question (Escape, closing it) scans nothing and deletes nothing.
  c.defaultAnswer = MessageBoxWnd::kOk;
  c.safeAnswer = MessageBoxWnd::kCancel;
  c.ok = MessageText(ended ? "MSG1210" : "MSG1209");
  c.other = MessageText("MSG1211");
  c.cancel = MessageText("MSG1212");
  return c;
}

ResumeAnswer ScanProcessWnd::AskResume(bool ended) {
  const int answer = AskFromWorker(ResumeQuestionId(ended), MessageBoxWnd::kCancel, ResumeChoice(ended), {450, 170});
  if (answer == MessageBoxWnd::kOk) return ResumeAnswer::kTakeUp;
  if (answer == MessageBoxWnd::kOther) return ResumeAnswer::kAfresh;
  return ResumeAnswer::kNotNow;
}

void ScanProcessWnd::DrawProgress(const ScanProgress& p) {
  const ProgressTexts t = TextsFor(p);
  SetValue(QStringLiteral("progress"), t.value);
  SetText(QStringLiteral("time"), t.time);
  SetText(QStringLiteral("percent"), t.percent);
  if (t.showCounts) {
    SetText(QStringLiteral("sectors"), t.sectors);
    SetText(QStringLiteral("totalfile"), t.totalFiles);
  }
  SetVisible(QStringLiteral("sectors"), t.showCounts);
  SetVisible(QStringLiteral("totalfile"), t.showCounts);
}

QString ScanProcessWnd::NoRightsText(const std::string& path, bool administrator) {
  return FillFormat(MessageText(administrator ? "MSG0722" : "MSG0710"), QString::fromStdString(path));
}

void ScanProcessWnd::WorkerEnded() {
  if (result_.end == ScanJobResult::End::kNoEngine) {
    if (result_.needsRights) {
      // A bare "could not be opened" leaves the user stuck: say what helps.
      hide();
      const std::string path = SourceOfItem(*sources_[result_.failedIndex]).path;
      MessageBoxWnd::Show(MessageBoxWnd::kError, Owner(), NoRightsText(path, CurrentUserId() == 0), 450, 180);
      failureShown_ = true;
    }
    Close(kFailed);
    return;
  }
  if (result_.end == ScanJobResult::End::kNotNow || StoppingForExit()) {
    // Nothing was scanned, or the program is closing: no results to search or show.
    Close(kCancelled);
    return;
  }
  if (result_.unreadableSectors) {
    // The results are not the whole medium: say so before they are shown.
    hide();
    MessageBoxWnd::Show(MessageBoxWnd::kWarning, Owner(),
                      FillFormat(MessageText("MSG0711"), QString::number(qulonglong(result_.unreadableSectors))), 450,
                      180);
  }
  ui::PostMessageTo(Owner(), kScanFinished);
  Close(kDone);
}

}  // namespace dunmere::gui
