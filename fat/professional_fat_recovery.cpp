#include "fat/professional_fat_recovery.h"

#include "storage/source_area.h"

#include "engine/log_name.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <unordered_set>

#include <unistd.h>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "fat/dir_entry_tests.h"
#include "fat/fat_dir_entry.h"
#include "fat/fat_names.h"
#include "fat/fat_timestamps.h"

namespace dunmere {

namespace {
constexpr uint32_t kBootReadBytes = 4096;
constexpr uint32_t kMaxClusterBytes = 104857600;  // 100 MiB
constexpr uint32_t kRunBytes = 1u << 20;          // file data is read in runs of this size
constexpr size_t kPieceBytes = 65536;
constexpr size_t kNoJoin = std::numeric_limits<size_t>::max();
// Folder records kept in memory before they spill, and in all.
constexpr size_t kFoldersInMemory = 8192;
constexpr uint64_t kMaxFolders = 1u << 22;
// Deeper than this a chain of ".." entries is taken to loop.
constexpr size_t kMaxDepth = 4096;
constexpr uint32_t kNoParent = std::numeric_limits<uint32_t>::max();
// Clusters that may lie between a folder's last file's data and the first
// file's data of the folder's next cluster: none (mtools), or the new
// directory cluster itself (Windows, Linux). A few more are allowed; a wider
// gap would join live folders' clusters by chance on a fragmented volume.
constexpr uint32_t kMaxContinuationGap = 4;

std::string ProFatLogName(uint64_t start, const struct tm& t) { return FormatLogName("Pro_Fat_", start, t); }

bool IsDotEntry(ByteView e) { return e.U8(0) == '.' && e.U8(1) == ' '; }
bool IsDotDotEntry(ByteView e) { return e.U8(0) == '.' && e.U8(1) == '.'; }
}  // namespace

CProfessionalFatRecovery::CProfessionalFatRecovery() { ClearScanState(); }

CProfessionalFatRecovery::~CProfessionalFatRecovery() {
  // The spill files are scratch: never left behind.
  folderRecords_.Clear();
  pendingRecords_.Clear();
  unclaimedSectors_.Clear();
  store_.reset();
}

// --- Source ---------------------------------------------------------------

Status CProfessionalFatRecovery::OpenOn(uint64_t start, uint64_t count, uint16_t tag) {
  if (start >= source_.SectorCount()) return kInvalidArg;
  start_ = start;
  count_ = std::min(count, source_.SectorCount() - start);
  sectorSize_ = source_.UnitSize();
  sourceTag_ = tag;
  bootGuess_ = false;
  run1_ = Run{};
  run2_ = Run{};
  opened_ = true;
  return kOk;
}

Status CProfessionalFatRecovery::OpenImage(const std::string& path, uint16_t tag) {
  if (opened_) return kOk;
  SourceArea a;
  if (Status s = OpenImageArea(source_, path, a)) return s;
  return OpenOn(a.start, a.count, tag);
}

Status CProfessionalFatRecovery::OpenPartition(uint32_t disk, uint64_t start, uint64_t count, uint16_t tag) {
  if (opened_) return kOk;
  SourceArea a;
  if (Status s = OpenDiskArea(source_, disk, start, count, a)) return s;
  return OpenOn(a.start, a.count, tag);
}

Status CProfessionalFatRecovery::ReadAbsolute(uint64_t sector, uint32_t bytes, uint8_t* out, uint32_t& got) const {
  got = 0;
  // Whole sectors only, never more than the caller's buffer holds.
  const uint64_t want = bytes / sectorSize_;
  if (want == 0) return kInvalidArg;
  if (!opened_ || sector >= source_.SectorCount()) return kReadFault;
  const uint64_t sectors = std::min<uint64_t>(want, source_.SectorCount() - sector);
  uint32_t read = 0;
  Status s = source_.ReadSectors(uint32_t(sectors), out, sector, sectorSize_, read);
  got = read * sectorSize_;
  return got ? kOk : (s ? s : kReadFault);
}

Status CProfessionalFatRecovery::Scan(const std::string*) { return kOk; }
Status CProfessionalFatRecovery::NextFreeExtent(uint64_t&, uint64_t&) { return kOk; }
Status CProfessionalFatRecovery::LoadAllocationBitmap() { return kOk; }

Status CProfessionalFatRecovery::GetFolderPath(const FoundItemRecord* record, std::string& out) {
  out.clear();
  if (!store_) return kInvalidArg;
  return CStoreEngineBase::GetFolderPath(record, out);
}

// --- Scan lifecycle ---------------------------------------------------------

void CProfessionalFatRecovery::ClearScanState() {
  rootCluster_ = 2;
  guesses_.clear();
  bootGuess_ = false;
  observations_.clear();
  folders_.clear();
  referenced_.clear();
  pending_.clear();
  tails_.clear();
  unclaimed_.clear();
  for (auto& b : unclaimedByKey_) b.clear();
  unclaimedSorted_ = true;
  run1_ = Run{};
  run2_ = Run{};
  parentOf_.clear();
  depthOf_.clear();
  continuations_.Clear();
  stats_ = Stats{};
  const std::string base = spillBase_;
  folderRecords_.Reset(kRecordSize, kFoldersInMemory, kMaxFolders, base.empty() ? "" : base + "_folders");
  pendingRecords_.Reset(kRecordSize, limits_.pendingInMemory, limits_.pendingMax,
                        base.empty() ? "" : base + "_pending");
  unclaimedSectors_.Reset(sectorSize_, limits_.unclaimedInMemory, limits_.unclaimedMax,
                          base.empty() ? "" : base + "_unclaimed");
}

Status CProfessionalFatRecovery::BeginFatLog(const std::string& logName) {
  // Scratch files of an earlier scan by this engine go first.
  folderRecords_.Clear();
  pendingRecords_.Clear();
  unclaimedSectors_.Clear();
  store_.reset();
  std::string name = logName;
  const std::string folder = ScanLogFolder::Instance().CurrentScanFolder();
  if (name.empty()) {
    std::time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    name = ProFatLogName(start_, local);
    // A log of the same name is from an earlier scan in the same minute:
    // replaced, never appended to.
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) ::unlink((folder + "/" + name + suffix).c_str());
  }
  logName_ = name;
  // Hidden names: never taken for a log when a scan is resumed.
  spillBase_ = folder + "/." + name;
  ClearScanState();
  Status s = OpenStore(name);
  firstRecord_ = store_ ? store_->Count() + 1 : 1;
  return s;
}

