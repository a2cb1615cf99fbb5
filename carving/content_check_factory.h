#pragma once
// The file-system engines' content check, answered by the format table.
#include "engine/content_check.h"

namespace dunmere {

// A check with carving state of its own, for one engine.
ContentCheck MakeSignatureContentCheck();

}  // namespace dunmere
