#include "fat/deep/folder_tree.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"
#include "fat/fat_names.h"

namespace dunmere {

namespace {
// Folder records kept in memory before they spill, and in all.
constexpr size_t kFoldersInMemory = 8192;
constexpr uint64_t kMaxFolders = 1u << 22;
// Deeper than this a chain of ".." entries is taken to loop.
constexpr size_t kMaxDepth = 4096;
constexpr int kNoGuess = FatVolumeGuesses::kNone;
}  // namespace

void FatFolderTree::Reset(std::string spillPath) {
  rootCluster_ = 2;
  folders_.clear();
  referenced_.clear();
  parentOf_.clear();
  depthOf_.clear();
  continuations_.Clear();
  folderRecords_.Reset(kRecordSize, kFoldersInMemory, kMaxFolders, std::move(spillPath));
}

void FatFolderTree::LearnParent(uint32_t c, uint32_t up) {
  parentOf_.emplace(c, (IsRoot(up) || up == c) ? rootCluster_ : up);
}

uint32_t FatFolderTree::KnownParent(uint32_t c) const {
  auto it = parentOf_.find(c);
  return it == parentOf_.end() ? kNoParent : it->second;
}

void FatFolderTree::AddFolder(uint32_t c, const FoundItemRecord& r, uint32_t parent, int guess, uint64_t sector) {
  if ((c & kFatClusterMask) < 2 || c == parent || IsRoot(c)) return;
  auto it = folders_.find(c);
  if (it != folders_.end()) {
    if (folderRecords_.Put(it->second.slot, reinterpret_cast<const uint8_t*>(&r))) {
      it->second.guess = guess;
      it->second.sector = sector;
      it->second.entryDir = parent;
    }
    return;
  }
  uint32_t slot = 0;
  if (folderRecords_.Add(reinterpret_cast<const uint8_t*>(&r), slot))
    folders_[c] = FolderEntry{slot, guess, sector, parent};
}

void FatFolderTree::Reference(uint32_t c, int guess, uint64_t sector) {
  if (IsRoot(c)) return;
  referenced_.emplace(c, Referenced{guess, sector});
}

uint32_t FatFolderTree::DotParent(uint32_t c, int guess) {
  auto it = parentOf_.find(c);
  if (it != parentOf_.end()) return it->second;
  // The folder's first sector names its parent in "..": the disk's own word
  // on where the folder lives, read once.
  if (guess == kNoGuess) return kNoParent;
  uint32_t parent = kNoParent;
  if (stop_ && stop_()) {
    parentOf_.emplace(c, parent);
    return parent;
  }
  std::vector<uint8_t> sector(std::max<uint32_t>(sectorSize_, 64), 0);
  const uint32_t got = read_ ? read_(guesses_[guess].ClusterSector(c), sector.data(), sectorSize_) : 0;
  if (got) {
    ByteView v(sector.data(), got);
    if (IsDotPair(v) && FatDirEntry(v).FirstCluster(true) == (c & kFatClusterMask)) {
      uint32_t up = guesses_.Key(guess, FatDirEntry(v.Sub(kFatDirEntrySize, kFatDirEntrySize)).FirstCluster(true));
      parent = (IsRoot(up) || up == c) ? rootCluster_ : up;
    }
  }
  parentOf_.emplace(c, parent);
  return parent;
}

uint32_t FatFolderTree::ParentOf(uint32_t c, int guess) {
  if (IsRoot(c)) return rootCluster_;
  const uint32_t up = DotParent(c, guess);
  if (up != kNoParent) return up;
  // Its first sector is gone: the folder its entry was found in.
  auto f = folders_.find(c);
  if (f != folders_.end()) {
    const uint32_t d = continuations_.Resolve(f->second.entryDir);
    if (d != c) return d;
  }
  return rootCluster_;
}

uint32_t FatFolderTree::Depth(uint32_t c, int guess) {
  if (IsRoot(c)) return 0;
  if (auto it = depthOf_.find(c); it != depthOf_.end()) return it->second;
  // Walk up to the root or to a folder of known depth; a loop of ".."
  // entries is cut by hanging its last folder under the root, so that every
  // folder's children sit exactly one level below it.
  std::vector<uint32_t> path{c};
  std::unordered_set<uint32_t> onPath{c};
  uint32_t base = 0;
  for (uint32_t cur = c;;) {
    uint32_t p = ParentOf(cur, guess);
    if (IsRoot(p)) break;
    if (auto it = depthOf_.find(p); it != depthOf_.end()) {
      base = it->second;
      break;
    }
    if (onPath.count(p) || path.size() >= kMaxDepth) {
      parentOf_[cur] = rootCluster_;
      break;
    }
    path.push_back(p);
    onPath.insert(p);
    cur = p;
  }
  const size_t last = path.size() - 1;
  for (size_t i = 0; i < path.size(); ++i) depthOf_[path[i]] = base + uint32_t(last - i) + 1;
  return depthOf_[c];
}

Status FatFolderTree::Finish(ResultStore* store, uint32_t firstRecord, uint16_t sourceTag) {
  JoinContinuations(store, firstRecord);
  Status s = store ? WriteFolders(*store, sourceTag) : kOk;
  referenced_.clear();
  folders_.clear();
  folderRecords_.Clear();
  return s;
}

void FatFolderTree::JoinContinuations(ResultStore* store, uint32_t firstRecord) {
  // Subfolders listed in a cluster that opens with no "."/".." pair name, in
  // their own "..", the folder that cluster belongs to.
  for (const auto& [c, f] : folders_) {
    if (!continuations_.IsHeadless(f.entryDir)) continue;
    const uint32_t up = DotParent(c, f.guess);
    if (up != kNoParent) continuations_.VoteParent(f.entryDir, up);
  }
  continuations_.Decide([&](uint32_t x) { return folders_.count(x) > 0; }, kMaxFatContinuationGap);
  stats_.joinedClusters = continuations_.Joined();

  // Everything found since this scan began goes under its final folder, at
  // that folder's final depth.
  depthOf_.clear();
  if (store) {
    store->RemapRelations(firstRecord, [&](RelationKey k) {
      const uint32_t d = RelationParent(k);
      if (IsRoot(d)) return k;
      const uint32_t h = continuations_.Resolve(d);
      // The volume the folder was met in, for reading its "." pair if needed.
      auto ref = referenced_.find(h);
      return MakeRelationKey(h, Depth(h, ref != referenced_.end() ? ref->second.guess : kNoGuess));
    });
  }
  std::vector<std::pair<uint32_t, Referenced>> moved;
  for (auto it = referenced_.begin(); it != referenced_.end();) {
    const uint32_t h = continuations_.Resolve(it->first);
    if (h == it->first) {
      ++it;
      continue;
    }
    const int g = it->second.guess;
    if (!IsRoot(h)) moved.emplace_back(h, Referenced{g, g != kNoGuess ? guesses_[g].ClusterSector(h) : 0});
    it = referenced_.erase(it);
  }
  for (const auto& [c, ref] : moved) referenced_.emplace(c, ref);
}

Status FatFolderTree::WriteFolders(ResultStore& store, uint16_t sourceTag) {
  // Every ancestor of a referenced folder is referenced too.
  std::vector<uint32_t> work;
  for (const auto& [c, ref] : referenced_) work.push_back(c);
  while (!work.empty()) {
    uint32_t c = work.back();
    work.pop_back();
    const Referenced ref = referenced_[c];
    uint32_t p = ParentOf(c, ref.guess);
    if (IsRoot(p) || referenced_.count(p)) continue;
    uint64_t sector = ref.guess != kNoGuess ? guesses_[ref.guess].ClusterSector(p) : 0;
    referenced_.emplace(p, Referenced{ref.guess, sector});
    work.push_back(p);
  }
  // Depths first: cutting a loop of ".." entries changes a parent, and every
  // folder must be written under its final one.
  for (const auto& [c, ref] : referenced_) Depth(c, ref.guess);
  for (const auto& [c, ref] : referenced_) {
    const uint32_t parent = ParentOf(c, ref.guess);
    const uint32_t level = Depth(parent, ref.guess);
    auto it = folders_.find(c);
    FoundItemRecord r;
    if (it != folders_.end() && folderRecords_.Get(it->second.slot, reinterpret_cast<uint8_t*>(&r))) {
      int g = it->second.guess != kNoGuess ? it->second.guess : ref.guess;
      if (g != kNoGuess) guesses_.FillRecord(r, g, sectorSize_);
      r.contentOk = 1;
      store.Append(r, parent, level);
      ++stats_.folders;
      continue;
    }
    int g = ref.guess != kNoGuess ? ref.guess : guesses_.FindContaining(c, ref.sector);
    if (g == kNoGuess) continue;
    r = MakeEmptyRecord();
    r.sourceTag = sourceTag;
    r.sourceKind = kSourceDeepFat;
    r.isFolder = 1;
    r.contentOk = 1;
    r.itemId = c;
    r.clusterBytes = kNoClusterSize;
    SetRecordName(r, LostFolderName(c));
    store.Append(r, parent, level);
    ++stats_.lostFolders;
  }
  return store.WriteError();
}

}  // namespace dunmere
