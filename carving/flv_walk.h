#pragma once
// Follows an FLV file's tags: the header, then each tag (type, 24-bit data
// size, time stamp, stream id 0, data) followed by the size of the tag just
// ended, which must agree. The file ends after the last such size where the
// next bytes are no tag; a size that disagrees breaks the walk.
#include "carving/structure_walk.h"

namespace dunmere {

class FlvWalk : public StructureWalk {
 public:
  FlvWalk() { Want(0, 9); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  enum class Next : uint8_t { kHeader, kPreviousSize, kTag } next_ = Next::kHeader;
  uint32_t tagSize_ = 0;  // the size the next "previous tag size" must hold
  bool tags_ = false;
};

}  // namespace dunmere
