#include "engine/formats/file_format.h"

#include <unordered_map>

namespace dunmere {
namespace {

struct Views {
  std::string lists[kCategoryCount];
  std::string known;
  std::string previewDocuments;
  // First row naming an extension wins, rows in table order.
  std::unordered_map<std::string_view, Category> category;
  std::unordered_map<std::string_view, std::string_view> alias;
  std::unordered_map<std::string_view, PreviewKind> preview;
  std::unordered_map<std::string_view, FileTypeCode> code;

  Views() {
    auto append = [](std::string& list, std::string_view name) {
      if (!list.empty()) list += '|';
      list += "*.";
      list += name;
    };
    for (const FileFormat& f : FileFormats()) {
      const bool option = !f.caption.empty();
      std::string_view group;
      ForEachName(f.names, [&](std::string_view name) {
        if (group.empty()) group = option ? name : f.join;
        if (f.category != Category::kOthers) {
          std::string& list = lists[int(f.category)];
          if (!InList("*." + std::string(name) + "|", list + "|")) append(list, name);
          category.emplace(name, f.category);
        }
        if (!group.empty() && group != name) alias.emplace(name, group);
        preview.emplace(name, f.preview);
        if (f.code != kNoMatch) code.emplace(name, f.code);
        switch (f.preview) {
          case PreviewKind::kPdf: case PreviewKind::kTextDocument: case PreviewKind::kSlides:
          case PreviewKind::kSpreadsheet: case PreviewKind::kArchive:
            if (!InList("*." + std::string(name) + "|", previewDocuments + "|")) append(previewDocuments, name);
            break;
          default: break;
        }
      });
    }
    for (Category c : {Category::kPhoto, Category::kAudio, Category::kDocument, Category::kVideo, Category::kArchive}) {
      if (!known.empty()) known += '|';
      known += lists[int(c)];
    }
  }
};

const Views& TheViews() {
  static const Views v;
  return v;
}

template <typename Map, typename Value>
Value Find(const Map& m, std::string_view key, Value otherwise) {
  auto it = m.find(key);
  return it == m.end() ? otherwise : it->second;
}

}  // namespace

const std::string& CategoryList(Category c) {
  const int i = int(c);
  return TheViews().lists[i >= 0 && i < kCategoryCount ? i : int(Category::kOthers)];
}
const std::string& KnownExtensionList() { return TheViews().known; }
const std::string& PreviewDocumentList() { return TheViews().previewDocuments; }

Category CategoryOfExtension(std::string_view ext) { return Find(TheViews().category, ext, Category::kOthers); }
std::string_view GroupAlias(std::string_view ext) { return Find(TheViews().alias, ext, ext); }
PreviewKind PreviewKindOfExtension(std::string_view ext) { return Find(TheViews().preview, ext, PreviewKind::kOther); }
FileTypeCode CodeOfExtension(std::string_view ext) { return Find(TheViews().code, ext, kNoMatch); }

}  // namespace dunmere
