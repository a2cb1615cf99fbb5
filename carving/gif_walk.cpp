#include "carving/gif_walk.h"

namespace dunmere {

namespace {
uint64_t ColourTable(uint8_t flags) { return (flags & 0x80) ? 3ull << ((flags & 7) + 1) : 0; }
}  // namespace

void GifWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t n) {
  switch (next_) {
    case Next::kScreen:
      next_ = Next::kBlock;
      return Want(13 + ColourTable(s[10]), 1);
    case Next::kBlock:
      if (s[0] == 0x3B) return Finish(pos + 1);
      if (s[0] == 0x21) {  // extension: introducer, label, sub-blocks
        next_ = Next::kSubBlock;
        return Want(pos + 2, 1);
      }
      if (s[0] != 0x2C) return Break();
      if (n < 10) return Want(pos, 10);
      // Image descriptor, local colour table, LZW code size, sub-blocks.
      next_ = Next::kSubBlock;
      return Want(pos + 10 + ColourTable(s[9]) + 1, 1);
    case Next::kSubBlock:
      if (s[0] == 0) next_ = Next::kBlock;
      return Want(pos + 1 + s[0], 1);
  }
}

}  // namespace dunmere
