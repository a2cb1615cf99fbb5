#pragma once
// Follows an MXF file's KLV triplets: a 16-byte SMPTE key (06 0E 2B 34 ...),
// a BER length, the value. The file ends after its random index pack, or
// before the first bytes that are no SMPTE key once a footer partition has
// been seen; without a footer (a recording cut short) the walk breaks.
#include "carving/structure_walk.h"

namespace dunmere {

class MxfWalk : public StructureWalk {
 public:
  MxfWalk() { Want(0, 17); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  bool footer_ = false;
};

}  // namespace dunmere
