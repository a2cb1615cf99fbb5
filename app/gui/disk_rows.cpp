#include "app/gui/disk_rows.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

#include "app/core/results/text_formats.h"
#include "app/gui/apply_section.h"
#include "app/gui/progress_wnd.h"
#include "storage/disk_table.h"
#include "scan/file_systems.h"
#include "ui/disk_list.h"

namespace dunmere::gui {

namespace fs = std::filesystem;

DiskRows::DiskRows(ui::DiskList* list) : list_(list) {}
DiskRows::~DiskRows() = default;

QString DiskRows::DiskHeaderText(bool removable, int diskNumber) {
  return QStringLiteral("%1 %2").arg(MessageText(removable ? "MSG0202" : "MSG0201")).arg(diskNumber + 1);
}

QString DiskRows::SourceName(const VolumeInfo& v, const std::string& diskDevice) {
  // Where drive letters would stand, the device's own name tells the user
  // which volume this is; a stretch without a file system has neither.
  if (v.kind == EntryKind::kUnallocated)
    return QStringLiteral("* %1").arg(QString::fromStdString(fs::path(diskDevice).filename().string()));
  const std::string node = v.volumePath.empty() ? diskDevice : v.volumePath;
  QString name = QString::fromStdString(fs::path(node).filename().string());
  if (!v.label.empty()) name += QLatin1Char(' ') + QString::fromStdString(v.label);
  return name;
}

const DiskRows::Entry* DiskRows::EntryOf(int row) const {
  if (!list_ || row < 0 || row >= list_->RowCount()) return nullptr;
  auto it = entries_.find(list_->Row(row).tag);
  return it == entries_.end() ? nullptr : &it->second;
}

int DiskRows::RowCount() const { return list_ ? list_->RowCount() : 0; }

bool DiskRows::IsHeader(int row) const {
  const Entry* e = EntryOf(row);
  return e && e->kind != Kind::kSource;
}

bool DiskRows::IsImage(int row) const {
  const Entry* e = EntryOf(row);
  return e && (e->kind == Kind::kImageHeader || (e->kind == Kind::kSource && e->item && e->item->IsImage()));
}

bool DiskRows::IsRemovable(int row) const {
  const Entry* e = EntryOf(row);
  return e && e->removable;
}

ScanSourceItem* DiskRows::Item(int row) const {
  const Entry* e = EntryOf(row);
  return e && e->kind == Kind::kSource ? e->item.get() : nullptr;
}

std::string DiskRows::DiskDevice(int row) const {
  const Entry* e = EntryOf(row);
  return e ? e->disk : std::string();
}

std::vector<ScanSourceItem*> DiskRows::SourcesOf(int row) const {
  std::vector<ScanSourceItem*> out;
  if (ScanSourceItem* item = Item(row)) {
    out.push_back(item);
  } else if (IsHeader(row)) {
    for (int r : list_->GroupRows(row))
      if (ScanSourceItem* i = Item(r)) out.push_back(i);
  }
  return out;
}

std::vector<ScanSourceItem*> DiskRows::AllItems() const {
  std::vector<ScanSourceItem*> out;
  for (int r = 0; r < RowCount(); ++r)
    if (ScanSourceItem* i = Item(r)) out.push_back(i);
  return out;
}

int DiskRows::RowOfTag(uint16_t tag) const {
  for (int r = 0; r < RowCount(); ++r)
    if (ScanSourceItem* i = Item(r); i && i->tag == tag) return r;
  return -1;
}

int DiskRows::HeaderRowOfDisk(const std::string& disk) const {
  for (int r = 0; r < RowCount(); ++r)
    if (const Entry* e = EntryOf(r); e && e->kind == Kind::kDiskHeader && e->disk == disk) return r;
  return -1;
}

uint16_t DiskRows::NextTag() {
  // Tags go into the found records and key the checked files, so a tag is
  // never given twice in one run, not even after its row went away.
  const uint16_t tag = uint16_t(nextTag_);
  nextTag_ = nextTag_ >= 0xFFFF ? 1 : nextTag_ + 1;
  return tag;
}

int DiskRows::AddSource(int header, const std::string& disk, bool removable, const VolumeInfo& v) {
  Entry e;
  e.kind = Kind::kSource;
  e.disk = disk;
  e.removable = removable;
  e.item = std::make_unique<ScanSourceItem>();
  e.item->volume = v;
  e.item->tag = NextTag();
  e.item->volume->letter = e.item->tag;

  ui::ListRow row;
  row.cells << SourceName(v, disk) << FileSystemCaption(v.fsName, v.olderFsName)
            << QString::fromStdString(FormatSize(int64_t(v.totalBytes)));
  row.usage = v.totalBytes ? int(double(v.usedBytes) * 100.0 / double(v.totalBytes)) : 0;
  row.tag = nextKey_++;
  entries_[row.tag] = std::move(e);
  return list_->AddSourceRow(header, std::move(row));
}

void DiskRows::RemoveGroup(int header) {
  std::vector<quint64> keys{list_->Row(header).tag};
  for (int r : list_->GroupRows(header)) keys.push_back(list_->Row(r).tag);
  list_->RemoveGroup(header);
  for (quint64 k : keys) entries_.erase(k);
}

std::vector<int> DiskRows::Apply(Refresh kind) {
  std::vector<int> added;
  if (!list_) return added;
  if (kind == Refresh::kFull) {
    numbers_.clear();
    list_->Clear();
    entries_.clear();  // releases every source and its engine
  }
  DiskList fresh;
  RebuildDiskList(fresh, roots_);
  const std::vector<std::string> devices = DiskTable::ScanSysfs(roots_.sysBlock, roots_.dev);
  auto deviceOf = [&](int32_t number) {
    return number >= 0 && size_t(number) < devices.size() ? devices[size_t(number)] : std::string();
  };
  // What makes a listed source the same one: a card swapped in a reader has
  // the same device, often the same layout, but not the same file system.
  using Identity = std::tuple<std::string, uint64_t, uint64_t, std::string, std::string>;
  auto identity = [](const std::string& disk, const VolumeInfo& v) {
    return Identity{disk, v.startSector, v.sectorCount, v.fsName, v.label};
  };
  std::set<Identity> present;
  for (const auto& [disk, list] : fresh)
    for (const VolumeInfo& v : list) present.insert(identity(deviceOf(v.diskNumber), v));

  if (kind == Refresh::kRemoved) {
    // A source that is gone takes its whole disk with it.
    std::set<std::string> gone;
    for (const auto& [key, e] : entries_)
      if (e.kind == Kind::kSource && !e.disk.empty() && e.item->volume &&
          !present.count(identity(e.disk, *e.item->volume)))
        gone.insert(e.disk);
    for (const std::string& disk : gone)
      if (int header = HeaderRowOfDisk(disk); header >= 0) RemoveGroup(header);
    // A disk left with no row under its header goes too.
    for (int r = RowCount() - 1; r >= 0; --r)
      if (const Entry* e = EntryOf(r); e && e->kind == Kind::kDiskHeader && list_->GroupRows(r).isEmpty())
        RemoveGroup(r);
  }

  // The disks still listed keep their rows; their numbers follow the kernel's.
  std::map<std::string, int32_t> numberOf;
  for (size_t i = 0; i < devices.size(); ++i) numberOf[devices[i]] = int32_t(i);
  for (auto& [key, e] : entries_)
    if (e.kind == Kind::kSource && e.item->volume && numberOf.count(e.disk))
      e.item->volume->diskNumber = numberOf[e.disk];
  if (kind == Refresh::kRemoved) return added;

  std::set<std::string> listedBefore;
  for (const auto& [key, e] : entries_)
    if (e.kind == Kind::kDiskHeader) listedBefore.insert(e.disk);
  int lastNumber = -1;
  for (const auto& [disk, n] : numbers_) lastNumber = std::max(lastNumber, n);
  // The disks listed keep the numbers they were shown with; one that comes
  // later takes the next, and stands above the image files.
  auto firstImageHeader = [&] {
    for (int r = 0; r < RowCount(); ++r)
      if (const Entry* e = EntryOf(r); e && e->kind == Kind::kImageHeader) return r;
    return -1;
  };
  const bool later = kind != Refresh::kFull && !entries_.empty();
  std::vector<VolumeInfo> flat;
  FlattenDiskList(fresh, flat);
  for (const VolumeInfo& v : flat) {
    const std::string disk = deviceOf(v.diskNumber);
    if (disk.empty() || listedBefore.count(disk)) continue;
    int header = HeaderRowOfDisk(disk);
    const bool removable = IsRemovableDisk(uint32_t(v.diskNumber), roots_);
    if (header < 0) {
      Entry h;
      h.kind = Kind::kDiskHeader;
      h.disk = disk;
      h.removable = removable;
      // A card back in its reader is the disk it was.
      auto known = numbers_.find(disk);
      h.number = known != numbers_.end() ? known->second : later ? ++lastNumber : v.diskNumber;
      lastNumber = std::max(lastNumber, h.number);
      numbers_[disk] = h.number;
      const QString text = DiskHeaderText(removable, h.number);
      const quint64 key = nextKey_++;
      entries_[key] = std::move(h);
      header = list_->InsertHeaderRow(firstImageHeader(), text, key);
    }
    added.push_back(AddSource(header, disk, removable, v));
  }
  // Rows added later in this walk may have moved earlier ones down.
  added.clear();
  for (int r = 0; r < RowCount(); ++r)
    if (const Entry* e = EntryOf(r); e && e->kind == Kind::kSource && !e->disk.empty() && !listedBefore.count(e->disk))
      added.push_back(r);
  return added;
}

// The file system at the start of an image, as the engine factory will see it.
static QString ImageFileSystem(const std::string& path) {
  std::vector<uint8_t> head(kDetectBytes, 0);
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
  if (in.gcount() <= 0) return {};
  const ByteView area(head.data(), size_t(in.gcount()));
  const FileSystemRow* row = FileSystemOf(DetectFileSystem(area));
  if (!row) return {};
  const FileSystemRow* under = FileSystemOf(FileSystemUnder(area));
  return DiskRows::FileSystemCaption(std::string(row->name), under ? std::string(under->name) : std::string());
}

QString DiskRows::FileSystemCaption(const std::string& fsName, const std::string& olderFsName) {
  const QString current = QString::fromStdString(fsName);
  if (olderFsName.empty()) return current;
  return FillFormat(FillFormat(MessageText("MSG1390"), current), QString::fromStdString(olderFsName));
}

QString DiskRows::ImagePartName(const std::string& imagePath, const VolumeInfo& v) {
  const QString file = QString::fromStdString(fs::path(imagePath).filename().string());
  if (v.kind == EntryKind::kUnallocated) return QStringLiteral("* %1").arg(file);
  // The name the command line gives the partition too.
  QString name = QStringLiteral("%1:%2").arg(file).arg(v.partitionNumber);
  if (!v.label.empty()) name += QLatin1Char(' ') + QString::fromStdString(v.label);
  return name;
}

void DiskRows::ApplyLanguage() {
  if (!list_) return;
  for (int r = 0; r < RowCount(); ++r) {
    const Entry* e = EntryOf(r);
    if (!e || e->kind == Kind::kSource) continue;
    // A disk keeps the number it was shown with.
    const int number = e->number;
    const QString text = e->kind == Kind::kImageHeader ? MessageText("MSG0224") : DiskHeaderText(e->removable, number);
    ui::ListRow& row = list_->Model()->Rows()[size_t(r)];
    if (row.cells.isEmpty()) row.cells << text;
    else row.cells[0] = text;
    list_->Model()->RowChanged(r);
  }
}

QString LocationName(const ScanSourceItem& item) {
  if (!item.volume) return QString::fromStdString(fs::path(item.imagePath).filename().string());
  if (item.IsImage()) return DiskRows::ImagePartName(item.imagePath, *item.volume);
  return DiskRows::SourceName(*item.volume, DiskTable::DevicePath(uint32_t(std::max(0, item.volume->diskNumber))));
}

const char* LocationMessageId(const ScanSourceItem& item, bool search) {
  const bool free = item.volume && item.volume->kind == EntryKind::kUnallocated;
  if (search) return free ? "MSG1202" : "MSG1201";
  return free ? "MSG0702" : "MSG0701";
}

int DiskRows::ImageRow(const std::string& path) const {
  int first = -1;
  for (int r = 0; r < RowCount(); ++r) {
    const ScanSourceItem* i = Item(r);
    if (!i || !i->IsImage() || i->imagePath != path) continue;
    if (!i->volume || i->volume->kind == EntryKind::kVolume) return r;
    if (first < 0) first = r;
  }
  return first;
}

int DiskRows::AddImage(const std::string& path) {
  std::error_code ec;
  if (!list_ || path.empty() || !fs::is_regular_file(path, ec)) return -1;
  const uint64_t size = fs::file_size(path, ec);
  Entry h;
  h.kind = Kind::kImageHeader;
  const quint64 headerKey = nextKey_++;
  entries_[headerKey] = std::move(h);
  const int header = list_->AddHeaderRow(MessageText("MSG0224"), headerKey);

  // An image of a whole card or disk is listed as that disk is: a row per
  // partition and unallocated stretch under its header.
  const std::vector<VolumeInfo> parts = ListImageEntries(path);
  if (!parts.empty()) {
    for (const VolumeInfo& v : parts) {
      Entry e;
      e.kind = Kind::kSource;
      e.item = std::make_unique<ScanSourceItem>();
      e.item->imagePath = path;
      e.item->volume = v;
      e.item->tag = NextTag();
      e.item->volume->letter = e.item->tag;
      ui::ListRow row;
      row.cells << ImagePartName(path, v) << FileSystemCaption(v.fsName, v.olderFsName)
                << QString::fromStdString(FormatSize(int64_t(v.totalBytes)));
      row.tag = nextKey_++;
      entries_[row.tag] = std::move(e);
      (void)list_->AddSourceRow(header, std::move(row));
    }
    return ImageRow(path);
  }

  Entry e;
  e.kind = Kind::kSource;
  e.item = std::make_unique<ScanSourceItem>();
  e.item->imagePath = path;
  e.item->tag = NextTag();
  ui::ListRow row;
  row.cells << QString::fromStdString(path) << ImageFileSystem(path) << QString::fromStdString(FormatSize(int64_t(ec ? 0 : size)));
  row.tag = nextKey_++;
  entries_[row.tag] = std::move(e);
  return list_->AddSourceRow(header, std::move(row));
}

}  // namespace dunmere::gui
