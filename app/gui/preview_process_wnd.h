#pragma once
// The small progress window that reads one found file for a preview: its
// worker has the file's engine copy the content to a temporary file or into
// memory. Modal result: 1 read, 2 cancelled (after the question), 3 failed.
#include "app/core/preview/preview_content.h"
#include "app/gui/progress_wnd.h"

namespace dunmere::gui {

class PreviewProcessWnd : public ProgressWnd {
  Q_OBJECT
 public:
  // `out` receives the content; it must outlive the window.
  PreviewProcessWnd(ScanEngine& engine, const FoundItemRecord& record, PreviewContent& out);
  ~PreviewProcessWnd() override;  // joins the worker
  QString ClassName() const override { return QStringLiteral("UIPreviewProcessWnd"); }

  Status ReadStatus() const { return status_; }
  // "Progress 42%".
  static QString PercentText(int percent);

 protected:
  void OnWindowInit() override;
  void DrawProgress(const ScanProgress& p) override;
  void WorkerEnded() override;

 private:
  static int OnProgress(void* user, int percent, Status error);

  ScanEngine& engine_;
  FoundItemRecord record_;
  PreviewContent& out_;
  Status status_ = kOk;
};

}  // namespace dunmere::gui
