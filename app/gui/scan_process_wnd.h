#pragma once
// The scan progress window: one worker thread scans each chosen source in
// turn (the engine comes from the factory and is kept in the source item),
// shows progress with time left, asks before cancelling and posts 1025 to its
// owner when the worker ends. Modal result: 1 done or cancelled after the
// question, 2 when the user chose not to scan after all (an earlier deep scan
// was offered), 3 when no engine could be made for a source.
#include <vector>

#include "app/core/sessions/scan_job.h"
#include "app/core/sessions/scan_source_item.h"
#include "app/gui/progress_wnd.h"

namespace dunmere::gui {

class ScanProcessWnd : public ProgressWnd {
  Q_OBJECT
 public:
  static constexpr int kScanFinished = 1025;

  ScanProcessWnd();
  ~ScanProcessWnd() override;  // joins the worker
  QString ClassName() const override { return QStringLiteral("UIScanProcessWnd"); }

  // Sources in the order of the disk list; deep = 1 for a deep scan.
  void SetSources(std::vector<ScanSourceItem*> sources, int deep);
  // Makes the engines instead of the factory (tests).
  void SetEngineOpener(EngineOpener opener) { opener_ = std::move(opener); }

  // How the worker ended; valid once the window has closed.
  const ScanJobResult& JobResult() const { return result_; }
  // Result 3 after the window told the user itself why (no rights to read the
  // device), so the caller need not show its own message too.
  bool FailureShown() const { return failureShown_; }

  // "Scanning partition 3 ...", "Scanning image file disk.img".
  static QString StageText(const ScanSourceItem& item);
  // The texts of one progress report: "time", "percent", "sectors", "totalfile"
  // and the bar's value.
  struct ProgressTexts {
    QString time, percent, sectors, totalFiles;
    int value = 0;
    bool showCounts = false;
  };
  static ProgressTexts TextsFor(const ScanProgress& p);
  // Why `path` cannot be read: as an ordinary user, how to start with the
  // rights to read disks; as the administrator, that the system itself
  // forbids it (a container, a security policy), which a restart won't mend.
  static QString NoRightsText(const std::string& path, bool administrator);

  // The question about an earlier deep scan of a source: one that was stopped
  // may be resumed, one that ended may have its results listed again; either
  // may be replaced by a fresh scan, or the user may scan nothing now.
  static const char* ResumeQuestionId(bool ended) { return ended ? "MSG1208" : "MSG1206"; }
  static MessageBoxWnd::Choice ResumeChoice(bool ended);

 protected:
  const char* ExitQuestionId() const override { return "MSG0713"; }
  void OnWindowInit() override;
  void DrawProgress(const ScanProgress& p) override;
  void WorkerEnded() override;

 private:
  ResumeAnswer AskResume(bool ended);
  std::vector<ScanSourceItem*> sources_;
  int deep_ = 0;
  EngineOpener opener_;
  ScanJobResult result_;
  bool failureShown_ = false;
};

}  // namespace dunmere::gui
