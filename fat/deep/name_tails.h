#pragma once
// Long names cut by the end of a directory buffer. A long name's parts may
// run on into the directory's next sector, which the deep scan meets later
// (or met earlier and kept, when no volume could place it yet). The cut
// parts wait here as tails; a sector whose first entry goes on with a tail
// is joined to it, so that the name reaches its short entry whole. Sectors
// no volume places yet are kept here too (beyond a first share on disk),
// keyed by what their first entry says, for tails cut later to find them.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "fat/deep/folder_tree.h"
#include "fat/deep/scan_limits.h"
#include "fat/deep/spill.h"
#include "fat/deep/volume_guesses.h"

namespace dunmere {

// The unfinished long name at the end of a directory buffer.
struct FatNameTail {
  uint8_t checksum = 0;
  int guess = FatVolumeGuesses::kNone;
  uint32_t cluster = 0;    // the directory the long name belongs to
  uint64_t dirSector = 0;  // first sector of the buffer it was cut from
  uint64_t sector = 0;     // the sector its bytes end in
  uint8_t lastSeq = 0;     // sequence number of its last part (0: unknown)
  std::vector<uint8_t> bytes;
};

class FatNameTails {
 public:
  // What the first entry of a sector says about the long name it may finish.
  enum class FirstKind : uint8_t { kLongName, kLongNameStart, kDeletedShort, kShort };
  struct SectorKey {
    FirstKind kind = FirstKind::kShort;
    uint8_t key = 0;         // the long name's checksum
    uint8_t seq = 0;         // a long-name part's sequence number (0: unknown)
    uint32_t firstData = 0;  // first cluster of the first entry's data (0: none)
  };
  static SectorKey KeyOf(ByteView sector);

  // Reads the volumes from `guesses` and what is known of the folders from
  // `tree`; counts kept and dropped sectors in `stats`.
  FatNameTails(const FatVolumeGuesses& guesses, const FatFolderTree& tree, const DeepFatLimits& limits,
               DeepFatStats& stats)
      : guesses_(guesses), tree_(tree), limits_(limits), stats_(stats) {}

  void SetSectorSize(uint32_t bytes) { sectorSize_ = bytes; }
  // Forgets every tail and kept sector; kept sectors beyond the memory share
  // go to `spillPath` (none: memory only).
  void Reset(std::string spillPath);
  // Deletes the kept sectors' spill file.
  void ClearSpill() { unclaimedSectors_.Clear(); }

  // Keeps a tail until a sector goes on with it (the oldest go past the limit).
  void Keep(FatNameTail&& t);
  // The waiting tail sector `s` goes on, taken out of the waiting ones: the
  // nearest of the directory's own next sectors, else the one its
  // subfolders' ".." name, else one whose data go on there; none when no
  // tail fits or several fit alike.
  std::optional<FatNameTail> TakeFor(ByteView sector, uint64_t s);
  size_t Waiting() const { return tails_.size(); }

  // Keeps a sector no volume places yet.
  void KeepSector(ByteView sector, uint64_t s);
  // A kept sector that goes on with `t`, copied to `out` (one sector) and
  // never handed out again; false when none does.
  bool TakeKeptContinuation(const FatNameTail& t, uint64_t& s, uint8_t* out);
  // Hands the kept sectors not taken yet to `place` in sector order (a tail
  // `place` cuts may take later ones), then forgets all sectors and tails.
  // Once `stop` (if set) says so, the rest are dropped and counted.
  void DrainKept(const std::function<void(ByteView sector, uint64_t s)>& place,
                 const std::function<bool()>& stop = {});

  // Memory held for tails and kept sectors.
  size_t ResidentBytes() const;

 private:
  struct Unclaimed {
    uint64_t sector = 0;
    uint32_t slot = 0;
    uint8_t key = 0;
    uint8_t seq = 0;
    FirstKind kind = FirstKind::kShort;
    bool used = false;
    uint32_t firstData = 0;
  };

  bool Matches(const FatNameTail& t, SectorKey k, uint64_t s) const;
  // Whether the sector's first data goes on where the tail's folder's data
  // ended: 1 yes, 0 no, -1 not known.
  int DataGoesOn(const FatNameTail& t, const SectorKey& k) const;
  std::deque<FatNameTail>::iterator Choose(ByteView sector, const SectorKey& k, uint64_t s);
  int FindKeptContinuation(const FatNameTail& t);
  void SortKept();

  const FatVolumeGuesses& guesses_;
  const FatFolderTree& tree_;
  const DeepFatLimits& limits_;
  DeepFatStats& stats_;
  uint32_t sectorSize_ = 512;
  std::deque<FatNameTail> tails_;
  std::vector<Unclaimed> unclaimed_;
  std::array<std::vector<uint32_t>, 256> unclaimedByKey_;  // by checksum, in sector order
  bool unclaimedSorted_ = true;
  DeepFatSpill unclaimedSectors_;
  std::vector<uint8_t> copy_;
};

}  // namespace dunmere
