#pragma once
// Follows a RealMedia file's chunks (.RMF, PROP, MDPR, CONT, DATA, INDX):
// four-character id, 32-bit size, version; the data chunk by its packets.
// The file ends before the first bytes that are no chunk header once the data
// chunk has been passed.
#include "carving/structure_walk.h"

namespace dunmere {

class RealMediaWalk : public StructureWalk {
 public:
  RealMediaWalk() { Want(0, 8); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  bool data_ = false;
  uint32_t packets_ = 0;  // media packets of the data chunk still to walk
};

}  // namespace dunmere
