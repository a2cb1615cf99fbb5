#include "exfat/deep/exfat_placement.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "exfat/exfat_fat.h"

namespace dunmere {

namespace {

constexpr uint32_t kNone = UINT32_MAX;
// Sets of a stretch with no volume lie at most this far apart.
constexpr uint64_t kStretchGap = 4096;

uint64_t Key(int volume, uint64_t cluster) { return (uint64_t(uint32_t(volume)) << 32) | (cluster & 0xFFFFFFFFu); }

// Who owns a cluster that holds sets. A folder's first cluster is the
// surest word, then a cluster its run or chain is known to cover, then one
// only guessed to go on from it; then roots before live folders before
// deleted ones, then the cluster nearer its owner's start, then the owner
// found first.
struct Claim {
  enum Rank : uint8_t { kRoot = 0, kLiveFolder = 1, kDeletedFolder = 2, kNobody = 3 };
  enum Certainty : uint8_t { kFirst = 0, kKnown = 1, kGuessed = 2 };
  uint8_t certainty = kGuessed;
  uint8_t rank = kNobody;
  uint64_t offset = 0;
  uint64_t at = 0;
  uint32_t folder = kNone;  // the folder's set; kNone for a root
  bool Beats(const Claim& o) const {
    if (rank == kNobody || o.rank == kNobody) return rank < o.rank;
    if (certainty != o.certainty) return certainty < o.certainty;
    if (rank != o.rank) return rank < o.rank;
    if (offset != o.offset) return offset < o.offset;
    return at < o.at;
  }
};

class Placer {
 public:
  Placer(const ExfatPlacementInput& in, const std::function<bool()>& stop) : in_(in), stop_(stop) {}

  ExfatPlacement Run() {
    Assign();
    ClaimClusters();
    MakeNodes();
    Resolve();
    return std::move(out_);
  }

 private:
  const ExfatVolume& Vol(int v) const { return (*in_.volumes)[size_t(v)]; }
  bool Stopped() const { return stop_ && stop_(); }

  // 1. Each set's volume and cluster; sets their volume cannot hold are damage.
  void Assign() {
    const size_t n = in_.sets.size();
    volume_.assign(n, -1);
    cluster_.assign(n, 0);
    keep_.assign(n, false);
    for (size_t i = 0; i < n; ++i) {
      const ExfatPlacedSet& s = in_.sets[i];
      const int v = in_.volumes ? ExfatVolumeHolding(*in_.volumes, s.at) : -1;
      volume_[i] = v;
      if (v >= 0) cluster_[i] = Vol(v).ClusterAt(s.at);
      keep_[i] = Plausible(s, v);
      if (!keep_[i]) ++out_.damaged;
      if (keep_[i] && v >= 0) held_.push_back(Key(v, cluster_[i]));
    }
    std::sort(held_.begin(), held_.end());
    held_.erase(std::unique(held_.begin(), held_.end()), held_.end());
    owner_.assign(held_.size(), Claim{});
  }

  bool Plausible(const ExfatPlacedSet& s, int v) const {
    if (s.validDataLength > s.dataLength) return false;
    if (s.directory && (s.dataLength == 0 || s.dataLength > kExfatMaxDirectoryBytes || s.firstCluster < 2))
      return false;
    if (s.dataLength == 0) return true;
    if (v < 0) return s.firstCluster >= 2 && s.dataLength <= in_.mediumBytes;
    const ExfatGeometry& g = Vol(v).g;
    if (!g.ValidCluster(s.firstCluster) || s.dataLength > g.HeapBytes()) return false;
    const uint64_t clusters = (s.dataLength + g.ClusterBytes() - 1) / g.ClusterBytes();
    return !s.noFatChain || s.firstCluster - 2 + clusters <= g.clusterCount;
  }

  // Index of a held cluster; kNone when no set lies in it.
  uint32_t Held(int v, uint64_t cluster) const {
    auto it = std::lower_bound(held_.begin(), held_.end(), Key(v, cluster));
    return it != held_.end() && *it == Key(v, cluster) ? uint32_t(it - held_.begin()) : kNone;
  }

  // Clusters [first, first + count) for `c`; `guessed`: those after the
  // first are only taken to go on from it.
  void ClaimRun(int v, uint64_t first, uint64_t count, uint64_t offsetBase, Claim c, bool guessed) {
    if (count == 0) return;
    auto it = std::lower_bound(held_.begin(), held_.end(), Key(v, first));
    const uint64_t end = Key(v, std::min<uint64_t>(first + count, 0xFFFFFFFFu));
    for (; it != held_.end() && *it < end; ++it) {
      c.offset = offsetBase + ((*it & 0xFFFFFFFFu) - first);
      c.certainty = c.offset == 0 ? Claim::kFirst : guessed ? Claim::kGuessed : Claim::kKnown;
      Claim& o = owner_[size_t(it - held_.begin())];
      if (c.Beats(o)) o = c;
    }
  }

  // The clusters right after `first` that hold sets, up to `limit` in all.
  uint64_t HeldRun(int v, uint64_t first, uint64_t limit) const {
    uint64_t m = 1;
    while (m < limit && Held(v, first + m) != kNone) ++m;
    return m;
  }

