#pragma once
// Follows an MPEG audio Layer II stream (MP2) frame by frame, each frame's
// length from its header (version, bit rate, sample rate, padding). The file
// ends before the first bytes that are no frame header (after an ID3v1 tag
// where one follows), once a few frames have been walked.
#include "carving/structure_walk.h"

namespace dunmere {

// The length of the Layer II frame whose 4-byte header is at `h`; 0 when it
// is none (no sync, another layer, free or forbidden rates).
uint32_t Mp2FrameLength(const uint8_t* h);

class Mp2Walk : public StructureWalk {
 public:
  Mp2Walk() { Want(0, 4); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  uint32_t frames_ = 0;
};

}  // namespace dunmere
