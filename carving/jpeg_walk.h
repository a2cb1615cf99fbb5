#pragma once
// Follows a JPEG's structure over the chunks a size rule reads: marker
// segments by their lengths, entropy-coded data up to the next marker (stuffed
// zero bytes and restart markers belong to it), until the end-of-image marker.
// Where the structure holds this gives the file's exact end, whatever lies in
// the rest of its last sector; where it does not (damage, another file), the
// walk says so and the caller falls back on end markers alone.
#include <cstdint>

#include "base/bytes.h"

namespace dunmere {

class JpegWalk {
 public:
  enum class State { kGoing, kEnded, kBroken };
  // Feeds the file's bytes that lie at `fileOffset`; bytes before the walk's
  // position are skipped, a gap after it breaks the walk.
  State Feed(ByteView bytes, uint64_t fileOffset);
  State GetState() const { return state_; }
  // The byte after the end-of-image marker (kEnded).
  uint64_t End() const { return end_; }

 private:
  enum class Phase : uint8_t { kMarkerFF, kMarkerCode, kLengthHigh, kLengthLow, kSkip, kEntropy, kEntropyFF };
  bool OnMarker(uint8_t code);

  State state_ = State::kGoing;
  Phase phase_ = Phase::kMarkerFF;
  uint64_t pos_ = 0;  // file offset of the next byte to look at
  uint64_t skip_ = 0;
  uint64_t end_ = 0;
  uint8_t code_ = 0;
  uint16_t length_ = 0;
};

}  // namespace dunmere
