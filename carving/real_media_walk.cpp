#include "carving/real_media_walk.h"

namespace dunmere {

void RealMediaWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t n) {
  if (packets_ > 0) {
    // A media packet: version 0 or 1, then its length, header included.
    const uint16_t length = Be16(s + 2);
    if (Be16(s) > 1 || length < 12) return Break();
    --packets_;
    return Want(pos + length, packets_ > 0 ? 4 : 8);
  }
  bool id = true;
  for (int i = 0; i < 4; ++i) id = id && ((s[i] >= 'A' && s[i] <= 'Z') || s[i] == '.');
  const uint32_t size = Be32(s + 4);
  if (!id || size < 8) {
    // ffmpeg closes the file with eight zero bytes after the data.
    if (data_ && Be32(s) == 0 && size == 0) return Finish(pos + 8);
    if (data_ && pos > 0) return Finish(pos);
    return Break();
  }
  if (s[0] == 'D' && s[1] == 'A' && s[2] == 'T' && s[3] == 'A') {
    // The data chunk's size is not always right (ffmpeg's overshoots): its
    // packets, as many as its header counts, tell where it ends.
    if (n < 18) return Want(pos, 18);
    data_ = true;
    packets_ = Be32(s + 10);
    if (packets_ > 0) return Want(pos + 18, 4);
  }
  Want(pos + size, 8);
}

}  // namespace dunmere
