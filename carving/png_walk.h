#pragma once
// Follows a PNG's chunks (length, type, data, CRC) over the pieces a size
// rule reads, up to the end of the IEND chunk: the file's exact end, whatever
// lies in the rest of its last sector. Bytes that cannot be a chunk header
// break the walk; the caller then falls back on the end marker alone.
#include <cstdint>

#include "base/bytes.h"

namespace dunmere {

class PngWalk {
 public:
  enum class State { kGoing, kEnded, kBroken };
  // Feeds the file's bytes that lie at `fileOffset`; bytes before the walk's
  // position are skipped, a gap after it breaks the walk.
  State Feed(ByteView bytes, uint64_t fileOffset);
  State GetState() const { return state_; }
  uint64_t End() const { return end_; }

 private:
  State state_ = State::kGoing;
  uint64_t pos_ = 8;  // after the signature: the first chunk header
  uint8_t header_[8] = {};
  uint32_t have_ = 0;  // bytes of the chunk header gathered
  uint64_t end_ = 0;
};

}  // namespace dunmere
