#pragma once
// A yes/no test on one sector that one engine needs and another engine knows
// how to answer (is this a directory sector of some file system?). The layer
// that knows both engines hands it over, so neither includes the other.
#include "base/bytes.h"

namespace dunmere {

using SectorTest = bool (*)(ByteView sector);

}  // namespace dunmere
