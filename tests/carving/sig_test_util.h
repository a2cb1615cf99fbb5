#pragma once
// A small medium for the signature tests: files placed at sector-aligned
// offsets with what follows them, written to an image file and read back
// through a sector source, as a deep scan would see them.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "carving/carve_context.h"
#include "carving/identify_and_size.h"
#include "storage/sector_source.h"
#include "tests/support/test_support.h"

namespace dunmere::test {

class Medium {
 public:
  static constexpr uint32_t kSector = 512;
  explicit Medium(uint32_t seed = 7) : rng_(seed) {}

  // Places the file at the next sector boundary and zero-fills the rest of
  // its last sector (slack as a freshly formatted volume leaves it). Returns
  // its first sector.
  uint64_t Place(const std::vector<uint8_t>& file) {
    uint64_t at = bytes.size() / kSector;
    bytes.insert(bytes.end(), file.begin(), file.end());
    Pad();
    return at;
  }
  // Places the file and puts `after` right behind its last byte, without padding.
  uint64_t PlaceThen(const std::vector<uint8_t>& file, const std::vector<uint8_t>& after) {
    uint64_t at = bytes.size() / kSector;
    bytes.insert(bytes.end(), file.begin(), file.end());
    bytes.insert(bytes.end(), after.begin(), after.end());
    Pad();
    return at;
  }
  void Random(size_t sectors) {
    for (size_t i = 0; i < sectors * kSector; ++i) bytes.push_back(uint8_t(rng_()));
  }
  std::vector<uint8_t> RandomBytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(rng_());
    return v;
  }
  void Zero(size_t sectors) { bytes.resize(bytes.size() + sectors * kSector, 0); }
  // Writes the image and opens it as the source.
  void Open(const TempDir& dir, const std::string& name = "medium.img") {
    path = dir / name;
    WriteBytes(path, bytes);
    (void)source.OpenImageFile(path);
  }
  ByteView SectorAt(uint64_t s) const { return ByteView(bytes.data() + s * kSector, kSector); }

  std::vector<uint8_t> bytes;
  std::string path;
  SectorSource source;

 private:
  void Pad() { bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, 0); }
  std::mt19937 rng_;
};

inline void PrepareContext(CarveContext& ctx, const Medium& m) {
  ctx.sectorSize = Medium::kSector;
  ctx.source = &m.source;
}

inline Identification CarveAt(CarveContext& ctx, const Medium& m, uint64_t sector) {
  PrepareContext(ctx, m);
  return IdentifyAndSize(ctx, m.SectorAt(sector), sector);
}

inline uint64_t RoundUp(uint64_t n) { return (n + Medium::kSector - 1) / Medium::kSector * Medium::kSector; }

// An NTFS file record header, as it would lie in the middle of a deleted file's area.
inline std::vector<uint8_t> FileRecordSector() {
  std::vector<uint8_t> s(Medium::kSector, 0);
  const char* f = "FILE";
  std::copy(f, f + 4, s.begin());
  s[4] = 0x30;
  return s;
}

}  // namespace dunmere::test
