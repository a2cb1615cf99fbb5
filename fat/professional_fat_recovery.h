#pragma once
// The FAT part of the deep scan. It reads no sectors of its own accord: the
// deep-scan pass hands it every sector that looks like FAT directory data, in
// disk order. From "." entries it learns where FAT volumes lie (also volumes
// whose boot sector is gone), rebuilds their folders and files, live or
// deleted, hangs folders whose own entry was never found under "LostFolder<n>",
// and reads a found file back as one contiguous run of clusters. Its records
// carry sourceKind 3 (kSourceDeepFat).
//
// Memory stays bounded on disks of any size: directory sectors that cannot be
// placed yet and file records waiting for a volume keep only a small index in
// memory; their bytes spill to hidden files in the scan folder beyond a first
// share, and past a hard limit further ones are dropped and counted (Stats()).
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/content_check.h"
#include "engine/store_engine.h"
#include "fat/pro_fat_continuations.h"
#include "fat/pro_fat_spill.h"
#include "fat/pro_fat_volume_guess.h"
#include "storage/sector_source.h"

namespace dunmere {

class CProfessionalFatRecovery : public CStoreEngineBase {
 public:
  struct Limits {
    size_t unclaimedInMemory = 16384;       // sector copies kept in memory
    uint64_t unclaimedMax = 1u << 20;       // in all, memory and spill file
    size_t pendingInMemory = 4096;          // file records kept in memory
    uint64_t pendingMax = 1u << 20;
    size_t maxTails = 256;                  // unfinished long names
    size_t maxObservations = 4096;          // unplaced "." entries to pair
    size_t maxGuesses = 64;
  };
  struct Stats {
    uint64_t unclaimed = 0;         // sectors kept for the end
    uint64_t droppedUnclaimed = 0;  // past the limit
    uint64_t pending = 0;           // file records that waited for a volume
    uint64_t droppedPending = 0;    // past the limit, or no volume at the end
    uint64_t unplacedSectors = 0;   // kept sectors no volume could place
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t lostFolders = 0;
    uint64_t joinedClusters = 0;  // later clusters of folders joined to them
  };

  CProfessionalFatRecovery();
  ~CProfessionalFatRecovery() override;

  Status OpenImage(const std::string& path, uint16_t sourceTag) override;
  Status OpenPartition(uint32_t diskIndex, uint64_t startSector, uint64_t sectorCount, uint16_t sourceTag) override;
  // The deep-scan pass drives the work: these do nothing.
  Status Scan(const std::string* earlierLog) override;
  Status NextFreeExtent(uint64_t& startSector, uint64_t& lengthSectors) override;
  Status LoadAllocationBitmap() override;
  Status GetFolderPath(const FoundItemRecord* record, std::string& out) override;
  Status ReadContent(const FoundItemRecord& record, const ContentSink& sink) override;

  // --- Called by the deep-scan pass, in this order. Sector numbers are
  // absolute sectors of the source; `sector` holds one sector's bytes. ---
  // Empties every list and opens the log: `logName` empty gives a new
  // "Pro_Fat_<start>_<y><m><d><h><mm>" log, otherwise that log is reopened.
  Status BeginFatLog(const std::string& logName);
  // The first volume guess from the area's own boot sector; 0 or the read's error.
  Status SeedFromBootSector();
  // A sector whose first two entries are "." and ".." (IsDotPair).
  void OnDotPairSector(ByteView sector, uint64_t sectorNumber);
  // A sector that passes IsDirectoryCluster over its own length.
  void OnDirectorySector(ByteView sector, uint64_t sectorNumber);
  // After the last sector: places what waited and writes the folders.
  Status FinishFatScan();

  // Whether the first sector of a file's data fits its extension; unset,
  // every content is accepted.
  void SetContentCheck(ContentCheck check) { contentCheck_ = std::move(check); }
  // Takes effect at the next BeginFatLog.
  void SetLimits(const Limits& limits) { limits_ = limits; }
  const Stats& GetStats() const { return stats_; }
  const std::vector<FatVolumeGuess>& Guesses() const { return guesses_; }
  bool FirstGuessFromBootSector() const { return bootGuess_; }
  uint32_t RootCluster() const { return rootCluster_; }
  // Memory held for sector copies, file records and long-name tails.
  size_t ResidentBytes() const;
  const std::string& LogName() const { return logName_; }

