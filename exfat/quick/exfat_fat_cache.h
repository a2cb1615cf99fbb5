#pragma once
// The FAT the volume uses, read through one window of at most 1 MiB: chains
// are mostly short and local, and a large volume's FAT runs to hundreds of MiB.
#include <cstdint>
#include <functional>
#include <vector>

#include "base/status.h"
#include "exfat/exfat_boot_sector.h"
#include "exfat/exfat_fat.h"

namespace dunmere {

class ExfatFatCache {
 public:
  static constexpr uint32_t kWindowBytes = 1u << 20;
  // Reads bytes of the medium (offset and length in whole 512-byte sectors);
  // `got` says how many arrived.
  using ReadFn = std::function<Status(uint64_t offset, uint32_t length, uint8_t* out, uint32_t& got)>;

  void Open(const ExfatGeometry& g, ReadFn read);
  // The entry of a cluster of the heap; false when it cannot be read.
  bool Read(uint32_t cluster, uint32_t& value);
  ExfatFatReader Reader() {
    return [this](uint32_t c, uint32_t& v) { return Read(c, v); };
  }

 private:
  ExfatGeometry g_;
  ReadFn read_;
  std::vector<uint8_t> window_;
  uint64_t windowStart_ = 0;  // FAT byte of window_[0]
  bool filled_ = false;
};

}  // namespace dunmere
