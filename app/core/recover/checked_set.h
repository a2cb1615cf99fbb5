#pragma once
// The files the user checked for copy-out: an ordered map from (recordIndex,
// sourceTag << 16 | low 16 bits of sourceKind) to a full copy of the record,
// plus what the views need to show it quickly: a check bit per result-list
// record, the number checked per extension group, the total size.
//
// Checking is kept as the bits; the map is made from them when someone asks
// for it (copy-out, once) and kept until the next change. Checking half a
// million files then costs half a million bits, not half a million copies of
// 346-byte records made and freed on every click of "ChkSelAll".
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

#include "app/core/results/result_groups.h"
#include "engine/found_item.h"

namespace dunmere {

using CheckedKey = std::pair<uint32_t, uint32_t>;
using CheckedMap = std::map<CheckedKey, FoundItemRecord>;

inline CheckedKey CheckedKeyOf(const FoundItemRecord& r) {
  // By value: the record is packed, a reference to its fields may be misaligned.
  return {uint32_t(r.recordIndex), (uint32_t(r.sourceTag) << 16) | (r.sourceKind & 0xFFFFu)};
}

// The three states of a check box; the values are Qt's.
enum class CheckState : int { kUnchecked = 0, kPartial = 1, kChecked = 2 };
CheckState StateOfCounts(uint64_t checked, uint64_t total);

class CheckedSet {
 public:
  // Binds the empty set to a result list and its groups (both must stay
  // unchanged while bound). The entries of `keep` that name a record of the
  // list are checked; the others are dropped, so copy-out never takes a file
  // the views no longer show.
  void Attach(const std::vector<FoundItemRecord>& results, const ResultGroups& groups,
              const CheckedMap& keep = {});
  // The checked entries, taken out before the bound list changes; the set is
  // then empty and unbound.
  CheckedMap Detach();
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

  // The checked records by key; made on demand, valid until the next change.
  const CheckedMap& Map() const;
  // The same records in the same order, in the bound result list rather than
  // copied: copy-out makes a copy of each for its jobs, and a map of a million
  // copies beside them would be some 350 MiB more. Valid while the list is.
  std::vector<const FoundItemRecord*> Records() const;
  size_t Count() const { return count_; }
  uint64_t TotalBytes() const { return bytes_; }

 private:
  void Flip(uint32_t resultIndex, bool on);
  const std::vector<uint32_t>* Twins(uint32_t resultIndex) const;
  void Changed() {
    if (mapValid_) {
      map_.clear();
      mapValid_ = false;
    }
  }

  const std::vector<FoundItemRecord>* results_ = nullptr;
  const ResultGroups* groups_ = nullptr;
  mutable CheckedMap map_;
  mutable bool mapValid_ = true;  // an empty map is the map of an empty set
  size_t count_ = 0;              // checked keys
  std::vector<uint8_t> bits_;
  std::vector<uint64_t> perGroup_;
  uint64_t bytes_ = 0;
  // Result indices sharing a key with another record: index -> all of them.
  std::unordered_map<uint32_t, std::vector<uint32_t>> twins_;
};

}  // namespace dunmere