 protected:
  uint32_t RootId() const override { return rootCluster_; }

 private:
  static constexpr int kNoGuess = -1;

  struct Tail {
    uint8_t checksum = 0;
    int guess = kNoGuess;
    uint32_t cluster = 0;    // the directory the long name belongs to
    uint64_t dirSector = 0;  // first sector of the buffer it was cut from
    uint64_t sector = 0;     // the sector its bytes end in
    uint8_t lastSeq = 0;     // sequence number of its last part (0: unknown)
    std::vector<uint8_t> bytes;
  };
  struct ParseOutcome {
    bool ended = false;  // an end-of-directory entry was met
    bool hasTail = false;
    Tail tail;
  };
  // Where a directory buffer belongs. A buffer that is a tail joined to a
  // sector has that sector's bytes from `joinAt` on.
  struct BufferPlace {
    uint32_t cluster = 0;
    int guess = kNoGuess;
    uint64_t dirSector = 0;
    uint64_t firstSector = 0;
    size_t joinAt = 0;
    uint64_t joinSector = 0;
  };
  struct Run {
    bool set = false;
    int guess = kNoGuess;
    uint32_t dirCluster = 0;   // the directory the run's entries belong to
    uint32_t cluster = 0;      // the cluster being read (0: the fixed root area)
    uint64_t first = 0;        // its first sector
    uint64_t lastSeen = 0;     // the last of its sectors handed over
    bool ended = false;
  };
  struct FolderEntry {
    uint32_t slot = 0;  // the folder's record in folderRecords_
    int guess = kNoGuess;
    uint64_t sector = 0;
    uint32_t entryDir = 0;  // the directory its entry was found in
  };
  struct Referenced {
    int guess = kNoGuess;
    uint64_t sector = 0;
  };
  struct Pending {
    uint64_t dirSector = 0;  // first sector of the directory buffer
    uint32_t dirCluster = 0;
    uint32_t slot = 0;
    bool placed = false;
  };
  // What the first entry of a sector says about the long name it may finish.
  enum class FirstKind : uint8_t { kLongName, kLongNameStart, kDeletedShort, kShort };
  struct SectorKey {
    FirstKind kind = FirstKind::kShort;
    uint8_t key = 0;  // the long name's checksum
    uint8_t seq = 0;  // a long-name part's sequence number (0: unknown)
    uint32_t firstData = 0;  // first cluster of the first entry's data (0: none)
  };
  struct Unclaimed {
    uint64_t sector = 0;
    uint32_t slot = 0;
    uint8_t key = 0;
    uint8_t seq = 0;
    FirstKind kind = FirstKind::kShort;
    bool used = false;
    uint32_t firstData = 0;
  };

  Status OpenOn(uint64_t start, uint64_t count, uint16_t tag);
  Status ReadAbsolute(uint64_t sector, uint32_t bytes, uint8_t* out, uint32_t& got) const;
  void ClearScanState();

  int FindGuessAt(uint32_t cluster, uint64_t sector) const;
  int FindGuessContaining(uint32_t cluster, uint64_t sector) const;
  int FindNearestGuessBelow(uint64_t sector) const;
  int LearnFromObservations(uint32_t cluster, uint64_t sector);
  void AddGuess(const FatVolumeGuess& g);
  // The first guess under which `s` starts a cluster or lies in the root area.
  bool PlaceByGuesses(uint64_t s, int& guess, uint32_t& cluster) const;
  uint64_t RunSpan(const Run& r) const;
  bool ContinueRun(Run& r, ByteView sector, uint64_t s);

