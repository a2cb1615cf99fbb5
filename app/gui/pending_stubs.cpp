// Stand-ins for the scan and search windows, which are built apart; this file
// goes when they arrive. The windows end at once as if nothing was found, so
// the main window's flow can run end to end.
#include <QTimer>

#include "app/gui/scan_process_wnd.h"
#include "app/gui/search_process_wnd.h"

namespace dunmere::gui {

CScanProcessWnd::CScanProcessWnd() : CPopUpWnd(QStringLiteral("ScanProcessWnd.xml"), QStringLiteral("ScanWnd")) {}
CScanProcessWnd::~CScanProcessWnd() = default;
void CScanProcessWnd::SetSources(std::vector<ScanSourceItem*>, int) {
  QTimer::singleShot(0, this, [this] {
    if (Owner()) ui::PostMessageTo(Owner(), 1025);
    Close(kDone);
  });
}

CSearchProcessWnd::CSearchProcessWnd()
    : CPopUpWnd(QStringLiteral("SearchProcessWnd.xml"), QStringLiteral("SearchProcessWnd")) {}
CSearchProcessWnd::~CSearchProcessWnd() = default;
void CSearchProcessWnd::SetSearch(std::vector<ScanSourceItem*>, std::string, std::vector<FoundItemRecord>*) {
  QTimer::singleShot(0, this, [this] {
    if (Owner()) ui::PostMessageTo(Owner(), 1026);
    Close(kDone);
  });
}

}  // namespace dunmere::gui
