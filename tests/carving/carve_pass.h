#pragma once
// The carving pass as the deep scan drives it, for the tests that carve a
// whole medium: 64 KiB chunks, every sector of a chunk offered to carving,
// skips that run past a chunk carried into the next.
#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "carving/carving_engine.h"
#include "storage/sector_source.h"

namespace dunmere::test {

struct PassResult {
  Status status = kOk;
  uint64_t found = 0;
  uint64_t carveCalls = 0;
  std::map<uint64_t, uint64_t> skipAt;  // carved sector -> skip answered
};

inline PassResult RunPass(CarvingEngine& engine, const SectorSource& source) {
  constexpr uint32_t kSector = 512;
  PassResult out;
  uint64_t total = source.LengthBytes() / kSector;
  std::vector<uint8_t> chunk(65536);
  uint64_t offset = 0;
  while (offset < total) {
    uint32_t n = uint32_t(std::min<uint64_t>(65536 / kSector, total - offset));
    uint32_t got = 0;
    (void)source.ReadSectors(n, chunk.data(), offset, kSector, got);
    uint64_t i = 0;
    while (i < got) {
      uint64_t skip = 1;
      CarveScanProgress p{offset + i, total, -1, out.found};
      ++out.carveCalls;
      Status s = engine.CarveAtSector(kSector, ByteView(chunk.data() + i * kSector, kSector), offset + i, p, &source,
                                      skip, out.found);
      if (s == kStopRequested) {
        out.status = s;
        return out;
      }
      if (s == kOk) out.skipAt[offset + i] = skip;
      i += skip;
    }
    offset += std::max<uint64_t>(n, i);
  }
  return out;
}

}  // namespace dunmere::test
