#pragma once
// Executables (EXE, DLL, SYS): recognised so that they are not taken for
// something else, but never carved, because their length cannot be told from
// their first sector.
#include "carving/signature_table.h"

namespace dunmere {

extern const DetectorInfo kPeDetector;

}  // namespace dunmere
