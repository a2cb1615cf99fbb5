#include "carving/jpeg_walk.h"

#include <algorithm>
#include <cstring>

namespace dunmere {

namespace {
constexpr uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA;
bool IsRestart(uint8_t c) { return c >= 0xD0 && c <= 0xD7; }
}  // namespace

// A marker code after its 0xFF; false when no JPEG has it there.
bool JpegWalk::OnMarker(uint8_t c) {
  if (pos_ == 1) {
    // The file opens with the start-of-image marker, nothing else.
    if (c != kSoi) return false;
    phase_ = Phase::kMarkerFF;
    return true;
  }
  if (c == kEoi) {
    state_ = State::kEnded;
    end_ = pos_ + 1;
    return true;
  }
  if (c == kSoi || c == 0x00 || (c >= 0x02 && c < 0xC0)) return false;
  if (IsRestart(c) || c == 0x01) {
    phase_ = Phase::kMarkerFF;
    return true;
  }
  code_ = c;
  phase_ = Phase::kLengthHigh;
  return true;
}

JpegWalk::State JpegWalk::Feed(ByteView bytes, uint64_t off) {
  if (state_ != State::kGoing) return state_;
  if (off > pos_) {
    state_ = State::kBroken;
    return state_;
  }
  const uint8_t* data = bytes.data();
  const uint64_t limit = off + bytes.size();
  while (pos_ < limit && state_ == State::kGoing) {
    const size_t i = size_t(pos_ - off);
    switch (phase_) {
      case Phase::kSkip: {
        const uint64_t n = std::min<uint64_t>(skip_, limit - pos_);
        pos_ += n;
        skip_ -= n;
        if (skip_ == 0) phase_ = code_ == kSos ? Phase::kEntropy : Phase::kMarkerFF;
        continue;
      }
      case Phase::kEntropy: {
        // Stuffed zeros and restart markers, the scan's own data, are passed
        // over here: most 0xFF bytes of a picture are theirs.
        const uint8_t* ff = data + i;
        const uint8_t* const end = data + size_t(limit - off);
        for (;;) {
          ff = static_cast<const uint8_t*>(std::memchr(ff, 0xFF, size_t(end - ff)));
          if (!ff || end - ff < 2 || !(ff[1] == 0x00 || IsRestart(ff[1]))) break;
          ff += 2;
        }
        if (!ff) {
          pos_ = limit;
          continue;
        }
        pos_ = off + uint64_t(ff - data) + 1;
        phase_ = Phase::kEntropyFF;
        continue;
      }
      default:
        break;
    }
    const uint8_t c = data[i];
    bool ok = true;
    switch (phase_) {
      case Phase::kMarkerFF:
        ok = c == 0xFF;
        phase_ = Phase::kMarkerCode;
        break;
      case Phase::kMarkerCode:
        if (c != 0xFF) ok = OnMarker(c);  // 0xFF: fill byte
        break;
      case Phase::kLengthHigh:
        length_ = uint16_t(c << 8);
        phase_ = Phase::kLengthLow;
        break;
      case Phase::kLengthLow:
        length_ = uint16_t(length_ | c);
        ok = length_ >= 2;
        skip_ = length_ - 2u;
        phase_ = skip_ ? Phase::kSkip : (code_ == kSos ? Phase::kEntropy : Phase::kMarkerFF);
        break;
      case Phase::kEntropyFF:
        // Stuffed zero, restart marker: still the scan's data.
        if (c == 0x00 || IsRestart(c)) {
          phase_ = Phase::kEntropy;
        } else if (c != 0xFF) {
          ok = OnMarker(c);
        }
        break;
      default:
        break;
    }
    if (!ok) state_ = State::kBroken;
    ++pos_;
  }
  return state_;
}

}  // namespace dunmere
