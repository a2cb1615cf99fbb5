#pragma once
// The rows of the location page: a header row per disk with a row per
// volume, unallocated stretch or bare disk under it, and a group of its own
// for every image file the user added ("ImageFile"). Each source row owns
// its ScanSourceItem. Refreshes follow the device events: a full rebuild at
// start-up, new disks only on arrival, whole disks dropped on removal.
//
// Disks are told apart by their device node, not by their number: the
// numbers follow the kernel's order and shift when a disk in the middle
// leaves, and a source must keep reading the disk it was listed for.
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/core/sessions/scan_source_item.h"
#include "storage/disk_list.h"

namespace dunmere::ui {
class DiskList;
}

namespace dunmere::gui {

class DiskRows {
 public:
  enum class Refresh { kFull = 0, kArrived = 1, kRemoved = 2 };

  explicit DiskRows(ui::DiskList* list);
  ~DiskRows();
  void SetRoots(EnumerationRoots roots) { roots_ = std::move(roots); }
  const EnumerationRoots& Roots() const { return roots_; }

  // Applies one refresh; returns the source rows it added, in list order.
  std::vector<int> Apply(Refresh kind);
  // Adds an image file as an "ImageFile" group; returns its source row. An
  // image of a whole disk gets a row per partition and unallocated stretch
  // under the group's header, as a disk does; then its first partition's row
  // is returned.
  int AddImage(const std::string& path);
  // The header texts again, after the language changed.
  void ApplyLanguage();
  // The row AddImage returned for this image file; -1 when it is not listed.
  int ImageRow(const std::string& path) const;

  // Row questions (row indices of the list).
  bool IsHeader(int row) const;
  bool IsImage(int row) const;  // an image's header or source row
  bool IsRemovable(int row) const;
  ScanSourceItem* Item(int row) const;  // null for header rows
  // The disk's device node ("/dev/sda"); empty for images.
  std::string DiskDevice(int row) const;
  // What a scan of this row covers: the row's own item, or for a header
  // row every source under it, in list order.
  std::vector<ScanSourceItem*> SourcesOf(int row) const;
  std::vector<ScanSourceItem*> AllItems() const;
  // The row whose item has this tag, -1 when none (the row may be gone).
  int RowOfTag(uint16_t tag) const;
  int RowCount() const;

  // Texts of the rows, as the list shows them.
  static QString SourceName(const VolumeInfo& v, const std::string& diskDevice);
  static QString DiskHeaderText(bool removable, int diskNumber);
  // "card.img:1 LABEL" for a partition of a whole-disk image, "* card.img"
  // for a stretch between its partitions.
  static QString ImagePartName(const std::string& imagePath, const VolumeInfo& v);
  // "ext2", or "ext2 over NTFS" when an older file system lies under it.
  static QString FileSystemCaption(const std::string& fsName, const std::string& olderFsName);

 private:
  enum class Kind { kDiskHeader, kSource, kImageHeader };
  struct Entry {
    Kind kind = Kind::kSource;
    std::string disk;  // device node of the disk; empty for images
    bool removable = false;
    int number = -1;  // a disk header's number as shown (from 0)
    std::unique_ptr<ScanSourceItem> item;
  };
  const Entry* EntryOf(int row) const;
  int HeaderRowOfDisk(const std::string& disk) const;
  int AddSource(int header, const std::string& disk, bool removable, const VolumeInfo& v);
  void RemoveGroup(int header);
  uint16_t NextTag();

  ui::DiskList* list_;
  // The number each disk was shown with, kept while it is away.
  std::map<std::string, int> numbers_;
  EnumerationRoots roots_;
  std::map<quint64, Entry> entries_;  // by the rows' tags
  quint64 nextKey_ = 1;
  uint32_t nextTag_ = 1;
};

// A source as the location list names it ("sdb1 USB", "disk.img:1 DATA"),
// for the texts that tell which source is being worked on.
QString LocationName(const ScanSourceItem& item);
// The scan's (or search's) stage text for the source: a volume, or an
// unallocated stretch.
const char* LocationMessageId(const ScanSourceItem& item, bool search);

}  // namespace dunmere::gui