Status CProfessionalFatRecovery::SeedFromBootSector() {
  if (!opened_) return kNotReady;
  std::vector<uint8_t> boot(std::max<uint32_t>(kBootReadBytes, sectorSize_), 0);
  uint32_t got = 0;
  if (Status s = ReadAbsolute(start_, kBootReadBytes, boot.data(), got)) return s;
  uint32_t root = 0;
  auto g = GuessFromBootSector(ByteView(boot.data(), got), start_, count_, sectorSize_, root);
  if (!g) return kOk;
  if (guesses_.empty()) bootGuess_ = true;
  rootCluster_ = root;
  AddGuess(*g);
  return kOk;
}

void CProfessionalFatRecovery::OnDotPairSector(ByteView sector, uint64_t s) {
  try {
    if (!IsDotPair(sector)) return;
    FatDirEntry dot(sector), dotdot(sector.Sub(kFatDirEntrySize, kFatDirEntrySize));
    const uint32_t c = dot.FirstCluster(true);
    if (c < 2 || IsRoot(c)) return;
    // The sector names its own parent: no read needed later.
    uint32_t up = dotdot.FirstCluster(true);
    parentOf_.emplace(c, (up == 0 || up == c) ? rootCluster_ : up);
    int g = FindGuessAt(c, s);
    if (g == kNoGuess) g = LearnFromObservations(c, s);
    Run run;
    Run* runPtr = nullptr;
    if (g != kNoGuess) {
      run = Run{true, g, c, c, s, s, false};
      runPtr = &run;
    } else {
      // A directory no volume places breaks the run of placed ones.
      run1_ = Run{};
    }
    BufferPlace place{c, g, s, s, kNoJoin, 0};
    ParseAndKeepTail(sector, place, runPtr);
    if (runPtr) run1_ = run;
  } catch (...) {
    // A sector that cannot be parsed is passed over.
  }
}

void CProfessionalFatRecovery::OnDirectorySector(ByteView sector, uint64_t s) {
  try {
    if (sector.size() < kFatDirEntrySize) return;
    if (JoinWithTail(sector, s, &run1_)) return;
    if (ContinueRun(run1_, sector, s)) return;
    int g = kNoGuess;
    uint32_t cluster = 0;
    if (PlaceByGuesses(s, g, cluster)) {
      uint64_t first = 0;
      guesses_[g].ClusterOf(s, cluster, first);
      if (!IsRoot(cluster)) continuations_.MarkHeadless(cluster, g);
      run1_ = Run{true, g, Normalize(cluster), cluster, first, s, false};
      ParseAndKeepTail(sector, BufferPlace{Normalize(cluster), g, first, s, kNoJoin, 0}, &run1_);
      return;
    }
    KeepUnclaimed(sector, s);
  } catch (...) {
  }
}

