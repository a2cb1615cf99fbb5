// Stand-ins for the result views, which are built apart; this file goes when
// they arrive.
#include "app/gui/result_view.h"

namespace dunmere::gui {

class ResultViewState {
 public:
  std::vector<FoundItemRecord> results;
  CResultView::CheckedSet checked;
};

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
