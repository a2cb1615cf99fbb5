#include "fat/quick/quick_fat_engine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"
#include "fat/fat_file_read.h"
#include "fat/fat_names.h"
#include "fat/fat_timestamps.h"
#include "platform/file.h"

// The quick FAT engine reading files back: their content, the high word of a
// FAT12/16 entry's cluster, and the free clusters the deep pass may read.
namespace dunmere {

namespace {
constexpr uint32_t kMaxClusterBytes = 104857600;  // 100 MiB
bool AllZero(ByteView v) {
  return std::all_of(v.data(), v.data() + v.size(), [](uint8_t b) { return b == 0; });
}
}  // namespace

uint32_t QuickFatEngine::SearchHighWord(ByteView entry, bool isDirectory, std::string_view ext) {
  FatDirEntry e(entry);
  const uint32_t low = e.ClusterLow();
  std::vector<uint8_t> sector(geometry_.bytesPerSector);
  for (uint32_t h = 0; h <= 256 && !StopAsked(); ++h) {
    uint32_t c = (h << 16) | low;
    if (c > geometry_.MaxCluster()) break;
    if (c < 2) continue;
    uint32_t got = 0;
    if (ReadBytes(ClusterToOffset(geometry_, c), geometry_.bytesPerSector, sector.data(), got) || got < 64) {
      // A free cluster that cannot be read cannot be ruled out, and it is the
      // nearer guess: passing it by for a later, readable one would copy out
      // whatever that one holds as this file. Its copy-out then fails as
      // unreadable, which is the truth.
      if (!isDirectory && got == 0 && cache_.IsFree(c)) return c;
      continue;
    }
    ByteView s(sector.data(), got);
    if (isDirectory) {
      if (s.Equals(0, ". ") && s.Equals(32, "..") && FatDirEntry(s).FirstCluster(true) == c) return c;
    } else if (cache_.IsFree(c) && (h == 0 || !AllZero(s)) && (!contentCheck_ || contentCheck_(Sample(ext, s, c)))) {
      // A guess away from the entry's own high word needs data to go by: a
      // zeroed sector is what space never written holds, and taking it would
      // copy zeros out as the file (where the entry's own cluster went to a
      // newer file, that file is refused as overwritten instead).
      return c;
    }
  }
  return low;
}

ContentSample QuickFatEngine::Sample(std::string_view ext, ByteView first, uint32_t cluster) const {
  ContentSample s;
  s.extension = ext;
  s.firstBytes = first;
  s.source = &source_;
  s.sectorSize = geometry_.bytesPerSector;
  s.absoluteSector = ClusterToOffset(geometry_, cluster) / geometry_.bytesPerSector;
  return s;
}

int QuickFatEngine::ContentPlausible(uint32_t cluster, std::string_view ext) {
  if (!contentCheck_ || ext.empty()) return 1;
  std::vector<uint8_t> sector(geometry_.bytesPerSector);
  uint32_t got = 0;
  if (ReadBytes(ClusterToOffset(geometry_, cluster), geometry_.bytesPerSector, sector.data(), got) || got == 0)
    return 1;
  return contentCheck_(Sample(ext, ByteView(sector.data(), got), cluster)) ? 1 : 0;
}

bool QuickFatEngine::EntryMarkedDeleted(const FoundItemRecord& record) const {
  // The record keeps the sector of its directory entry; the entry is the one
  // there with the record's size and first cluster. (Files below a deleted
  // folder may keep live entries and live chains.)
  const uint32_t bps = geometry_.bytesPerSector;
  std::vector<uint8_t> sector(bps);
  uint32_t got = 0;
  if (ReadBytes(uint64_t(record.location) * bps, bps, sector.data(), got) || got < bps) return false;
  return HoldsDeletedEntry(ByteView(sector.data(), bps), record.size, uint16_t(record.itemId & 0xFFFF));
}

Status QuickFatEngine::ReadContent(const FoundItemRecord& record, const ContentSink& sink) {
  if (!opened_) return kNotReady;
  if (record.isFolder) return kInvalidArg;
  const uint32_t cb = geometry_.ClusterBytes();
  if (cb > kMaxClusterBytes) return kBadClusterSize;
  uint64_t remaining = record.size;
  if (remaining == 0) {
    static const uint8_t kNothing = 0;
    int a = sink(&kNothing, 0);
    return a;
  }
  const FatFileReading how{cache_, geometry_,
                           [this](uint64_t at, uint32_t n, uint8_t* out, uint32_t& got) {
                             return ReadBytes(at, n, out, got);
                           },
                           MediumEnd(), readBuf_};
  return ReadFatFile(how, record.itemId, remaining, [&] { return EntryMarkedDeleted(record); }, sink);
}

Status QuickFatEngine::LoadAllocationBitmap() {
  if (!opened_) return kNotReady;
  const uint32_t maxC = geometry_.MaxCluster();
  bitmap_.assign(size_t(maxC) / 8 + 1, 0);
  bitmap_[0] |= 0x03;  // clusters 0 and 1 do not exist
  for (uint32_t i = 2; i <= maxC; ++i) {
    uint32_t v;
    if (cache_.Read(i, v) == kOk && v != 0) bitmap_[i >> 3] |= uint8_t(1u << (i & 7));
  }
  return kOk;
}

Status QuickFatEngine::NextFreeExtent(uint64_t& pos, uint64_t& len) {
  if (bitmap_.empty()) return kInvalidArg;
  const uint64_t total = geometry_.totalSectors;
  const uint64_t unit = geometry_.deviceSectorSize;
  const uint64_t cb = geometry_.ClusterBytes();
  const uint64_t dataByte = uint64_t(geometry_.dataStart) * geometry_.bytesPerSector;
  const uint32_t maxC = geometry_.MaxCluster();
  len = 0;
  if (pos >= total) {
    pos = total;
    return 1;
  }
  auto used = [&](uint32_t c) { return (bitmap_[c >> 3] >> (c & 7)) & 1; };
  uint64_t byte = pos * unit;
  // Boot sector, FATs and the fixed root area count as allocated.
  uint64_t first = byte < dataByte ? 2 : 2 + (byte - dataByte) / cb;
  uint64_t c = first;
  while (c <= maxC) {
    if ((c & 7) == 0 && bitmap_[c >> 3] == 0xFF) {
      c += 8;
      continue;
    }
    if (!used(uint32_t(c))) break;
    ++c;
  }
  if (c > maxC) {
    pos = total;
    return 1;
  }
  uint64_t startByte = dataByte + (c - 2) * cb;
  if (c == first && byte > startByte) startByte = byte;
  uint64_t e = c;
  while (e <= maxC) {
    if ((e & 7) == 0 && e + 7 <= maxC && bitmap_[e >> 3] == 0) {
      e += 8;
      continue;
    }
    if (used(uint32_t(e))) break;
    ++e;
  }
  uint64_t endByte = dataByte + (e - 2) * cb;
  pos = (startByte + unit - 1) / unit;
  uint64_t endSector = endByte / unit;
  len = endSector > pos ? endSector - pos : 0;
  if (pos >= total) {
    pos = total;
    len = 0;
  } else if (pos + len > total) {
    len = total - pos;
  }
  return 1;
}

}  // namespace dunmere
