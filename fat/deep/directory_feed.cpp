#include "fat/deep/directory_feed.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"

namespace dunmere {

namespace {
constexpr int kNoGuess = FatVolumeGuesses::kNone;
}  // namespace

// What the parser finds in a buffer: the folder data it tells of goes to the
// continuations, the entries themselves on to the engine.
class FatDirectoryFeed::Sink : public FatDirEntrySink {
 public:
  Sink(FatDirectoryFeed& e, const FatBufferPlace& p) : e_(e), p_(p) {}
  void OnDirEnd(uint32_t dir) override {
    if (p_.guess != kNoGuess) e_.tree_.Continuations().OnEnd(Key(dir), p_.guess);
  }
  void OnFolderEntry(ByteView entry, const std::string& name, uint32_t dir, uint64_t sector) override {
    dir = Key(dir);
    if (p_.guess != kNoGuess)
      e_.tree_.Continuations().OnEntry(dir, p_.guess, e_.guesses_.Key(p_.guess, FatDirEntry(entry).FirstCluster(true)), 1);
    e_.found_.OnFolder(entry, name, dir, p_.guess, sector);
  }
  void OnFileEntry(ByteView entry, const std::string& name, uint32_t dir, uint64_t sector) override {
    dir = Key(dir);
    if (p_.guess != kNoGuess) {
      FatDirEntry e(entry);
      const uint64_t cb = e_.guesses_.SectorsPerCluster(p_.guess) * e_.sectorSize_;
      e_.tree_.Continuations().OnEntry(dir, p_.guess, e_.guesses_.Key(p_.guess, e.FirstCluster(true)),
                                       uint32_t((e.Size() + cb - 1) / cb));
    }
    e_.found_.OnFile(entry, name, dir, p_.guess, p_.dirSector, sector);
  }

 private:
  // The parser names directories by the clusters on disk ("." entries too):
  // the number kept for them carries the volume's tag.
  uint32_t Key(uint32_t dir) const { return e_.tree_.Normalize(e_.guesses_.Key(p_.guess, dir)); }

