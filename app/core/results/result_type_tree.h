#pragma once
// What the type tree of the results page shows for the extension groups of a
// search: under which category each group goes, its caption, picture and the
// user data of the file-type option that selected it, and the category
// totals. The views only turn this into nodes.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/core/results/file_categories.h"
#include "app/core/results/result_groups.h"

namespace dunmere {

// A file-type option of the file-type page as the tree needs it.
struct TypeOptionInfo {
  Category category = Category::kOthers;
  std::string text;      // its caption, "JPG/JPEG (.jpg .jpeg)"
  std::string picture;   // its picture attribute, "file='FileIcon/jpg.png' source='0,0,32,32'"
  std::string userData;  // its extensions joined by "|"; "other" for "Other Files (.*)"
};
// The option carrying this user data; nullopt when there is none any more.
using TypeOptionResolver = std::function<std::optional<TypeOptionInfo>(const std::string& userData)>;
// The program's own option table (the file-type page's options in page order).
std::optional<TypeOptionInfo> BuiltInTypeOption(const std::string& userData);

struct TypeNodeInfo {
  size_t group = 0;      // index into the groups
  std::string caption;   // "JPG/JPEG (12)", "XYZ Files (1)"
  std::string picture;   // the option's picture up to its first blank
  std::string userData;  // the option's user data
};

struct TypeTreeLayout {
  std::array<std::vector<TypeNodeInfo>, kCategoryCount> nodes;  // per category, in group order
  std::array<uint64_t, kCategoryCount> totals{};                // files under each category
  bool Empty() const;
  // The groups shown under a category.
  std::vector<size_t> GroupsOf(Category c) const;
};

// selected: extension -> user data of the option that selected it; the key
// "other" stands for a checked "Other Files (.*)". A group no option selected
// (or whose option is gone) goes to the other category when "other" was
// selected and is left out otherwise; "unknow" comes last there.
TypeTreeLayout LayOutTypeTree(const ResultGroups& groups, const std::map<std::string, std::string>& selected,
                              const TypeOptionResolver& resolve);

}  // namespace dunmere
