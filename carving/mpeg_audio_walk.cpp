#include "carving/mpeg_audio_walk.h"

namespace dunmere {

uint32_t Mp2FrameLength(const uint8_t* h) {
  // 11 sync bits; version (3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5); layer 2 = Layer II.
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  const uint32_t version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3;
  const uint32_t rate = h[2] >> 4, freq = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
  if (version == 1 || layer != 2 || rate == 0 || rate == 15 || freq == 3 || (h[3] & 3) == 2) return 0;
  static const uint16_t kRatesV1[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
  static const uint16_t kRatesV2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static const uint32_t kFreqs[] = {44100, 48000, 32000};
  const uint32_t kbps = version == 3 ? kRatesV1[rate] : kRatesV2[rate];
  uint32_t hz = kFreqs[freq];
  if (version == 2) hz /= 2;
  if (version == 0) hz /= 4;
  return 144000 * kbps / hz + padding;
}

void Mp2Walk::OnSpan(const uint8_t* s, uint64_t pos, uint32_t n) {
  const uint32_t length = Mp2FrameLength(s);
  if (length >= 4) {
    ++frames_;
    return Want(pos + length, 4);
  }
  if (frames_ < 2) return Break();
  if (s[0] == 'T' && s[1] == 'A' && s[2] == 'G') return Finish(pos + 128);  // ID3v1
  Finish(pos);
}

}  // namespace dunmere
