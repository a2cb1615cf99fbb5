#include "carving/png_walk.h"

#include <algorithm>

namespace dunmere {

namespace {
bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
}  // namespace

PngWalk::State PngWalk::Feed(ByteView bytes, uint64_t off) {
  if (state_ != State::kGoing) return state_;
  // The header may be cut between two pieces: its start is kept in header_.
  const uint64_t want = pos_ + have_;
  if (off > want) {
    state_ = State::kBroken;
    return state_;
  }
  const uint64_t limit = off + bytes.size();
  uint64_t at = want;
  while (at < limit && state_ == State::kGoing) {
    const size_t take = size_t(std::min<uint64_t>(8 - have_, limit - at));
    std::copy_n(bytes.data() + (at - off), take, header_ + have_);
    have_ += uint32_t(take);
    at += take;
    if (have_ < 8) break;
    const uint32_t length = Be32(header_);
    const uint8_t* type = header_ + 4;
    if (length > 0x7FFFFFFFu || !IsLetter(type[0]) || !IsLetter(type[1]) || !IsLetter(type[2]) ||
        !IsLetter(type[3])) {
      state_ = State::kBroken;
      break;
    }
    // Header, data and CRC.
    const uint64_t next = pos_ + 8 + uint64_t(length) + 4;
    if (type[0] == 'I' && type[1] == 'E' && type[2] == 'N' && type[3] == 'D') {
      // IEND holds no data; one that claims some is damage.
      state_ = length == 0 ? State::kEnded : State::kBroken;
      end_ = next;
      break;
    }
    pos_ = next;
    have_ = 0;
    at = pos_;
  }
  return state_;
}

}  // namespace dunmere
