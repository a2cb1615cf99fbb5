#include "app/gui/recover_process_wnd.h"

#include <QBoxLayout>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QUrl>
#include <algorithm>
#include <chrono>

#include "platform/device_identity.h"
#include "app/core/recover/recovery_paths.h"
#include "app/core/sessions/scan_job.h"
#include "app/core/results/file_categories.h"
#include "app/core/results/result_groups.h"
#include "app/core/results/text_formats.h"
#include "scan/file_systems.h"
#include "app/gui/apply_section.h"
#include "app/gui/message_box.h"
#include "ui/list_ui.h"

namespace dunmere::gui {

std::vector<RecoverJob> JobsForChecked(const std::vector<const FoundItemRecord*>& checked,
                                       const std::vector<ScanSourceItem*>& sources, Layout layout) {
  std::vector<RecoverJob> jobs;
  jobs.reserve(checked.size());
  for (const FoundItemRecord* checkedRecord : checked) {
    const FoundItemRecord& record = *checkedRecord;
    RecoverJob job;
    for (ScanSourceItem* s : sources)
      if (s && s->engine && s->tag == record.sourceTag) {
        job.engine = s->engine.get();
        break;
      }
    job.entry.record = record;
    // A folder's depth lets its tree be listed at the children's real level.
    if (job.engine && record.isFolder) {
      if (job.engine->GetFolderPath(&record, job.entry.folderPath) == kOk)
        job.entry.level = FolderDepth(job.entry.folderPath);
    } else if (layout == Layout::kTree) {
      const bool hasFolder = job.engine && KindHasFolders(record.sourceKind) &&
                             job.engine->GetFolderPath(&record, job.entry.folderPath) == kOk;
      if (!hasFolder) job.entry.folderPath = CategoryOfName(RecordNameView(record)) + "/";
      job.entry.level = FolderDepth(job.entry.folderPath);
    }
    jobs.push_back(std::move(job));
  }
  return jobs;
}

namespace {

QString AskForFolder(QWidget* owner) {
  QFileDialog dialog(owner, MessageText("MSG1305"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  // Qt's own dialog shows a filter line even for folders: in the language too.
  dialog.setNameFilter(MessageText("MSG1302"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

}  // namespace

std::string ChooseRecoveryFolder(QWidget* owner, const FolderChooser& chooser) {
  const QString chosen = chooser ? chooser(owner) : AskForFolder(owner);
  if (chosen.isEmpty()) return {};
  return StripTrailingSeparator(chosen.toStdString());
}

bool ConfirmDestination(QWidget* owner, const std::string& destination, const std::vector<ScanSourceItem*>& sources) {
  // The same device, not the same name: a folder reached through another
  // mount of the scanned partition, or on a file system inside a loop-mounted
  // copy of the scanned image, counts; a different disk never does.
  for (ScanSourceItem* item : sources) {
    if (!item || !item->engine) continue;
    if (!DestinationOnSource(destination, SourceOfItem(*item).path)) continue;
    // A warning: going on may destroy what is being recovered, so it looks
    // like one and Enter (or Escape, or closing it) gives up.
    MessageBoxWnd::Choice c;
    c.icon = QStringLiteral("warning.png");
    c.titleId = "MSG0405";
    c.safeAnswer = c.defaultAnswer = MessageBoxWnd::kCancel;
    return MessageBoxWnd::Ask(MessageBoxWnd::kConfirm, owner, MessageText("MSG0805"), 450, 160, c) ==
           MessageBoxWnd::kOk;
  }
  return true;
}

bool CheckDestinationWritable(QWidget* owner, const std::string& destination) {
  std::string why;
  if (CanWriteInto(destination, why)) return true;
  // Refused before any file is tried: a read-only folder would otherwise fail
  // every file of the list one by one.
  QString text = FillFormat(MessageText("MSG0806"), QString::fromStdString(destination));
  text = FillFormat(text, QString::fromStdString(why));
  MessageBoxWnd::Show(MessageBoxWnd::kError, owner, text, 450, 170);
  return false;
}

// ---- the window ----

RecoverProcessWnd::RecoverProcessWnd(std::vector<RecoverJob> jobs, std::string destination, Mode mode, Layout layout)
    : ProgressWnd(QStringLiteral("RecoverProcessWnd.xml"), QStringLiteral("RecoverProcessWnd"), "MSG1103"),
      jobs_(std::move(jobs)),
      destination_(StripTrailingSeparator(std::move(destination))),
      mode_(mode),
      layout_(layout) {
  total_ = uint32_t(jobs_.size());
}

RecoverProcessWnd::~RecoverProcessWnd() { StopWorker(); }

QString RecoverProcessWnd::StatusText(Status s) {
  if (s == kOk) return MessageText("MSG1105");
  if (s == kStopRequested) return MessageText("MSG1106");
  return QString::fromStdString(StatusMessage(s));
}

QString RecoverProcessWnd::OutcomeText(const RecoverOutcome& o) {
  return o.status == kOk && o.partial ? MessageText("MSG1370") : StatusText(o.status);
}

void RecoverProcessWnd::OnWindowInit() {
  layoutSize_ = size();
  SetRange(QStringLiteral("progress"), 0, 100);
  SetValue(QStringLiteral("progress"), 0);
  SetVisible(QStringLiteral("FinishBtn"), false);
  SetVisible(QStringLiteral("DetailList"), false);
  // A long path must not widen the window: the label is elided instead.
  if (auto* current = Find<QLabel>(QStringLiteral("current")))
    current->setSizePolicy(QSizePolicy::Ignored, current->sizePolicy().verticalPolicy());
  SetText(QStringLiteral("percent"), QStringLiteral("%1 0%").arg(MessageText("MSG1101")));
  ShowCounts();
  StartWorker([this] { Work(); });
}

void RecoverProcessWnd::Work() {
  uint64_t totalBytes = 0;
  for (const RecoverJob& j : jobs_)
    if (!j.entry.IsFolder()) totalBytes += j.entry.record.size;
  const auto started = std::chrono::steady_clock::now();
  uint64_t bytesBefore = 0;  // of the earlier engines' runs
  auto stop = [this] { return Link().Cancelled(); };
  auto observe = [this](const RecoverOutcome& o) { Outcome(o); };
  auto progress = [&](const RecoverProgress& p) {
    {
      std::lock_guard lock(mutex_);
      currentPath_ = p.path;
    }
    ScanProgress sp;
    sp.percent = p.percent;
    sp.done = bytesBefore + p.bytesDone;
    sp.total = totalBytes;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Too early a guess swings wildly; after a second the rate is telling.
    if (seconds >= 1.0 && sp.done > 0 && sp.total >= sp.done)
      sp.secondsLeft = int64_t(seconds * double(sp.total - sp.done) / double(sp.done) + 0.5);
    (void)Link().Report(sp);  // waits while the cancel question is open; stop() reads the answer
  };
  // Runs of items found by the same engine go to it together.
  size_t i = 0;
  while (i < jobs_.size() && !Link().Cancelled()) {
    ScanEngine* engine = jobs_[i].engine;
    size_t end = i;
    std::vector<FoundEntry> run;
    uint64_t runBytes = 0;
    while (end < jobs_.size() && jobs_[end].engine == engine) {
      run.push_back(jobs_[end].entry);
      if (!jobs_[end].entry.IsFolder()) runBytes += jobs_[end].entry.record.size;
      ++end;
    }
    if (!engine) {
      // Its source was dropped (a device unplugged) since the scan.
      for (const FoundEntry& e : run)
        Outcome({layout_ == Layout::kTree ? TreeDestination(destination_, e.folderPath, e.Name())
                                          : CategoryDestination(destination_, e.Name()),
                 kNotReady});
    } else {
      const RecoverSummary s = RecoverFound(*engine, run, destination_, layout_, stop, observe, progress);
      if (s.stopped) break;
    }
    bytesBefore += runBytes;
    i = end;
  }
  Link().Flush();
}

void RecoverProcessWnd::Outcome(const RecoverOutcome& o) {
  std::lock_guard lock(mutex_);
  outcomes_.push_back(o);
  // One posting at a time: a run of small files is drawn in batches.
  if (outcomesPosted_) return;
  outcomesPosted_ = true;
  QMetaObject::invokeMethod(this, [this] { TakeOutcomes(); }, Qt::QueuedConnection);
}

void RecoverProcessWnd::TakeOutcomes() {
  std::vector<RecoverOutcome> taken;
  {
    std::lock_guard lock(mutex_);
    taken.swap(outcomes_);
    outcomesPosted_ = false;
  }
  auto* list = Find<ui::ListBox>(QStringLiteral("DetailList"));
  for (const RecoverOutcome& o : taken) {
    const bool stopped = o.status == kStopRequested;
    if (!stopped) {
      ++processed_;
      if (o.status != kOk) ++failed_;
    }
    if (!list) continue;
    ui::ListRow row;
    row.cells = {QString::fromStdString(o.path), OutcomeText(o)};
    if (o.status == kOk && !o.partial) {
      list->AddRow(std::move(row));
    } else if (o.status == kOk) {
      // Written, but maybe not whole: shown before the files that are.
      list->InsertRow(0, std::move(row));
    } else {
      // What went wrong is what the user looks for first.
      row.color = kFailedColor;
      list->InsertRow(0, std::move(row));
    }
  }
  total_ = std::max(total_, processed_);  // a folder's files count one by one
  if (!taken.empty()) ShowCounts();
}

void RecoverProcessWnd::ShowCounts() {
  QString text = MessageText("MSG1102");
  for (uint32_t v : {processed_, total_, processed_ - failed_, failed_}) text = FillFormat(text, QString::number(v));
  SetText(QStringLiteral("recovered"), text);
}

void RecoverProcessWnd::DrawProgress(const ScanProgress& p) {
  std::string path;
  {
    std::lock_guard lock(mutex_);
    path = currentPath_;
  }
  const int value = std::clamp(p.percent, 0, 100);
  SetValue(QStringLiteral("progress"), value);
  if (auto* current = Find<QLabel>(QStringLiteral("current"))) {
    const int width = std::max(100, current->width());
    current->setText(current->fontMetrics().elidedText(QString::fromStdString(path), Qt::ElideMiddle, width));
    current->setToolTip(QString::fromStdString(path));
  }
  QString percent = QStringLiteral("%1 %2%").arg(MessageText("MSG1101")).arg(value);
  if (p.secondsLeft >= 0)
    percent += QStringLiteral("    ") + MessageText("MSG0708") + QString::fromStdString(FormatDuration(p.secondsLeft));
  SetText(QStringLiteral("percent"), percent);
}

void RecoverProcessWnd::WorkerEnded() {
  TakeOutcomes();
  if (CancelConfirmed()) {
    Close(kCancelled);
    return;
  }
  finished_ = true;
  SetText(QStringLiteral("percent"), QStringLiteral("%1 100%").arg(MessageText("MSG1101")));
  SetValue(QStringLiteral("progress"), 100);
  SetVisible(QStringLiteral("FinishBtn"), true);
  SetVisible(QStringLiteral("CancelBtn"), false);
}

bool RecoverProcessWnd::OnClick(const ui::Notification& n) {
  const QString& name = n.senderName;
  if (name == u"OpenBtn") {
    const QString folder = QString::fromStdString(destination_);
    const bool opened = openFolder_ ? openFolder_(folder) : QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    // No file manager (a server, a bare desktop, root): say where the files are.
    if (!opened)
      MessageBoxWnd::Show(MessageBoxWnd::kInformation, this, FillFormat(MessageText("MSG1107"), folder), 420, 170);
    return true;
  }
  if (name == u"DetailBtn") {
    ToggleDetails();
    return true;
  }
  if (name == u"FinishBtn") {
    Close(kDone);
    return true;
  }
  if (name == u"CancelBtn" || name == u"closebtn") {
    if (finished_) {
      Close(kDone);
      return true;
    }
    // The question and the worker's hold are the common progress window's.
    return ProgressWnd::OnClick({n.type, QStringLiteral("closebtn")});
  }
  return ProgressWnd::OnClick(n);
}

void RecoverProcessWnd::ToggleDetails() {
  detailsShown_ = !detailsShown_;
  SetVisible(QStringLiteral("DetailList"), detailsShown_);
  // The list takes the room the window grows by, not the spacer below it.
  if (QWidget* list = FindControl(QStringLiteral("DetailList")))
    if (auto* box = list->parentWidget() ? qobject_cast<QBoxLayout*>(list->parentWidget()->layout()) : nullptr)
      box->setStretchFactor(list, detailsShown_ ? 1 : 0);
  if (detailsShown_) resize(layoutSize_.width() + kDetailExtraWidth, layoutSize_.height() + kDetailExtraHeight);
  else resize(layoutSize_);
  CenterWindow();
}

// ---- the flow ----

namespace {

int RunWindow(QWidget* owner, std::vector<RecoverJob> jobs, const std::string& destination,
              RecoverProcessWnd::Mode mode, Layout layout = Layout::kCategory) {
  RecoverProcessWnd wnd(std::move(jobs), destination, mode, layout);
  const int height =
      mode == RecoverProcessWnd::Mode::kList ? RecoverProcessWnd::kListHeight : RecoverProcessWnd::kSingleHeight;
  wnd.CreatePopup(owner, RecoverProcessWnd::kListWidth, height);
  return wnd.RunModal();
}

}  // namespace

int StartRecovery(QWidget* owner, const std::vector<ScanSourceItem*>& sources,
                  const std::vector<const FoundItemRecord*>& checked,
                  const FolderChooser& chooser, std::string* destination, Layout layout) {
  if (checked.empty()) return 0;
  const std::string dest = ChooseRecoveryFolder(owner, chooser);
  if (dest.empty()) return 0;
  if (destination) *destination = dest;
  if (!CheckDestinationWritable(owner, dest)) return 0;
  if (!ConfirmDestination(owner, dest, sources)) return 0;
  return RunWindow(owner, JobsForChecked(checked, sources, layout), dest, RecoverProcessWnd::Mode::kList, layout);
}

int StartSingleRecovery(QWidget* owner, const std::vector<ScanSourceItem*>& sources, const FoundItemRecord& record,
                        const FolderChooser& chooser, std::string* destination) {
  const std::string dest = ChooseRecoveryFolder(owner, chooser);
  if (dest.empty()) return 0;
  if (destination) *destination = dest;
  if (!CheckDestinationWritable(owner, dest)) return 0;
  if (!ConfirmDestination(owner, dest, sources)) return 0;
  return RunWindow(owner, JobsForChecked({&record}, sources), dest, RecoverProcessWnd::Mode::kSingle);
}

}  // namespace dunmere::gui