  ParseOutcome ParseBuffer(ByteView buf, const BufferPlace& place);
  void ParseAndKeepTail(ByteView buf, const BufferPlace& place, Run* run);
  FoundItemRecord BaseRecord(ByteView entry, const std::string& name, uint32_t cluster, uint64_t sector) const;
  void AddFolder(ByteView entry, const std::string& name, uint32_t parent, int guess, uint64_t sector);
  void AddFile(ByteView entry, const std::string& name, uint32_t dirCluster, int guess, uint64_t dirSector,
               uint64_t sector);
  bool WriteFile(FoundItemRecord record, uint32_t dirCluster, int guess, uint64_t dirSector);
  void FillFromGuess(FoundItemRecord& r, int guess) const;
  int ContentPlausible(const FoundItemRecord& r, int guess);

  static SectorKey KeyOf(ByteView sector);
  bool TailMatches(const Tail& t, SectorKey k, uint64_t s) const;
  // Whether the sector's first data goes on where the tail's folder's data
  // ended: 1 yes, 0 no, -1 not known.
  int DataGoesOn(const Tail& t, const SectorKey& k) const;
  // The waiting tail the sector goes on: the nearest of the directory's own
  // next sectors, else the one its subfolders' ".." name, else one whose
  // data go on there; end() when none.
  std::deque<Tail>::iterator ChooseTail(ByteView sector, const SectorKey& k, uint64_t s);
  // Joins a waiting tail with the sector and parses them; false when none fits.
  bool JoinWithTail(ByteView sector, uint64_t s, Run* run);
  void KeepTail(Tail&& t);
  int FindUnclaimedContinuation(const Tail& t);
  void KeepUnclaimed(ByteView sector, uint64_t s);
  void SortUnclaimed();
  void PlaceUnclaimed(ByteView sector, uint64_t s);
  void PlacePendingWith(int guess);
  bool PlacePending(Pending& p, int guess);

  uint32_t Normalize(uint32_t cluster) const { return cluster == 0 ? rootCluster_ : cluster; }
  bool IsRoot(uint32_t cluster) const { return cluster == 0 || cluster == rootCluster_; }
  // The parent a folder's first sector names in "..", or kNoParent when that
  // sector is no "."/".." pair of this folder; fixed once known.
  uint32_t DotParent(uint32_t cluster, int guess);
  // A folder's parent: its ".." entry, else the directory its entry was
  // found in, else the root.
  uint32_t ParentOf(uint32_t cluster, int guess);
  // Joins folders' later clusters, found apart, to the folders themselves,
  // and moves what was found in them there.
  void JoinContinuations();
  bool StartsDataCluster(int guess, uint64_t sector) const;
  // Folders from the root down to this one, itself included (root: 0).
  uint32_t Depth(uint32_t cluster, int guess);
  void Reference(uint32_t cluster, int guess, uint64_t sector);
  Status WriteFolders();

  SectorSource source_;
  bool opened_ = false;
  uint64_t start_ = 0;
  uint64_t count_ = 0;
  uint32_t sectorSize_ = 512;
  uint16_t sourceTag_ = 0;
  std::string logName_;
  std::string spillBase_;

  uint32_t rootCluster_ = 2;
  std::vector<FatVolumeGuess> guesses_;
  bool bootGuess_ = false;
  std::deque<std::pair<uint32_t, uint64_t>> observations_;
  std::unordered_map<uint32_t, FolderEntry> folders_;
  ProFatSpill folderRecords_;
  std::map<uint32_t, Referenced> referenced_;
  std::vector<Pending> pending_;
  ProFatSpill pendingRecords_;
  std::deque<Tail> tails_;
  std::vector<Unclaimed> unclaimed_;
  std::array<std::vector<uint32_t>, 256> unclaimedByKey_;  // by checksum, in sector order
  bool unclaimedSorted_ = true;
  ProFatSpill unclaimedSectors_;
  Run run1_, run2_;
  std::unordered_map<uint32_t, uint32_t> parentOf_;
  std::unordered_map<uint32_t, uint32_t> depthOf_;
  FatFolderContinuations continuations_;
  uint32_t firstRecord_ = 1;  // the first record of this scan in the log

  Limits limits_;
  Stats stats_;
  ContentCheck contentCheck_;
  std::vector<uint8_t> readBuf_;
};

}  // namespace dunmere
