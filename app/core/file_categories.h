#pragma once
// The vocabulary found files are offered in: six categories, the file-type
// choices with their extensions and pictures, and the grouping of extensions
// under one type name. Shared by the windows, copy-out and the command line.
#include <string>
#include <string_view>
#include <vector>

namespace dunmere {

enum class Category { kPhoto, kAudio, kVideo, kDocument, kArchive, kOthers };
inline constexpr int kCategoryCount = 6;

// "photo", "audio", "video", "document", "archive", "others": also the names
// of the copy-out subfolders.
std::string_view CategoryName(Category c);
// Accepts the names above plus "other", "documents", "archives", "photos"
// (any case); false for anything else.
bool ParseCategory(std::string_view text, Category& out);

// Category of a lower-cased extension without the dot: the first of photo,
// audio, video, document, archive whose list holds exactly that extension.
Category CategoryOfExtension(std::string_view lowerExt);
// Category of a found file's name (its text after the last "."); a name
// without "." is "others".
Category CategoryOfNameKind(std::string_view name);
std::string CategoryOfName(std::string_view name);

// The extension a group is shown under ("jpeg" -> "jpg", ...); other
// extensions are their own group.
std::string_view GroupAlias(std::string_view lowerExt);
// The group of a found file: its lower-cased extension with the aliases
// applied, or "unknow" when the name has none.
std::string GroupNameOfName(std::string_view name);

// One option of the file-type page: its caption, its extensions joined by "|"
// (what the selection adds to the filter) and the picture it carries.
struct FileTypeOption {
  Category category;
  std::string_view caption;
  std::string_view extensions;
  std::string_view icon;
};
// Every option in page order, category by category.
const std::vector<FileTypeOption>& FileTypeOptions();
// The option that selects a lower-cased extension (through its group), or
// null when none does (an "other" file).
const FileTypeOption* OptionForExtension(std::string_view lowerExt);

// The category's own extension list ("*.bmp|*.gif|..."); empty for others.
std::string_view CategoryList(Category c);

}  // namespace dunmere
