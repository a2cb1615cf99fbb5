#pragma once
// "Previous" and "Next" of the preview window: the picture before or after
// the current file in the file list's order, wrapping round at either end.
#include <vector>

#include "engine/found_item.h"

namespace dunmere {

// Index in `list` of the next (forward) or previous picture file after the
// one matching `current` (same source, engine and item id); -1 when the list
// has no other picture. A current file not in the list starts from the ends.
int NextPictureIndex(const std::vector<FoundItemRecord>& list, const FoundItemRecord& current, bool forward);
bool SameItem(const FoundItemRecord& a, const FoundItemRecord& b);

}  // namespace dunmere
