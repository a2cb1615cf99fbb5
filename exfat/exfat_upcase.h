#pragma once
// The up-case table, as far as names need it: a name's hash in the stream
// extension is taken over its up-cased UTF-16 units. The table is stored
// compressed: 0xFFFF followed by a count stands for that many units that
// map to themselves, except as the very last unit of a full table, where it
// is U+FFFF's own mapping (mkfs.exfat writes it so).
#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace dunmere {

// The checksum of a table's stored bytes (the up-case entry keeps it).
uint32_t ExfatTableChecksum(ByteView table);

class ExfatUpcaseTable {
 public:
  // Expands the stored table; false when it is malformed (a run past the
  // last unit, an odd length). Units the table does not reach map to themselves.
  bool Load(ByteView stored);
  bool Loaded() const { return !map_.empty(); }
  char16_t Upper(char16_t c) const { return c < map_.size() ? map_[c] : c; }

 private:
  std::vector<char16_t> map_;
};

// The name hash of a stream extension entry.
uint16_t ExfatNameHash(const std::u16string& name, const ExfatUpcaseTable& table);

}  // namespace dunmere
