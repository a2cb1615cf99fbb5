#pragma once
// Follows a RAR 1.5-4.x archive's blocks: each a 7-byte head (CRC, type,
// flags, head size) and, for file and service blocks or when flagged, data
// of the size the head gives (with the high 32 bits of large files), up to
// the end-of-archive block, which ends the file.
#include "carving/structure_walk.h"

namespace dunmere {

class RarWalk : public StructureWalk {
 public:
  RarWalk() { Want(0, 7); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;
};

}  // namespace dunmere
