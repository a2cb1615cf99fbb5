#pragma once
// A folder that outgrew its first cluster goes on in clusters only the FAT
// links. With the FAT gone (a formatted volume), each later cluster is found
// alone: it opens with entries and no "."/".." pair. This joins such clusters
// to the folders they continue, from what their entries say:
//  - a subfolder listed there whose own ".." names the folder;
//  - data that goes on where the folder's last entry's data ended (allocators
//    hand out clusters in order, so one file's data usually starts where the
//    previous file's ended; a new directory cluster may sit in between).
// Cluster numbers are per volume guess; only clusters of one guess are joined.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>

namespace dunmere {

// Clusters that may lie between a folder's last file's data and the first
// file's data of the folder's next cluster: none (mtools), or the new
// directory cluster itself (Windows, Linux). A few more are allowed; a wider
// gap would join live folders' clusters by chance on a fragmented volume.
inline constexpr uint32_t kMaxFatContinuationGap = 4;

class FatFolderContinuations {
 public:
  explicit FatFolderContinuations(size_t maxTracked = size_t(1) << 20) : maxTracked_(maxTracked) {}
  void Clear();

  // An entry of directory `dir` whose data starts at cluster `first` and
  // takes `clusters` clusters (a folder: 1).
  void OnEntry(uint32_t dir, int guess, uint32_t first, uint32_t clusters);
  // An end-of-directory entry was met in `dir`.
  void OnEnd(uint32_t dir, int guess);
  // `dir` is a cluster that opens with entries and no "."/".." pair.
  void MarkHeadless(uint32_t dir, int guess);
  bool IsHeadless(uint32_t dir) const {
    auto it = dirs_.find(dir);
    return it != dirs_.end() && it->second.headless;
  }
  // The cluster after the data of the last entry seen in `dir`.
  bool DataEnd(uint32_t dir, int guess, uint32_t& end) const {
    auto it = dirs_.find(dir);
    if (it == dirs_.end() || it->second.guess != guess || !it->second.hasData) return false;
    end = it->second.dataEnd;
    return true;
  }
  // A subfolder listed in `dir` names `parent` in its "..".
  void VoteParent(uint32_t dir, uint32_t parent);

  // Joins the headless clusters it can. `isFolderStart(c)`: c is the first
  // cluster of a folder some entry names (its entries are its own, whatever
  // its first sector shows). `maxGap`: how many clusters may lie between the
  // data of a folder's last entry and that of the next cluster's first.
  void Decide(const std::function<bool(uint32_t)>& isFolderStart, uint32_t maxGap);
  // The folder whose entries `dir` holds (itself when it continues none).
  uint32_t Resolve(uint32_t dir) const;
  // What `dir` was joined to: the cluster before it in its folder, or the
  // folder itself when subfolders named it (itself when not joined).
  uint32_t JoinedTo(uint32_t dir) const {
    auto it = joinedTo_.find(dir);
    return it == joinedTo_.end() ? dir : it->second;
  }
  size_t Joined() const { return joinedTo_.size(); }
  size_t MemoryBytes() const;

 private:
  struct Dir {
    int guess = -1;
    bool headless = false;
    bool ended = false;
    bool hasData = false;
    uint32_t firstData = 0;  // first cluster of its first entry with data
    uint32_t dataEnd = 0;    // the cluster after its last entry's data
  };
  struct Vote {
    uint32_t parent = 0;
    uint32_t count = 0;
    bool split = false;  // two parents named: no vote counts
  };
  Dir* Track(uint32_t dir, int guess);
  bool Reaches(uint32_t from, uint32_t to) const;

  size_t maxTracked_;
  std::unordered_map<uint32_t, Dir> dirs_;
  std::unordered_map<uint32_t, Vote> votes_;
  std::unordered_map<uint32_t, uint32_t> joinedTo_;
};

}  // namespace dunmere
