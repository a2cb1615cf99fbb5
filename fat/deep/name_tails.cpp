#include "fat/deep/name_tails.h"

#include <algorithm>
#include <cstring>

#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"

namespace dunmere {

void FatNameTails::Reset(std::string spillPath) {
  tails_.clear();
  unclaimed_.clear();
  for (auto& b : unclaimedByKey_) b.clear();
  unclaimedSorted_ = true;
  unclaimedSectors_.Reset(sectorSize_, limits_.unclaimedInMemory, limits_.unclaimedMax, std::move(spillPath));
}

FatNameTails::SectorKey FatNameTails::KeyOf(ByteView sector) {
  FatDirEntry e(sector);
  SectorKey k;
  if (e.IsLongName()) {
    // The part stored first (flag 0x40) opens a long name: it continues none.
    k.kind = (!e.IsDeleted() && (e.First() & 0x40)) ? FirstKind::kLongNameStart : FirstKind::kLongName;
    k.key = e.LfnChecksumByte();
    k.seq = e.IsDeleted() ? 0 : uint8_t(e.First() & 0x3F);
  } else if (e.IsDeleted()) {
    k.kind = FirstKind::kDeletedShort;
  } else {
    k.kind = FirstKind::kShort;
    k.key = LfnChecksum(sector.Sub(0, 11));
  }
  for (size_t off = 0; off + kFatDirEntrySize <= sector.size(); off += kFatDirEntrySize) {
    FatDirEntry x(sector.Sub(off, kFatDirEntrySize));
    if (x.First() == 0) break;
    if (x.IsLongName()) continue;
    if (uint32_t c = x.FirstCluster(true); c >= 2) {
      k.firstData = c;
      break;
    }
  }
  return k;
}

int FatNameTails::DataGoesOn(const FatNameTail& t, const SectorKey& k) const {
  uint32_t end = 0;
  if (k.firstData == 0 || !tree_.Continuations().DataEnd(tree_.Normalize(guesses_.Key(t.guess, t.cluster)), t.guess, end))
    return -1;
  end &= kFatClusterMask;
  return k.firstData >= end && k.firstData - end <= kMaxFatContinuationGap ? 1 : 0;
}

bool FatNameTails::Matches(const FatNameTail& t, SectorKey k, uint64_t s) const {
  const uint64_t spc = guesses_.SectorsPerCluster(t.guess);
  // With a volume known, the rest lies after the tail in the same directory.
  if (spc ? s <= t.sector : s == t.sector) return false;
  const bool near = spc && s - t.sector <= 2 * spc;  // this cluster or the next
  switch (k.kind) {
    case FirstKind::kLongName:
      // The next part by number and checksum: a directory's later cluster
      // may lie anywhere (Choose decides when several tails fit).
      return k.key == t.checksum && (t.lastSeq == 0 || k.seq == 0 || k.seq + 1 == t.lastSeq);
    case FirstKind::kLongNameStart:
      return false;
    case FirstKind::kDeletedShort:
      return spc && s - t.sector < spc;
    case FirstKind::kShort:
      if (k.key != t.checksum || !(t.lastSeq == 0 || t.lastSeq == 1)) return false;
      if (!spc || near) return true;
      // All parts of the name were there and this entry opens another
      // cluster: the folder's next one when its data goes on from the folder's.
      return t.lastSeq == 1 && guesses_.StartsDataCluster(t.guess, s) && DataGoesOn(t, k) == 1;
  }
  return false;
}

std::deque<FatNameTail>::iterator FatNameTails::Choose(ByteView sector, const SectorKey& k, uint64_t s) {
  auto nearest = tails_.end();
  std::vector<std::deque<FatNameTail>::iterator> far;
  for (auto it = tails_.begin(); it != tails_.end(); ++it) {
    if (!Matches(*it, k, s)) continue;
    const uint64_t spc = guesses_.SectorsPerCluster(it->guess);
    if (spc && s - it->sector <= 2 * spc) {
      if (nearest == tails_.end() || it->sector > nearest->sector) nearest = it;
    } else {
      far.push_back(it);
    }
  }
  // The directory's own next sectors first, the nearest of them.
  if (nearest != tails_.end() || far.empty()) return nearest;
  // Folders of one volume share short names ("NAME~1"), so other folders'
  // unfinished names fit by checksum too, and the right one may not have
  // been met yet. A subfolder listed in the sector names, in its "..", the
  // folder the sector belongs to: that folder's name or none.
  for (size_t off = 0; off + kFatDirEntrySize <= sector.size(); off += kFatDirEntrySize) {
    FatDirEntry e(sector.Sub(off, kFatDirEntrySize));
    if (e.First() == 0) break;
    if (e.IsLongName() || e.IsDeleted() || !(e.Attributes() & kFatAttrDirectory) || e.First() == '.') continue;
    bool known = false;
    for (auto it : far) {
      const uint32_t up = tree_.KnownParent(guesses_.Key(it->guess, e.FirstCluster(true)));
      if (up == FatFolderTree::kNoParent) continue;
      known = true;
      if (tree_.Normalize(guesses_.Key(it->guess, it->cluster)) == up) return it;
    }
    if (known) return tails_.end();
  }
  // Else data that clearly does not go on from a folder's rules it out; of
  // several left, the one whose data goes on here, or none.
  std::vector<std::deque<FatNameTail>::iterator> left;
  for (auto it : far)
    if (DataGoesOn(*it, k) != 0) left.push_back(it);
  if (left.size() == 1) return left[0];
  auto goesOn = tails_.end();
  for (auto it : left) {
    if (DataGoesOn(*it, k) != 1) continue;
    if (goesOn != tails_.end()) return tails_.end();
    goesOn = it;
  }
  return goesOn;
}

std::optional<FatNameTail> FatNameTails::TakeFor(ByteView sector, uint64_t s) {
  if (tails_.empty()) return std::nullopt;
  auto it = Choose(sector, KeyOf(sector), s);
  if (it == tails_.end()) return std::nullopt;
  FatNameTail t = std::move(*it);
  tails_.erase(it);
  return t;
}

void FatNameTails::Keep(FatNameTail&& t) {
  tails_.push_back(std::move(t));
  while (tails_.size() > limits_.maxTails) tails_.pop_front();
}

int FatNameTails::FindKeptContinuation(const FatNameTail& t) {
  if (!unclaimedSorted_) SortKept();
  for (uint32_t idx : unclaimedByKey_[t.checksum]) {
    const Unclaimed& u = unclaimed_[idx];
    const SectorKey k{u.kind, u.key, u.seq, u.firstData};
    if (u.used || !Matches(t, k, u.sector)) continue;
    // Far away, data that clearly does not go on from the tail's folder rules the sector out.
    const uint64_t spc = guesses_.SectorsPerCluster(t.guess);
    if ((spc && u.sector - t.sector <= 2 * spc) || DataGoesOn(t, k) != 0) return int(idx);
  }
  return -1;
}

bool FatNameTails::TakeKeptContinuation(const FatNameTail& t, uint64_t& s, uint8_t* out) {
  const int idx = FindKeptContinuation(t);
  if (idx < 0) return false;
  Unclaimed& u = unclaimed_[size_t(idx)];
  u.used = true;
  s = u.sector;
  return unclaimedSectors_.Get(u.slot, out);
}

void FatNameTails::KeepSector(ByteView sector, uint64_t s) {
  copy_.assign(sectorSize_, 0);
  std::memcpy(copy_.data(), sector.data(), std::min<size_t>(sector.size(), sectorSize_));
  uint32_t slot = 0;
  if (!unclaimedSectors_.Add(copy_.data(), slot)) {
    ++stats_.droppedUnclaimed;
    return;
  }
  ++stats_.unclaimed;
  SectorKey k = KeyOf(sector);
  if (!unclaimed_.empty() && unclaimed_.back().sector > s) unclaimedSorted_ = false;
  unclaimed_.push_back(Unclaimed{s, slot, k.key, k.seq, k.kind, false, k.firstData});
  if (unclaimedSorted_ && (k.kind == FirstKind::kLongName || k.kind == FirstKind::kShort))
    unclaimedByKey_[k.key].push_back(uint32_t(unclaimed_.size() - 1));
}

void FatNameTails::SortKept() {
  std::stable_sort(unclaimed_.begin(), unclaimed_.end(),
                   [](const Unclaimed& a, const Unclaimed& b) { return a.sector < b.sector; });
  for (auto& b : unclaimedByKey_) b.clear();
  for (size_t i = 0; i < unclaimed_.size(); ++i) {
    const Unclaimed& u = unclaimed_[i];
    if (u.kind == FirstKind::kLongName || u.kind == FirstKind::kShort) unclaimedByKey_[u.key].push_back(uint32_t(i));
  }
  unclaimedSorted_ = true;
}

void FatNameTails::DrainKept(const std::function<void(ByteView sector, uint64_t s)>& place,
                             const std::function<bool()>& stop) {
  if (!unclaimedSorted_) SortKept();
  std::vector<uint8_t> data(sectorSize_);
  bool stopped = false;
  // By index: placing a sector may take later ones (marked used) on the way.
  for (size_t i = 0; i < unclaimed_.size(); ++i) {
    if (unclaimed_[i].used) continue;
    unclaimed_[i].used = true;
    if (stopped || (stop && stop())) {
      stopped = true;
      ++stats_.droppedUnclaimed;
      continue;
    }
    if (!unclaimedSectors_.Get(unclaimed_[i].slot, data.data())) continue;
    place(ByteView(data.data(), data.size()), unclaimed_[i].sector);
  }
  unclaimed_.clear();
  unclaimed_.shrink_to_fit();
  for (auto& b : unclaimedByKey_) std::vector<uint32_t>().swap(b);
  unclaimedSectors_.Clear();
  tails_.clear();
}

size_t FatNameTails::ResidentBytes() const {
  size_t bytes = unclaimedSectors_.ResidentBytes() + unclaimed_.capacity() * sizeof(Unclaimed);
  for (const auto& b : unclaimedByKey_) bytes += b.capacity() * sizeof(uint32_t);
  for (const FatNameTail& t : tails_) bytes += sizeof(FatNameTail) + t.bytes.capacity();
  return bytes;
}

}  // namespace dunmere
