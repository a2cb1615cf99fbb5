#pragma once
// Disks as the system itself numbers and describes them. Windows does:
// \\.\PhysicalDriveN, its partition layout, the volumes (drive letters) on
// it. Linux has no such request: the disk table and the list read the
// kernel's device tree (sysfs) in storage/, and these calls say so.
#include <cstdint>
#include <string>
#include <vector>

namespace dunmere {

// A mounted volume: what the system's volume functions tell of it.
struct SystemVolume {
  std::string devicePath;  // "\\.\E:"
  std::string mountPoint;  // "E:\"; empty when it has no letter
  std::string fileSystem;  // "NTFS", "FAT32", "FAT", "exFAT", or the system's own word
  std::string label;
  uint64_t totalBytes = 0;
  uint64_t freeBytes = 0;  // what this user may use
};

struct SystemPartition {
  int number = 0;  // the system's partition number (1-based)
  uint64_t startByte = 0;
  uint64_t lengthBytes = 0;
  int mbrType = -1;  // the MBR type byte; -1 on GPT
  bool extended = false;  // an MBR container of logical partitions
  bool hasVolume = false;
  SystemVolume volume;
};

enum class PartitionStyle { kNone, kMbr, kGpt };

struct SystemDisk {
  uint32_t number = 0;
  std::string devicePath;  // "\\.\PhysicalDrive1"
  uint32_t bytesPerSector = 512;
  uint64_t lengthBytes = 0;
  uint32_t sectorsPerTrack = 0;
  uint32_t tracksPerCylinder = 0;
  bool removable = false;
  PartitionStyle style = PartitionStyle::kNone;
  std::vector<SystemPartition> partitions;
  // A file system on the whole disk (no partition table: a stick formatted
  // as it is).
  bool hasVolume = false;
  SystemVolume volume;
};

// True where the system numbers and describes its disks (Windows).
bool SystemDescribesDisks();
// The disks present, by number; empty where the system describes none.
std::vector<SystemDisk> DescribeSystemDisks();
// Device paths by disk number ("" for a number no disk has now), up to the
// highest present.
std::vector<std::string> SystemDiskPaths();

}  // namespace dunmere
