#include "scan/deep_scan_engine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>

#include <optional>

#include "base/text.h"
#include "carving/content_check_factory.h"
#include "engine/kept_records.h"
#include "engine/scan_log_folder.h"
#include "engine/store_engine.h"
#include "exfat/deep/exfat_dir_sector.h"
#include "fat/dir_entry_tests.h"
#include "scan/deep_pass.h"
#include "scan/engine_factory.h"
#include "scan/file_systems.h"
#include "storage/read_stop.h"

namespace dunmere {

namespace {
// After a stopped pass, how long the folder building may go on reading.
constexpr int kGraceMs = 100;

// The stop question of the folder building of both engines: "go on" until
// `until`, then the caller's callback; once that asked to stop, its answer
// without asking again.
// The engine's own percent goes out as its stretch of the bar's last tenth
// (from `first`, `span` wide), named as building folders.
struct FinishGrace {
  ScanProgressCallback callback;
  void* user;
  std::chrono::steady_clock::time_point until;
  int first = 90, span = 9;
  int answer = 0;
  static int Ask(void* u, int percent, int, int64_t left, uint64_t done, uint64_t total, uint64_t found,
                 uint64_t) {
    auto* g = static_cast<FinishGrace*>(u);
    if (g->answer) return g->answer;
    if (std::chrono::steady_clock::now() < g->until || !g->callback) return 0;
    const int bar = g->first + std::clamp(percent, 0, 100) * g->span / 100;
    g->answer = g->callback(g->user, bar, 100, left, done, total, found, kStageBuildingFolders);
    return g->answer;
  }
};
// A carved file ends where a directory sector of FAT or exFAT begins: the
// file systems' engines read on from there.
bool IsFileSystemDirectorySector(ByteView sector) { return IsDirectoryCluster(sector) || IsExfatDirectorySector(sector); }
}  // namespace

DeepScanEngine::DeepScanEngine()
    : readAhead_(DeepPass::kReadAheadChunks), judgeWhenQueued_(DeepPass::kJudgeWhenQueued) {
  ResetResume();
  for (const FileSystemRow& row : FileSystems()) {
    if (!row.makeDeep) continue;
    ownDeep_.push_back(row.makeDeep());
    deep_.push_back(ownDeep_.back().get());
  }
  carve_.Context().directorySector = &IsFileSystemDirectorySector;
}

DeepScanEngine::~DeepScanEngine() {
  quick_.reset();
}

void DeepScanEngine::ResetResume() {
  resume_ = false;
  std::memset(&resumeEntry_, 0, sizeof resumeEntry_);
}

Status DeepScanEngine::Open(const Medium& medium, uint16_t tag) {
  tag_ = tag;
  medium_ = medium.Share();
  // Images are read in 512-byte sectors, disks in their own.
  sectorSize_ = medium.IsImage() ? 512 : medium_.source.UnitSize();
  ResetResume();
  ScanLogFolder& logs = ScanLogFolder::Instance();
  fingerprint_ = medium.IsImage() ? 0 : MediumFingerprint(medium_);
  if (medium.IsImage() ? logs.FindResumableImage(medium.imagePath, medium.start, medium.count, &resumeEntry_)
                       : logs.FindResumablePartition(uint32_t(medium.disk), medium.start, medium.count, tag,
                                                     &resumeEntry_, fingerprint_))
    resume_ = true;
  otherMedium_ = !resume_ && !medium.IsImage() && logs.LastFindMetOtherMedium();
  Status n = kOk;
  for (DeepFileSystemEngine* e : deep_)
    if (Status o = e->Open(medium_, tag); o && !n) n = o;
  quick_ = CreateEngineFor(medium_, tag, false);
  if (quick_) quick_->LeaveLostFoldersToDeepPass();
  return n;
}

void DeepScanEngine::DeclineResume() {
  if (!resume_) return;
  (void)ScanLogFolder::Instance().RemoveScanFolder(EntryScanFolder(resumeEntry_));
  (void)ScanLogFolder::Instance().Save();
  ResetResume();
}

Status DeepScanEngine::SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int) {
  progress_ = progress;
  data_ = data;
  user_ = user;
  share_ = 90;
  if (quick_) (void)quick_->SetCallbacks(progress, data, user, 9);
  for (DeepFileSystemEngine* e : deep_) (void)e->SetCallbacks(progress, data, user, 90);
  (void)carve_.SetCallbacks(progress, data, user, 90);
  return kOk;
}

DeepArea DeepScanEngine::Area() const {
  DeepArea a;
  a.tag = tag_;
  a.sectorSize = sectorSize_;
  a.disk = medium_.IsImage() ? kImageDisk : medium_.disk;
  a.start = medium_.start;
  a.length = medium_.count;
  a.imagePath = medium_.imagePath;
  a.medium = &medium_;
  a.fingerprint = fingerprint_;
  return a;
}

