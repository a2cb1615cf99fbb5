#pragma once
// Copy-out: the folder choice, the question when the destination lies on a
// medium being read, and the modal progress window whose worker hands each
// checked file (or folder, with its tree) to the engine that found it. Files
// go to <destination>/<category>/<name>, or with the folder layout to
// <destination>/<their folders>/<name>, never over anything already there.
// The window lists every file's outcome (failures in red at the top), and
// asks before cancelling; a file cut short by the cancel is removed.
#include <QColor>
#include <QSize>
#include <QString>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/core/recover/checked_set.h"
#include "app/core/sessions/scan_session.h"
#include "app/core/sessions/scan_source_item.h"
#include "app/gui/progress_wnd.h"

class QWidget;

namespace dunmere::gui {

// One item to copy out with the engine that found it (null: its source has
// gone, the item fails).
struct RecoverJob {
  ScanEngine* engine = nullptr;
  FoundEntry entry;
};

// The checked records in the order of the checked set, each with the engine
// of the source whose tag it carries. The records are taken where they are
// (the results page's list): no map of copies is made beside the jobs. With
// the folder layout every file carries its folder path; a file its engine
// knows no folder for goes to its category subfolder, as it would otherwise.
std::vector<RecoverJob> JobsForChecked(const std::vector<const FoundItemRecord*>& checked,
                                       const std::vector<ScanSourceItem*>& sources,
                                       Layout layout = Layout::kCategory);

using FolderChooser = std::function<QString(QWidget* owner)>;
// The folder dialog (titled by MSG1305), or the chooser given
// instead (tests). Empty when the user cancelled; one trailing '/' removed.
std::string ChooseRecoveryFolder(QWidget* owner, const FolderChooser& chooser = {});

// True when copy-out may write to `destination`: it lies on none of the
// scanned media, or the user said yes to "MSG0805" for the first that holds it.
bool ConfirmDestination(QWidget* owner, const std::string& destination, const std::vector<ScanSourceItem*>& sources);
// False (after saying why) when no file can be made in the destination.
bool CheckDestinationWritable(QWidget* owner, const std::string& destination);

class RecoverProcessWnd : public ProgressWnd {
  Q_OBJECT
 public:
  enum class Mode { kList, kSingle };
  static constexpr int kListWidth = 500, kListHeight = 240, kSingleHeight = 200;
  static constexpr int kDetailExtraWidth = 150, kDetailExtraHeight = 300;
  static constexpr QRgb kFailedColor = 0xFFFF0000;

  RecoverProcessWnd(std::vector<RecoverJob> jobs, std::string destination, Mode mode,
                    Layout layout = Layout::kCategory);
  ~RecoverProcessWnd() override;  // joins the worker
  QString ClassName() const override { return QStringLiteral("UIRecoverProcessWnd"); }

  // What "OpenBtn" does with the destination; QDesktopServices by default.
  // Opens the destination in a file manager; false when none could be started.
  void SetFolderOpener(std::function<bool(const QString&)> open) { openFolder_ = std::move(open); }

  uint32_t Processed() const { return processed_; }
  uint32_t Failed() const { return failed_; }
  uint32_t Total() const { return total_; }
  bool Finished() const { return finished_; }
  bool DetailsShown() const { return detailsShown_; }
  const std::string& Destination() const { return destination_; }

  // "Success", or the status's text ("Stopped" for a file cut short).
  static QString StatusText(Status s);
  // The same for one file: "Partial" for one written whole as found whose
  // own structure does not close.
  static QString OutcomeText(const RecoverOutcome& o);

 protected:
  const char* ExitQuestionId() const override { return "MSG1104"; }
  void OnWindowInit() override;
  void DrawProgress(const ScanProgress& p) override;
  void WorkerEnded() override;
  bool OnClick(const ui::Notification& n) override;

 private:
  void Work();
  void Outcome(const RecoverOutcome& o);  // worker thread
  void TakeOutcomes();                    // UI thread
  void ToggleDetails();
  void ShowCounts();

  std::vector<RecoverJob> jobs_;
  const std::string destination_;
  const Mode mode_;
  const Layout layout_;
  std::function<bool(const QString&)> openFolder_;

  // Shared with the worker.
  std::mutex mutex_;
  std::vector<RecoverOutcome> outcomes_;
  bool outcomesPosted_ = false;
  std::string currentPath_;

  // UI thread only.
  uint32_t processed_ = 0, failed_ = 0, total_ = 0;
  bool finished_ = false;
  bool detailsShown_ = false;
  QSize layoutSize_;
};

// The whole flow behind "BtnRecover": nothing when nothing is checked, else
// the folder, the destination check and the window. Returns the window's
// result (0 when it was not shown). `destination` receives the chosen folder.
int StartRecovery(QWidget* owner, const std::vector<ScanSourceItem*>& sources,
                  const std::vector<const FoundItemRecord*>& checked, const FolderChooser& chooser,
                  std::string* destination = nullptr, Layout layout = Layout::kCategory);
// One record (the preview window), the window 500 x 200.
int StartSingleRecovery(QWidget* owner, const std::vector<ScanSourceItem*>& sources, const FoundItemRecord& record,
                        const FolderChooser& chooser, std::string* destination = nullptr);

}  // namespace dunmere::gui