  // A chain of the FAT from `first`; empty when it cannot be followed.
  // `open`: a root's chain, whose length nothing names.
  std::vector<uint32_t> Chain(int v, uint32_t first, uint64_t want, bool open) {
    std::vector<uint32_t> chain;
    const ExfatVolume& vol = Vol(v);
    if (!in_.fat || !vol.fromBoot || Stopped()) return chain;
    auto read = [&](uint32_t c, uint32_t& next) { return in_.fat(v, c, next); };
    const ExfatChainEnd end = FollowExfatChain(first, want, vol.g.MaxCluster(), read, chain);
    const bool whole = end == ExfatChainEnd::kComplete || (open && end != ExfatChainEnd::kUnreadable &&
                                                           end != ExfatChainEnd::kLoop && end != ExfatChainEnd::kBad &&
                                                           end != ExfatChainEnd::kOutOfRange);
    if (!whole) chain.clear();
    return chain;
  }

  void ClaimChain(int v, const std::vector<uint32_t>& chain, Claim c) {
    for (size_t k = 0; k < chain.size(); ++k) ClaimRun(v, chain[k], 1, k, c, false);
  }

  // 2. Roots and folders claim the clusters that hold sets.
  void ClaimClusters() {
    const std::vector<ExfatVolume>* vols = in_.volumes;
    Claim root;
    root.rank = Claim::kRoot;
    if (vols) {
      for (size_t v = 0; v < vols->size(); ++v) {
        const ExfatGeometry& g = (*vols)[v].g;
        if (!g.ValidCluster(g.rootCluster)) continue;
        const uint64_t most = std::max<uint64_t>(1, kExfatMaxDirectoryBytes / g.ClusterBytes());
        // A root without a FAT to follow is its first cluster only: the
        // clusters after it that hold sets are as likely a lost folder's.
        std::vector<uint32_t> chain = Chain(int(v), g.rootCluster, most, true);
        if (!chain.empty())
          ClaimChain(int(v), chain, root);
        else
          ClaimRun(int(v), g.rootCluster, 1, 0, root, false);
      }
      // Roots of earlier volumes at the place (a format with another layout).
      for (uint64_t at : in_.roots) {
        const int v = ExfatVolumeHolding(*vols, at);
        if (v < 0) continue;
        ClaimRun(v, Vol(v).ClusterAt(at), 1, 0, root, false);
      }
    }

    // One folder per cluster: a live set before a deleted one, then the first found.
    std::map<uint64_t, uint32_t> rep;
    for (size_t i = 0; i < in_.sets.size(); ++i) {
      const ExfatPlacedSet& s = in_.sets[i];
      if (!keep_[i] || !s.directory || volume_[i] < 0) continue;
      auto [it, added] = rep.emplace(Key(volume_[i], s.firstCluster), uint32_t(i));
      if (!added && in_.sets[it->second].deleted && !s.deleted) it->second = uint32_t(i);
    }
    isRep_.assign(in_.sets.size(), false);
    for (const auto& kv : rep) isRep_[kv.second] = true;
    for (size_t i = 0; i < in_.sets.size(); ++i) {
      const ExfatPlacedSet& s = in_.sets[i];
      if (keep_[i] && s.directory && volume_[i] >= 0 && !isRep_[i]) ++out_.duplicates;
    }

    for (const auto& kv : rep) {
      const uint32_t i = kv.second;
      const ExfatPlacedSet& s = in_.sets[i];
      const int v = volume_[i];
      const uint64_t cb = Vol(v).g.ClusterBytes();
      const uint64_t clusters = (s.dataLength + cb - 1) / cb;
      Claim c;
      c.rank = s.deleted ? Claim::kDeletedFolder : Claim::kLiveFolder;
      c.at = s.at;
      c.folder = i;
      if (s.noFatChain) {
        ClaimRun(v, s.firstCluster, clusters, 0, c, false);
        continue;
      }
      std::vector<uint32_t> chain = Chain(v, s.firstCluster, clusters, false);
      if (!chain.empty())
        ClaimChain(v, chain, c);
      else
        ClaimRun(v, s.firstCluster, HeldRun(v, s.firstCluster, clusters), 0, c, true);
    }
  }

  uint32_t NewNode(const ExfatFolderNode& node) {
    out_.folders.push_back(node);
    return uint32_t(out_.folders.size() - 1);
  }

