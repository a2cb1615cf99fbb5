#include "base/version.h"

// Only this file is given the number, so a new version rebuilds one object.
#ifndef DUNMERE_VERSION
#error "DUNMERE_VERSION is set by the top CMakeLists.txt"
#endif

namespace dunmere {

std::string_view ProgramVersion() { return DUNMERE_VERSION; }

}  // namespace dunmere
