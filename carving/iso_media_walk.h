#pragma once
// Follows the top-level boxes of an ISO base media file (MP4, 3GP) or a
// QuickTime movie: 32-bit size and type, a 64-bit size where the short one
// is 1. The file ends before the first bytes that are not a box header, once
// a movie box has been seen, and before a second file-type or movie box (the
// next movie's). A size of 0 ("to the end of the file") or a file without a
// movie box leaves the end to the caller's fallback.
#include "carving/structure_walk.h"

namespace dunmere {

class IsoMediaWalk : public StructureWalk {
 public:
  IsoMediaWalk() { Want(0, 8); }
  bool TellsTheNextFileApart() const override { return true; }
  // Both the movie box and the media data were met, and the boxes ended
  // cleanly or with media data that runs to the end of the file.
  bool Closed() const override { return movie_ && media_ && (state_ == State::kEnded || toEnd_); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  bool movie_ = false;
  bool media_ = false;
  bool toEnd_ = false;
};

}  // namespace dunmere
