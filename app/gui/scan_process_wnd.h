#pragma once
// The scan progress window: one worker thread scans each chosen source in
// turn (the engine comes from the factory and is kept in the source item),
// shows progress with time left, asks before cancelling and posts 1025 to its
// owner when the worker ends. Modal result: 1 done or cancelled after the
// question, 3 when no engine could be made for a source.
#include <vector>

#include "app/core/scan_source_item.h"
#include "app/gui/popup_wnd.h"

namespace dunmere::gui {

class CScanProcessWnd : public CPopUpWnd {
  Q_OBJECT
 public:
  CScanProcessWnd();
  ~CScanProcessWnd() override;  // joins the worker
  QString ClassName() const override { return QStringLiteral("UIScanProcessWnd"); }

  // Sources in the order of the disk list; deep = 1 for a deep scan.
  void SetSources(std::vector<ScanSourceItem*> sources, int deep);
};

}  // namespace dunmere::gui
