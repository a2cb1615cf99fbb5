#pragma once
// The found files of a type search grouped by extension, as the type tree
// shows them: lower case after the aliases of the categories ("jpeg" ->
// "jpg"), "unknow" for names without one, groups in name order, each group's
// members in result-list order. Members are indices into the result list, so
// a million records cost four bytes each here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/found_item.h"

namespace dunmere {

struct ResultGroup {
  std::string name;
  std::vector<uint32_t> members;  // indices into the result list
};

class ResultGroups {
 public:
  static constexpr uint32_t kNoGroup = 0xFFFFFFFFu;

  void Build(const std::vector<FoundItemRecord>& results);
  void Clear();

  const std::vector<ResultGroup>& Groups() const { return groups_; }
  size_t size() const { return groups_.size(); }
  const ResultGroup& operator[](size_t i) const { return groups_[i]; }
  // Index of the group with that name, or -1.
  int Find(std::string_view name) const;
  // Group of a result-list index (kNoGroup when out of range).
  uint32_t GroupOf(uint32_t resultIndex) const {
    return resultIndex < groupOf_.size() ? groupOf_[resultIndex] : kNoGroup;
  }

 private:
  std::vector<ResultGroup> groups_;
  std::vector<uint32_t> groupOf_;
};

// The bytes of the record's name field up to its terminator.
std::string_view RecordNameView(const FoundItemRecord& r);

}  // namespace dunmere