Status CProfessionalFatRecovery::FinishFatScan() {
  try {
    // 1. Directory sectors that waited for a volume, in sector order.
    if (!unclaimedSorted_) SortUnclaimed();
    std::vector<uint8_t> data(sectorSize_);
    for (size_t i = 0; i < unclaimed_.size(); ++i) {
      if (unclaimed_[i].used) continue;
      unclaimed_[i].used = true;
      if (!unclaimedSectors_.Get(unclaimed_[i].slot, data.data())) continue;
      PlaceUnclaimed(ByteView(data.data(), data.size()), unclaimed_[i].sector);
    }
    unclaimed_.clear();
    unclaimed_.shrink_to_fit();
    for (auto& b : unclaimedByKey_) std::vector<uint32_t>().swap(b);
    unclaimedSectors_.Clear();
    tails_.clear();

    // 2. Files that never met their volume: the nearest one below them.
    // They go before the folders, so that their folders are written too.
    for (Pending& p : pending_) {
      if (p.placed) continue;
      int g = FindNearestGuessBelow(p.dirSector);
      if (g == kNoGuess || !PlacePending(p, g)) ++stats_.droppedPending;
    }
    pending_.clear();
    pending_.shrink_to_fit();
    pendingRecords_.Clear();

    // 3. Folders' later clusters join their folders.
    JoinContinuations();

    // 4. The folders that lead to found files.
    Status s = WriteFolders();
    // Written once: a second finish adds nothing.
    referenced_.clear();
    folders_.clear();
    folderRecords_.Clear();
    if (store_) {
      Status f = store_->Flush();
      if (!s) s = f;
    }
    return s;
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  } catch (...) {
    return kInvalidData;
  }
}

// --- Volume guesses ---------------------------------------------------------

int CProfessionalFatRecovery::FindGuessAt(uint32_t cluster, uint64_t sector) const {
  for (size_t i = 0; i < guesses_.size(); ++i)
    if (cluster >= 2 && guesses_[i].ClusterSector(cluster) == sector) return int(i);
  return kNoGuess;
}

int CProfessionalFatRecovery::FindGuessContaining(uint32_t cluster, uint64_t sector) const {
  for (size_t i = 0; i < guesses_.size(); ++i) {
    uint64_t first = guesses_[i].ClusterSector(cluster);
    if (sector >= first && sector - first < guesses_[i].sectorsPerCluster) return int(i);
  }
  return kNoGuess;
}

int CProfessionalFatRecovery::FindNearestGuessBelow(uint64_t sector) const {
  if (guesses_.empty()) return kNoGuess;
  int best = kNoGuess;
  for (size_t i = (bootGuess_ ? 1 : 0); i < guesses_.size() && guesses_.size() > 1; ++i) {
    uint64_t d = guesses_[i].DataSector();
    if (d <= sector && (best == kNoGuess || d > guesses_[best].DataSector())) best = int(i);
  }
  return best == kNoGuess ? 0 : best;
}

void CProfessionalFatRecovery::AddGuess(const FatVolumeGuess& g) {
  if (guesses_.size() >= limits_.maxGuesses) return;
  guesses_.push_back(g);
  // Only the new volume can place files no earlier volume placed.
  PlacePendingWith(int(guesses_.size() - 1));
}

int CProfessionalFatRecovery::LearnFromObservations(uint32_t c, uint64_t s) {
  int found = kNoGuess;
  if (guesses_.size() < limits_.maxGuesses) {
    for (const auto& [oc, os] : observations_) {
      if (auto g = GuessFromDirectoryPair(c, s, oc, os, start_)) {
        AddGuess(*g);
        found = FindGuessAt(c, s);
        break;
      }
    }
  }
  observations_.emplace_back(c, s);
  while (observations_.size() > limits_.maxObservations) observations_.pop_front();
  return found;
}

bool CProfessionalFatRecovery::PlaceByGuesses(uint64_t s, int& guess, uint32_t& cluster) const {
  for (size_t i = 0; i < guesses_.size(); ++i) {
    uint64_t first = 0;
    uint32_t c = 0;
    if (!guesses_[i].ClusterOf(s, c, first)) continue;
    // A cluster's first sector, or anywhere in the fixed root area.
    if (first == s || c == 0) {
      guess = int(i);
      cluster = c;
      return true;
    }
  }
  return false;
}

uint64_t CProfessionalFatRecovery::RunSpan(const Run& r) const {
  if (r.guess == kNoGuess || size_t(r.guess) >= guesses_.size()) return 0;
  return r.cluster == 0 ? guesses_[r.guess].rootSectors : guesses_[r.guess].sectorsPerCluster;
}

bool CProfessionalFatRecovery::ContinueRun(Run& r, ByteView sector, uint64_t s) {
  if (!r.set) return false;
  const uint64_t span = RunSpan(r);
  if (span == 0) return false;
  if (s > r.first && s - r.first < span) {
    // A later sector of the same cluster.
  } else if (r.cluster >= 2 && !r.ended && r.lastSeen == r.first + span - 1 && s == r.first + span) {
    // The cluster was full of entries to its last sector and the next one
    // holds entries too: without a FAT, the directory is taken to go on
    // there (it usually does: directories grow into free clusters).
    r.cluster += 1;
    r.first = s;
  } else {
    return false;
  }
  r.lastSeen = s;
  ParseAndKeepTail(sector, BufferPlace{r.dirCluster, r.guess, r.first, s, kNoJoin, 0}, &r);
  return true;
}

