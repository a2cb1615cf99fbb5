#pragma once
// The list of places to scan: every partition the kernel knows with its file
// system, label and sizes, the unallocated stretches between partitions, and
// whole disks that hold no partition and no recognised file system. Built from
// sysfs (disks, partitions, sizes), libblkid (file systems, labels, partition
// types; the udev database when the device cannot be read) and statvfs (sizes
// of mounted volumes). Disks are numbered as DiskTable numbers them.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/status.h"

namespace dunmere {

enum class EntryKind : uint8_t { kVolume, kUnallocated, kWholeDisk };

// File-system type codes of an entry (otherwise the partition-type byte).
inline constexpr uint8_t kFsTypeNtfs = 7;
inline constexpr uint8_t kFsTypeFat32 = 11;
inline constexpr uint8_t kFsTypeFat = 6;

struct VolumeInfo {
  // This platform has no drive letters: every entry carries its 1-based
  // position in the whole list, the tag engines put into their records.
  uint16_t letter = 0;
  uint8_t fsType = 0;
  EntryKind kind = EntryKind::kVolume;
  int32_t diskNumber = -1;
  int32_t partitionNumber = -1;  // 0 for a file system on the whole disk
  uint64_t totalBytes = 0;
  uint64_t usedBytes = 0;
  uint64_t freeBytes = 0;
  uint64_t startSector = 0;  // in the disk's own sectors
  uint64_t sectorCount = 0;
  uint32_t bytesPerSector = 512;
  std::string fsName;      // "NTFS", "FAT32", "FAT", "exFAT", "ext4", ... ; empty when unknown
  // An older file system still recognisable under the current one ("NTFS"
  // under an ext2 made over it); empty when there is none.
  std::string olderFsName;
  std::string volumePath;  // device node of the partition (or disk); empty for unallocated stretches
  std::string label;
  std::string mountPoint;  // where it is mounted; empty when it is not
};

// Disk number -> that disk's entries sorted by start sector.
using DiskList = std::map<uint32_t, std::vector<VolumeInfo>>;

inline constexpr uint32_t kMaxListedDisks = 128;

// Where the enumeration looks; tests point these at a fake tree.
struct EnumerationRoots {
  std::string sysBlock = "/sys/block";
  std::string dev = "/dev";
  std::string udevData = "/run/udev/data";
  std::string mountInfo = "/proc/self/mountinfo";
};

// Empties and rebuilds the list. Result 1 (0 only when sysfs cannot be read).
int RebuildDiskList(DiskList& list, const EnumerationRoots& roots = {});
// Rebuilds, then appends to `removed` every previous entry whose disk number and
// start sector no entry has any more.
void DetectRemovedVolumes(DiskList& list, const std::vector<VolumeInfo>& previous, std::vector<VolumeInfo>& removed,
                          const EnumerationRoots& roots = {});
// All entries, disk by disk in ascending number, each disk in list order.
void FlattenDiskList(const DiskList& list, std::vector<VolumeInfo>& out);

// Walks a list entry by entry; Next gives 0 at the end.
class DiskListIterator {
 public:
  explicit DiskListIterator(const DiskList& list) : list_(list), disk_(list.begin()) {}
  int Next(VolumeInfo& out);

 private:
  const DiskList& list_;
  DiskList::const_iterator disk_;
  size_t entry_ = 0;
};

// USB or SD, or removable media.
bool IsRemovableDisk(uint32_t diskNumber, const EnumerationRoots& roots = {});
Status GetDiskLengthBytes(uint64_t& bytes, uint32_t diskNumber, const EnumerationRoots& roots = {});
// Free bytes of the mounted file system holding `path` (available to this user).
Status GetVolumeFreeBytes(const std::string& path, uint64_t& bytes);
// The file-system name of the mounted file system holding `path`, in the
// names of the list ("FAT32", "FAT", "NTFS", "exFAT", "ext4", ...), also for
// NTFS and exFAT mounted through FUSE; a FAT volume whose variant cannot be
// learned gives "vfat".
Status GetVolumeFsName(const std::string& path, std::string& name, const EnumerationRoots& roots = {});

// The places to scan inside an image file of a whole disk (a card or disk
// copied sector by sector): its partitions, in the table's numbering, and the
// unallocated stretches between them, sorted by start, in 512-byte sectors
// of the file. Entries carry no disk number (-1), no device and no tag.
// None when the file holds no partition table: a bare volume, or nothing
// recognised, is scanned as the one image it is.
std::vector<VolumeInfo> ListImageEntries(const std::string& imagePath);

// The gap rule of the list: stretches between `expectedStart` and each
// partition, and after the last up to diskSectors, longer than one cylinder.
struct SectorRange {
  uint64_t start, count;
};
std::vector<SectorRange> UnallocatedStretches(const std::vector<SectorRange>& sortedPartitions,
                                              uint64_t expectedStart, uint64_t cylinder, uint64_t diskSectors);

}  // namespace dunmere
