#include "carving/midi_walk.h"

namespace dunmere {

void MidiWalk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t) {
  switch (next_) {
    case Next::kHeader:
      if (Be32(s + 4) != 6) return Break();
      tracks_ = Be16(s + 10);
      if (tracks_ == 0) return Break();
      next_ = Next::kChunk;
      return Want(14, 8);
    case Next::kChunk: {
      for (int i = 0; i < 4; ++i)
        if (s[i] < 0x20 || s[i] >= 0x7F) return Break();
      const uint64_t end = pos + 8 + Be32(s + 4);
      const bool track = s[0] == 'M' && s[1] == 'T' && s[2] == 'r' && s[3] == 'k';
      if (track && ++counted_ == tracks_) {
        if (end < pos + 8 + 3) return Break();
        next_ = Next::kEndOfTrack;
        return Want(end - 3, 3);
      }
      return Want(end, 8);
    }
    case Next::kEndOfTrack:
      if (s[0] != 0xFF || s[1] != 0x2F || s[2] != 0x00) return Break();
      return Finish(pos + 3);
  }
}

}  // namespace dunmere