// --- Parsing ------------------------------------------------------------------

CProfessionalFatRecovery::ParseOutcome CProfessionalFatRecovery::ParseBuffer(ByteView buf, const BufferPlace& p) {
  ParseOutcome out;
  uint32_t curDir = Normalize(p.cluster);
  const size_t n = buf.size() / kFatDirEntrySize * kFatDirEntrySize;
  auto sectorOf = [&](size_t off) {
    return off < p.joinAt ? p.firstSector + off / sectorSize_ : p.joinSector + (off - p.joinAt) / sectorSize_;
  };
  LongNameAssembler lfn;
  size_t lfnStart = 0;
  uint8_t lfnSum = 0;
  // Whether the long name began with its last part (stored first, flag
  // 0x40); a deleted one has lost that flag and is taken as it is.
  bool lfnWhole = false;
  uint8_t lfnSeq = 0;
  for (size_t off = 0; off < n; off += kFatDirEntrySize) {
    ByteView rest = buf.Sub(off, n - off);
    ByteView raw = rest.Sub(0, kFatDirEntrySize);
    FatDirEntry e(raw);
    if (e.First() == 0) {
      out.ended = true;
      if (p.guess != kNoGuess) continuations_.OnEnd(curDir, p.guess);
      return out;
    }
    bool plainFile = false;
    if (!IsPlausibleDirEntry(rest)) {
      plainFile = IsPlausibleFileWithoutArchive(raw);
      if (!plainFile) {
        lfn.Reset();
        continue;
      }
    }
    const uint8_t a = e.Attributes();
    if (a == kFatAttrLongName) {
      if (lfn.Empty()) {
        lfnStart = off;
        lfnSum = e.LfnChecksumByte();
        lfnWhole = e.IsDeleted() || (e.First() & 0x40);
      }
      // More than 19 parts: nothing sane follows in this buffer.
      if (!lfn.Add(raw)) return out;
      lfnSeq = e.IsDeleted() ? 0 : uint8_t(e.First() & 0x3F);
      continue;
    }
    std::string longName = lfn.Take();
    // Another entry's long name (the checksum disagrees) is not this one's;
    // a deleted entry's first byte is gone, so it cannot be compared.
    if (!longName.empty() && !e.IsDeleted() && LfnChecksum(raw.Sub(0, 11)) != lfnSum) longName.clear();
    // Parts without their beginning (the sector before them was lost) would
    // name the file after a fragment: its short name is better.
    if (!lfnWhole) longName.clear();
    if (a & kFatAttrDirectory) {
      if (IsDotEntry(raw)) {
        if (IsDotPair(rest)) curDir = Normalize(e.FirstCluster(true));
        continue;
      }
      if (IsDotDotEntry(raw)) continue;
      if (p.guess != kNoGuess) continuations_.OnEntry(curDir, p.guess, e.FirstCluster(true), 1);
      AddFolder(raw, longName.empty() ? FormatShortName(raw, true) : longName, curDir, p.guess, sectorOf(off));
    } else if ((a & kFatAttrArchive) || plainFile) {
      if (p.guess != kNoGuess) {
        const uint64_t cb = uint64_t(guesses_[size_t(p.guess)].sectorsPerCluster) * sectorSize_;
        continuations_.OnEntry(curDir, p.guess, e.FirstCluster(true), uint32_t((e.Size() + cb - 1) / cb));
      }
      AddFile(raw, longName.empty() ? FormatShortName(raw, false) : longName, curDir, p.guess, p.dirSector,
              sectorOf(off));
    }
  }
  if (!lfn.Empty() && lfnStart < n) {
    out.hasTail = true;
    out.tail.checksum = lfnSum;
    out.tail.guess = p.guess;
    out.tail.cluster = curDir;
    out.tail.dirSector = p.dirSector;
    out.tail.sector = sectorOf(n - 1);
    out.tail.lastSeq = lfnSeq;
    out.tail.bytes.assign(buf.data() + lfnStart, buf.data() + n);
  }
  return out;
}

