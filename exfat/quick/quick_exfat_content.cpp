#include <algorithm>

#include "engine/content_pieces.h"
#include "exfat/quick/quick_exfat_engine.h"

// The quick exFAT engine reading files back: their content, the allocation
// bitmap and the free stretches the deep pass may read.
namespace dunmere {

namespace {
// Reads of file data gather a run's clusters up to this many bytes.
constexpr uint32_t kRunBytes = 1u << 20;
// A bitmap larger than this describes no volume anyone formats.
constexpr uint64_t kMaxBitmapBytes = 512ull << 20;
}  // namespace

bool QuickExfatEngine::EnsureBitmap() {
  if (bitmap_.Loaded()) return true;
  if (bitmapTried_ || !opened_ || !haveBitmapEntry_) return false;
  bitmapTried_ = true;
  // A bitmap shorter than the heap leaves the clusters it does not reach in use.
  const uint64_t need = (uint64_t(geometry_.clusterCount) + 7) / 8;
  const uint64_t length = std::min(bitmapEntry_.dataLength, need);
  if (length == 0 || length > kMaxBitmapBytes) return false;
  std::vector<uint8_t> bits;
  if (ReadTable(bitmapEntry_.firstCluster, length, bits) != kOk) return false;
  bitmap_ = ExfatAllocationBitmap(ByteView(bits.data(), bits.size()), geometry_.clusterCount);
  return true;
}

Status QuickExfatEngine::LoadAllocationBitmap() {
  if (!opened_) return kNotReady;
  return EnsureBitmap() ? kOk : kInvalidData;
}

Status QuickExfatEngine::DataRuns(uint32_t first, uint64_t count, bool noFatChain, bool deleted,
                                  std::vector<ClusterRun>& out) {
  out.clear();
  if (count == 0) return kOk;
  if (!geometry_.ValidCluster(first) || count > geometry_.clusterCount) return kInvalidData;
  const bool bitmap = EnsureBitmap();
  // A folder's entries lie where this file's data was: written after it.
  auto overDirectory = [this](uint64_t c, uint64_t n) {
    for (uint64_t i = 0; i < n && !dirClusters_.empty(); ++i)
      if (dirClusters_.count(uint32_t(c + i))) return true;
    return false;
  };
  if (noFatChain) {
    if (first + count - 1 > geometry_.MaxCluster()) return kInvalidData;
    if (deleted && ((bitmap && bitmap_.AnyInUse(first, count)) || overDirectory(first, count)))
      return kDataOverwritten;
    out.push_back({first, count});
    return kOk;
  }
  std::vector<uint32_t> chain;
  const ExfatChainEnd end = FollowExfatChain(first, count, geometry_.MaxCluster(), fat_.Reader(), chain);
  const bool whole = end == ExfatChainEnd::kComplete || (!deleted && end == ExfatChainEnd::kLonger);
  bool chainFree = true;
  if (deleted) {
    if ((bitmap && bitmap_.InUse(first)) || overDirectory(first, 1)) return kDataOverwritten;
    for (uint32_t c : chain)
      if ((bitmap && bitmap_.InUse(c)) || overDirectory(c, 1)) chainFree = false;
  }
  if (whole && chainFree) {
    for (uint32_t c : chain) {
      if (!out.empty() && out.back().first + out.back().count == c)
        ++out.back().count;
      else
        out.push_back({c, 1});
    }
    return kOk;
  }
  // A live file's chain that breaks off is damage.
  if (!deleted) return kInvalidData;
  // The chain was cleared when the file was deleted (exfat-fuse does so), or
  // leads into clusters in use: the file went on in the free clusters after
  // its first one, as the allocator handed them out.
  uint64_t c = first, left = count;
  while (left > 0) {
    uint64_t runEnd = bitmap ? bitmap_.RunEnd(c) : geometry_.MaxCluster() + 1;
    const uint64_t take = std::min(left, runEnd - c);
    if (overDirectory(c, take)) return kDataOverwritten;
    out.push_back({uint32_t(c), take});
    left -= take;
    if (left == 0) break;
    c = bitmap ? bitmap_.NextFree(runEnd) : 0;
    // No free cluster left after it: the rest was overwritten by other files.
    if (c == 0) return kDataOverwritten;
  }
  return kOk;
}

Status QuickExfatEngine::ReadContent(const FoundItemRecord& record, const ContentSink& sink) {
  if (!opened_) return kNotReady;
  if (record.isFolder) return kInvalidArg;
  const uint64_t size = record.size;
  if (size == 0) {
    static const uint8_t kNothing = 0;
    return sink(&kNothing, 0);
  }
  if (size > geometry_.HeapBytes()) return kInvalidData;
  // The stream extension the record was made from: its flags, valid data
  // length, and whether it is still marked deleted.
  const uint64_t entryByte = uint64_t(record.location) * kExfatEntrySize;
  std::vector<uint8_t> sector(512);
  uint32_t got = 0;
  if (Status s = ReadBytes(entryByte / 512 * 512, 512, sector.data(), got)) return s;
  ByteView e = ByteView(sector.data(), got).Sub(entryByte % 512, kExfatEntrySize);
  if ((e.U8(0) | kExfatInUse) != kExfatStreamEntry || e.U32(20) != record.itemId || e.U64(24) != size)
    return kNoContent;
  const bool deleted = (e.U8(0) & kExfatInUse) == 0;
  const uint8_t flags = e.U8(1);
  if (!(flags & kExfatAllocationPossible)) return kInvalidData;
  // Past the valid data length the file system reads zeros, whatever the
  // clusters hold.
  const uint64_t valid = std::min(e.U64(8), size);
  const uint32_t cb = geometry_.ClusterBytes();
  std::vector<ClusterRun> runs;
  if (Status s = DataRuns(record.itemId, (valid + cb - 1) / cb, (flags & kExfatNoFatChain) != 0, deleted, runs))
    return s;

  uint64_t remaining = valid;
  std::vector<uint8_t>& buf = readBuf_;
  const uint64_t mediumEnd = MediumEnd();
  for (const ClusterRun& run : runs) {
    for (uint64_t i = 0; i < run.count && remaining > 0;) {
      const uint64_t clusters = std::min<uint64_t>({run.count - i, std::max<uint32_t>(1, kRunBytes / cb),
                                                   (remaining + cb - 1) / cb});
      const uint32_t want = uint32_t(std::min<uint64_t>(clusters * cb, (remaining + 511) / 512 * 512));
      const uint64_t at = geometry_.ClusterOffset(uint32_t(run.first + i));
      // Clusters a truncated image or a short partition no longer holds are
      // no read error: the data is simply not there.
      if (at >= mediumEnd) return kDataPastEnd;
      if (buf.size() < want) buf.resize(want);
      if (Status s = ReadBytes(at, want, buf.data(), got)) return s;
      const uint64_t useful = std::min<uint64_t>(got, remaining);
      if (int a = FeedInPieces(sink, buf.data(), useful)) return a;
      remaining -= useful;
      if (remaining > 0 && got < want) return at + want > mediumEnd ? kDataPastEnd : kReadFault;
      i += clusters;
    }
  }
  if (remaining > 0) return kInvalidData;
  if (valid < size)
    if (int a = FeedZeros(sink, size - valid)) return a;
  return kOk;
}

Status QuickExfatEngine::NextFreeExtent(uint64_t& pos, uint64_t& len) {
  len = 0;
  if (!bitmap_.Loaded()) return kInvalidArg;
  const uint64_t unit = geometry_.deviceSectorSize;
  const uint64_t total = geometry_.areaSectors;
  const uint64_t cb = geometry_.ClusterBytes();
  const uint64_t heap = uint64_t(geometry_.clusterHeapOffset) * geometry_.bytesPerSector;
  // The boot regions, the FATs and the space before the heap count as in use.
  while (pos < total) {
    const uint64_t byte = pos * unit;
    const uint64_t first = byte < heap ? 2 : 2 + (byte - heap) / cb;
    uint64_t c = first;
    if (c > bitmap_.MaxCluster()) break;
    if (bitmap_.InUse(c)) c = bitmap_.NextFree(c);
    if (c == 0) break;
    const uint64_t e = bitmap_.RunEnd(c);
    uint64_t startByte = heap + (c - 2) * cb;
    if (c == first && byte > startByte) startByte = byte;
    const uint64_t endByte = heap + (e - 2) * cb;
    pos = (startByte + unit - 1) / unit;
    const uint64_t endSector = std::min(endByte / unit, total);
    if (endSector > pos) {
      len = endSector - pos;
      return 1;
    }
    // A free stretch smaller than a sector of the medium: the next one.
    pos = std::max(pos, (endByte + unit - 1) / unit);
  }
  pos = total;
  len = 0;
  return 1;
}

}  // namespace dunmere
