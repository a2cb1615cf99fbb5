#include "carving/professional_recovery.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>

#include "carving/content_check_factory.h"
#include "engine/kept_records.h"
#include "engine/scan_log_folder.h"
#include "engine/store_engine.h"
#include "engine/text.h"
#include "fat/dir_entry_tests.h"
#include "ntfs/fast_ntfs_recovery.h"
#include "ntfs/mft_record.h"
#include "ntfs/record_summary.h"
#include "storage/engine_factory.h"

namespace dunmere {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

CProfessionalRecovery::CProfessionalRecovery() {
  ResetResume();
  fat_.SetContentCheck(MakeSignatureContentCheck());
}

CProfessionalRecovery::~CProfessionalRecovery() {
  quick_.reset();
  source_.Close();
}

void CProfessionalRecovery::ResetResume() {
  resume_ = false;
  std::memset(&resumeEntry_, 0, sizeof resumeEntry_);
}

Status CProfessionalRecovery::OpenImage(const std::string& path, uint16_t tag) {
  tag_ = tag;
  disk_ = kImageDisk;
  sectorSize_ = 512;
  start_ = 0;
  imagePath_ = path;
  Status s = source_.OpenImageFile(path);
  length_ = source_.SectorCount();
  ResetResume();
  if (ScanLogFolder::Instance().FindResumableImage(path, &resumeEntry_)) resume_ = true;
  fat_.OpenImage(path, tag);
  Status n = ntfs_.OpenImage(path, tag);
  quick_ = CreateEngineForImage(path, tag, false);
  return s ? s : n;
}

Status CProfessionalRecovery::OpenPartition(uint32_t disk, uint64_t start, uint64_t count, uint16_t tag) {
  tag_ = tag;
  disk_ = int32_t(disk);
  start_ = start;
  length_ = count;
  imagePath_.clear();
  Status s = source_.OpenPhysicalDisk(disk);
  if (s == kOk) sectorSize_ = source_.UnitSize();
  ResetResume();
  if (ScanLogFolder::Instance().FindResumablePartition(disk, start, count, tag, &resumeEntry_)) resume_ = true;
  fat_.OpenPartition(disk, start, count, tag);
  Status n = ntfs_.OpenPartition(disk, start, count, tag);
  quick_ = CreateEngineForPartition(disk, start, count, tag, false);
  return s ? s : n;
}

void CProfessionalRecovery::DeclineResume() {
  if (!resume_) return;
  ScanLogFolder::Instance().RemoveScanFolder(EntryScanFolder(resumeEntry_));
  ScanLogFolder::Instance().Save();
  ResetResume();
}

Status CProfessionalRecovery::SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int) {
  progress_ = progress;
  data_ = data;
  user_ = user;
  share_ = 90;
  if (quick_) quick_->SetCallbacks(progress, data, user, 9);
  fat_.SetCallbacks(progress, data, user, 90);
  ntfs_.SetCallbacks(progress, data, user, 90);
  carve_.SetCallbacks(progress, data, user, 90);
  return kOk;
}

bool CProfessionalRecovery::IsFileRecordSector(const uint8_t* sec) const {
  ByteView v(sec, sectorSize_);
  const uint32_t m = sectorSize_ > 512 ? sectorSize_ : 2 * sectorSize_;
  return v.Equals(0, "FILE") && v.U32(24) <= m && v.U32(28) == m && v.U16(48) == v.U16(510);
}

void CProfessionalRecovery::OnFileRecordSector(const uint8_t* chunk, uint64_t i, uint32_t sectors, uint64_t sector) {
  ByteView rec(chunk + i * sectorSize_, (sectors - i) * sectorSize_);
  // Folders are found through their files' parents.
  if (rec.U16(22) & 0x0002) return;
  std::vector<uint8_t> whole;
  if (rec.size() < 8192) {
    whole.resize(8192);
    uint32_t got = 0;
    source_.ReadSectors(uint32_t(whole.size() / sectorSize_), whole.data(), sector, sectorSize_, got);
    if (got * uint64_t(sectorSize_) > rec.size()) rec = ByteView(whole.data(), size_t(got) * sectorSize_);
  }
  try {
    ntfs_.ProcessFileRecord(rec, sector);
  } catch (...) {
    // A record that broke the parser is skipped; the pass goes on.
  }
}

