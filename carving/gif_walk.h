#pragma once
// Follows a GIF's blocks: the screen descriptor and its colour table, then
// extensions and images (descriptor, local colour table, the LZW code size)
// with their data sub-blocks, up to the trailer byte 3B, which ends the file.
// Any other block introducer breaks the walk.
#include "carving/structure_walk.h"

namespace dunmere {

class GifWalk : public StructureWalk {
 public:
  GifWalk() { Want(0, 13); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  enum class Next : uint8_t { kScreen, kBlock, kSubBlock };
  Next next_ = Next::kScreen;
};

}  // namespace dunmere