void CProfessionalFatRecovery::ParseAndKeepTail(ByteView buf, const BufferPlace& place, Run* run) {
  ParseOutcome o = ParseBuffer(buf, place);
  if (run) run->ended = o.ended;
  // A long name cut by the buffer's end: its rest may already be waiting
  // among the kept sectors; otherwise it waits for a sector to come.
  std::vector<uint8_t> joined;
  for (size_t rounds = 0; o.hasTail; ++rounds) {
    Tail t = std::move(o.tail);
    o = ParseOutcome{};
    int idx = rounds < 64 ? FindUnclaimedContinuation(t) : -1;
    if (idx < 0) {
      KeepTail(std::move(t));
      break;
    }
    Unclaimed& u = unclaimed_[size_t(idx)];
    u.used = true;
    joined = t.bytes;
    size_t joinAt = joined.size();
    joined.resize(joinAt + sectorSize_);
    if (!unclaimedSectors_.Get(u.slot, joined.data() + joinAt)) {
      KeepTail(std::move(t));
      break;
    }
    o = ParseBuffer(ByteView(joined.data(), joined.size()),
                    BufferPlace{t.cluster, t.guess, t.dirSector, t.sector, joinAt, u.sector});
  }
}

void CProfessionalFatRecovery::FillFromGuess(FoundItemRecord& r, int guess) const {
  const FatVolumeGuess& g = guesses_[size_t(guess)];
  r.clusterBytes = uint32_t(std::min<uint64_t>(uint64_t(sectorSize_) * g.sectorsPerCluster, UINT32_MAX));
  r.dataAreaStart = g.dataStart;
  r.partitionStart = g.partitionStart;
}

FoundItemRecord CProfessionalFatRecovery::BaseRecord(ByteView entry, const std::string& name, uint32_t cluster,
                                                     uint64_t sector) const {
  FoundItemRecord r = MakeEmptyRecord();
  r.sourceTag = sourceTag_;
  r.sourceKind = kSourceDeepFat;
  r.itemId = cluster;
  FatTimestamps t = DecodeFatTimestamps(entry);
  r.created = t.created;
  r.accessed = t.accessed;
  r.modified = t.modified;
  r.location = sector;
  SetRecordName(r, name);
  return r;
}