void CProfessionalRecovery::NextFreeRange(uint64_t& start, uint64_t& length) {
  // A quick engine that answers nothing, or past the area, ends the ranges
  // instead of looping on a stale length.
  length = 0;
  quick_->NextFreeExtent(start, length);
  if (start >= length_) {
    start = length_;
    length = 0;
  } else {
    length = std::min(length, length_ - start);
  }
}

uint64_t CProfessionalRecovery::DispatchChunk(const uint8_t* chunk, uint32_t sectors, uint64_t firstSector,
                                              CarveScanProgress& progress, bool& stopped) {
  uint64_t i = 0;
  uint64_t found = progress.filesFound;
  stopped = false;
  while (i < sectors) {
    uint64_t skip = 1;
    const uint8_t* sec = chunk + i * sectorSize_;
    ByteView view(sec, sectorSize_);
    if (IsFileRecordSector(sec)) {
      OnFileRecordSector(chunk, i, sectors, firstSector + i);
    } else if (IsDotPair(view)) {
      fat_.OnDotPairSector(view, firstSector + i);
    } else if (IsDirectoryCluster(view)) {
      fat_.OnDirectorySector(view, firstSector + i);
    } else {
      Status s = carve_.CarveAtSector(sectorSize_, view, firstSector + i, progress, &source_, skip, found);
      if (s == kStopRequested) {
        // The file being sized was not recorded: the scan stops before it, so
        // that a resumed scan carves it again.
        stopped = true;
        return i;
      }
    }
    i += skip ? skip : 1;
  }
  return i;
}

