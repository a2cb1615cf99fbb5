#include "carving/ebml_walk.h"

namespace dunmere {

namespace {
// Length of the variable-length number whose first byte is `b` (0: none).
uint32_t VintLength(uint8_t b) {
  for (uint32_t len = 1; len <= 8; ++len)
    if (b & (0x80 >> (len - 1))) return len;
  return 0;
}
constexpr uint32_t kEbmlHeader = 0x1A45DFA3, kSegment = 0x18538067, kVoid = 0xEC;
}  // namespace

void EbmlWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t) {
  const uint32_t idLen = VintLength(s[0]);
  uint32_t id = 0;
  if (idLen >= 1 && idLen <= 4)
    for (uint32_t i = 0; i < idLen; ++i) id = (id << 8) | s[i];
  // Void elements are taken only before the first segment: after it, a random
  // EC byte in the old data behind the file would pass for one.
  const bool known = id == kEbmlHeader || id == kSegment || (id == kVoid && !segment_);
  if (!known) {
    // Not a top-level element: the file ended after its segment.
    if (segment_) Finish(pos);
    else Break();
    return;
  }
  const uint32_t sizeLen = VintLength(s[idLen]);
  if (sizeLen == 0) {
    Break();
    return;
  }
  uint64_t size = s[idLen] & (0xFF >> sizeLen);
  bool unknown = size == (0xFFu >> sizeLen);
  for (uint32_t i = 1; i < sizeLen; ++i) {
    size = (size << 8) | s[idLen + i];
    unknown = unknown && s[idLen + i] == 0xFF;
  }
  if (unknown || size > (uint64_t(1) << 56)) {
    Break();
    return;
  }
  if (id == kSegment) segment_ = true;
  Want(pos + idLen + sizeLen + size, 12);
}

}  // namespace dunmere