void CProfessionalFatRecovery::AddFolder(ByteView entry, const std::string& name, uint32_t parent, int guess,
                                         uint64_t sector) {
  const uint32_t c = FatDirEntry(entry).FirstCluster(true);
  if (c < 2 || c == parent || IsRoot(c)) return;
  FoundItemRecord r = BaseRecord(entry, name, c, sector);
  r.isFolder = 1;
  r.contentOk = 1;
  auto it = folders_.find(c);
  if (it != folders_.end()) {
    // A later entry for the same cluster replaces the earlier one.
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

void CProfessionalFatRecovery::AddFile(ByteView entry, const std::string& name, uint32_t dirCluster, int guess,
                                       uint64_t dirSector, uint64_t sector) {
  FatDirEntry e(entry);
  const uint32_t cluster = e.FirstCluster(true);
  // Data must start in a cluster of the data area.
  if (e.Size() > 0 && cluster < 2) return;
  FoundItemRecord r = BaseRecord(entry, name, cluster, sector);
  r.size = e.Size();
  if (guess != kNoGuess) {
    WriteFile(r, dirCluster, guess, dirSector);
    return;
  }
  uint32_t slot = 0;
  if (!pendingRecords_.Add(reinterpret_cast<const uint8_t*>(&r), slot)) {
    ++stats_.droppedPending;
    return;
  }
  pending_.push_back(Pending{dirSector, dirCluster, slot, false});
  ++stats_.pending;
}

bool CProfessionalFatRecovery::WriteFile(FoundItemRecord r, uint32_t dirCluster, int guess, uint64_t dirSector) {
  if (!store_ || guess == kNoGuess) return false;
  FillFromGuess(r, guess);
  // A first cluster beyond the medium cannot hold this file's data.
  if (r.size > 0 && opened_ && guesses_[size_t(guess)].ClusterSector(r.itemId) >= source_.SectorCount()) return false;
  r.contentOk = uint32_t(ContentPlausible(r, guess));
  store_->Append(r, dirCluster, Depth(dirCluster, guess));
  ++stats_.files;
  Reference(dirCluster, guess, dirSector);
  return true;
}

int CProfessionalFatRecovery::ContentPlausible(const FoundItemRecord& r, int guess) {
  std::string ext = ExtensionOf(RecordName(r));
  if (!contentCheck_ || ext.empty() || r.size == 0) return 1;
  std::vector<uint8_t> sector(sectorSize_);
  uint32_t got = 0;
  const uint64_t first = guesses_[size_t(guess)].ClusterSector(r.itemId);
  if (ReadAbsolute(first, sectorSize_, sector.data(), got) || got == 0) return 1;
  ContentSample sample;
  sample.extension = ext;
  sample.firstBytes = ByteView(sector.data(), got);
  sample.source = &source_;
  sample.sectorSize = sectorSize_;
  sample.absoluteSector = first;
  return contentCheck_(sample) ? 1 : 0;
}

// --- Long names cut by a buffer's end ----------------------------------------------------

CProfessionalFatRecovery::SectorKey CProfessionalFatRecovery::KeyOf(ByteView sector) {
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

int CProfessionalFatRecovery::DataGoesOn(const Tail& t, const SectorKey& k) const {
  uint32_t end = 0;
  if (k.firstData == 0 || !continuations_.DataEnd(t.cluster, t.guess, end)) return -1;
  return k.firstData >= end && k.firstData - end <= kMaxContinuationGap ? 1 : 0;
}

bool CProfessionalFatRecovery::TailMatches(const Tail& t, SectorKey k, uint64_t s) const {
  const uint64_t spc = t.guess != kNoGuess ? guesses_[size_t(t.guess)].sectorsPerCluster : 0;
  // With a volume known, the rest lies after the tail in the same directory.
  if (spc ? s <= t.sector : s == t.sector) return false;
  const bool near = spc && s - t.sector <= 2 * spc;  // this cluster or the next
  switch (k.kind) {
    case FirstKind::kLongName:
      // The next part by number and checksum: a directory's later cluster
      // may lie anywhere (JoinWithTail chooses when several tails fit).
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
      return t.lastSeq == 1 && StartsDataCluster(t.guess, s) && DataGoesOn(t, k) == 1;
  }
  return false;
}

std::deque<CProfessionalFatRecovery::Tail>::iterator CProfessionalFatRecovery::ChooseTail(ByteView sector,
                                                                                        const SectorKey& k,
                                                                                        uint64_t s) {
  auto nearest = tails_.end();
  std::vector<std::deque<Tail>::iterator> far;
  for (auto it = tails_.begin(); it != tails_.end(); ++it) {
    if (!TailMatches(*it, k, s)) continue;
    const uint64_t spc = it->guess != kNoGuess ? guesses_[size_t(it->guess)].sectorsPerCluster : 0;
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
    auto up = parentOf_.find(e.FirstCluster(true));
    if (up == parentOf_.end() || up->second == kNoParent) continue;
    for (auto it : far)
      if (Normalize(it->cluster) == up->second) return it;
    return tails_.end();
  }
  // Else data that clearly does not go on from a folder's rules it out; of
  // several left, the one whose data goes on here, or none.
  std::vector<std::deque<Tail>::iterator> left;
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

bool CProfessionalFatRecovery::JoinWithTail(ByteView sector, uint64_t s, Run* run) {
  if (tails_.empty()) return false;
  const SectorKey k = KeyOf(sector);
  if (auto it = ChooseTail(sector, k, s); it != tails_.end()) {
    Tail t = std::move(*it);
    tails_.erase(it);
    std::vector<uint8_t> joined = std::move(t.bytes);
    const size_t joinAt = joined.size();
    const size_t take = std::min<size_t>(sector.size(), sectorSize_);
    joined.insert(joined.end(), sector.data(), sector.data() + take);
    Run r;
    Run* rp = nullptr;
    if (t.guess != kNoGuess) {
      uint32_t c = 0;
      uint64_t first = 0;
      if (guesses_[size_t(t.guess)].ClusterOf(s, c, first)) {
        r = Run{true, t.guess, t.cluster, c, first, s, false};
        rp = &r;
      }
    }
    ParseAndKeepTail(ByteView(joined.data(), joined.size()),
                     BufferPlace{t.cluster, t.guess, t.dirSector, t.sector, joinAt, s}, rp);
    if (rp && run) *run = r;
    return true;
  }
  return false;
}

void CProfessionalFatRecovery::KeepTail(Tail&& t) {
  tails_.push_back(std::move(t));
  while (tails_.size() > limits_.maxTails) tails_.pop_front();
}

int CProfessionalFatRecovery::FindUnclaimedContinuation(const Tail& t) {
  if (!unclaimedSorted_) SortUnclaimed();
  for (uint32_t idx : unclaimedByKey_[t.checksum]) {
    const Unclaimed& u = unclaimed_[idx];
    const SectorKey k{u.kind, u.key, u.seq, u.firstData};
    if (u.used || !TailMatches(t, k, u.sector)) continue;
    // Far away, data that clearly does not go on from the tail's folder rules the sector out.
    const uint64_t spc = t.guess != kNoGuess ? guesses_[size_t(t.guess)].sectorsPerCluster : 0;
    if ((spc && u.sector - t.sector <= 2 * spc) || DataGoesOn(t, k) != 0) return int(idx);
  }
  return -1;
}

// --- Sectors no volume places yet ----------------------------------------------------

void CProfessionalFatRecovery::KeepUnclaimed(ByteView sector, uint64_t s) {
  std::vector<uint8_t>& copy = readBuf_;
  copy.assign(sectorSize_, 0);
  std::memcpy(copy.data(), sector.data(), std::min<size_t>(sector.size(), sectorSize_));
  uint32_t slot = 0;
  if (!unclaimedSectors_.Add(copy.data(), slot)) {
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

void CProfessionalFatRecovery::SortUnclaimed() {
  std::stable_sort(unclaimed_.begin(), unclaimed_.end(),
                   [](const Unclaimed& a, const Unclaimed& b) { return a.sector < b.sector; });
  for (auto& b : unclaimedByKey_) b.clear();
  for (size_t i = 0; i < unclaimed_.size(); ++i) {
    const Unclaimed& u = unclaimed_[i];
    if (u.kind == FirstKind::kLongName || u.kind == FirstKind::kShort) unclaimedByKey_[u.key].push_back(uint32_t(i));
  }
  unclaimedSorted_ = true;
}

void CProfessionalFatRecovery::PlaceUnclaimed(ByteView sector, uint64_t s) {
  if (JoinWithTail(sector, s, &run2_)) return;
  int g = kNoGuess;
  uint32_t cluster = 0;
  if (PlaceByGuesses(s, g, cluster)) {
    uint64_t first = 0;
    guesses_[size_t(g)].ClusterOf(s, cluster, first);
    if (!IsRoot(cluster)) continuations_.MarkHeadless(cluster, g);
    run2_ = Run{true, g, Normalize(cluster), cluster, first, s, false};
    ParseAndKeepTail(sector, BufferPlace{Normalize(cluster), g, first, s, kNoJoin, 0}, &run2_);
    return;
  }
  if (ContinueRun(run2_, sector, s)) return;
  g = FindNearestGuessBelow(s);
  uint64_t first = 0;
  if (g == kNoGuess || !guesses_[size_t(g)].ClusterOf(s, cluster, first)) {
    ++stats_.unplacedSectors;
    return;
  }
  run2_ = Run{true, g, Normalize(cluster), cluster, first, s, false};
  ParseAndKeepTail(sector, BufferPlace{Normalize(cluster), g, first, s, kNoJoin, 0}, &run2_);
}

// --- Files found before their volume ----------------------------------------------------

void CProfessionalFatRecovery::PlacePendingWith(int guess) {
  const FatVolumeGuess& g = guesses_[size_t(guess)];
  for (Pending& p : pending_)
    if (!p.placed && g.ClusterSector(p.dirCluster) == p.dirSector) PlacePending(p, guess);
}

bool CProfessionalFatRecovery::PlacePending(Pending& p, int guess) {
  FoundItemRecord r;
  if (!pendingRecords_.Get(p.slot, reinterpret_cast<uint8_t*>(&r))) return false;
  p.placed = true;
  return WriteFile(r, p.dirCluster, guess, p.dirSector);
}

// --- Folders ------------------------------------------------------------------

uint32_t CProfessionalFatRecovery::DotParent(uint32_t c, int guess) {
  auto it = parentOf_.find(c);
  if (it != parentOf_.end()) return it->second;
  // The folder's first sector names its parent in "..": the disk's own word
  // on where the folder lives, read once.
  if (guess == kNoGuess) return kNoParent;
  uint32_t parent = kNoParent;
  std::vector<uint8_t> sector(std::max<uint32_t>(sectorSize_, 64), 0);
  uint32_t got = 0;
  if (ReadAbsolute(guesses_[size_t(guess)].ClusterSector(c), sectorSize_, sector.data(), got) == kOk) {
    ByteView v(sector.data(), got);
    if (IsDotPair(v) && FatDirEntry(v).FirstCluster(true) == c) {
      uint32_t up = FatDirEntry(v.Sub(kFatDirEntrySize, kFatDirEntrySize)).FirstCluster(true);
      parent = (up == 0 || up == c) ? rootCluster_ : up;
    }
  }
  parentOf_.emplace(c, parent);
  return parent;
}

uint32_t CProfessionalFatRecovery::ParentOf(uint32_t c, int guess) {
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

bool CProfessionalFatRecovery::StartsDataCluster(int guess, uint64_t sector) const {
  uint32_t c = 0;
  return guess != kNoGuess && size_t(guess) < guesses_.size() && guesses_[size_t(guess)].StartsCluster(sector, c) &&
         c >= 2;
}

void CProfessionalFatRecovery::JoinContinuations() {
  // Subfolders listed in a cluster that opens with no "."/".." pair name, in
  // their own "..", the folder that cluster belongs to.
  for (const auto& [c, f] : folders_) {
    if (!continuations_.IsHeadless(f.entryDir)) continue;
    const uint32_t up = DotParent(c, f.guess);
    if (up != kNoParent) continuations_.VoteParent(f.entryDir, up);
  }
  continuations_.Decide([&](uint32_t x) { return folders_.count(x) > 0; }, kMaxContinuationGap);
  stats_.joinedClusters = continuations_.Joined();

  // Everything found since this scan began goes under its final folder, at
  // that folder's final depth.
  depthOf_.clear();
  if (store_) {
    store_->RemapRelations(firstRecord_, [&](RelationKey k) {
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
    if (!IsRoot(h)) moved.emplace_back(h, Referenced{g, g != kNoGuess ? guesses_[size_t(g)].ClusterSector(h) : 0});
    it = referenced_.erase(it);
  }
  for (const auto& [c, ref] : moved) referenced_.emplace(c, ref);
}

uint32_t CProfessionalFatRecovery::Depth(uint32_t c, int guess) {
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

void CProfessionalFatRecovery::Reference(uint32_t c, int guess, uint64_t sector) {
  if (IsRoot(c)) return;
  referenced_.emplace(c, Referenced{guess, sector});
}

Status CProfessionalFatRecovery::WriteFolders() {
  if (!store_) return kOk;
  // Every ancestor of a referenced folder is referenced too.
  std::vector<uint32_t> work;
  for (const auto& [c, ref] : referenced_) work.push_back(c);
  while (!work.empty()) {
    uint32_t c = work.back();
    work.pop_back();
    const Referenced ref = referenced_[c];
    uint32_t p = ParentOf(c, ref.guess);
    if (IsRoot(p) || referenced_.count(p)) continue;
    uint64_t sector = ref.guess != kNoGuess ? guesses_[size_t(ref.guess)].ClusterSector(p) : 0;
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
      if (g != kNoGuess) FillFromGuess(r, g);
      r.contentOk = 1;
      store_->Append(r, parent, level);
      ++stats_.folders;
      continue;
    }
    int g = ref.guess != kNoGuess ? ref.guess : FindGuessContaining(c, ref.sector);
    if (g == kNoGuess) continue;
    r = MakeEmptyRecord();
    r.sourceTag = sourceTag_;
    r.sourceKind = kSourceDeepFat;
    r.isFolder = 1;
    r.contentOk = 1;
    r.itemId = c;
    r.clusterBytes = kNoClusterSize;
    SetRecordName(r, "LostFolder" + std::to_string(c));
    store_->Append(r, parent, level);
    ++stats_.lostFolders;
  }
  return store_->WriteError();
}

// --- Reading a file back ----------------------------------------------------------

Status CProfessionalFatRecovery::ReadContent(const FoundItemRecord& record, const ContentSink& sink) {
  if (record.isFolder) return kInvalidArg;
  if (!opened_) return kNotReady;
  const uint64_t cb = record.clusterBytes;
  if (cb > kMaxClusterBytes) return kBadClusterSize;
  uint64_t remaining = record.size;
  if (remaining == 0) {
    static const uint8_t kNothing = 0;
    return sink(&kNothing, 0);
  }
  if (cb == 0 || cb % sectorSize_ || record.itemId < 2) return kInvalidData;
  // Without a FAT the clusters after the first are taken to follow it.
  const uint64_t spc = cb / sectorSize_;
  uint64_t sector = record.partitionStart + record.dataAreaStart + uint64_t(record.itemId - 2) * spc;
  const uint64_t need = (remaining + sectorSize_ - 1) / sectorSize_;
  if (sector >= source_.SectorCount() || need > source_.SectorCount() - sector) return kReadFault;
  const uint32_t runSectors = std::max<uint32_t>(1, kRunBytes / sectorSize_);
  std::vector<uint8_t>& buf = readBuf_;
  buf.resize(size_t(std::min<uint64_t>(need, runSectors)) * sectorSize_);
  while (remaining > 0) {
    uint64_t n = std::min<uint64_t>((remaining + sectorSize_ - 1) / sectorSize_, runSectors);
    uint32_t got = 0;
    if (Status s = ReadAbsolute(sector, uint32_t(n * sectorSize_), buf.data(), got)) return s;
    uint64_t useful = std::min<uint64_t>(got, remaining);
    for (uint64_t done = 0; done < useful;) {
      size_t piece = size_t(std::min<uint64_t>(kPieceBytes, useful - done));
      if (int a = sink(buf.data() + done, piece)) return a;
      done += piece;
    }
    remaining -= useful;
    if (remaining && got < n * sectorSize_) return kReadFault;
    sector += n;
  }
  return kOk;
}

size_t CProfessionalFatRecovery::ResidentBytes() const {
  size_t bytes = unclaimedSectors_.ResidentBytes() + pendingRecords_.ResidentBytes() +
                 folderRecords_.ResidentBytes() + unclaimed_.capacity() * sizeof(Unclaimed) +
                 pending_.capacity() * sizeof(Pending);
  for (const auto& b : unclaimedByKey_) bytes += b.capacity() * sizeof(uint32_t);
  for (const Tail& t : tails_) bytes += sizeof(Tail) + t.bytes.capacity();
  return bytes + continuations_.MemoryBytes();
}

}  // namespace dunmere