Status CProfessionalRecovery::Scan(const std::string*) {
  ScanLogFolder& logs = ScanLogFolder::Instance();
  const bool resuming = resume_;
  if (!resuming) logs.BeginNewScanFolder();
  const std::string folder = logs.CurrentScanFolder();
  Status result = kOk;
  bool quickFailed = false;
  freeRanges_ = false;
  // Records a run after the saved position left behind (it died before
  // saving again) go, or that stretch would give them twice.
  if (resuming) CutBackToKeptRecords(folder);

  // Quick pass: its records and, where it can tell, which clusters are free.
  if (quick_) {
    quick_->SetCallbacks(progress_, data_, user_, 9);
    if (quick_->LoadAllocationBitmap() == kOk) {
      auto* ntfs = dynamic_cast<CFastNtfsRecovery*>(quick_.get());
      // Free extents come in the volume's sectors; only use them when those are ours.
      freeRanges_ = !ntfs || ntfs->Geometry().bytesPerSector == sectorSize_;
    }
    std::string name;
    Status s = (resuming && logs.FindLogFile("Fast_", name, folder) == kOk) ? quick_->Scan(&name)
                                                                            : quick_->Scan(nullptr);
    if (s != kOk) {
      result = s;
      quickFailed = true;
    }
  }

  uint64_t rangeStart = 0, rangeLength = length_, offset = 0, done = 0, total = length_, foundAtStart = 0;
  if (!quickFailed) {
    std::string name;
    Status open;
    if (resuming && logs.FindLogFile("File_Type_", name, folder) == kOk) {
      open = imagePath_.empty() ? carve_.ResumeOnDisk(sectorSize_, uint32_t(disk_), name, tag_)
                                : carve_.ResumeOnImage(sectorSize_, name, tag_, imagePath_);
    } else {
      open = imagePath_.empty() ? carve_.OpenPartition(uint32_t(disk_), start_, length_, tag_)
                                : carve_.OpenImage(imagePath_, tag_);
    }
    carve_.SetCallbacks(progress_, data_, user_, 90);
    if (open != kOk) result = open;
    std::string fatLog;
    if (resuming) logs.FindLogFile("Pro_Fat_", fatLog, folder);
    if (Status s = fat_.BeginFatLog(fatLog); s != kOk && result == kOk) result = s;
    std::string ntfsLog;
    Status ntfsStart = (resuming && logs.FindLogFile("Pro_Ntfs_", ntfsLog, folder) == kOk) ? ntfs_.StartScan(&ntfsLog)
                                                                                            : ntfs_.StartScan(nullptr);
    if (ntfsStart != kOk && result == kOk) result = ntfsStart;
    fat_.SeedFromBootSector();
    carve_.Context().streamRanges.clear();

    if (freeRanges_) {
      total = 0;
      for (uint64_t s = 0, l = 0;; s += l) {
        NextFreeRange(s, l);
        if (l == 0) break;
        total += l;
      }
      rangeStart = 0;
      NextFreeRange(rangeStart, rangeLength);
    }
    if (resuming) {
      rangeStart = resumeEntry_.rangeStart;
      rangeLength = resumeEntry_.rangeLength;
      offset = resumeEntry_.rangeOffset;
      done = resumeEntry_.sectorsDone;
      foundAtStart = resumeEntry_.filesFound;
      resume_ = false;
    }

    std::vector<uint8_t> chunk(kChunkBytes);
    const uint32_t perChunk = std::max<uint32_t>(1, kChunkBytes / sectorSize_);
    const auto startTime = Clock::now();
    auto lastEstimate = startTime;
    int64_t secondsLeft = -1;
    CarveScanProgress cp;
    while (result == kOk && rangeLength > 0) {
      uint64_t remaining = offset < rangeLength ? rangeLength - offset : 0;
      while (remaining > 0) {
        uint32_t n = uint32_t(std::min<uint64_t>(perChunk, remaining));
        uint32_t got = 0;
        source_.ReadSectors(n, chunk.data(), start_ + rangeStart + offset, sectorSize_, got);
        uint64_t consumed = n;
        bool stopped = false;
        cp.sectorsDone = done;
        cp.sectorsTotal = total;
        cp.secondsLeft = secondsLeft;
        cp.filesFound = uint64_t(GetFoundCount()) + foundAtStart;
        if (got > 0) {
          try {
            uint64_t reached = DispatchChunk(chunk.data(), got, start_ + rangeStart + offset, cp, stopped);
            consumed = stopped ? reached : std::max<uint64_t>(reached, n);
          } catch (...) {
            // A sector that broke a parser costs its chunk, not the scan.
          }
        }
        uint64_t advance = consumed;
        offset += advance;
        done += std::min(advance, remaining);
        remaining = advance >= remaining ? 0 : remaining - advance;

        auto now = Clock::now();
        if (share_ == 90 && now - lastEstimate >= std::chrono::milliseconds(5000)) {
          lastEstimate = now;
          uint64_t elapsed = uint64_t(std::chrono::duration_cast<std::chrono::seconds>(now - startTime).count());
          uint64_t speed = elapsed ? done * sectorSize_ / elapsed : 0;
          if (speed == 0) speed = 1;
          secondsLeft = int64_t((total > done ? total - done : 0) * sectorSize_ / speed);
        }
        if (stopped) {
          result = kStopRequested;
          break;
        }
        if (progress_) {
          uint64_t files = uint64_t(GetFoundCount()) + foundAtStart;
          int percent = int((total ? std::min(done, total) * 100 / total : 100) * 90 / 100 + 10);
          if (int answer = progress_(user_, std::min(percent, 100), share_, secondsLeft, done, total, files, 0)) {
            result = answer;
            break;
          }
        }
      }
      if (result != kOk || !freeRanges_) break;
      rangeStart += rangeLength;
      offset = 0;
      NextFreeRange(rangeStart, rangeLength);
    }
    // Folders are written when the pass ends, also after a stop, so what was
    // found so far can be listed and copied.
    if (Status s = fat_.FinishFatScan(); s != kOk && result == kOk) result = s;
    if (Status s = ntfs_.FinishScan(); s != kOk && result == kOk) result = s;
  }

  if (progress_ && result == kOk) progress_(user_, 100, 100, 0, 0, 0, 0, 0);

  if (quickFailed) {
    // No pass ran: a new scan gives its folder back, a resumed one keeps the
    // position it had (saving here would reset it to the start).
    if (!resuming) logs.WithdrawScanFolder();
  } else {
    // The counts first: dying between the two writes then gives records
    // twice at worst, never loses them.
    std::vector<ResultStore*> stores{carve_.Store(), fat_.Store(), ntfs_.Store()};
    if (auto* q = dynamic_cast<CStoreEngineBase*>(quick_.get())) stores.push_back(q->Store());
    SaveKeptRecords(folder, stores);
    ResumeProgress p;
    p.rangeStart = rangeStart;
    p.rangeLength = rangeLength;
    p.rangeOffset = offset;
    p.sectorsDone = done;
    p.filesFound = uint64_t(GetFoundCount()) + foundAtStart;
    logs.SaveScanState(tag_, imagePath_.empty() ? uint32_t(disk_) : 0, start_, length_, p, folder, imagePath_);
  }
  return result;
}