Status DeepScanEngine::RunQuickPass(bool resuming, const std::string& folder) {
  (void)quick_->SetCallbacks(progress_, data_, user_, 9);
  // Free extents come in the volume's sectors; only use them when those are ours.
  if (quick_->LoadAllocationBitmap() == kOk) freeRanges_ = quick_->FreeExtentsInSectorsOf(sectorSize_);
  std::string name;
  if (resuming && ScanLogFolder::Instance().FindLogFile("Fast_", name, folder) == kOk) return quick_->Scan(&name);
  return quick_->Scan(nullptr);
}

Status DeepScanEngine::Scan(const std::string*) {
  ScanLogFolder& logs = ScanLogFolder::Instance();
  const bool resuming = resume_;
  if (!resuming) logs.BeginNewScanFolder();
  const std::string folder = logs.CurrentScanFolder();
  Status result = kOk;
  bool quickFailed = false;
  freeRanges_ = false;
  // Records a run after the saved position left behind (it died before
  // saving again) go, or that stretch would give them twice.
  if (resuming) (void)CutBackToKeptRecords(folder);

  // Quick pass: its records and, where it can tell, which clusters are free.
  if (quick_) {
    Status s = RunQuickPass(resuming, folder);
    // Reads refused by a stop end a quick pass early, and not every engine
    // says so: its records are not whole, so no position may follow them.
    if (s == kOk && ReadStopRequested()) s = kStopRequested;
    if (s != kOk) {
      result = s;
      quickFailed = true;
    }
  }

  ResumeProgress pos;
  pos.rangeLength = medium_.count;
  uint64_t foundAtStart = 0;
  if (!quickFailed) {
    const DeepArea area = Area();
    result = OpenDeepLogs(area, resuming, folder, carve_, deep_);
    (void)carve_.SetCallbacks(progress_, data_, user_, 90);
    carve_.Context().streamRanges.clear();

    uint64_t total = medium_.count;
    std::optional<FreeRanges> ranges;
    if (freeRanges_) {
      ranges.emplace(*quick_, medium_.count);
      total = ranges->Total();
      ranges->Next(pos.rangeStart, pos.rangeLength);
    }
    if (resuming) {
      pos.rangeStart = resumeEntry_.rangeStart;
      pos.rangeLength = resumeEntry_.rangeLength;
      pos.rangeOffset = resumeEntry_.rangeOffset;
      pos.sectorsDone = resumeEntry_.sectorsDone;
      foundAtStart = resumeEntry_.filesFound;
      resume_ = false;
    }
    if (result == kOk) {
      SectorDispatcher dispatch(medium_.source, sectorSize_, deep_, carve_);
      dispatch.SkipDirectoriesWalkedBy(quick_.get());
      DeepPass pass(medium_.source, medium_.start, sectorSize_, dispatch,
                    [this, foundAtStart] { return uint64_t(GetFoundCount()) + foundAtStart; });
      pass.SetReadAhead(readAhead_, judgeWhenQueued_);
      result = pass.Run(pos, total, ranges ? &*ranges : nullptr, PassReport{progress_, user_, share_});
    }
    // Folders are written when the pass ends, also after a stop, so what was
    // found so far can be listed and copied. Building them asks about
    // stopping as it goes; after a stop it gets a moment's grace to read
    // folder names before it finishes from memory alone.
    FinishGrace grace{progress_, user_,
                      std::chrono::steady_clock::now() + std::chrono::milliseconds(result != kOk ? kGraceMs : 0)};
    const int engines = int(deep_.size());
    for (int i = 0; i < engines; ++i) {
      DeepFileSystemEngine* e = deep_[size_t(i)];
      grace.first = 90 + i * 9 / engines;
      grace.span = 9 / engines;
      (void)e->SetCallbacks(&FinishGrace::Ask, data_, &grace, 90);
      if (Status s = e->FinishPass(); s != kOk && result == kOk) result = s;
      (void)e->SetCallbacks(progress_, data_, user_, 90);
    }
  }

  if (progress_ && result == kOk) progress_(user_, 100, 100, 0, 0, 0, 0, 0);

  if (quickFailed) {
    // No pass ran: a new scan gives its folder back, a resumed one keeps the
    // position it had (saving here would reset it to the start).
    // A quick pass stopped by the user keeps its folder, so what it found
    // can be listed and copied; no deep position is saved for it.
    if (!resuming && result != kStopRequested) logs.WithdrawScanFolder();
  } else {
    std::vector<ResultStore*> stores{carve_.Store()};
    for (DeepFileSystemEngine* e : deep_) stores.push_back(e->Records());
    if (ResultStore* q = quick_ ? quick_->RecordStore() : nullptr) stores.push_back(q);
    pos.filesFound = uint64_t(GetFoundCount()) + foundAtStart;
    SaveDeepScanState(Area(), folder, stores, pos);
  }
  return result;
}

FoundItems* DeepScanEngine::EngineOfKind(uint32_t kind) {
  if (kind == kSourceCarving) return &carve_;
  for (DeepFileSystemEngine* e : deep_)
    if (e->RecordKind() == kind) return &e->Results();
  for (const FileSystemRow& row : FileSystems())
    if (row.quickSource == kind) return quick_.get();
  return nullptr;
}

