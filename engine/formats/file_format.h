#pragma once
// The file formats the program knows, one row each (file_formats.cpp): the
// category its names are listed under, its option on the file-type page, the
// picture that option carries, how a file of it is previewed and the carvable
// format whose detector judges its content. Every list of extensions the
// program keeps is a view of these rows.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/formats/file_type_code.h"

namespace dunmere {

enum class Category { kPhoto, kAudio, kVideo, kDocument, kArchive, kOthers };
inline constexpr int kCategoryCount = 6;

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

struct FileFormat {
  // The list its names are in; kOthers: in none (files of it are "other
  // files" and only known to the content check or the preview).
  Category category;
  // Its option on the file-type page; empty when it has none of its own.
  std::string_view caption;
  // Lower-case extensions joined by "|". Within an option the first is the
  // group the others are shown under ("jpeg" under "jpg").
  std::string_view names;
  // For a row without a caption: the group whose option also selects these
  // names and shows them ("docx" joins "doc": other type code, one option).
  std::string_view join;
  std::string_view icon;  // FileIcon picture of the option
  PreviewKind preview;
  // The carvable format these names are; its detector checks that a found
  // file still starts as one. kNoMatch: nothing to check against.
  FileTypeCode code;
};

// Every row, options in page order, category by category; rows without a
// caption follow the options they join or stand last.
std::span<const FileFormat> FileFormats();

// Calls fn(name) for each name of a "|"-joined list.
template <typename Fn>
void ForEachName(std::string_view names, Fn&& fn) {
  size_t start = 0;
  while (start <= names.size()) {
    size_t bar = names.find('|', start);
    if (bar == std::string_view::npos) bar = names.size();
    if (bar > start) fn(names.substr(start, bar - start));
    start = bar + 1;
  }
}

// The category lists ("*.bmp|*.gif|..."). An extension belongs to a list when
// its text occurs anywhere in the list's text (a plain substring test, kept as
// is so that listings and searches agree with earlier scan logs).
const std::string& CategoryList(Category c);  // empty for others
// The five lists joined with "|" in the order pictures, audio, documents, video, archives.
const std::string& KnownExtensionList();
// Every name previewed through a converter (documents, slides, sheets, PDF, archives).
const std::string& PreviewDocumentList();

inline bool InList(std::string_view text, std::string_view list) {
  return list.find(text) != std::string_view::npos;
}
// A lower-cased extension (without the dot) that is a picture extension. An
// empty extension is never one.
inline bool IsPictureExtension(std::string_view ext) {
  return !ext.empty() && InList(ext, CategoryList(Category::kPhoto));
}

// Category of a lower-cased extension without the dot: the first of photo,
// audio, video, document, archive whose list holds exactly that extension.
Category CategoryOfExtension(std::string_view lowerExt);
// The group a lower-cased extension is shown under ("jpeg" -> "jpg", "docx"
// -> "doc"); other extensions are their own group.
std::string_view GroupAlias(std::string_view lowerExt);
// How a file with this lower-cased extension is previewed (first row naming it).
PreviewKind PreviewKindOfExtension(std::string_view lowerExt);
// The carvable format a lower-cased extension names; kNoMatch for none.
FileTypeCode CodeOfExtension(std::string_view lowerExt);

}  // namespace dunmere
