#pragma once
// How a found file is previewed, from its name's extension: a picture, sound
// or video for the player, a document or archive for a converter, or anything
// else as its bytes.
#include <string>

#include "engine/formats/file_format.h"

namespace dunmere {

// Lower-cased text after the last '.', empty when the name has none.
std::string PreviewExtension(const std::string& name);
// By whole extension: "c" is not a Word document because "doc" contains it.
PreviewKind PreviewKindOf(const std::string& name);
bool IsMedia(PreviewKind k);
bool NeedsConverter(PreviewKind k);

}  // namespace dunmere
