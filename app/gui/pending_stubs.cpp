// Stand-ins for the scan and search windows and the result views, which are
// built apart; this file goes when they arrive. The windows end at once as
// if nothing was found, so the main window's flow can run end to end.
#include <QTimer>

#include "app/gui/result_view.h"
#include "app/gui/scan_process_wnd.h"
#include "app/gui/search_process_wnd.h"

namespace dunmere::gui {

class ResultViewState {
 public:
  std::vector<FoundItemRecord> results;
  CResultView::CheckedSet checked;
};

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

CResultView::CResultView(ui::WindowImplBase& mainWindow) : wnd_(mainWindow), state_(std::make_unique<ResultViewState>()) {}
CResultView::~CResultView() = default;
void CResultView::ShowResults(std::vector<FoundItemRecord> results, const std::map<std::string, std::string>&) {
  state_->results = std::move(results);
}
void CResultView::Clear() {
  state_->results.clear();
  state_->checked.clear();
}
bool CResultView::HandleNotify(const ui::Notification&) { return false; }
const CResultView::CheckedSet& CResultView::Checked() const { return state_->checked; }
const std::vector<FoundItemRecord>& CResultView::Results() const { return state_->results; }
void CResultView::SetPreviewHandler(std::function<void(const FoundItemRecord&)> handler) {
  preview_ = std::move(handler);
}

}  // namespace dunmere::gui
