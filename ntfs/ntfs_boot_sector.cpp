#include "ntfs/ntfs_boot_sector.h"

#include "storage/boot_sector.h"

namespace dunmere {

namespace {
bool IsPow2(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }
constexpr uint64_t kMaxClusterBytes = 2u << 20;
}  // namespace

uint32_t DecodeNtfsSectorsPerCluster(uint8_t raw, uint32_t bytesPerSector) {
  if (bytesPerSector == 0) bytesPerSector = 512;
  uint64_t spc;
  if (raw <= 0x80) {
    spc = raw;
  } else {
    uint32_t shift = 256u - raw;
    if (shift > 12) return 0;  // 4096 sectors, 2 MiB on 512-byte sectors
    spc = uint64_t(1) << shift;
  }
  if (!IsPow2(spc) || spc * bytesPerSector > kMaxClusterBytes) return 0;
  return uint32_t(spc);
}

Status ParseNtfsBootSector(ByteView b, NtfsBootInfo& out) {
  if (!b.Has(0, 512) || !b.Equals(offsetof(NtfsBootSector, oemId), "NTFS    ")) return kInvalidData;
  uint32_t bps = b.U16(offsetof(NtfsBootSector, bytesPerSector));
  if (bps == 0) bps = 512;
  if (!IsPow2(bps) || bps < 512 || bps > 4096) return kInvalidData;
  uint32_t spc = DecodeNtfsSectorsPerCluster(b.U8(offsetof(NtfsBootSector, sectorsPerCluster)), bps);
  if (spc == 0) return kBadClusterSize;
  uint64_t clusterBytes = uint64_t(spc) * bps;

  int8_t cpr = int8_t(b.U8(offsetof(NtfsBootSector, clustersPerMftRecord)));
  uint64_t recordBytes;
  if (cpr > 0)
    recordBytes = uint64_t(cpr) * clusterBytes;
  else if (cpr < 0 && cpr >= -31)
    recordBytes = uint64_t(1) << unsigned(-cpr);
  else
    recordBytes = 0;
  // A record must hold whole sectors; anything else falls back to the usual
  // size (two 512-byte sectors, or one larger sector).
  if (!IsPow2(recordBytes) || recordBytes < bps || recordBytes > 65536)
    recordBytes = bps == 512 ? 1024 : bps;

  uint64_t total = b.U64(offsetof(NtfsBootSector, totalSectors));
  uint64_t mftLcn = b.U64(offsetof(NtfsBootSector, mftLcn));
  if (total == 0 || mftLcn == 0 || mftLcn > total / spc) return kInvalidData;

  out.bytesPerSector = bps;
  out.sectorsPerCluster = spc;
  out.clusterBytes = uint32_t(clusterBytes);
  out.recordBytes = uint32_t(recordBytes);
  out.totalSectors = total;
  out.mftLcn = mftLcn;
  return kOk;
}

bool IsNtfsBootSector(ByteView b) {
  if (!b.Has(0, 512) || !b.Equals(3, "NTFS    ")) return false;
  uint16_t bps = b.U16(11);
  if (bps == 0 || bps % 512 != 0) return false;
  if (b.U16(14) != 0) return false;
  // Clusters of 64 KiB on 512-byte sectors (128) and the larger ones held as
  // an exponent are common on volumes for big files.
  if (DecodeNtfsSectorsPerCluster(b.U8(13), bps) == 0) return false;
  if (b.U64(40) == 0) return false;
  for (size_t off : {16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35})
    if (b.U8(off) != 0) return false;
  return HasBootSignature(b);
}

}  // namespace dunmere
