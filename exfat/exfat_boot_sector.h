#pragma once
// The exFAT boot sector, the checksum of its boot region and the volume
// geometry derived from it. Pure parsing: the caller reads the bytes.
//
// A volume starts with two boot regions of twelve sectors each: the main one
// (sectors 0-11) and its backup (12-23). Sector 0 holds the parameters,
// sector 11 the region's checksum repeated to fill the sector.
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/status.h"
#include "engine/found_item.h"

namespace dunmere {

// Byte offsets of the fields of sector 0 that are read.
namespace exfat_boot {
inline constexpr size_t kName = 3;               // "EXFAT   "
inline constexpr size_t kMustBeZero = 11;        // 53 bytes where FAT keeps its parameters
inline constexpr size_t kMustBeZeroBytes = 53;
inline constexpr size_t kPartitionOffset = 64;   // u64, sectors of the medium; often 0
inline constexpr size_t kVolumeLength = 72;      // u64, volume sectors
inline constexpr size_t kFatOffset = 80;         // u32, volume sectors
inline constexpr size_t kFatLength = 84;         // u32, volume sectors
inline constexpr size_t kClusterHeapOffset = 88; // u32, volume sectors
inline constexpr size_t kClusterCount = 92;      // u32
inline constexpr size_t kRootCluster = 96;       // u32
inline constexpr size_t kSerial = 100;           // u32
inline constexpr size_t kRevision = 104;         // u16, 0x0100
inline constexpr size_t kVolumeFlags = 106;      // u16; left out of the checksum
inline constexpr size_t kBytesPerSectorShift = 108;
inline constexpr size_t kSectorsPerClusterShift = 109;
inline constexpr size_t kNumberOfFats = 110;
inline constexpr size_t kPercentInUse = 112;     // left out of the checksum
inline constexpr size_t kSignature = 510;        // 0x55 0xAA
}  // namespace exfat_boot

inline constexpr uint32_t kExfatBootRegionSectors = 12;
// Clusters are at most 32 MiB (2^25 bytes).
inline constexpr uint32_t kExfatMaxClusterShift = 25;
// Cluster numbers stop short of the FAT's reserved values.
inline constexpr uint32_t kExfatMaxClusterCount = 0xFFFFFFF5u;

// Where everything of one exFAT volume lies. Sector numbers inside the volume
// are in the volume's own sectors (bytesPerSector); the partition start and
// the area are in the sectors of the medium (deviceSectorSize).
struct ExfatGeometry {
  uint64_t partitionStart = 0;   // medium sectors
  uint64_t areaSectors = 0;      // medium sectors of the area, as the caller gave them
  uint32_t deviceSectorSize = 512;

  uint32_t bytesPerSectorShift = 9;
  uint32_t sectorsPerClusterShift = 0;
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 1;
  uint64_t volumeLength = 0;     // volume sectors, as the boot sector gives them
  uint32_t fatOffset = 0;
  uint32_t fatLength = 0;
  uint32_t numberOfFats = 1;
  bool secondFatActive = false;  // two FATs, and the flags name the second
  uint32_t clusterHeapOffset = 0;
  uint32_t clusterCount = 0;     // valid cluster numbers are 2 .. clusterCount + 1
  uint32_t rootCluster = 0;
  uint32_t serial = 0;
  uint16_t volumeFlags = 0;

  uint32_t ClusterBytes() const { return bytesPerSector << sectorsPerClusterShift; }
  uint32_t MaxCluster() const { return clusterCount + 1; }
  bool ValidCluster(uint64_t c) const { return c >= 2 && c <= MaxCluster(); }
  uint64_t VolumeOffset() const { return partitionStart * deviceSectorSize; }
  // The FAT the volume uses (the second one only when two exist and it is active).
  uint64_t FatByteOffset() const {
    return VolumeOffset() + (uint64_t(fatOffset) + (secondFatActive ? fatLength : 0)) * bytesPerSector;
  }
  uint64_t FatBytes() const { return uint64_t(fatLength) * bytesPerSector; }
  uint64_t HeapByteOffset() const { return VolumeOffset() + uint64_t(clusterHeapOffset) * bytesPerSector; }
  // Absolute byte offset of a cluster on the medium (valid clusters only).
  uint64_t ClusterOffset(uint32_t c) const { return HeapByteOffset() + uint64_t(c - 2) * ClusterBytes(); }
  uint64_t HeapBytes() const { return uint64_t(clusterCount) * ClusterBytes(); }
  // Where the volume ends on the medium: its own length, cut at the area's end.
  uint64_t EndByteOffset() const;
};

// Reads sector 0 of a boot region. kInvalidData unless every field describes
// a volume: the name, the zero block, sector size 512-4096, clusters up to
// 32 MiB, one or two FATs inside the space before the heap and large enough
// for every cluster, the heap inside the volume, the root cluster in the heap.
// `g`'s partitionStart, areaSectors and deviceSectorSize are left as they are.
Status ParseExfatBootSector(ByteView sector0, ExfatGeometry& g);

// The region checksum over its first eleven sectors, leaving out the volume
// flags and the percentage in use (they change without the checksum being
// written again).
uint32_t ExfatBootChecksum(ByteView elevenSectors);
// Whether the twelfth sector of a region (`region` holds all twelve of
// `bytesPerSector` each) repeats the checksum of the first eleven.
bool ExfatBootRegionChecksumOk(ByteView region, uint32_t bytesPerSector);

// Sector 0 of an exFAT volume as detection sees it (its fields, not the
// checksum, which may lie past the bytes the detector has).
bool IsExfatBootSector(ByteView first);

// The medium sector (in `sectorSize` units) of the first cluster of a file
// record either exFAT engine made; false for an empty file or no cluster.
bool ExfatRecordFirstSector(const FoundItemRecord& r, uint32_t sectorSize, uint64_t& sector);

}  // namespace dunmere
