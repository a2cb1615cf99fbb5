#include "carving/mxf_walk.h"

namespace dunmere {

namespace {
const uint8_t kKeyPrefix[] = {0x06, 0x0E, 0x2B, 0x34};
// Partition packs and the random index pack: 06 0E 2B 34 02 05 01 01 0D 01 02 01 01 kind ...
const uint8_t kPackPrefix[] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};
constexpr uint8_t kFooterPartition = 0x04, kRandomIndexPack = 0x11;

bool Starts(const uint8_t* s, const uint8_t* prefix, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (s[i] != prefix[i]) return false;
  return true;
}
}  // namespace

void MxfWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t n) {
  if (!Starts(s, kKeyPrefix, sizeof kKeyPrefix)) {
    if (footer_) return Finish(pos);
    return Break();
  }
  uint64_t length = s[16];
  uint32_t lengthBytes = 1;
  if (length & 0x80) {
    lengthBytes += uint32_t(length & 0x7F);
    if (lengthBytes > 9 || lengthBytes == 1) return Break();
    if (n < 16 + lengthBytes) return Want(pos, 16 + lengthBytes);
    length = 0;
    for (uint32_t i = 1; i < lengthBytes; ++i) length = (length << 8) | s[16 + i];
    if (length > (uint64_t(1) << 56)) return Break();
  }
  const uint64_t next = pos + 16 + lengthBytes + length;
  if (Starts(s, kPackPrefix, sizeof kPackPrefix)) {
    if (s[13] == kRandomIndexPack) return Finish(next);  // always the last thing in the file
    if (s[13] == kFooterPartition) footer_ = true;
  }
  Want(next, 17);
}

}  // namespace dunmere
