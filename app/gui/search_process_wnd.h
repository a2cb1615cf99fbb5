#pragma once
// The type search window: one worker asks each scanned source's engine for
// the files matching the filter, appends them to the result list and posts
// 1026 to its owner. Modal result: 1 done, 2 closed after a confirmed cancel.
#include <string>
#include <vector>

#include "app/core/sessions/scan_source_item.h"
#include "app/gui/progress_wnd.h"
#include "engine/found_item.h"

namespace dunmere::gui {

class SearchProcessWnd : public ProgressWnd {
  Q_OBJECT
 public:
  static constexpr int kSearchFinished = 1026;

  SearchProcessWnd();
  ~SearchProcessWnd() override;  // joins the worker
  QString ClassName() const override { return QStringLiteral("UISearchProcessWnd"); }

  // filter: the pattern text the main window builds from the chosen types.
  // results: filled by the worker; read it only after the window has closed.
  void SetSearch(std::vector<ScanSourceItem*> sources, std::string filter, std::vector<FoundItemRecord>* results);

  // "Searching partition 3 ...", "Searching image file disk.img ...".
  static QString StageText(const ScanSourceItem& item);

 protected:
  const char* ExitQuestionId() const override { return "MSG0713"; }
  void OnWindowInit() override;
  void DrawProgress(const ScanProgress& p) override;
  void WorkerEnded() override;

 private:
  std::vector<ScanSourceItem*> sources_;
  std::string filter_;
  std::vector<FoundItemRecord>* results_ = nullptr;
  bool stopped_ = false, missingEngine_ = false;
};

}  // namespace dunmere::gui