std::vector<FoundItems*> DeepScanEngine::AllEngines() {
  std::vector<FoundItems*> out{quick_.get()};
  for (DeepFileSystemEngine* e : deep_) out.push_back(&e->Results());
  out.push_back(&carve_);
  return out;
}

FoundItems* DeepScanEngine::EngineOfFolders(uint32_t kind) {
  // Carved files stand in no folder of the volume: their engine is not asked.
  return kind == kSourceCarving ? nullptr : EngineOfKind(kind);
}

Status DeepScanEngine::ListChildren(const FoundItemRecord* folder, uint32_t level,
                                           std::vector<FoundItemRecord>& out) {
  out.clear();
  if (folder) {
    FoundItems* e = EngineOfFolders(folder->sourceKind);
    Status s = e ? e->ListChildren(folder, level, out) : kOk;
    SortForListing(out);
    return s;
  }
  if (level != 0) return kInvalidArg;
  for (FoundItems* e : AllEngines()) {
    if (!e) continue;
    std::vector<FoundItemRecord> part;
    (void)e->ListChildren(nullptr, 0, part);
    out.insert(out.end(), part.begin(), part.end());
  }
  SortForListing(out);
  return kOk;
}

Status DeepScanEngine::CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) {
  count = 0;
  if (folder) {
    FoundItems* e = EngineOfFolders(folder->sourceKind);
    return e ? e->CountFiles(folder, level, count) : kOk;
  }
  if (level != 0) return kInvalidArg;
  for (FoundItems* e : AllEngines()) {
    uint32_t n = 0;
    if (e && e->CountFiles(nullptr, 0, n) == kOk) count += n;
  }
  return kOk;
}

uint32_t DeepScanEngine::CollectUnreadable(UnreadableSectors& into) const {
  into.Merge(medium_.source.Unreadable());
  if (quick_) (void)quick_->CollectUnreadable(into);
  return medium_.source.IsOpen() ? medium_.source.UnitSize() : 512;
}

int64_t DeepScanEngine::GetFoundCount() {
  int64_t n = 0;
  for (FoundItems* e : AllEngines())
    if (e) n += e->GetFoundCount();
  return n;
}

Status DeepScanEngine::GetFolderPath(const FoundItemRecord* record, std::string& out) {
  out.clear();
  if (!record) return kInvalidArg;
  FoundItems* e = EngineOfFolders(record->sourceKind);
  return e ? e->GetFolderPath(record, out) : kOk;
}

Status DeepScanEngine::RecoverItem(const FoundItemRecord& record, const std::string& dest, int levelBase) {
  FoundItems* e = EngineOfKind(record.sourceKind);
  return e ? e->RecoverItem(record, dest, levelBase) : kOk;
}

Status DeepScanEngine::ReadForPreview(const FoundItemRecord* record, std::string& path, uint8_t* buffer,
                                             uint64_t& byteCount, PreviewProgressCallback cb, void* user) {
  if (!record) return kInvalidArg;
  FoundItems* e = EngineOfKind(record->sourceKind);
  return e ? e->ReadForPreview(record, path, buffer, byteCount, cb, user) : kOk;
}

Status DeepScanEngine::NextFreeExtent(uint64_t&, uint64_t& length) {
  length = 0;
  return kOk;
}

Status DeepScanEngine::LoadAllocationBitmap() { return kOk; }

Status DeepScanEngine::SetSearchCallback(SearchProgressCallback cb, void* user) {
  searchCb_ = cb;
  searchUser_ = user;
  for (FoundItems* e : AllEngines())
    if (e) (void)e->SetSearchCallback(cb, user);
  return kOk;
}

int DeepScanEngine::SearchByType(const std::string& patterns, std::vector<FoundItemRecord>& out) {
  out.clear();
  std::map<uint64_t, std::string> firstSectors;
  std::vector<FoundItems*> fileSystems = AllEngines();
  fileSystems.pop_back();  // carving's copies are matched against these below
  for (FoundItems* e : fileSystems) {
    if (!e) continue;
    std::vector<FoundItemRecord> part;
    e->SearchByType(patterns, part);
    for (const FoundItemRecord& r : part) {
      uint64_t sector = 0;
      if (e->FirstDataSector(r, sector)) firstSectors.emplace(sector, ExtensionOf(RecordName(r)));
    }
    out.insert(out.end(), part.begin(), part.end());
  }
  std::vector<FoundItemRecord> carved;
  carve_.SearchByType(patterns, carved);
  for (const FoundItemRecord& r : carved) {
    const uint64_t location = r.location;  // a packed field: copied, not bound to a reference
    auto it = firstSectors.find(location);
    std::string ext = ExtensionOf(RecordName(r));
    // A carved copy of a file the file system already gave back is listed once.
    if (it != firstSectors.end() && (it->second == ext || (it->second == "thm" && ext == "jpg"))) continue;
    out.push_back(r);
  }
  SortForListing(out);
  return 1;
}

}  // namespace dunmere
