#include "exfat/deep/exfat_volumes.h"

#include <algorithm>

#include "exfat/exfat_upcase.h"

namespace dunmere {

namespace {
// How far after the up-case table a root directory is looked for, in clusters.
constexpr uint64_t kMaxRootDistance = 64;
constexpr uint64_t kMaxUpcaseBytes = 256u << 10;

uint64_t Clusters(uint64_t bytes, uint64_t clusterBytes) { return (bytes + clusterBytes - 1) / clusterBytes; }

bool FatOpensAt(uint64_t volumeStart, const ExfatGeometry& g, const ExfatByteReader& read) {
  uint8_t head[8] = {};
  if (read(volumeStart + uint64_t(g.fatOffset) * g.bytesPerSector, head, sizeof head) != sizeof head) return false;
  // Entry 0 holds the media type, entry 1 the end mark.
  return Le32(head) == 0xFFFFFFF8u && Le32(head + 4) == 0xFFFFFFFFu;
}
// Whether the bitmap at `at` marks clusters [b, b + bn), [u, u + un) and r in use.
bool BitmapMarksLayout(uint64_t at, uint64_t b, uint64_t bn, uint64_t u, uint64_t un, uint64_t r,
                       const ExfatByteReader& read) {
  const uint64_t last = std::max({b + bn - 1, u + un - 1, r});
  if (last - 2 >= 8 * 4096) return false;  // a layout this spread is no formatter's
  std::vector<uint8_t> bits(size_t((last - 2) / 8 + 1));
  if (read(at, bits.data(), bits.size()) != bits.size()) return false;
  auto used = [&](uint64_t c) { return (bits[size_t((c - 2) / 8)] >> ((c - 2) % 8)) & 1; };
  for (uint64_t c = b; c < b + bn; ++c)
    if (!used(c)) return false;
  for (uint64_t c = u; c < u + un; ++c)
    if (!used(c)) return false;
  return used(r);
}
}  // namespace

std::optional<ExfatVolume> ExfatVolumeFromBootSector(ByteView sector, uint64_t at, uint32_t mss, uint64_t mediumBytes,
                                                     const ExfatByteReader& read) {
  ExfatVolume v;
  if (mss == 0 || ParseExfatBootSector(sector, v.g) != kOk) return std::nullopt;
  const uint32_t bps = v.g.bytesPerSector;
  const uint64_t regionBytes = uint64_t(kExfatBootRegionSectors) * bps;
  std::vector<uint8_t> region(regionBytes);
  if (read(at, region.data(), region.size()) == region.size() &&
      !ExfatBootRegionChecksumOk(ByteView(region.data(), region.size()), bps))
    return std::nullopt;

  const bool mainFits = at % mss == 0;
  const bool backupFits = at >= regionBytes && (at - regionBytes) % mss == 0;
  if (!mainFits && !backupFits) return std::nullopt;
  const uint64_t backupStart = backupFits ? at - regionBytes : 0;
  uint64_t start = mainFits ? at : backupStart;
  if (mainFits && backupFits) {
    // The sector names its volume's place on the medium where the formatter knew it.
    const uint64_t named = sector.U64(exfat_boot::kPartitionOffset);
    const bool namesMain = named && (named * bps == at || named * mss == at);
    const bool namesBackup = named && (named * bps == backupStart || named * mss == backupStart);
    if (namesMain != namesBackup) {
      start = namesMain ? at : backupStart;
    } else {
      const bool fatMain = FatOpensAt(at, v.g, read), fatBackup = FatOpensAt(backupStart, v.g, read);
      if (fatBackup && !fatMain) start = backupStart;
    }
  }
  v.g.deviceSectorSize = mss;
  v.g.partitionStart = start / mss;
  const uint64_t mediumSectors = mediumBytes / mss;
  v.g.areaSectors = mediumSectors > v.g.partitionStart ? mediumSectors - v.g.partitionStart : 0;
  v.fromBoot = true;
  return v;
}

std::optional<ExfatVolume> ExfatVolumeFromRoot(uint64_t rootAt, const ExfatDataEntry& bitmap,
                                               const ExfatDataEntry& upcase, uint32_t mss, uint64_t mediumBytes,
                                               const ExfatByteReader& read) {
  const uint64_t upLength = upcase.dataLength, u = upcase.firstCluster, b = bitmap.firstCluster;
  if (mss == 0 || upLength == 0 || upLength > kMaxUpcaseBytes || upLength % 2 || u < 2 || b < 2 ||
      bitmap.dataLength == 0 || bitmap.dataLength > (uint64_t(kExfatMaxClusterCount) + 7) / 8 || rootAt % mss)
    return std::nullopt;
  std::vector<uint8_t> table(upLength);
  struct Found {
    uint32_t shift = 0;
    uint64_t distance = 0;
    uint64_t slack = UINT64_MAX;
  } best;
  for (uint32_t shift = 9; shift <= kExfatMaxClusterShift; ++shift) {
    const uint64_t cb = uint64_t(1) << shift;
    if (cb % mss) continue;
    const uint64_t upClusters = Clusters(upLength, cb), bitmapClusters = Clusters(bitmap.dataLength, cb);
    // The bitmap, when it lies below the table, ends before it.
    if (b < u && b + bitmapClusters > u) continue;
    for (uint64_t d = upClusters; d <= kMaxRootDistance; ++d) {
      if (rootAt < d * cb) break;
      const uint64_t tableAt = rootAt - d * cb;
      if (tableAt < (u - 2) * cb) break;
      const uint64_t slack = (d - upClusters) + (b < u ? u - b - bitmapClusters : 0);
      if (slack >= best.slack) break;
      if (read(tableAt, table.data(), table.size()) != table.size()) continue;
      if (ExfatTableChecksum(ByteView(table.data(), table.size())) != upcase.checksum) continue;
      // Cluster sizes that put the same table under the same root differ in
      // where the bitmap lies: only the right one finds it marking the
      // bitmap's, the table's and the root's clusters in use.
      const uint64_t heap = tableAt - (u - 2) * cb;
      if (!BitmapMarksLayout(heap + (b - 2) * cb, b, bitmapClusters, u, upClusters, u + d, read)) continue;
      best = Found{shift, d, slack};
      break;
    }
  }
  if (best.slack == UINT64_MAX) return std::nullopt;
  const uint64_t cb = uint64_t(1) << best.shift;
  const uint64_t heap = rootAt - best.distance * cb - (u - 2) * cb;
  if (heap % mss) return std::nullopt;
  // The volume's start and its FAT are unknown: the volume is taken to
  // start where its heap does, with no FAT to follow.
  ExfatVolume v;
  ExfatGeometry& g = v.g;
  g.deviceSectorSize = mss;
  g.partitionStart = heap / mss;
  const uint64_t mediumSectors = mediumBytes / mss;
  g.areaSectors = mediumSectors > g.partitionStart ? mediumSectors - g.partitionStart : 0;
  g.bytesPerSectorShift = 9;
  while ((1u << g.bytesPerSectorShift) < mss) ++g.bytesPerSectorShift;
  g.bytesPerSector = 1u << g.bytesPerSectorShift;
  g.sectorsPerClusterShift = best.shift - g.bytesPerSectorShift;
  g.sectorsPerCluster = 1u << g.sectorsPerClusterShift;
  g.clusterHeapOffset = 0;
  g.clusterCount = uint32_t(std::min<uint64_t>(bitmap.dataLength * 8, kExfatMaxClusterCount));
  g.rootCluster = uint32_t(u + best.distance);
  g.volumeLength = uint64_t(g.clusterCount) << g.sectorsPerClusterShift;
  g.fatOffset = g.fatLength = 0;
  v.fromBoot = false;
  v.haveBitmap = true;
  v.bitmap = bitmap;
  return v;
}

int AddExfatVolume(std::vector<ExfatVolume>& volumes, const ExfatVolume& v) {
  for (size_t i = 0; i < volumes.size(); ++i)
    if (volumes[i].Same(v)) return int(i);
  if (volumes.size() >= kMaxExfatVolumes) return -1;
  volumes.push_back(v);
  return int(volumes.size() - 1);
}

int ExfatVolumeHolding(const std::vector<ExfatVolume>& volumes, uint64_t byte) {
  int found = -1;
  for (size_t i = 0; i < volumes.size(); ++i)
    if (volumes[i].HeapHolds(byte) &&
        (found < 0 || volumes[i].g.partitionStart > volumes[size_t(found)].g.partitionStart))
      found = int(i);
  return found;
}

}  // namespace dunmere
