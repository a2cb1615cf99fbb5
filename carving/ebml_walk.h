#pragma once
// Follows the top-level elements of a Matroska or WebM file: the EBML header,
// then the segment (and any further header and segment pairs; void elements
// before the first segment), each an ID
// and a size in EBML's variable-length numbers. The file ends before the
// first top-level element that is neither; a segment of unknown size (a live
// recording never finished) leaves the end to the caller's fallback.
#include "carving/structure_walk.h"

namespace dunmere {

class EbmlWalk : public StructureWalk {
 public:
  EbmlWalk() { Want(0, 12); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  bool segment_ = false;
};

}  // namespace dunmere