  FatDirectoryFeed& e_;
  const FatBufferPlace& p_;
};

bool FatDirRun::TakeNext(const FatVolumeGuesses& guesses, uint64_t s) {
  if (!set || guess == FatVolumeGuesses::kNone || size_t(guess) >= guesses.List().size()) return false;
  const uint64_t span = cluster == 0 ? guesses[guess].rootSectors : guesses[guess].sectorsPerCluster;
  if (span == 0) return false;
  if (s > first && s - first < span) {
    // A later sector of the same cluster.
  } else if (cluster >= 2 && !ended && lastSeen == first + span - 1 && s == first + span) {
    // The cluster was full of entries to its last sector and the next one
    // holds entries too: without a FAT, the directory is taken to go on
    // there (it usually does: directories grow into free clusters).
    cluster += 1;
    first = s;
  } else {
    return false;
  }
  lastSeen = s;
  return true;
}

void FatDirectoryFeed::Reset() {
  run1_ = FatDirRun{};
  run2_ = FatDirRun{};
}

void FatDirectoryFeed::OnDotPairSector(ByteView sector, uint64_t s) {
  if (!IsDotPair(sector)) return;
  FatDirEntry dot(sector), dotdot(sector.Sub(kFatDirEntrySize, kFatDirEntrySize));
  const uint32_t raw = dot.FirstCluster(true);
  if (raw < 2) return;
  int g = guesses_.FindAt(raw, s);
  if (g == kNoGuess) g = guesses_.Learn(raw, s);
  const uint32_t c = guesses_.Key(g, raw);
  if (tree_.IsRoot(c)) return;
  // The sector names its own parent: no read needed later.
  tree_.LearnParent(c, guesses_.Key(g, dotdot.FirstCluster(true)));
  FatDirRun run;
  FatDirRun* runPtr = nullptr;
  if (g != kNoGuess) {
    run = FatDirRun{true, g, c, raw, s, s, false};
    runPtr = &run;
  } else {
    // A directory no volume places breaks the run of placed ones.
    run1_ = FatDirRun{};
  }
  ParseAndKeepTail(sector, FatBufferPlace{c, g, s, s, kFatNoJoin, 0}, runPtr);
  if (runPtr) run1_ = run;
}

bool FatDirectoryFeed::StartRunByGuesses(FatDirRun& run, ByteView sector, uint64_t s) {
  int g = kNoGuess;
  uint32_t cluster = 0;
  if (!guesses_.Place(s, g, cluster)) return false;
  uint64_t first = 0;
  guesses_[g].ClusterOf(s, cluster, first);
  if (const uint32_t key = guesses_.Key(g, cluster); !tree_.IsRoot(key)) tree_.Continuations().MarkHeadless(key, g);
  StartRun(run, sector, s, g, cluster, first);
  return true;
}

void FatDirectoryFeed::OnDirectorySector(ByteView sector, uint64_t s) {
  if (sector.size() < kFatDirEntrySize) return;
  if (JoinWithTail(sector, s, &run1_)) return;
  if (ContinueRun(run1_, sector, s)) return;
  if (StartRunByGuesses(run1_, sector, s)) return;
  tails_.KeepSector(sector, s);
}

void FatDirectoryFeed::PlaceKept(const std::function<bool()>& stop) {
  tails_.DrainKept([&](ByteView sector, uint64_t s) { PlaceUnclaimed(sector, s); }, stop);
}

void FatDirectoryFeed::StartRun(FatDirRun& run, ByteView sector, uint64_t s, int g, uint32_t cluster, uint64_t first) {
  // Roots stay apart here (0 or the tagged root cluster): the sink lists them
  // as the one root, once the volume's tag is on every cluster parsed.
  const uint32_t dir = guesses_.Key(g, cluster);
  run = FatDirRun{true, g, dir, cluster, first, s, false};
  ParseAndKeepTail(sector, FatBufferPlace{dir, g, first, s, kFatNoJoin, 0}, &run);
}

bool FatDirectoryFeed::ContinueRun(FatDirRun& r, ByteView sector, uint64_t s) {
  if (!r.TakeNext(guesses_, s)) return false;
  ParseAndKeepTail(sector, FatBufferPlace{r.dirCluster, r.guess, r.first, s, kFatNoJoin, 0}, &r);
  return true;
}

void FatDirectoryFeed::ParseAndKeepTail(ByteView buf, const FatBufferPlace& place, FatDirRun* run) {
  FatDirParseOutcome o;
  {
    Sink sink(*this, place);
    // The fixed root stays 0 for the sink to tag and list as the root.
    o = ParseFatDirBuffer(buf, place, sectorSize_, 0, sink);
  }
  if (run) run->ended = o.ended;
  // A long name cut by the buffer's end: its rest may already be waiting
  // among the kept sectors; otherwise it waits for a sector to come.
  std::vector<uint8_t> joined;
  for (size_t rounds = 0; o.hasTail; ++rounds) {
    FatNameTail t = std::move(o.tail);
    o = FatDirParseOutcome{};
    joined = t.bytes;
    const size_t joinAt = joined.size();
    joined.resize(joinAt + sectorSize_);
    uint64_t joinSector = 0;
    if (rounds >= 64 || !tails_.TakeKeptContinuation(t, joinSector, joined.data() + joinAt)) {
      tails_.Keep(std::move(t));
      break;
    }
    const FatBufferPlace joinedPlace{t.cluster, t.guess, t.dirSector, t.sector, joinAt, joinSector};
    Sink sink(*this, joinedPlace);
    o = ParseFatDirBuffer(ByteView(joined.data(), joined.size()), joinedPlace, sectorSize_, 0, sink);
  }
}

bool FatDirectoryFeed::JoinWithTail(ByteView sector, uint64_t s, FatDirRun* run) {
  std::optional<FatNameTail> t = tails_.TakeFor(sector, s);
  if (!t) return false;
  std::vector<uint8_t> joined = std::move(t->bytes);
  const size_t joinAt = joined.size();
  const size_t take = std::min<size_t>(sector.size(), sectorSize_);
  joined.insert(joined.end(), sector.data(), sector.data() + take);
  FatDirRun r;
  FatDirRun* rp = nullptr;
  if (t->guess != kNoGuess) {
    uint32_t c = 0;
    uint64_t first = 0;
    if (guesses_[t->guess].ClusterOf(s, c, first)) {
      r = FatDirRun{true, t->guess, t->cluster, c, first, s, false};
      rp = &r;
    }
  }
  ParseAndKeepTail(ByteView(joined.data(), joined.size()),
                   FatBufferPlace{t->cluster, t->guess, t->dirSector, t->sector, joinAt, s}, rp);
  if (rp && run) *run = r;
  return true;
}

void FatDirectoryFeed::PlaceUnclaimed(ByteView sector, uint64_t s) {
  if (JoinWithTail(sector, s, &run2_)) return;
  if (StartRunByGuesses(run2_, sector, s)) return;
  if (ContinueRun(run2_, sector, s)) return;
  int g = guesses_.FindNearestBelow(s);
  uint32_t cluster = 0;
  uint64_t first = 0;
  if (g == kNoGuess || !guesses_[g].ClusterOf(s, cluster, first)) {
    ++stats_.unplacedSectors;
    return;
  }
  StartRun(run2_, sector, s, g, cluster, first);
}

}  // namespace dunmere
