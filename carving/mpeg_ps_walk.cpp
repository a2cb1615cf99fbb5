#include "carving/mpeg_ps_walk.h"

namespace dunmere {

void MpegPsWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t n) {
  if (s[0] != 0 || s[1] != 0 || s[2] != 1) {
    // Many writers (ffmpeg among them) leave out the end code: after a run of
    // whole packs, the first bytes that are no start code end the stream.
    if (packs_ >= 2 && pos == packEnd_) return Finish(pos);
    return Break();
  }
  const uint8_t code = s[3];
  if (code == 0xB9) return Finish(pos + 4);  // program end code
  if (code == 0xBA) {
    ++packs_;
    if ((s[4] & 0xF0) == 0x20) return Want(pos + 12, 6);  // MPEG-1 pack header
    if ((s[4] & 0xC0) != 0x40) return Break();
    if (n < 14) return Want(pos, 14);
    return Want(pos + 14 + (s[13] & 7), 6);  // MPEG-2, with its stuffing bytes
  }
  if (code < 0xBB) return Break();
  // System header and PES packets: a 16-bit length after the start code.
  packEnd_ = pos + 6 + Be16(s + 4);
  Want(packEnd_, 6);
}

}  // namespace dunmere
