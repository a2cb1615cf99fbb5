#pragma once
// Sizes a TIFF by its directories: every image file directory reached from
// the header (the chain of next pointers, sub-IFDs, the Exif, GPS and
// interoperability directories), every value stored outside its entry, and
// every strip, tile and embedded JPEG stream. The furthest byte any of them
// reaches is the file's end. Directories are read where they lie, through
// the context's probe area, so the walk does not follow the file in order.
#include <cstdint>

#include "carving/carve_context.h"

namespace dunmere {

// The file's end by its structure, for the TIFF whose first sector is at
// ctx.candidateStart; 0 when the structure does not hold together (an offset
// past `cap`, a directory that cannot be read, a big TIFF) and the caller's
// fallback must decide.
uint64_t TiffExtent(CarveContext& ctx, uint64_t cap);

}  // namespace dunmere