IFileRecoveryParse* CProfessionalRecovery::EngineOfKind(uint32_t kind) {
  switch (kind) {
    case kSourceQuickNtfs:
    case kSourceQuickFat: return quick_.get();
    case kSourceDeepNtfs: return &ntfs_;
    case kSourceDeepFat: return &fat_;
    case kSourceCarving: return &carve_;
    default: return nullptr;
  }
}

Status CProfessionalRecovery::ListChildren(const FoundItemRecord* folder, uint32_t level,
                                           std::vector<FoundItemRecord>& out) {
  out.clear();
  if (folder) {
    IFileRecoveryParse* e = folder->sourceKind <= kSourceDeepFat ? EngineOfKind(folder->sourceKind) : nullptr;
    Status s = e ? e->ListChildren(folder, level, out) : kOk;
    SortForListing(out);
    return s;
  }
  if (level != 0) return kInvalidArg;
  for (IFileRecoveryParse* e : {quick_.get(), static_cast<IFileRecoveryParse*>(&fat_),
                                 static_cast<IFileRecoveryParse*>(&ntfs_), static_cast<IFileRecoveryParse*>(&carve_)}) {
    if (!e) continue;
    std::vector<FoundItemRecord> part;
    e->ListChildren(nullptr, 0, part);
    out.insert(out.end(), part.begin(), part.end());
  }
  SortForListing(out);
  return kOk;
}

Status CProfessionalRecovery::CountFiles(const FoundItemRecord* folder, uint32_t level, uint32_t& count) {
  count = 0;
  if (folder) {
    IFileRecoveryParse* e = folder->sourceKind <= kSourceDeepFat ? EngineOfKind(folder->sourceKind) : nullptr;
    return e ? e->CountFiles(folder, level, count) : kOk;
  }
  if (level != 0) return kInvalidArg;
  for (IFileRecoveryParse* e : {quick_.get(), static_cast<IFileRecoveryParse*>(&fat_),
                                 static_cast<IFileRecoveryParse*>(&ntfs_), static_cast<IFileRecoveryParse*>(&carve_)}) {
    uint32_t n = 0;
    if (e && e->CountFiles(nullptr, 0, n) == kOk) count += n;
  }
  return kOk;
}

int64_t CProfessionalRecovery::GetFoundCount() {
  return (quick_ ? quick_->GetFoundCount() : 0) + fat_.GetFoundCount() + ntfs_.GetFoundCount() +
         carve_.GetFoundCount();
}

