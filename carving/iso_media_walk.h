#pragma once
// Follows the top-level boxes of an ISO base media file (MP4, 3GP) or a
// QuickTime movie: 32-bit size and type, a 64-bit size where the short one
// is 1. The file ends before the first bytes that are not a box header, once
// a movie box has been seen; a size of 0 ("to the end of the file") or a
// file without a movie box leaves the end to the caller's fallback.
#include "carving/structure_walk.h"

namespace dunmere {

class IsoMediaWalk : public StructureWalk {
 public:
  IsoMediaWalk() { Want(0, 8); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  bool movie_ = false;
};

}  // namespace dunmere
