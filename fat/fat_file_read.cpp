#include "fat/fat_file_read.h"

#include <algorithm>
#include <unordered_set>

#include "engine/content_pieces.h"
#include "fat/fat_dir_entry.h"

namespace dunmere {

namespace {
// Reads of file data gather consecutive clusters up to this many bytes.
constexpr uint32_t kRunBytes = 1u << 20;
}  // namespace

Status ReadFatFile(const FatFileReading& how, uint32_t first, uint64_t size, const std::function<bool()>& entryDeleted,
                   const std::function<int(const uint8_t*, size_t)>& sink) {
  const FatVolumeGeometry& g = how.geometry;
  FatEntryCache& fat = how.fat;
  const uint32_t cb = g.ClusterBytes();
  uint64_t remaining = size;
  if (remaining > g.DeclaredDataBytes()) return kInvalidData;
  uint32_t c = first;
  if (!g.ValidCluster(c)) return g.DeclaredCluster(c) ? kDataPastEnd : kInvalidData;
  // A live chain could loop; deleted data only ever moves forward.
  const bool chained = !fat.IsFree(c);
  // A deleted file whose first cluster another file has taken since: what
  // the chain holds now is that file's data, not this one's.
  if (chained && entryDeleted && entryDeleted()) return kDataOverwritten;
  std::unordered_set<uint32_t> seen;
  if (chained) seen.insert(c);
  const uint32_t runMax = std::max<uint32_t>(1, kRunBytes / cb);
  std::vector<uint8_t>& buf = how.buffer;
  const uint64_t wanted = std::min<uint64_t>(uint64_t(runMax) * cb, (remaining + cb - 1) / cb * cb);
  if (buf.size() < wanted) buf.resize(size_t(wanted));
  while (remaining > 0) {
    uint64_t need = (remaining + cb - 1) / cb;
    uint32_t runStart = c, last = c, n = 1, next = 0;
    bool haveNext = false;
    while (n < need && n < runMax) {
      next = fat.NextCluster(last);
      haveNext = true;
      if (next != last + 1 || (chained && !seen.insert(next).second)) break;
      last = next;
      ++n;
      haveNext = false;
    }
    uint32_t got = 0;
    uint32_t want = uint32_t(std::min<uint64_t>(uint64_t(n) * cb, remaining + (cb - 1)) / cb * cb);
    if (buf.size() < want) buf.resize(want);
    const uint64_t at = ClusterToOffset(g, runStart);
    // Clusters a truncated image or a short partition no longer holds are
    // no read error: the data is simply not there.
    if (at >= how.mediumEnd) return kDataPastEnd;
    if (Status s = how.read(at, want, buf.data(), got)) return s;
    uint64_t useful = std::min<uint64_t>(got, remaining);
    if (int a = FeedInPieces(sink, buf.data(), useful)) return a;
    remaining -= useful;
    if (remaining == 0) break;
    if (got < want) return at + want > how.mediumEnd ? kDataPastEnd : kReadFault;
    if (!haveNext) next = fat.NextCluster(last);
    // The data ran out before the size. Deleted data goes on in the next free
    // cluster: with none left after this one, the rest lies past the
    // volume's last cluster or was overwritten by other files. A live chain
    // that ends too early or loops is damage.
    if (next == 0 && !chained) return last >= g.MaxCluster() ? kDataPastEnd : kDataOverwritten;
    if (next == 0 || next == last) return kInvalidData;
    if (chained && !seen.insert(next).second) return kInvalidData;  // the chain loops
    c = next;
  }
  return kOk;
}

bool HoldsDeletedEntry(ByteView sector, uint64_t size, uint16_t clusterLow) {
  for (size_t off = 0; off + kFatDirEntrySize <= sector.size(); off += kFatDirEntrySize) {
    FatDirEntry e(sector.Sub(off, kFatDirEntrySize));
    if (e.IsDeleted() && e.Size() == size && e.ClusterLow() == clusterLow) return true;
  }
  return false;
}

}  // namespace dunmere
