#pragma once
// Follows an MPEG program stream (MPEG-1 system stream or MPEG-2 PS, as in
// .mpg and .vob): pack headers of their fixed lengths (with the MPEG-2
// stuffing), system headers and PES packets by their 16-bit lengths, up to
// the program end code, which ends the file. Where the end code is left out,
// the stream ends after the last packet when bytes that are no start code
// follow a run of packs. Anything else where a start code should stand (an
// elementary stream, damage) breaks the walk.
#include "carving/structure_walk.h"

namespace dunmere {

class MpegPsWalk : public StructureWalk {
 public:
  MpegPsWalk() { Want(0, 6); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  uint32_t packs_ = 0;
  uint64_t packEnd_ = 0;  // the end of the last packet
};

}  // namespace dunmere