  // 3. Folder nodes: lost runs of directory clusters, the folders' own
  // sets, and stretches of sets outside every volume.
  void MakeNodes() {
    lostOf_.assign(held_.size(), kNone);
    for (size_t j = 0; j < held_.size(); ++j) {
      if (owner_[j].rank != Claim::kNobody) continue;
      const bool continues = j > 0 && held_[j - 1] + 1 == held_[j] && owner_[j - 1].rank == Claim::kNobody;
      if (continues) {
        lostOf_[j] = lostOf_[j - 1];
        continue;
      }
      ExfatFolderNode node;
      node.kind = ExfatFolderNode::Kind::kLost;
      node.volume = int(held_[j] >> 32);
      node.number = held_[j] & 0xFFFFFFFFu;
      node.at = Vol(node.volume).g.ClusterOffset(uint32_t(node.number));
      node.deleted = true;
      lostOf_[j] = NewNode(node);
    }
    nodeOfSet_.assign(in_.sets.size(), kNone);
    stretchOf_.assign(in_.sets.size(), kNone);
    uint32_t stretch = kNone;
    uint64_t stretchEnd = 0;
    for (size_t i = 0; i < in_.sets.size(); ++i) {
      if (!keep_[i]) continue;
      const ExfatPlacedSet& s = in_.sets[i];
      if (volume_[i] < 0) {
        if (stretch == kNone || s.at > stretchEnd + kStretchGap) {
          ExfatFolderNode node;
          node.kind = ExfatFolderNode::Kind::kStretch;
          node.number = s.at / 512;
          node.at = s.at;
          node.deleted = true;
          stretch = NewNode(node);
        }
        stretchOf_[i] = stretch;
        stretchEnd = s.at;
      }
      if (s.directory && (volume_[i] < 0 || isRep_[i])) {
        ExfatFolderNode node;
        node.kind = ExfatFolderNode::Kind::kSet;
        node.volume = volume_[i];
        node.set = uint32_t(i);
        nodeOfSet_[i] = NewNode(node);
      }
    }
  }

  // The node a set's entries lie in; kNone for the root.
  uint32_t ParentNode(size_t i) const {
    if (volume_[i] < 0) return stretchOf_[i];
    const uint32_t j = Held(volume_[i], cluster_[i]);
    const Claim& o = owner_[j];
    if (o.rank == Claim::kRoot) return kNone;
    if (o.rank == Claim::kNobody) return lostOf_[j];
    return nodeOfSet_[o.folder];
  }

  // 4. Parents, depths (a loop is cut at the top) and deletion below a
  // deleted folder; then the files.
  void Resolve() {
    std::vector<ExfatFolderNode>& nodes = out_.folders;
    std::vector<uint32_t> parent(nodes.size(), kNone);
    for (size_t k = 0; k < nodes.size(); ++k) {
      if (nodes[k].kind != ExfatFolderNode::Kind::kSet) continue;
      const uint32_t p = ParentNode(nodes[k].set);
      parent[k] = p == k ? kNone : p;
      nodes[k].deleted = in_.sets[nodes[k].set].deleted;
    }
    std::vector<uint32_t> depth(nodes.size(), 0);  // 0: not known yet
    std::vector<uint8_t> onPath(nodes.size(), 0);
    std::vector<uint32_t> path;
    for (size_t k = 0; k < nodes.size(); ++k) {
      if (depth[k]) continue;
      path.clear();
      uint32_t cur = uint32_t(k);
      uint32_t base = 0;
      bool deletedAbove = false;
      for (;;) {
        path.push_back(cur);
        onPath[cur] = 1;
        const uint32_t p = parent[cur];
        if (p == kNone) break;
        if (depth[p]) {
          base = depth[p];
          deletedAbove = nodes[p].deleted;
          break;
        }
        if (onPath[p] || path.size() >= kExfatMaxDepth) {
          parent[cur] = kNone;  // the loop (or the endless chain) is cut here
          break;
        }
        cur = p;
      }
      for (size_t x = path.size(); x-- > 0;) {
        const uint32_t node = path[x];
        onPath[node] = 0;
        depth[node] = ++base;
        nodes[node].deleted = nodes[node].deleted || deletedAbove;
        deletedAbove = nodes[node].deleted;
      }
    }
    auto idOf = [](uint32_t node) { return node == kNone ? ExfatPlacement::kRootId : ExfatPlacement::kFirstFolderId + node; };
    for (size_t k = 0; k < nodes.size(); ++k) {
      nodes[k].parent = idOf(parent[k]);
      nodes[k].level = parent[k] == kNone ? 0 : depth[parent[k]];
    }
    for (size_t i = 0; i < in_.sets.size(); ++i) {
      if (!keep_[i] || in_.sets[i].directory) continue;
      const uint32_t p = ParentNode(i);
      ExfatPlacedFile f;
      f.set = uint32_t(i);
      f.parent = idOf(p);
      f.level = p == kNone ? 0 : depth[p];
      f.volume = volume_[i];
      f.deleted = in_.sets[i].deleted || (p != kNone && nodes[p].deleted);
      out_.files.push_back(f);
    }
  }

  const ExfatPlacementInput& in_;
  const std::function<bool()>& stop_;
  ExfatPlacement out_;
  std::vector<int> volume_;
  std::vector<uint32_t> cluster_;
  std::vector<bool> keep_, isRep_;
  std::vector<uint64_t> held_;  // (volume, cluster) keys of clusters holding sets, sorted
  std::vector<Claim> owner_;    // by held_ index
  std::vector<uint32_t> lostOf_, nodeOfSet_, stretchOf_;
};

}  // namespace

ExfatPlacement PlaceExfatSets(const ExfatPlacementInput& in, const std::function<bool()>& stop) {
  return Placer(in, stop).Run();
}

}  // namespace dunmere
