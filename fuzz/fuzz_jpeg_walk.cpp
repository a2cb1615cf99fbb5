// The JPEG walk over a file's bytes, fed whole and in pieces of changing size
// as the size rule's chunks arrive: both ways must end alike.
#include <cstdint>

#include "carving/jpeg_walk.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = size_t(data[0]) * 37 + 1;
  ByteView file(data + 1, size - 1);
  JpegWalk whole;
  whole.Feed(file, 0);
  JpegWalk pieces;
  for (size_t off = 0; off < file.size() && pieces.GetState() == JpegWalk::State::kGoing; off += piece)
    pieces.Feed(file.Sub(off, piece), off);
  if (whole.GetState() != pieces.GetState()) __builtin_trap();
  if (whole.GetState() == JpegWalk::State::kEnded && (whole.End() != pieces.End() || whole.End() > file.size()))
    __builtin_trap();
  return 0;
}
