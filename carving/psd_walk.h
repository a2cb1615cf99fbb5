#pragma once
// Follows a Photoshop document (PSD, and PSB with its wider fields): the
// header, the colour mode data, image resources and layer sections by their
// lengths, then the merged image data, raw (its size from the header) or
// RLE (the sum of its row byte counts). Other compressions break the walk.
#include "carving/structure_walk.h"

namespace dunmere {

class PsdWalk : public StructureWalk {
 public:
  PsdWalk() { Want(0, 26); }

 protected:
  void OnSpan(const uint8_t* span, uint64_t pos, uint32_t n) override;

 private:
  enum class Next : uint8_t { kHeader, kColourModes, kResources, kLayers, kCompression, kRowCounts };
  Next next_ = Next::kHeader;
  bool big_ = false;  // PSB
  uint64_t channels_ = 0, height_ = 0, rowBytes_ = 0;
  uint64_t counts_ = 0;  // row byte counts still to add up
  uint64_t sum_ = 0;
};

}  // namespace dunmere
