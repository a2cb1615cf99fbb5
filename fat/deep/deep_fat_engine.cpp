#include "fat/deep/deep_fat_engine.h"


#include "engine/content_pieces.h"
#include "engine/log_name.h"
#include "engine/stop_poll.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "fat/dir_entry_tests.h"
#include "fat/fat_boot_sector.h"
#include "fat/fat_dir_entry.h"
#include "fat/fat_file_read.h"
#include "fat/fat_timestamps.h"
#include "platform/file.h"
#include "platform/local_time.h"

namespace dunmere {

namespace {
constexpr uint32_t kBootReadBytes = 4096;
constexpr uint32_t kMaxClusterBytes = 104857600;  // 100 MiB
constexpr uint32_t kRunBytes = 1u << 20;          // file data is read in runs of this size
constexpr int kNoGuess = FatVolumeGuesses::kNone;

std::string DeepFatLogName(uint64_t start, const struct tm& t) { return FormatLogName("Pro_Fat_", start, t); }
}  // namespace

DeepFatEngine::DeepFatEngine()
    : tree_(guesses_, stats_,
            [this](uint64_t sector, uint8_t* out, uint32_t bytes) {
              uint32_t got = 0;
              return ReadAbsolute(sector, bytes, out, got) == kOk ? got : 0u;
            }),
      pending_([this](const FoundItemRecord& r, uint32_t dirCluster, int guess, uint64_t dirSector) {
        return WriteFile(r, dirCluster, guess, dirSector);
      }) {
  // Only a new volume can place files no earlier volume placed.
  guesses_.SetOnAdded([this](int g) { pending_.PlaceWith(guesses_[g], g); });
  ClearScanState();
}

DeepFatEngine::~DeepFatEngine() {
  // The spill files are scratch: never left behind.
  tree_.ClearRecords();
  pending_.ClearSpill();
  tails_.ClearSpill();
  store_.reset();
}

// --- Source ---------------------------------------------------------------

Status DeepFatEngine::OpenOn(uint64_t start, uint64_t count, uint16_t tag) {
  if (start >= source_.SectorCount()) return kInvalidArg;
  start_ = start;
  count_ = std::min(count, source_.SectorCount() - start);
  sectorSize_ = source_.UnitSize();
  sourceTag_ = tag;
  guesses_.SetAreaStart(start_);
  tree_.SetSectorSize(sectorSize_);
  tails_.SetSectorSize(sectorSize_);
  feed_.SetSectorSize(sectorSize_);
  feed_.Reset();
  opened_ = true;
  return kOk;
}

Status DeepFatEngine::Open(const Medium& medium, uint16_t tag) {
  if (opened_) return kOk;
  source_ = medium.source.Share();
  return OpenOn(medium.start, medium.count, tag);
}

Status DeepFatEngine::ReadAbsolute(uint64_t sector, uint32_t bytes, uint8_t* out, uint32_t& got) const {
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


Status DeepFatEngine::GetFolderPath(const FoundItemRecord* record, std::string& out) {
  out.clear();
  if (!store_) return kInvalidArg;
  return StoreEngine::GetFolderPath(record, out);
}

// --- Scan lifecycle ---------------------------------------------------------

void DeepFatEngine::ClearScanState() {
  guesses_.Reset();
  feed_.Reset();
  stats_ = Stats{};
  const std::string base = spillBase_;
  tree_.Reset(base.empty() ? "" : base + "_folders");
  pending_.Reset(limits_, base.empty() ? "" : base + "_pending");
  tails_.Reset(base.empty() ? "" : base + "_unclaimed");
}

Status DeepFatEngine::BeginFatLog(const std::string& logName) {
  // Scratch files of an earlier scan by this engine go first.
  tree_.ClearRecords();
  pending_.ClearSpill();
  tails_.ClearSpill();
  store_.reset();
  fats_.clear();
  std::string name = logName;
  const std::string folder = ScanLogFolder::Instance().CurrentScanFolder();
  if (name.empty()) {
    const std::tm local = LocalTimeNow();
    name = DeepFatLogName(start_, local);
    // A log of the same name is from an earlier scan in the same minute:
    // replaced, never appended to.
    for (const char* suffix : {"", "_Relation", "_DirInfo"}) (void)RemoveFile(folder + "/" + name + suffix);
  }
  logName_ = name;
  // Hidden names: never taken for a log when a scan is resumed.
  spillBase_ = folder + "/." + name;
  ClearScanState();
  Status s = OpenStore(name);
  firstRecord_ = store_ ? store_->Count() + 1 : 1;
  return s;
}

Status DeepFatEngine::SeedFromBootSector() {
  if (!opened_) return kNotReady;
  std::vector<uint8_t> boot(std::max<uint32_t>(kBootReadBytes, sectorSize_), 0);
  uint32_t got = 0;
  if (Status s = ReadAbsolute(start_, kBootReadBytes, boot.data(), got)) return s;
  uint32_t root = 0;
  auto g = GuessFromBootSector(ByteView(boot.data(), got), start_, count_, sectorSize_, root);
  if (!g) return kOk;
  tree_.SetRootCluster(root);
  guesses_.AddFromBootSector(*g);
  return kOk;
}

void DeepFatEngine::OnBootSector(ByteView sector, uint64_t s) {
  try {
    if (!opened_ || s >= source_.SectorCount()) return;
    uint32_t root = 0;
    auto g = GuessFromBootSector(sector, s, source_.SectorCount() - s, sectorSize_, root);
    if (!g || guesses_.Has(*g)) return;
    const uint64_t fatAt = FirstFatSectorOf(sector, sectorSize_);
    if (fatAt == 0) return;
    std::vector<uint8_t> fat(sectorSize_);
    uint32_t got = 0;
    if (ReadAbsolute(s + fatAt, sectorSize_, fat.data(), got) || !FatOpensForBoot(sector, ByteView(fat.data(), got)))
      return;
    // The first volume met gives the root every volume's top folders hang under.
    if (guesses_.List().empty()) tree_.SetRootCluster(root);
    guesses_.Add(*g);
  } catch (...) {
    // A boot sector that cannot be read is passed over.
  }
}

void DeepFatEngine::OnDotPairSector(ByteView sector, uint64_t s) {
  try {
    feed_.OnDotPairSector(sector, s);
  } catch (...) {
    // A sector that cannot be parsed is passed over.
  }
}

void DeepFatEngine::OnDirectorySector(ByteView sector, uint64_t s) {
  try {
    feed_.OnDirectorySector(sector, s);
  } catch (...) {
  }
}

Status DeepFatEngine::FinishFatScan() {
  // The steps below read sectors: kept directory sectors, files' first
  // sectors for the content check, folders' "." pairs. Once a stop is asked
  // for, the kept sectors not placed yet are dropped, files are written
  // unchecked and folders hang where their entries were found, so what was
  // found stays listed and the scan ends within moments.
  StopPoll poll(progress_, user_, 0, share_);
  (void)poll.Stopped();  // asked once up front, then as the reading goes on
  finishStop_ = [&poll] { return poll.Stopped(); };
  tree_.SetStop(finishStop_);
  struct Clear {
    DeepFatEngine& e;
    ~Clear() {
      e.finishStop_ = nullptr;
      e.tree_.SetStop(nullptr);
    }
  } clear{*this};
  Status s = FinishUnguarded();
  return poll.Answer() ? Status(poll.Answer()) : s;
}

Status DeepFatEngine::FinishUnguarded() {
  try {
    // 1. Directory sectors that waited for a volume, in sector order.
    feed_.PlaceKept(finishStop_);

    // 2. Files that never met their volume: the nearest one below them.
    // They go before the folders, so that their folders are written too.
    stats_.droppedPending += pending_.PlaceRest([&](uint64_t s) { return guesses_.FindNearestBelow(s); });

    // 3 and 4. Folders' later clusters join their folders, and the folders
    // that lead to found files are written.
    Status s = tree_.Finish(store_.get(), firstRecord_, sourceTag_);
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

// --- Records ------------------------------------------------------------------

FoundItemRecord DeepFatEngine::BaseRecord(ByteView entry, const std::string& name, uint32_t cluster,
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

void DeepFatEngine::OnFolder(ByteView entry, const std::string& name, uint32_t parent, int guess,
                                        uint64_t sector) {
  const uint32_t raw = FatDirEntry(entry).FirstCluster(true);
  const uint32_t c = guesses_.Key(guess, raw);
  if (raw < 2 || c == parent || tree_.IsRoot(c)) return;
  FoundItemRecord r = BaseRecord(entry, name, c, sector);
  r.isFolder = 1;
  r.contentOk = 1;
  tree_.AddFolder(c, r, parent, guess, sector);
}

void DeepFatEngine::OnFile(ByteView entry, const std::string& name, uint32_t dirCluster, int guess,
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
  if (!pending_.Add(r, dirCluster, dirSector)) {
    ++stats_.droppedPending;
    return;
  }
  ++stats_.pending;
}

bool DeepFatEngine::WriteFile(FoundItemRecord r, uint32_t dirCluster, int guess, uint64_t dirSector) {
  if (!store_ || guess == kNoGuess) return false;
  // A file that waited for its volume learns the volume's tag only now.
  dirCluster = tree_.Normalize(guesses_.Key(guess, dirCluster));
  guesses_.FillRecord(r, guess, sectorSize_);
  // A first cluster beyond the medium cannot hold this file's data.
  if (r.size > 0 && opened_ && guesses_[guess].ClusterSector(r.itemId) >= source_.SectorCount()) return false;
  r.contentOk = uint32_t(ContentPlausible(r, guess));
  store_->Append(r, dirCluster, tree_.Depth(dirCluster, guess));
  ++stats_.files;
  tree_.Reference(dirCluster, guess, dirSector);
  return true;
}

int DeepFatEngine::ContentPlausible(const FoundItemRecord& r, int guess) {
  std::string ext = ExtensionOf(RecordName(r));
  if (!contentCheck_ || ext.empty() || r.size == 0) return 1;
  if (finishStop_ && finishStop_()) return 1;
  std::vector<uint8_t> sector(sectorSize_);
  uint32_t got = 0;
  const uint64_t first = guesses_[guess].ClusterSector(r.itemId);
  if (ReadAbsolute(first, sectorSize_, sector.data(), got) || got == 0) return 1;
  ContentSample sample;
  sample.extension = ext;
  sample.firstBytes = ByteView(sector.data(), got);
  sample.source = &source_;
  sample.sectorSize = sectorSize_;
  sample.absoluteSector = first;
  return contentCheck_(sample) ? 1 : 0;
}

// --- Reading a file back ----------------------------------------------------------

Status DeepFatEngine::ReadContent(const FoundItemRecord& record, const ContentSink& sink) {
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
  // Where the volume's FAT can be read, the file is read as the quick scan
  // reads it: a chain link by link, deleted data over the free clusters, and
  // a deleted file whose clusters the FAT gave to another file since is
  // refused rather than copied out with that file's data.
  if (VolumeFat* v = FatOf(record)) {
    const FatFileReading how{v->fat, v->geometry,
                             [this](uint64_t at, uint32_t n, uint8_t* out, uint32_t& got) -> Status {
                               got = 0;
                               if (at % sectorSize_) return kReadFault;
                               return ReadAbsolute(at / sectorSize_, n, out, got);
                             },
                             source_.SectorCount() * sectorSize_, readBuf_};
    return ReadFatFile(how, record.itemId, remaining, [&] { return EntryMarkedDeleted(record); }, sink);
  }
  // Without a FAT the clusters after the first are taken to follow it.
  const uint64_t spc = cb / sectorSize_;
  uint64_t sector = record.partitionStart + record.dataAreaStart + uint64_t(record.itemId - 2) * spc;
  const uint64_t need = (remaining + sectorSize_ - 1) / sectorSize_;
  // Clusters past the end of the medium (a cut-off image) were never read: not a read error.
  if (sector >= source_.SectorCount() || need > source_.SectorCount() - sector) return kDataPastEnd;
  const uint32_t runSectors = std::max<uint32_t>(1, kRunBytes / sectorSize_);
  std::vector<uint8_t>& buf = readBuf_;
  buf.resize(size_t(std::min<uint64_t>(need, runSectors)) * sectorSize_);
  while (remaining > 0) {
    uint64_t n = std::min<uint64_t>((remaining + sectorSize_ - 1) / sectorSize_, runSectors);
    uint32_t got = 0;
    if (Status s = ReadAbsolute(sector, uint32_t(n * sectorSize_), buf.data(), got)) return s;
    uint64_t useful = std::min<uint64_t>(got, remaining);
    if (int a = FeedInPieces(sink, buf.data(), useful)) return a;
    remaining -= useful;
    if (remaining && got < n * sectorSize_) return kReadFault;
    sector += n;
  }
  return kOk;
}

DeepFatEngine::VolumeFat* DeepFatEngine::FatOf(const FoundItemRecord& r) {
  const uint64_t start = r.partitionStart;
  auto known = fats_.find(start);
  if (known != fats_.end()) return known->second.get();
  // A FAT's window takes up to 16 MiB: a disk of many volumes keeps a few.
  if (fats_.size() >= 4) fats_.clear();
  std::unique_ptr<VolumeFat>& slot = fats_[start];
  if (!opened_ || start >= source_.SectorCount()) return nullptr;
  std::vector<uint8_t> boot(std::max<uint32_t>(kBootReadBytes, sectorSize_), 0);
  uint32_t got = 0;
  if (ReadAbsolute(start, uint32_t(boot.size()), boot.data(), got) || !IsFatBootSector(ByteView(boot.data(), got)))
    return nullptr;
  auto v = std::make_unique<VolumeFat>();
  FatVolumeGeometry& g = v->geometry;
  if (ReadFatGeometry(ByteView(boot.data(), got), start, source_.SectorCount() - start, sectorSize_, g)) return nullptr;
  // The volume the record was placed in: the same data area and clusters.
  const bool same = uint64_t(g.dataStart) * g.bytesPerSector == uint64_t(r.dataAreaStart) * sectorSize_ &&
                    g.ClusterBytes() == r.clusterBytes;
  if (!same || v->fat.Open(&source_, g)) return nullptr;
  slot = std::move(v);
  return slot.get();
}

bool DeepFatEngine::EntryMarkedDeleted(const FoundItemRecord& record) const {
  std::vector<uint8_t> sector(sectorSize_);
  uint32_t got = 0;
  if (ReadAbsolute(record.location, sectorSize_, sector.data(), got) || got < sectorSize_) return false;
  return HoldsDeletedEntry(ByteView(sector.data(), got), record.size, uint16_t(record.itemId & 0xFFFF));
}

size_t DeepFatEngine::ResidentBytes() const {
  return tails_.ResidentBytes() + pending_.ResidentBytes() + tree_.ResidentBytes();
}

uint32_t DeepFatEngine::RecordKind() const { return kSourceDeepFat; }

Status DeepFatEngine::BeginPass(const std::string* earlierLog) {
  Status s = BeginFatLog(earlierLog ? *earlierLog : std::string());
  // A volume at the area's start is guessed before any sector arrives; a
  // missing boot sector only means no guess.
  (void)SeedFromBootSector();
  return s;
}

bool DeepFatEngine::TakeSector(const DeepChunk& chunk, uint64_t i) {
  ByteView view(chunk.data + i * chunk.sectorSize, chunk.sectorSize);
  const uint64_t sector = chunk.firstSector + i;
  auto walked = [&] { return chunk.quick && chunk.quick->WalkedDeletedDirectoryAt(sector * chunk.sectorSize); };
  if (IsFatBootSector(view)) {
    OnBootSector(view, sector);
  } else if (IsDotPair(view)) {
    if (!walked()) OnDotPairSector(view, sector);
  } else if (IsDirectoryCluster(view)) {
    if (!walked()) OnDirectorySector(view, sector);
  } else {
    return false;
  }
  return true;
}

}  // namespace dunmere
