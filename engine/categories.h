#pragma once
// The category extension lists. An extension belongs to a list when its text
// occurs anywhere in the list's text (a plain substring test, kept as is so that
// listings and searches agree with earlier scan logs).
#include <string_view>

namespace dunmere {

extern const std::string_view kPictureList;
extern const std::string_view kAudioList;
extern const std::string_view kVideoList;
extern const std::string_view kDocumentList;
extern const std::string_view kArchiveList;
extern const std::string_view kPreviewDocumentList;
// The five lists joined with "|" in the order pictures, audio, documents, video, archives.
extern const std::string_view kKnownExtensionList;

inline bool InList(std::string_view text, std::string_view list) {
  return list.find(text) != std::string_view::npos;
}
// A lower-cased extension (without the dot) that is a picture extension. An
// empty extension is never one.
inline bool IsPictureExtension(std::string_view ext) { return !ext.empty() && InList(ext, kPictureList); }

}  // namespace dunmere
