#include "carving/psd_walk.h"

#include <algorithm>

namespace dunmere {

void PsdWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t n) {
  switch (next_) {
    case Next::kHeader: {
      const uint16_t version = Be16(s + 4);
      const uint16_t depth = Be16(s + 22);
      if (version != 1 && version != 2) return Break();
      if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return Break();
      big_ = version == 2;
      channels_ = Be16(s + 12);
      height_ = Be32(s + 14);
      const uint64_t width = Be32(s + 18);
      if (channels_ == 0 || channels_ > 56 || height_ == 0 || width == 0) return Break();
      rowBytes_ = (width * depth + 7) / 8;
      next_ = Next::kColourModes;
      return Want(26, 4);
    }
    case Next::kColourModes:
    case Next::kResources:
      next_ = next_ == Next::kColourModes ? Next::kResources : Next::kLayers;
      return Want(pos + 4 + Be32(s), next_ == Next::kLayers && big_ ? 8 : 4);
    case Next::kLayers: {
      const uint64_t length = big_ ? Be64(s) : Be32(s);
      if (length > (uint64_t(1) << 48)) return Break();
      next_ = Next::kCompression;
      return Want(pos + n + length, 2);
    }
    case Next::kCompression: {
      const uint16_t compression = Be16(s);
      if (compression == 0) return Finish(pos + 2 + channels_ * height_ * rowBytes_);
      if (compression != 1) return Break();
      next_ = Next::kRowCounts;
      counts_ = channels_ * height_;
      const uint32_t entry = big_ ? 4 : 2;
      return Want(pos + 2, uint32_t(std::min<uint64_t>(counts_ * entry, kMaxSpan)));
    }
    case Next::kRowCounts: {
      const uint32_t entry = big_ ? 4 : 2;
      for (uint32_t i = 0; i + entry <= n; i += entry) sum_ += big_ ? Be32(s + i) : Be16(s + i);
      counts_ -= n / entry;
      if (counts_ == 0) return Finish(pos + n + sum_);
      return Want(pos + n, uint32_t(std::min<uint64_t>(counts_ * entry, kMaxSpan)));
    }
  }
}

}  // namespace dunmere
