#include "app/gui/disk_rows.h"
#include "app/gui/main_wnd.h"
#include "ui/disk_list.h"

// The main window following disks and cards as they come and go: events are
// gathered until they settle, then the location rows are brought up to date.
namespace dunmere::gui {

void MainWnd::OnDeviceEvent(int kind) {
  // Each event restarts its timer: a burst is handled once, after it settled.
  // A change (media in a card reader) may add a disk or take one away.
  if (kind == 1 || kind == 3) SetTimer(QStringLiteral("PartitionListBar"), 0, options_.deviceSettleMs);
  if (kind == 2 || kind == 3) SetTimer(QStringLiteral("PartitionListBar"), 1, options_.deviceSettleMs);
}

bool MainWnd::DeviceEventsPending() const {
  const QString owner = QStringLiteral("PartitionListBar");
  return HasTimer(owner, 0) || HasTimer(owner, 1);
}

void MainWnd::SettleDeviceEventsNow() {
  const QString owner = QStringLiteral("PartitionListBar");
  if (HasTimer(owner, 1)) OnDeviceTimer(1);
  else if (HasTimer(owner, 0)) OnDeviceTimer(0);
}

void MainWnd::OnDeviceTimer(int id) {
  const QString owner = QStringLiteral("PartitionListBar");
  if (id != 0 && id != 1) return;
  // With both pending (a card swapped in a reader), what went goes first, so
  // that the disk that came in its place is listed afresh.
  const bool arrival = id == 0 || HasTimer(owner, 0);
  const bool removal = id == 1 || HasTimer(owner, 1);
  if (arrival) KillTimer(owner, 0);
  if (removal) KillTimer(owner, 1);
  if (removal) {
    // The scan and search windows use the sources: rows go once they closed.
    if (scanning_ || searching_) removalPending_ = true;
    else RefreshDisks(int(DiskRows::Refresh::kRemoved));
  }
  if (arrival) RefreshDisks(int(DiskRows::Refresh::kArrived));
}

void MainWnd::RefreshDisks(int kind) {
  ui::DiskList* list = DiskList();
  if (!list) return;
  const ScanSourceItem* was = disks_->Item(list->CurrentRow());
  const int selectedTag = was ? was->tag : -1;
  (void)disks_->Apply(DiskRows::Refresh(kind));
  if (kind == int(DiskRows::Refresh::kFull)) {
    locationChosen_ = false;
    return;
  }
  // The labels and the scan follow the row that is selected now: when the
  // selected source went away, nothing is chosen any more.
  const int now = list->CurrentRow();
  const ScanSourceItem* current = disks_->Item(now);
  if ((current ? current->tag : -1) == selectedTag) return;
  if (current) {
    OnDiskSelected(now);
  } else {
    list->SelectRow(-1, false);
    ShowNoLocation();
  }
}

}  // namespace dunmere::gui
