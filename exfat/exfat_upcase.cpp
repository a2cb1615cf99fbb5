#include "exfat/exfat_upcase.h"

namespace dunmere {

uint32_t ExfatTableChecksum(ByteView table) {
  uint32_t sum = 0;
  for (size_t i = 0; i < table.size(); ++i) sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + table.data()[i];
  return sum;
}

bool ExfatUpcaseTable::Load(ByteView stored) {
  map_.clear();
  if (stored.size() % 2 || stored.size() == 0) return false;
  std::vector<char16_t> map;
  map.reserve(0x10000);
  const size_t units = stored.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    const uint16_t u = stored.U16(i * 2);
    // The last unit of a full table is U+FFFF's own mapping, not a run.
    if (u == 0xFFFF && !(i + 1 == units && map.size() == 0xFFFF)) {
      if (++i >= units) return false;
      const uint32_t run = stored.U16(i * 2);
      if (map.size() + run > 0x10000) return false;
      for (uint32_t k = 0; k < run; ++k) map.push_back(char16_t(map.size()));
      continue;
    }
    if (map.size() >= 0x10000) return false;
    map.push_back(char16_t(u));
  }
  map_ = std::move(map);
  return !map_.empty();
}

uint16_t ExfatNameHash(const std::u16string& name, const ExfatUpcaseTable& table) {
  uint16_t hash = 0;
  for (char16_t c : name) {
    const uint16_t u = table.Upper(c);
    for (uint8_t byte : {uint8_t(u), uint8_t(u >> 8)}) hash = uint16_t(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + byte);
  }
  return hash;
}

}  // namespace dunmere
