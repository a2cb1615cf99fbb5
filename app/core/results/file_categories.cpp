#include "app/core/results/file_categories.h"

#include "base/text.h"

namespace dunmere {

namespace {

constexpr std::string_view kNames[kCategoryCount] = {"photo", "audio", "video", "document", "archive", "others"};

bool ListsExtension(std::string_view joined, std::string_view ext) {
  bool found = false;
  ForEachName(joined, [&](std::string_view name) { found = found || name == ext; });
  return found;
}

}  // namespace

std::string_view CategoryName(Category c) {
  int i = int(c);
  return i >= 0 && i < kCategoryCount ? kNames[i] : kNames[int(Category::kOthers)];
}

bool ParseCategory(std::string_view text, Category& out) {
  std::string t = AsciiLower(text);
  if (!t.empty() && t.back() == 's' && t != "others") t.pop_back();  // "photos", "documents", ...
  if (t == "other") t = "others";
  for (int i = 0; i < kCategoryCount; ++i)
    if (t == kNames[i]) {
      out = Category(i);
      return true;
    }
  return false;
}

Category CategoryOfNameKind(std::string_view name) {
  if (name.find('.') == std::string_view::npos) return Category::kOthers;
  return CategoryOfExtension(ExtensionOf(name));
}

std::string CategoryOfName(std::string_view name) { return std::string(CategoryName(CategoryOfNameKind(name))); }

std::string GroupNameOfName(std::string_view name) {
  std::string ext = ExtensionOf(name);
  if (ext.empty()) return "unknow";  // no "." at all, or a name ending in one
  return std::string(GroupAlias(ext));
}

const std::vector<FileTypeOption>& FileTypeOptions() {
  static const std::vector<FileTypeOption> options = [] {
    std::vector<FileTypeOption> out;
    for (const FileFormat& f : FileFormats())
      if (!f.caption.empty()) out.push_back({f.category, f.caption, std::string(f.names), f.icon});
    for (const FileFormat& f : FileFormats()) {
      if (!f.caption.empty() || f.join.empty()) continue;
      for (FileTypeOption& o : out)
        if (o.extensions.substr(0, o.extensions.find('|')) == f.join) {
          o.extensions += '|';
          o.extensions += f.names;
          break;
        }
    }
    return out;
  }();
  return options;
}

const FileTypeOption* OptionForExtension(std::string_view ext) {
  if (ext.empty()) return nullptr;
  std::string_view group = GroupAlias(ext);
  for (const FileTypeOption& o : FileTypeOptions())
    if (o.category != Category::kOthers && (ListsExtension(o.extensions, ext) || ListsExtension(o.extensions, group)))
      return &o;
  return nullptr;
}

std::string OptionPicture(const FileTypeOption& option) {
  return "file='FileIcon/" + std::string(option.icon) + "' source='0,0,32,32'";
}

}  // namespace dunmere
