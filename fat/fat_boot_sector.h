#pragma once
// The FAT boot sector (BIOS parameter block) and the volume geometry derived
// from it. Pure parsing: the caller reads the bytes.
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/status.h"
#include "engine/found_item.h"

namespace dunmere {

#pragma pack(push, 1)
struct FatBootSectorLayout {
  uint8_t jump[3];
  uint8_t oemName[8];
  uint8_t bytesPerSector[2];
  uint8_t sectorsPerCluster;
  uint8_t reservedSectors[2];
  uint8_t numberOfFats;
  uint8_t rootEntryCount[2];
  uint8_t totalSectors16[2];
  uint8_t media;
  uint8_t sectorsPerFat16[2];
  uint8_t sectorsPerTrack[2];
  uint8_t heads[2];
  uint8_t hiddenSectors[4];
  uint8_t totalSectors32[4];
  uint8_t sectorsPerFat32[4];
  uint8_t extFlags[2];
  uint8_t version[2];
  uint8_t rootCluster[4];
  uint8_t fsInfoSector[2];
  uint8_t backupBootSector[2];
  uint8_t reserved[12];
  uint8_t driveNumber;
  uint8_t reserved1;
  uint8_t bootSignature;
  uint8_t volumeId[4];
  uint8_t volumeLabel[11];
  uint8_t fsType32[8];
};
#pragma pack(pop)
static_assert(offsetof(FatBootSectorLayout, bytesPerSector) == 11);
static_assert(offsetof(FatBootSectorLayout, sectorsPerCluster) == 13);
static_assert(offsetof(FatBootSectorLayout, reservedSectors) == 14);
static_assert(offsetof(FatBootSectorLayout, numberOfFats) == 16);
static_assert(offsetof(FatBootSectorLayout, rootEntryCount) == 17);
static_assert(offsetof(FatBootSectorLayout, totalSectors16) == 19);
static_assert(offsetof(FatBootSectorLayout, sectorsPerFat16) == 22);
static_assert(offsetof(FatBootSectorLayout, totalSectors32) == 32);
static_assert(offsetof(FatBootSectorLayout, sectorsPerFat32) == 36);
static_assert(offsetof(FatBootSectorLayout, rootCluster) == 44);
static_assert(offsetof(FatBootSectorLayout, fsType32) == 82);
static_assert(sizeof(FatBootSectorLayout) == 90);

enum class FatType { kFat12, kFat16, kFat32 };

// Where everything of one FAT volume lies. Sector numbers inside the volume
// are in the volume's own sectors (bytesPerSector); the partition start and
// the area length are in the sectors of the medium (deviceSectorSize).
struct FatVolumeGeometry {
  uint64_t partitionStart = 0;    // medium sectors; 0 for an image
  uint64_t totalSectors = 0;      // medium sectors of the area, as the caller gave them
  uint32_t deviceSectorSize = 512;
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 1;
  FatType type = FatType::kFat16;
  bool fat32 = false;
  uint32_t reservedSectors = 0;
  uint32_t numberOfFats = 0;
  uint32_t sectorsPerFat = 0;
  uint32_t rootEntryCount = 0;
  uint32_t rootDirSectors = 0;    // FAT12/16 fixed root area
  uint32_t dataStart = 0;         // volume sectors from the volume start to cluster 2
  uint32_t rootCluster = 0;       // FAT32; 0 (the fixed root area) otherwise
  uint64_t volumeSectors = 0;     // volume sectors usable (boot count clipped to the area)
  uint32_t clusterCount = 0;      // data clusters: valid numbers are 2 .. clusterCount + 1
  uint32_t declaredClusters = 0;  // as the boot sector gives them, past a cut-off area's end too
  uint64_t fatStart = 0;          // volume sectors from the volume start to the first FAT

  uint32_t ClusterBytes() const { return bytesPerSector * sectorsPerCluster; }
  uint32_t MaxCluster() const { return clusterCount + 1; }
  bool ValidCluster(uint32_t c) const { return c >= 2 && c <= MaxCluster(); }
  uint64_t VolumeOffset() const { return partitionStart * deviceSectorSize; }
  uint64_t FatOffset() const { return VolumeOffset() + fatStart * bytesPerSector; }
  uint64_t FatBytes() const { return uint64_t(sectorsPerFat) * bytesPerSector; }
  uint64_t DataOffset() const { return VolumeOffset() + uint64_t(dataStart) * bytesPerSector; }
  uint64_t RootAreaOffset() const { return DataOffset() - uint64_t(rootDirSectors) * bytesPerSector; }
  uint64_t DataBytes() const { return uint64_t(clusterCount) * ClusterBytes(); }
  // A cluster of the volume, though perhaps beyond what the area holds.
  bool DeclaredCluster(uint32_t c) const { return c >= 2 && c <= declaredClusters + 1; }
  uint64_t DeclaredDataBytes() const { return uint64_t(declaredClusters) * ClusterBytes(); }
  // The root directory's id: its cluster on FAT32, 0 (the fixed area) otherwise.
  uint32_t RootId() const { return fat32 ? rootCluster : 0; }
};

// Fills the geometry from the first sector of a volume. kInvalidData when the
// values cannot describe a volume inside the area (no cluster, FAT or data
// area past the end, impossible sizes).
Status ReadFatGeometry(ByteView boot, uint64_t partitionStart, uint64_t totalSectors, uint32_t deviceSectorSize,
                       FatVolumeGeometry& g);
// Absolute byte offset of a cluster on the medium; cluster 0 means the fixed
// root area of FAT12/16.
uint64_t ClusterToOffset(const FatVolumeGeometry& g, uint32_t cluster);
// Absolute sector (in the volume's sector size) of a byte offset on the medium.
inline uint64_t OffsetToVolumeSector(const FatVolumeGeometry& g, uint64_t offset) {
  return offset / g.bytesPerSector;
}

// FAT12/16/32 as the detector recognises it, never a volume of the
// system's volume encryption.
bool IsFatBootSector(ByteView b);

// The medium sector (in `sectorSize` units) of the first data cluster of a
// file record either FAT engine made; false for a record without a cluster.
bool FatRecordFirstSector(const FoundItemRecord& r, uint32_t sectorSize, uint64_t& sector);

}  // namespace dunmere
