#include "app/core/results/result_groups.h"

#include <cstring>
#include <map>
#include <unordered_map>

#include "app/core/results/file_categories.h"

namespace dunmere {

std::string_view RecordNameView(const FoundItemRecord& r) {
  const void* end = std::memchr(r.name, 0, sizeof r.name);
  return {r.name, end ? size_t(static_cast<const char*>(end) - r.name) : sizeof r.name};
}

void ResultGroups::Clear() {
  groups_.clear();
  groupOf_.clear();
  groupOf_.shrink_to_fit();
}

int ResultGroups::Find(std::string_view name) const {
  for (size_t i = 0; i < groups_.size(); ++i)
    if (groups_[i].name == name) return int(i);
  return -1;
}

void ResultGroups::Build(const std::vector<FoundItemRecord>& results) {
  Clear();
  // A scan finds a few hundred distinct extensions at most: the raw text after
  // the last dot (as found, any case) is looked up first, the grouping rule
  // runs once per distinct spelling.
  std::unordered_map<std::string, uint32_t> byRaw;
  std::map<std::string, uint32_t> byName;  // group name -> provisional id
  std::vector<std::string> names;
  std::vector<uint32_t> counts;
  groupOf_.resize(results.size());
  std::string raw;
  for (size_t i = 0; i < results.size(); ++i) {
    const std::string_view name = RecordNameView(results[i]);
    const size_t dot = name.rfind('.');
    // A leading marker keeps "no dot at all" apart from a name ending in a dot.
    raw.assign(1, dot == std::string_view::npos ? '-' : '.');
    if (dot != std::string_view::npos) raw.append(name.substr(dot + 1));
    auto hit = byRaw.find(raw);
    uint32_t id;
    if (hit != byRaw.end()) {
      id = hit->second;
    } else {
      const std::string group = GroupNameOfName(name);
      auto [it, added] = byName.emplace(group, uint32_t(names.size()));
      if (added) {
        names.push_back(group);
        counts.push_back(0);
      }
      id = it->second;
      byRaw.emplace(raw, id);
    }
    groupOf_[i] = id;
    ++counts[id];
  }
  // Provisional ids are in order of appearance; the groups go in name order.
  std::vector<uint32_t> finalId(names.size());
  groups_.reserve(byName.size());
  for (const auto& [group, id] : byName) {
    finalId[id] = uint32_t(groups_.size());
    groups_.push_back({group, {}});
    groups_.back().members.reserve(counts[id]);
  }
  for (size_t i = 0; i < results.size(); ++i) {
    groupOf_[i] = finalId[groupOf_[i]];
    groups_[groupOf_[i]].members.push_back(uint32_t(i));
  }
}

}  // namespace dunmere
