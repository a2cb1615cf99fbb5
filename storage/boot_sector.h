#pragma once
// What the boot sectors of every file system share, for the detectors.
#include <cstdint>

#include "base/bytes.h"

namespace dunmere {

inline bool IsPow2Upto(uint32_t v, uint32_t max) { return v != 0 && v <= max && (v & (v - 1)) == 0; }
inline bool HasBootSignature(ByteView b) { return b.U8(510) == 0x55 && b.U8(511) == 0xAA; }

}  // namespace dunmere
