#include "carving/rar_walk.h"

namespace dunmere {

namespace {
constexpr uint8_t kMarker = 0x72, kFile = 0x74, kNewSub = 0x7A, kEnd = 0x7B;
}

void RarWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t n) {
  const uint8_t type = s[2];
  const uint16_t flags = Le16(s + 3);
  const uint16_t headSize = Le16(s + 5);
  if (type < kMarker || type > kEnd || headSize < 7) return Break();
  if (type == kEnd) return Finish(pos + headSize);
  uint64_t data = 0;
  const bool sized = (flags & 0x8000) || type == kFile || type == kNewSub;
  if (sized) {
    const bool high = (type == kFile || type == kNewSub) && (flags & 0x100);
    const uint32_t want = high ? 36 : 11;
    if (headSize < want) return Break();
    if (n < want) return Want(pos, want);
    data = Le32(s + 7);
    if (high) data |= uint64_t(Le32(s + 32)) << 32;
  }
  Want(pos + headSize + data, 7);
}

}  // namespace dunmere
