#include "fat/fat_entry_cache.h"

#include <algorithm>

#include "storage/sector_source.h"

namespace dunmere {

namespace {
uint64_t EntryByte(FatType type, uint32_t cluster) {
  switch (type) {
    case FatType::kFat12: return uint64_t(cluster) + cluster / 2;
    case FatType::kFat16: return uint64_t(cluster) * 2;
    case FatType::kFat32: return uint64_t(cluster) * 4;
  }
  return 0;
}
size_t EntryWidth(FatType type) { return type == FatType::kFat32 ? 4 : 2; }
}  // namespace

bool DecodeFatEntry(FatType type, ByteView fat, uint64_t viewStart, uint32_t cluster, uint32_t& value) {
  uint64_t at = EntryByte(type, cluster);
  if (at < viewStart) return false;
  uint64_t rel = at - viewStart;
  if (rel > fat.size() || !fat.Has(size_t(rel), EntryWidth(type))) return false;
  switch (type) {
    case FatType::kFat12: {
      uint16_t w = fat.U16(size_t(rel));
      value = (cluster & 1) ? uint32_t(w >> 4) : uint32_t(w & 0x0FFF);
      break;
    }
    case FatType::kFat16: value = fat.U16(size_t(rel)); break;
    case FatType::kFat32: value = fat.U32(size_t(rel)) & 0x0FFFFFFF; break;
  }
  return true;
}

bool IsEndOfChain(FatType type, uint32_t v) {
  switch (type) {
    case FatType::kFat12: return v >= 0xFF8;
    case FatType::kFat16: return v >= 0xFFF8;
    case FatType::kFat32: return v >= 0x0FFFFFF8;
  }
  return true;
}

Status FatEntryCache::Open(const SectorSource* source, const FatVolumeGeometry& g) {
  source_ = source;
  geometry_ = g;
  window_.assign(size_t(std::min<uint64_t>(kWindowBytes, g.FatBytes())), 0);
  windowLen_ = 0;
  return Fill(0);
}

Status FatEntryCache::Fill(uint64_t fatByte) {
  const uint32_t bps = geometry_.bytesPerSector;
  uint64_t sector = fatByte / bps;
  uint64_t start = sector * bps;
  uint64_t len = std::min<uint64_t>(window_.size(), geometry_.FatBytes() - std::min(geometry_.FatBytes(), start));
  len -= len % 512;
  windowLen_ = 0;
  windowStart_ = start;
  if (len == 0) return kReadFault;
  // The window ends at the first unreadable sector (the source counts it);
  // an entry there fails alone, and one after it starts a window of its own.
  uint32_t bad = 0, got = 0;
  Status s = source_->ReadSectorsSkippingBad(uint32_t(len / 512), window_.data(),
                                             (geometry_.FatOffset() + start) / 512, 512, bad, &got);
  if (s != kOk && s != kReadFault) got = 0;
  windowLen_ = size_t(got) * 512;
  if (windowLen_ == 0) return s ? s : kReadFault;
  return kOk;
}

Status FatEntryCache::Read(uint32_t cluster, uint32_t& value) {
  value = 0;
  if (!source_) return kInvalidArg;
  if (cluster > geometry_.MaxCluster()) return kInvalidArg;
  if (DecodeFatEntry(geometry_.type, ByteView(window_.data(), windowLen_), windowStart_, cluster, value)) return kOk;
  if (Status s = Fill(EntryByte(geometry_.type, cluster))) return s;
  if (DecodeFatEntry(geometry_.type, ByteView(window_.data(), windowLen_), windowStart_, cluster, value)) return kOk;
  return kReadFault;
}

bool FatEntryCache::IsFree(uint32_t cluster) {
  uint32_t v;
  return Read(cluster, v) == kOk && v == 0;
}

uint32_t FatEntryCache::NextCluster(uint32_t cluster) {
  if (!geometry_.ValidCluster(cluster)) return 0;
  uint32_t v;
  if (Read(cluster, v)) return 0;
  if (v != 0) {
    if (IsEndOfChain(geometry_.type, v) || !geometry_.ValidCluster(v)) return 0;
    return v;
  }
  // Deleted data: the FAT no longer links it, so it is taken to go on in the
  // next free cluster; clusters now in use belong to other files.
  for (uint32_t n = cluster + 1; n <= geometry_.MaxCluster() && n > cluster; ++n) {
    uint32_t w;
    if (Read(n, w)) return 0;
    if (w == 0) return n;
  }
  return 0;
}

}  // namespace dunmere
