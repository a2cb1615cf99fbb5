#pragma once
// The master file tables a deep scan has met, each keyed by the sector where
// its record 0 ("$MFT") was found: where the table's records lie on the disk,
// and so which table (and volume) a FILE record found anywhere belongs to.
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "ntfs/run_list.h"

namespace dunmere {

// A stretch of a table: sectors [tableSector, tableSector + sectors) of the
// table lie at [diskSector, diskSector + sectors) of the disk.
struct TableRun {
  uint64_t tableSector = 0;
  uint64_t diskSector = 0;
  uint64_t sectors = 0;
};

struct MftTable {
  uint64_t keySector = 0;    // absolute sector of record 0
  uint64_t volumeStart = 0;  // absolute sector of the volume's cluster 0
  uint32_t sectorsPerCluster = 1;
  std::vector<TableRun> runs;  // in table order, without holes

  // Disk sector of the table's sector `tableSector`. Past the last run the
  // table is taken to go on where that run ends (`continued` then true): a
  // volume formatted anew over an older one keeps the old, longer table's
  // records there, and a table grows into the space reserved after it.
  bool Locate(uint64_t tableSector, uint64_t& diskSector, bool& continued) const;
};

// Builds the table of a "$MFT" record found at `keySector` from its $DATA
// extents. False when the runs cannot place a table there (a sparse or empty
// first run, a volume that would start before sector 0, or an overflow).
bool MakeMftTable(const std::vector<Extent>& extents, uint64_t keySector, uint32_t sectorsPerCluster, MftTable& out);

// A table of one contiguous run from `firstSector` (for records no known
// table explains). Its volume start is the caller's to set.
MftTable ContiguousTable(uint64_t firstSector);

class MftMap {
 public:
  // Far beyond the volumes one disk holds; a disk full of copied volume
  // images cannot make the map grow without bound. Later tables are dropped.
  static constexpr size_t kMaxTables = 1024;

  void Clear() { tables_.clear(); }
  // Adds or replaces the table keyed by its sector. False when the map is full.
  bool Add(MftTable table);
  // The table in which record `n` would lie at sector `sector`
  // (`sectorsPerRecord` sectors per record), or nullptr. A table whose runs
  // cover the record wins over one that only explains it by continuation.
  const MftTable* Attribute(uint64_t n, uint64_t sector, uint32_t sectorsPerRecord) const;
  size_t size() const { return tables_.size(); }
  const std::map<uint64_t, MftTable>& Tables() const { return tables_; }

 private:
  std::map<uint64_t, MftTable> tables_;
};

}  // namespace dunmere
