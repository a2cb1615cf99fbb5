#include "carving/flv_walk.h"

namespace dunmere {

void FlvWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t) {
  switch (next_) {
    case Next::kHeader: {
      const uint32_t dataOffset = Be32(s + 5);
      if (dataOffset < 9) return Break();
      next_ = Next::kPreviousSize;
      tagSize_ = 0;
      return Want(dataOffset, 4);
    }
    case Next::kPreviousSize:
      if (Be32(s) != tagSize_) return Break();
      next_ = Next::kTag;
      return Want(pos + 4, 11);
    case Next::kTag: {
      const uint8_t type = s[0] & 0x1F;
      const bool tag = (type == 8 || type == 9 || type == 18) && s[8] == 0 && s[9] == 0 && s[10] == 0;
      if (!tag) {
        if (tags_) return Finish(pos);
        return Break();
      }
      const uint32_t size = (uint32_t(s[1]) << 16) | (uint32_t(s[2]) << 8) | s[3];
      tags_ = true;
      tagSize_ = size + 11;
      next_ = Next::kPreviousSize;
      return Want(pos + 11 + size, 4);
    }
  }
}

}  // namespace dunmere
