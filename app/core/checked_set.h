#pragma once
// The files the user checked for copy-out: an ordered map from (recordIndex,
// sourceTag << 16 | low 16 bits of sourceKind) to a full copy of the record,
// plus what the views need to show it quickly: a check bit per result-list
// record, the number checked per extension group, the total size.
//
// Two engines number their records independently, so the source part of the
// key keeps a quick-scan record 7 and a carved record 7 apart. Should one key
// still name several records of the result list (the same record reported
// twice), they are checked and unchecked together, as the one entry they
// share in the map says.
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/core/result_groups.h"
#include "engine/found_item.h"

namespace dunmere {

using CheckedKey = std::pair<uint32_t, uint32_t>;
using CheckedMap = std::map<CheckedKey, FoundItemRecord>;

inline CheckedKey CheckedKeyOf(const FoundItemRecord& r) {
  return {r.recordIndex, (uint32_t(r.sourceTag) << 16) | (r.sourceKind & 0xFFFFu)};
}

// The three states of a check box; the values are Qt's.
enum class CheckState : int { kUnchecked = 0, kPartial = 1, kChecked = 2 };
CheckState StateOfCounts(uint64_t checked, uint64_t total);

class CheckedSet {
 public:
  // Binds the set to a new result list and its groups (both must outlive the
  // binding). Entries naming a record of the new list stay checked; the others
  // are dropped, so copy-out never takes a file the views no longer show.
  void Attach(const std::vector<FoundItemRecord>& results, const ResultGroups& groups);
  // Empties the set and forgets the result list.
  void Clear();

  bool IsChecked(uint32_t resultIndex) const {
    return resultIndex < bits_.size() && bits_[resultIndex] != 0;
  }
  // True when the state changed.
  bool SetChecked(uint32_t resultIndex, bool on);
  // Every member of the group; returns how many records changed.
  size_t SetGroup(size_t group, bool on);

  uint64_t GroupChecked(size_t group) const { return group < perGroup_.size() ? perGroup_[group] : 0; }
  CheckState GroupState(size_t group) const;
  // The state of several groups together (a category node).
  CheckState StateOf(const std::vector<size_t>& groups) const;

  const CheckedMap& Map() const { return map_; }
  size_t Count() const { return map_.size(); }
  uint64_t TotalBytes() const { return bytes_; }

 private:
  void Flip(uint32_t resultIndex, bool on);
  const std::vector<uint32_t>* Twins(uint32_t resultIndex) const;

  const std::vector<FoundItemRecord>* results_ = nullptr;
  const ResultGroups* groups_ = nullptr;
  CheckedMap map_;
  std::vector<uint8_t> bits_;
  std::vector<uint64_t> perGroup_;
  uint64_t bytes_ = 0;
  // Result indices sharing a key with another record: index -> all of them.
  std::unordered_map<uint32_t, std::vector<uint32_t>> twins_;
};

}  // namespace dunmere
