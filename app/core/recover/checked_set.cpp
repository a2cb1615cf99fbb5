#include "app/core/recover/checked_set.h"

#include <algorithm>

namespace dunmere {

namespace {

uint64_t Packed(const CheckedKey& k) { return (uint64_t(k.first) << 32) | k.second; }

}  // namespace

CheckState StateOfCounts(uint64_t checked, uint64_t total) {
  if (checked == 0 || total == 0) return CheckState::kUnchecked;
  return checked >= total ? CheckState::kChecked : CheckState::kPartial;
}

void CheckedSet::Clear() {
  map_.clear();
  mapValid_ = true;
  count_ = 0;
  bits_.clear();
  bits_.shrink_to_fit();
  perGroup_.clear();
  twins_.clear();
  bytes_ = 0;
  results_ = nullptr;
  groups_ = nullptr;
}

CheckedMap CheckedSet::Detach() {
  Map();  // made from the bits while the records are still there
  CheckedMap out;
  map_.swap(out);
  Clear();
  return out;
}

void CheckedSet::Attach(const std::vector<FoundItemRecord>& results, const ResultGroups& groups,
                        const CheckedMap& keep) {
  Clear();
  results_ = &results;
  groups_ = &groups;
  bits_.assign(results.size(), 0);
  perGroup_.assign(groups.size(), 0);

  // Keys in order, to find records that share one and entries to keep.
  std::vector<std::pair<uint64_t, uint32_t>> keys(results.size());
  for (size_t i = 0; i < results.size(); ++i) keys[i] = {Packed(CheckedKeyOf(results[i])), uint32_t(i)};
  std::sort(keys.begin(), keys.end());
  for (size_t i = 0; i < keys.size();) {
    size_t j = i + 1;
    while (j < keys.size() && keys[j].first == keys[i].first) ++j;
    if (j - i > 1) {
      std::vector<uint32_t> all;
      for (size_t k = i; k < j; ++k) all.push_back(keys[k].second);
      for (uint32_t idx : all) twins_[idx] = all;
    }
    i = j;
  }
  for (const auto& entry : keep) {
    const uint64_t k = Packed(entry.first);
    auto it = std::lower_bound(keys.begin(), keys.end(), std::make_pair(k, uint32_t(0)));
    if (it != keys.end() && it->first == k) SetChecked(it->second, true);
  }
}

const std::vector<uint32_t>* CheckedSet::Twins(uint32_t resultIndex) const {
  if (twins_.empty()) return nullptr;
  auto it = twins_.find(resultIndex);
  return it == twins_.end() ? nullptr : &it->second;
}

void CheckedSet::Flip(uint32_t i, bool on) {
  bits_[i] = on ? 1 : 0;
  const uint32_t g = groups_->GroupOf(i);
  if (g < perGroup_.size()) perGroup_[g] += on ? 1 : uint64_t(-1);
}

bool CheckedSet::SetChecked(uint32_t resultIndex, bool on) {
  if (!results_ || resultIndex >= bits_.size() || IsChecked(resultIndex) == on) return false;
  Changed();
  const FoundItemRecord& r = (*results_)[resultIndex];
  if (on) {
    ++count_;
    bytes_ += r.size;
  } else {
    --count_;
    bytes_ -= r.size;
  }
  // Records sharing the key are one entry: they change together.
  if (const auto* twins = Twins(resultIndex)) {
    for (uint32_t t : *twins) Flip(t, on);
  } else {
    Flip(resultIndex, on);
  }
  return true;
}

size_t CheckedSet::SetGroup(size_t group, bool on) {
  if (!results_ || !groups_ || group >= groups_->size()) return 0;
  size_t changed = 0;
  for (uint32_t i : (*groups_)[group].members) changed += SetChecked(i, on) ? 1 : 0;
  return changed;
}

std::vector<const FoundItemRecord*> CheckedSet::Records() const {
  std::vector<const FoundItemRecord*> out;
  if (!results_) {
    // Unbound: what a map kept from before holds (Detach leaves none).
    out.reserve(map_.size());
    for (const auto& [key, record] : map_) out.push_back(&record);
    return out;
  }
  std::vector<std::pair<uint64_t, uint32_t>> keys;
  keys.reserve(count_);
  for (size_t i = 0; i < bits_.size(); ++i)
    if (bits_[i]) keys.push_back({Packed(CheckedKeyOf((*results_)[i])), uint32_t(i)});
  std::sort(keys.begin(), keys.end());
  out.reserve(keys.size());
  for (size_t n = 0; n < keys.size(); ++n) {
    if (n > 0 && keys[n].first == keys[n - 1].first) continue;  // twins: one entry
    out.push_back(&(*results_)[keys[n].second]);
  }
  return out;
}

const CheckedMap& CheckedSet::Map() const {
  if (mapValid_) return map_;
  map_.clear();
  for (const FoundItemRecord* r : Records()) map_.emplace_hint(map_.end(), CheckedKeyOf(*r), *r);
  mapValid_ = true;
  return map_;
}

CheckState CheckedSet::GroupState(size_t group) const {
  if (!groups_ || group >= groups_->size()) return CheckState::kUnchecked;
  return StateOfCounts(GroupChecked(group), (*groups_)[group].members.size());
}

CheckState CheckedSet::StateOf(const std::vector<size_t>& groups) const {
  uint64_t checked = 0, total = 0;
  for (size_t g : groups) {
    if (!groups_ || g >= groups_->size()) continue;
    checked += GroupChecked(g);
    total += (*groups_)[g].members.size();
  }
  return StateOfCounts(checked, total);
}

}  // namespace dunmere
