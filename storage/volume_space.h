#pragma once
// Free space of a volume, asked of the mounted file system that holds it.
#include <cstdint>
#include <string>

namespace dunmere {

// The block device node of the partition of disk `diskIndex` that starts at
// `startSector` (in 512-byte units, as sysfs counts), or the disk itself for
// start 0 when no partition starts there; empty when none is known.
std::string PartitionDevicePath(uint32_t diskIndex, uint64_t startSector);
// Where the block device is mounted; empty when it is not.
std::string MountPointOf(const std::string& devicePath);
// Free bytes of the file system in that area of the disk; 0 when it is not
// mounted or unknown.
uint64_t VolumeFreeBytes(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount, uint16_t tag);

}  // namespace dunmere
