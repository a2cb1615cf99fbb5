#include "fat/quick/quick_fat_engine.h"


#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"
#include "fat/fat_names.h"
#include "fat/fat_timestamps.h"
#include "platform/file.h"

// The quick FAT engine reading files back: their content, the high word of a
// FAT12/16 entry's cluster, and the free clusters the deep pass may read.
namespace dunmere {

namespace {
constexpr uint32_t kMaxClusterBytes = 104857600;  // 100 MiB
// Reads of file data gather consecutive clusters up to this many bytes.
constexpr uint32_t kRunBytes = 1u << 20;
constexpr size_t kPieceBytes = 65536;
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
    } else if (cache_.IsFree(c) && (!contentCheck_ || contentCheck_(Sample(ext, s, c)))) {
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
  for (uint32_t off = 0; off + 32 <= bps; off += 32) {
    FatDirEntry e(ByteView(sector.data() + off, 32));
    if (e.IsDeleted() && e.Size() == record.size && e.ClusterLow() == (record.itemId & 0xFFFF)) return true;
  }
  return false;
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
  if (remaining > geometry_.DeclaredDataBytes()) return kInvalidData;
  uint32_t c = record.itemId;
  if (!geometry_.ValidCluster(c)) return geometry_.DeclaredCluster(c) ? kDataPastEnd : kInvalidData;
  // A live chain could loop; deleted data only ever moves forward.
  const bool chained = !cache_.IsFree(c);
  // A deleted file whose first cluster another file has taken since: what
  // the chain holds now is that file's data, not this one's.
  if (chained && EntryMarkedDeleted(record)) return kDataOverwritten;
  std::unordered_set<uint32_t> seen;
  if (chained) seen.insert(c);
  const uint32_t runMax = std::max<uint32_t>(1, kRunBytes / cb);
  // Reused between files: the buffer grows to the largest run once.
  std::vector<uint8_t>& buf = readBuf_;
  const uint64_t wanted = std::min<uint64_t>(uint64_t(runMax) * cb, (remaining + cb - 1) / cb * cb);
  if (buf.size() < wanted) buf.resize(size_t(wanted));
  while (remaining > 0) {
    uint64_t need = (remaining + cb - 1) / cb;
    uint32_t runStart = c, last = c, n = 1, next = 0;
    bool haveNext = false;
    while (n < need && n < runMax) {
      next = cache_.NextCluster(last);
      haveNext = true;
      if (next != last + 1 || (chained && !seen.insert(next).second)) break;
      last = next;
      ++n;
      haveNext = false;
    }
    uint32_t got = 0;
    uint32_t want = uint32_t(std::min<uint64_t>(uint64_t(n) * cb, remaining + (cb - 1)) / cb * cb);
    if (buf.size() < want) buf.resize(want);
    const uint64_t at = ClusterToOffset(geometry_, runStart);
    // Clusters a truncated image or a short partition no longer holds are
    // no read error: the data is simply not there.
    const uint64_t mediumEnd = MediumEnd();
    if (at >= mediumEnd) return kDataPastEnd;
    if (Status s = ReadBytes(at, want, buf.data(), got)) return s;
    uint64_t useful = std::min<uint64_t>(got, remaining);
    for (uint64_t done = 0; done < useful;) {
      size_t piece = size_t(std::min<uint64_t>(kPieceBytes, useful - done));
      if (int a = sink(buf.data() + done, piece)) return a;
      done += piece;
    }
    remaining -= useful;
    if (remaining == 0) break;
    if (got < want) return at + want > mediumEnd ? kDataPastEnd : kReadFault;
    if (!haveNext) next = cache_.NextCluster(last);
    // The data ran out before the size. Deleted data goes on in the next free
    // cluster: with none left after this one, the rest lies past the
    // volume's last cluster or was overwritten by other files. A live chain
    // that ends too early or loops is damage.
    if (next == 0 && !chained) return last >= geometry_.MaxCluster() ? kDataPastEnd : kDataOverwritten;
    if (next == 0 || next == last) return kInvalidData;
    if (chained && !seen.insert(next).second) return kInvalidData;  // the chain loops
    c = next;
  }
  return kOk;
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
