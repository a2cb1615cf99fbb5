#pragma once
// The NTFS boot sector: the few numbers that locate the master file table.
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/status.h"

namespace dunmere {

#pragma pack(push, 1)
struct NtfsBootSector {
  uint8_t jump[3];
  char oemId[8];
  uint16_t bytesPerSector;
  uint8_t sectorsPerCluster;  // 0x80 and below: the count; above: 2^(256 - value)
  uint8_t reserved1[7];
  uint8_t mediaDescriptor;
  uint8_t reserved2[2];
  uint16_t sectorsPerTrack;
  uint16_t heads;
  uint32_t hiddenSectors;
  uint8_t reserved3[8];
  uint64_t totalSectors;
  uint64_t mftLcn;
  uint64_t mftMirrorLcn;
  int8_t clustersPerMftRecord;  // negative: the record is 2^-value bytes
  uint8_t reserved4[3];
  int8_t clustersPerIndexBlock;
  uint8_t reserved5[3];
  uint64_t serialNumber;
  uint32_t checksum;
  uint8_t bootCode[426];
  uint16_t endMarker;
};
#pragma pack(pop)
static_assert(sizeof(NtfsBootSector) == 512);
static_assert(offsetof(NtfsBootSector, bytesPerSector) == 11);
static_assert(offsetof(NtfsBootSector, sectorsPerCluster) == 13);
static_assert(offsetof(NtfsBootSector, totalSectors) == 40);
static_assert(offsetof(NtfsBootSector, mftLcn) == 48);
static_assert(offsetof(NtfsBootSector, clustersPerMftRecord) == 64);
static_assert(offsetof(NtfsBootSector, endMarker) == 510);

struct NtfsBootInfo {
  uint32_t bytesPerSector = 512;
  uint32_t sectorsPerCluster = 1;
  uint32_t clusterBytes = 512;
  uint32_t recordBytes = 1024;
  uint64_t totalSectors = 0;  // of the volume, in its own sectors
  uint64_t mftLcn = 0;
};

// Reads and checks the boot sector. 29 for a cluster size that cannot be
// right, 13 for other nonsense (no NTFS marker, a sector size that is not a
// power of two from 512 to 4096, an $MFT outside the volume).
Status ParseNtfsBootSector(ByteView boot, NtfsBootInfo& out);

// Sectors per cluster from the boot sector's byte at 13, decoded as Windows
// does: up to 0x80 the count itself, above it 2^(256 - value) (clusters of
// 128 KiB to 2 MiB on 512-byte sectors). 0 for a value that is neither a
// power of two nor such an exponent, or for a cluster larger than 2 MiB.
uint32_t DecodeNtfsSectorsPerCluster(uint8_t raw, uint32_t bytesPerSector);

// A boot sector an NTFS volume would write (the detector's test).
bool IsNtfsBootSector(ByteView b);

}  // namespace dunmere
