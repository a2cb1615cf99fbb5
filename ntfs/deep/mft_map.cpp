#include "ntfs/deep/mft_map.h"

#include <algorithm>
#include <limits>

namespace dunmere {

namespace {
constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
}

bool MftTable::Locate(uint64_t t, uint64_t& disk, bool& continued) const {
  continued = false;
  if (runs.empty()) return false;
  auto it =
      std::upper_bound(runs.begin(), runs.end(), t, [](uint64_t v, const TableRun& r) { return v < r.tableSector; });
  if (it == runs.begin()) return false;
  --it;
  uint64_t into = t - it->tableSector;
  if (into >= it->sectors) {
    if (std::next(it) != runs.end()) return false;
    continued = true;
  }
  if (into > kMax - it->diskSector) return false;
  disk = it->diskSector + into;
  return true;
}

bool MakeMftTable(const std::vector<Extent>& extents, uint64_t key, uint32_t spc, MftTable& out) {
  out = MftTable{};
  if (extents.empty() || extents.front().sparse || extents.front().vcn != 0 || spc == 0) return false;
  unsigned __int128 firstSector = (unsigned __int128)extents.front().lcn * spc;
  if (firstSector > key) return false;
  out.keySector = key;
  out.volumeStart = key - uint64_t(firstSector);
  out.sectorsPerCluster = spc;
  for (const Extent& e : extents) {
    // A table has no holes; a sparse stretch ends what can be mapped.
    if (e.sparse) break;
    unsigned __int128 ts = (unsigned __int128)e.vcn * spc, ds = (unsigned __int128)e.lcn * spc + out.volumeStart,
                      n = (unsigned __int128)e.count * spc;
    if (ts + n > kMax || ds + n > kMax) return false;
    out.runs.push_back({uint64_t(ts), uint64_t(ds), uint64_t(n)});
  }
  return true;
}

MftTable ContiguousTable(uint64_t first) {
  MftTable t;
  t.keySector = first;
  t.runs.push_back({0, first, kMax - first});
  return t;
}

bool MftMap::Add(MftTable table) {
  auto it = tables_.find(table.keySector);
  if (it != tables_.end()) {
    it->second = std::move(table);
    return true;
  }
  if (tables_.size() >= kMaxTables) return false;
  tables_.emplace(table.keySector, std::move(table));
  return true;
}

const MftTable* MftMap::Attribute(uint64_t n, uint64_t sector, uint32_t spr) const {
  if (n > kMax / spr) return nullptr;
  uint64_t offset = n * spr;
  const MftTable* continuedMatch = nullptr;
  for (const auto& [key, t] : tables_) {
    uint64_t disk;
    bool continued;
    if (!t.Locate(offset, disk, continued) || disk != sector) continue;
    if (!continued) return &t;
    if (!continuedMatch) continuedMatch = &t;
  }
  return continuedMatch;
}

}  // namespace dunmere
