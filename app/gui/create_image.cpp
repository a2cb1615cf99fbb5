#include "app/gui/create_image.h"

#include <QFileDialog>
#include <QThread>
#include <filesystem>

#include "app/core/results/text_formats.h"
#include "app/gui/apply_section.h"
#include "app/gui/create_image_process_wnd.h"
#include "app/gui/disk_rows.h"
#include "app/gui/main_wnd.h"
#include "app/gui/message_box.h"
#include "ui/disk_list.h"

namespace dunmere::gui {

QString SuggestedImageFileName(const VolumeInfo& v, const std::string& diskDevice) {
  // Named as the location list names the source: the device (and label),
  // so the file says what it holds.
  QString name = v.kind == EntryKind::kWholeDisk
                     ? QString::fromStdString(std::filesystem::path(diskDevice).filename().string())
                     : DiskRows::SourceName(v, diskDevice);
  if (name.startsWith(QStringLiteral("* "))) name = name.mid(2);
  name.replace(u'/', u'_');
  return name.trimmed();
}

QString SuggestedImageCopyName(const VolumeInfo& v, const std::string& imagePath) {
  // "card-1 LABEL" for a partition of card.img, "card-copy" for all of it:
  // never the name of the image itself.
  QString name = QString::fromStdString(std::filesystem::path(imagePath).stem().string());
  if (v.kind == EntryKind::kWholeDisk) return name + QStringLiteral("-copy");
  name += QStringLiteral("-%1").arg(v.kind == EntryKind::kVolume ? v.partitionNumber : int64_t(v.startSector));
  if (!v.label.empty()) name += QLatin1Char(' ') + QString::fromStdString(v.label);
  name.replace(u'/', u'_');
  return name.trimmed();
}

const char* ImageCheckMessageId(ImageCheck check) {
  switch (check) {
    case ImageCheck::kOk: return nullptr;
    case ImageCheck::kOnSource: return "MSG0218";
    case ImageCheck::kTooBigForFat32: return "MSG0220";
    case ImageCheck::kTooBigForFat: return "MSG0219";
    case ImageCheck::kNotEnoughSpace: return "MSG0221";
  }
  return nullptr;
}

namespace {

// What the selected row images: a partition (or stretch) of its disk, or the
// whole disk for a disk header row or a bare disk.
struct Selection {
  ImagingJob job;
  VolumeInfo shown;  // names the suggested file
  uint64_t bytes = 0;
};

bool SelectionOf(MainWnd& w, Selection& out) {
  ui::DiskList* list = w.DiskList();
  const int row = list ? list->CurrentRow() : -1;
  if (row < 0) return false;
  DiskRows& rows = w.Disks();
  const std::vector<ScanSourceItem*> items = rows.SourcesOf(row);
  ScanSourceItem* item = rows.Item(row);
  if (rows.IsImage(row)) {
    // A whole-disk image is imaged as the disk it holds: a partition of it
    // is its range of the file, its header row all of the file.
    if (items.empty() || !items[0]->volume) return false;  // an image of one volume is a copy already
    out.job.sourcePath = items[0]->imagePath;
  } else {
    out.job.sourcePath = rows.DiskDevice(row);
  }
  if (out.job.sourcePath.empty()) return false;
  if (item && item->volume && item->volume->kind != EntryKind::kWholeDisk) {
    const VolumeInfo& v = *item->volume;
    out.shown = v;
    out.job.firstSector = v.startSector;
    out.job.sectorCount = v.sectorCount;
    // An image's entries count 512-byte sectors.
    out.job.sectorSize = item->IsImage() ? 512 : v.bytesPerSector ? v.bytesPerSector : 512;
    // What will be written: every sector of the partition, not the size its
    // file system reports.
    out.bytes = v.sectorCount * out.job.sectorSize;
  } else {
    out.shown.kind = EntryKind::kWholeDisk;
    out.shown.diskNumber = item && item->volume ? item->volume->diskNumber
                           : !items.empty() && items[0]->volume ? items[0]->volume->diskNumber
                                                                 : 0;
    if (ImageSourceBytes(out.job, out.bytes)) out.bytes = 0;  // unreadable now: the copy will say so
  }
  return true;
}

}  // namespace

void CreateImageFromSelection(MainWnd& w, const ImageCommandHooks& hooks) {
  Selection sel;
  if (!SelectionOf(w, sel)) {
    MessageBoxWnd::Show(MessageBoxWnd::kInformation, &w, MessageText("MSG0216"), 400, 160);
    return;
  }
  const QString suggested = w.Disks().IsImage(w.DiskList()->CurrentRow())
                                ? SuggestedImageCopyName(sel.shown, sel.job.sourcePath)
                                : SuggestedImageFileName(sel.shown, sel.job.sourcePath);
  QString path;
  for (;;) {
    path = hooks.chooseSave ? hooks.chooseSave(&w, suggested)
                            : QFileDialog::getSaveFileName(&w, MessageText("MSG1303"), suggested + QStringLiteral(".img"),
                                                           MessageText("MSG1304"));
    if (path.isEmpty()) return;
    if (!path.endsWith(QStringLiteral(".img"), Qt::CaseInsensitive)) path += QStringLiteral(".img");
    const std::string image = path.toStdString();
    const DestinationFacts f =
        hooks.facts ? hooks.facts(image, sel.job.sourcePath) : GatherDestinationFacts(image, sel.job.sourcePath);
    const ImageCheck check = CheckImageDestination(sel.bytes, f.onSource, f.fsName, f.freeKnown, f.freeBytes);
    const char* id = ImageCheckMessageId(check);
    if (!id) break;
    MessageBoxWnd::Show(MessageBoxWnd::kInformation, &w, MessageText(id), 300, 160);
  }

  CreateImageProcessWnd wnd;
  ImagingJob job = sel.job;
  job.imagePath = path.toStdString();
  wnd.SetJob(std::move(job));
  if (!wnd.CreatePopup(&w, 450, 270)) return;
  const int result = wnd.RunModal();
  if (result == PopUpWnd::kFailed) {
    QThread::msleep(100);
    MessageBoxWnd::Show(MessageBoxWnd::kInformation, &w, MessageText("MSG0217"), 300, 160);
  }
  if (wnd.MapFailed())
    MessageBoxWnd::Show(MessageBoxWnd::kWarning, &w,
                      FillFormat(MessageText("MSG0223"), QString::fromStdString(wnd.MapPath())), 400, 180);
  // A cancelled or failed image was deleted: only a complete one can be scanned.
  if (result != PopUpWnd::kDone) return;
  if (MessageBoxWnd::Show(MessageBoxWnd::kQuestion, &w, MessageText("MSG0214"), 400, 160) == MessageBoxWnd::kOk)
    w.ScanNewImage(path);
}

}  // namespace dunmere::gui
