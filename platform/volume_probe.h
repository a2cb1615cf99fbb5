#pragma once
// What the system can tell of a volume: the file system or partition table a
// device (or an image standing for one) holds, as libblkid recognises them,
// and the sizes of a mounted file system. Probes only read.
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"

namespace dunmere {

// A file system's type ("ntfs", "vfat", "exfat", "ext4", ...), its variant
// ("FAT32", ...) and its label; empty fields when unknown.
struct SuperblockProbe {
  std::string type, version, label;
};
// The file system on a device or in a file. False when none is recognised.
bool ProbeSuperblock(const std::string& path, SuperblockProbe& out);
// The file system inside a stretch of a disk (a partition without a device node).
bool ProbeSuperblockAt(const std::string& diskPath, uint64_t offset, uint64_t size, SuperblockProbe& out);
// Every file system whose signature is there, one after another as libblkid
// finds them: where it finds two, the probes above name none. size 0: to
// the end of the file or device.
std::vector<SuperblockProbe> ProbeEverySuperblock(const std::string& path, uint64_t offset = 0, uint64_t size = 0);

// One entry of a disk's partition table.
struct TablePartition {
  int number;
  uint64_t start512, size512;  // in 512-byte units
  int typeByte;                // MBR partition type; -1 on other tables
  // An MBR extended partition: only the container of the logical ones,
  // which are entries of their own (numbered from 5).
  bool extended = false;
};
// The entries of the partition table on a disk; none when it holds none or
// cannot be read.
std::vector<TablePartition> ProbePartitionTable(const std::string& diskPath);

// Sizes of the mounted file system holding `path`; free is what this user may use.
struct VolumeSpace {
  uint64_t totalBytes = 0;
  uint64_t freeBytes = 0;
};
Status QueryVolumeSpace(const std::string& path, VolumeSpace& out);

}  // namespace dunmere
