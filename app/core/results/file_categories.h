#pragma once
// The vocabulary found files are offered in: six categories, the file-type
// choices with their extensions and pictures, and the grouping of extensions
// under one type name. Shared by the windows, copy-out and the command line.
#include <string>
#include <string_view>
#include <vector>

#include "engine/formats/file_format.h"

namespace dunmere {

// "photo", "audio", "video", "document", "archive", "others": also the names
// of the copy-out subfolders.
std::string_view CategoryName(Category c);
// Accepts the names above plus "other", "documents", "archives", "photos"
// (any case); false for anything else.
bool ParseCategory(std::string_view text, Category& out);

// Category of a found file's name (its text after the last "."); a name
// without "." is "others".
Category CategoryOfNameKind(std::string_view name);
std::string CategoryOfName(std::string_view name);

// The group of a found file: its lower-cased extension with the aliases
// applied, or "unknow" when the name has none.
std::string GroupNameOfName(std::string_view name);

// One option of the file-type page: its caption, its extensions joined by "|"
// (its own names, then those of the rows joining it: what the selection adds
// to the filter, and the option's user data) and the picture it carries.
struct FileTypeOption {
  Category category;
  std::string_view caption;
  std::string extensions;
  std::string_view icon;
};
// The skin picture an option carries ("file='FileIcon/jpg.png' source=...").
std::string OptionPicture(const FileTypeOption& option);
// Every option in page order, category by category.
const std::vector<FileTypeOption>& FileTypeOptions();
// The option that selects a lower-cased extension (through its group), or
// null when none does (an "other" file).
const FileTypeOption* OptionForExtension(std::string_view lowerExt);

}  // namespace dunmere