Status CProfessionalRecovery::GetFolderPath(const FoundItemRecord* record, std::string& out) {
  out.clear();
  if (!record) return kInvalidArg;
  IFileRecoveryParse* e = record->sourceKind <= kSourceDeepFat ? EngineOfKind(record->sourceKind) : nullptr;
  return e ? e->GetFolderPath(record, out) : kOk;
}

Status CProfessionalRecovery::RecoverItem(const FoundItemRecord& record, const std::string& dest, int levelBase) {
  IFileRecoveryParse* e = EngineOfKind(record.sourceKind);
  return e ? e->RecoverItem(record, dest, levelBase) : kOk;
}

Status CProfessionalRecovery::ReadForPreview(const FoundItemRecord* record, std::string& path, uint8_t* buffer,
                                             uint64_t& byteCount, PreviewProgressCallback cb, void* user) {
  if (!record) return kInvalidArg;
  IFileRecoveryParse* e = EngineOfKind(record->sourceKind);
  return e ? e->ReadForPreview(record, path, buffer, byteCount, cb, user) : kOk;
}

Status CProfessionalRecovery::NextFreeExtent(uint64_t&, uint64_t& length) {
  length = 0;
  return kOk;
}

Status CProfessionalRecovery::LoadAllocationBitmap() { return kOk; }

Status CProfessionalRecovery::SetSearchCallback(SearchProgressCallback cb, void* user) {
  searchCb_ = cb;
  searchUser_ = user;
  if (quick_) quick_->SetSearchCallback(cb, user);
  fat_.SetSearchCallback(cb, user);
  ntfs_.SetSearchCallback(cb, user);
  carve_.SetSearchCallback(cb, user);
  return kOk;
}

bool CProfessionalRecovery::FirstDataSector(const FoundItemRecord& r, uint64_t& sector) {
  if (r.clusterBytes == 0 || r.clusterBytes == kNoClusterSize) return false;
  if (r.sourceKind == kSourceQuickFat || r.sourceKind == kSourceDeepFat) {
    if (r.itemId < 2) return false;
    sector = r.partitionStart + r.dataAreaStart + uint64_t(r.itemId - 2) * r.clusterBytes / sectorSize_;
    return true;
  }
  // NTFS: the first data run of the item's file record.
  std::vector<uint8_t> rec(4096);
  uint32_t got = 0;
  source_.ReadSectors(uint32_t(rec.size() / sectorSize_), rec.data(), r.location, sectorSize_, got);
  if (got == 0) return false;
  rec.resize(size_t(got) * sectorSize_);
  ByteView v(rec.data(), rec.size());
  uint32_t recordBytes = std::min<uint32_t>(v.U32(28), uint32_t(rec.size()));
  if (!HasFileSignature(v) || recordBytes < 512) return false;
  std::span<uint8_t> span(rec.data(), recordBytes);
  if (ApplyFixup(span) != kOk) return false;
  RecordSummary sum;
  SummarizeRecord(ByteView(rec.data(), recordBytes), sum);
  if (!sum.hasFirstCluster) return false;
  sector = r.partitionStart + sum.firstCluster * r.clusterBytes / sectorSize_;
  return true;
}

int CProfessionalRecovery::SearchByType(const std::string& patterns, std::vector<FoundItemRecord>& out) {
  out.clear();
  std::map<uint64_t, std::string> firstSectors;
  for (IFileRecoveryParse* e :
       {quick_.get(), static_cast<IFileRecoveryParse*>(&fat_), static_cast<IFileRecoveryParse*>(&ntfs_)}) {
    if (!e) continue;
    std::vector<FoundItemRecord> part;
    e->SearchByType(patterns, part);
    for (const FoundItemRecord& r : part) {
      uint64_t sector = 0;
      if (FirstDataSector(r, sector)) firstSectors.emplace(sector, ExtensionOf(RecordName(r)));
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
