// The PNG walk over a file's bytes, fed whole and in pieces of changing size
// as the size rule's chunks arrive: both ways must end alike. The end may
// lie past the bytes by the IEND chunk's CRC, which the walk need not see.
#include <cstdint>

#include "carving/png_walk.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = size_t(data[0]) * 37 + 1;
  ByteView file(data + 1, size - 1);
  PngWalk whole;
  whole.Feed(file, 0);
  PngWalk pieces;
  for (size_t off = 0; off < file.size() && pieces.GetState() == PngWalk::State::kGoing; off += piece)
    pieces.Feed(file.Sub(off, piece), off);
  if (whole.GetState() != pieces.GetState()) __builtin_trap();
  if (whole.GetState() == PngWalk::State::kEnded && (whole.End() != pieces.End() || whole.End() > file.size() + 4))
    __builtin_trap();
  return 0;
}
