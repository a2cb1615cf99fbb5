#pragma once
// How a found file is previewed, from its name's extension: a picture, sound
// or video for the player, a document or archive for a converter, or anything
// else as its bytes.
#include <string>

namespace dunmere {

enum class PreviewKind {
  kPicture,
  kAudio,
  kVideo,
  kPdf,           // first page as a picture
  kTextDocument,  // the first 2,048 characters
  kSlides,        // the text of the first 20 slides
  kSpreadsheet,   // the first 10 x 10 cells
  kArchive,       // the listing
  kOther,         // the bytes as text
};

// Lower-cased text after the last '.', empty when the name has none.
std::string PreviewExtension(const std::string& name);
// An extension counts when it is a whole entry of a list ("*.ext"): "c" is not
// a Word document because "*.doc" contains it.
PreviewKind PreviewKindOf(const std::string& name);
bool IsMedia(PreviewKind k);
bool NeedsConverter(PreviewKind k);

}  // namespace dunmere
