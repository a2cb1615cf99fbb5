#include "app/core/results/result_type_tree.h"

#include <algorithm>

#include "app/core/language/language_table.h"
#include "app/core/language/message_format.h"

namespace dunmere {

std::optional<TypeOptionInfo> BuiltInTypeOption(const std::string& userData) {
  for (const FileTypeOption& o : FileTypeOptions()) {
    if (o.extensions != userData) continue;
    TypeOptionInfo info;
    info.category = o.category;
    info.text = std::string(o.caption);
    info.picture = OptionPicture(o);
    info.userData = userData;
    return info;
  }
  return std::nullopt;
}

bool TypeTreeLayout::Empty() const {
  return std::all_of(nodes.begin(), nodes.end(), [](const auto& n) { return n.empty(); });
}

std::vector<size_t> TypeTreeLayout::GroupsOf(Category c) const {
  std::vector<size_t> out;
  for (const TypeNodeInfo& n : nodes[size_t(c)]) out.push_back(n.group);
  return out;
}

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

// "JPG/JPEG (.jpg .jpeg)" -> "JPG/JPEG"; "OGG Files(.ogg)" -> "OGG Files".
std::string ShortCaption(const std::string& text) {
  std::string s = text.substr(0, text.find('('));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s.empty() ? text : s;
}

// "XYZ Files", in the current language.
std::string OtherCaption(const std::string& upper) {
  std::string format = app::LanguageTable::Instance().Text("Messages", "MSG0819");
  if (format.empty()) format = "%s";
  return FormatMessage(format, {upper});
}

std::string UpToBlank(const std::string& s) { return s.substr(0, s.find(' ')); }

}  // namespace

TypeTreeLayout LayOutTypeTree(const ResultGroups& groups, const std::map<std::string, std::string>& selected,
                              const TypeOptionResolver& resolve) {
  TypeTreeLayout out;
  std::optional<TypeOptionInfo> other;
  if (selected.count("other")) other = resolve("other");
  std::optional<TypeNodeInfo> unknow;
  for (size_t g = 0; g < groups.size(); ++g) {
    const ResultGroup& group = groups[g];
    if (group.members.empty()) continue;
    std::optional<TypeOptionInfo> option;
    auto sel = selected.find(group.name);
    if (sel != selected.end() && sel->second != "other") option = resolve(sel->second);
    bool isOther = false;
    if (!option) {
      if (!other) continue;  // nothing selected it and other files were not asked for
      option = other;
      isOther = true;
    }
    TypeNodeInfo node;
    node.group = g;
    const std::string count = std::to_string(group.members.size());
    node.caption = isOther ? OtherCaption(Upper(group.name)) + " (" + count + ")" : ShortCaption(option->text) + " (" + count + ")";
    node.picture = UpToBlank(option->picture);
    node.userData = option->userData;
    const Category cat = isOther ? Category::kOthers : option->category;
    out.totals[size_t(cat)] += group.members.size();
    if (isOther && group.name == "unknow") unknow = std::move(node);
    else out.nodes[size_t(cat)].push_back(std::move(node));
  }
  if (unknow) out.nodes[size_t(Category::kOthers)].push_back(std::move(*unknow));
  return out;
}

}  // namespace dunmere
