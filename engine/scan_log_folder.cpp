#include "engine/scan_log_folder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "platform/data_folder.h"
#include "platform/file.h"
#include "storage/volume_space.h"
#include "platform/native_path.h"

namespace fs = std::filesystem;

namespace dunmere {

ScanLogFolder& ScanLogFolder::Instance() {
  static ScanLogFolder instance(ScanLogFolderPath(), &VolumeFreeBytes);
  return instance;
}

ScanLogFolder::ScanLogFolder(std::string path, FreeBytesProbe probe)
    : scanLogPath_(std::move(path)), probe_(std::move(probe)) {
  (void)Load();
}

namespace {
std::string ConfigPath(const std::string& dir) { return JoinPath(dir, "config"); }
std::string StripFinalSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}
// One scan folder a scan: no one reaches a billion, so a larger counter (or a
// negative one) comes from a damaged "config", and counting on from it would
// overflow.
constexpr int64_t kLargestScanNumber = 1'000'000'000;
// The number a scan folder is named by, or -1 for another name.
int64_t ScanNumberOf(const std::string& folder) {
  const std::string name = FileNameOf(StripFinalSlash(folder));
  if (name.empty() || name.size() > 10) return -1;
  int64_t n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n <= kLargestScanNumber ? n : -1;
}
}  // namespace

Status ScanLogFolder::Load() {
  counter_ = 0;
  entries_.clear();
  std::string cfg = ConfigPath(scanLogPath_);
  std::error_code ec;
  // A save interrupted after "config" was replaced but before the rename.
  if (!fs::exists(NativePath(cfg), ec) && fs::exists(NativePath(cfg + ".tmp"), ec))
    fs::rename(NativePath(cfg + ".tmp"), NativePath(cfg), ec);
  std::string data;
  if (ReadWholeFile(cfg, data) || data.size() < 8) return kOk;
  std::memcpy(&counter_, data.data(), 8);
  for (size_t off = 8; off + sizeof(ScanResumeEntry) <= data.size(); off += sizeof(ScanResumeEntry)) {
    ScanResumeEntry e;
    std::memcpy(&e, data.data() + off, sizeof e);
    // The file may be damaged: an entry whose folder is not one of ours is
    // dropped, never resumed into (the scan would write its logs there and
    // cut that folder's files back) nor deleted.
    if (!IsInside(EntryScanFolder(e))) continue;
    entries_.push_back(e);
  }
  if (counter_ < 0 || counter_ >= kLargestScanNumber) RenumberAboveEntries();
  return kOk;
}

void ScanLogFolder::RenumberAboveEntries() {
  // Above every folder still listed for resume, so a new scan never takes
  // (and empties) one of them.
  counter_ = 0;
  for (const ScanResumeEntry& e : entries_) counter_ = std::max(counter_, ScanNumberOf(EntryScanFolder(e)));
  if (counter_ >= kLargestScanNumber) counter_ = 0;
}

Status ScanLogFolder::Save() {
  std::error_code ec;
  fs::create_directories(NativePath(scanLogPath_), ec);
  std::string data(8 + entries_.size() * sizeof(ScanResumeEntry), '\0');
  std::memcpy(data.data(), &counter_, 8);
  if (!entries_.empty()) std::memcpy(data.data() + 8, entries_.data(), entries_.size() * sizeof(ScanResumeEntry));
  return WriteFileAtomically(ConfigPath(scanLogPath_), data.data(), data.size());
}

void ScanLogFolder::BeginNewScanFolder() {
  if (counter_ < 0 || counter_ >= kLargestScanNumber) RenumberAboveEntries();
  ++counter_;
  resumeActive_ = false;
  resumeFolder_.clear();
  (void)RemoveScanFolder(CurrentScanFolder());
}

std::string ScanLogFolder::CurrentScanFolder() const {
  if (resumeActive_) return resumeFolder_;
  return JoinPath(scanLogPath_, std::to_string(counter_)) + "/";
}

bool ScanLogFolder::IsInside(const std::string& path) const {
  std::error_code ec;
  fs::path base = fs::weakly_canonical(NativePath(scanLogPath_), ec);
  if (ec) return false;
  fs::path target = fs::weakly_canonical(NativePath(StripFinalSlash(path)), ec);
  if (ec || target.filename().empty()) return false;
  // Only a folder directly below the scan-log folder is ever deleted.
  return target.parent_path() == base;
}

Status ScanLogFolder::RemoveScanFolder(const std::string& path) {
  std::string p = StripFinalSlash(path);
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [&](const ScanResumeEntry& e) {
                                  return CompareNamesAsciiNoCase(StripFinalSlash(EntryScanFolder(e)), p) == 0;
                                }),
                 entries_.end());
  if (!IsInside(p)) return kAccessDenied;
  std::error_code ec;
  if (fs::is_symlink(NativePath(p), ec)) return kAccessDenied;
  if (!fs::exists(NativePath(p), ec)) return kOk;
  fs::remove_all(NativePath(p), ec);
  return ec ? StatusFromErrno(ec.value()) : kOk;
}

int ScanLogFolder::TakeResumable(const ScanResumeEntry& e, bool unchanged, ScanResumeEntry* out) {
  if (!unchanged) {
    // The medium changed since: the earlier results no longer describe it.
    (void)RemoveScanFolder(EntryScanFolder(e));
    return 0;
  }
  resumeActive_ = true;
  resumeFolder_ = EntryScanFolder(e);
  if (out) *out = e;
  return 1;
}

int ScanLogFolder::FindResumablePartition(uint32_t disk, uint64_t start, uint64_t count, uint16_t tag,
                                          ScanResumeEntry* out, uint32_t fingerprint) {
  resumeActive_ = false;
  otherMedium_ = false;
  resumeFolder_.clear();
  for (const ScanResumeEntry& e : entries_) {
    if (e.diskIndex != disk || e.partitionStart != start || e.partitionSectors != count) continue;
    if (EntryImagePath(e).size()) continue;
    if (fingerprint && e.mediumFingerprint != fingerprint) {
      otherMedium_ = true;
      continue;
    }
    uint64_t freeNow = probe_ ? probe_(disk, start, count, tag) : 0;
    ScanResumeEntry copy = e;
    return TakeResumable(copy, freeNow == e.freeBytes, out);
  }
  return 0;
}

int ScanLogFolder::FindResumableImage(const std::string& imagePath, uint64_t start, uint64_t count,
                                      ScanResumeEntry* out) {
  resumeActive_ = false;
  resumeFolder_.clear();
  for (const ScanResumeEntry& e : entries_) {
    if (EntryImagePath(e) != imagePath || e.partitionStart != start || e.partitionSectors != count) continue;
    ScanResumeEntry copy = e;
    return TakeResumable(copy, FileLastWriteTime(imagePath) == e.imageWriteTime, out);
  }
  return 0;
}

Status ScanLogFolder::SaveScanState(uint16_t tag, uint32_t disk, uint64_t start, uint64_t count,
                                    const ResumeProgress& p, const std::string& folder,
                                    const std::string& imagePath, uint32_t fingerprint) {
  ScanResumeEntry* found = nullptr;
  uint64_t freeNow = 0;
  if (imagePath.empty()) freeNow = probe_ ? probe_(disk, start, count, tag) : 0;
  uint64_t writeTime = imagePath.empty() ? 0 : FileLastWriteTime(imagePath);
  for (ScanResumeEntry& e : entries_) {
    bool same = imagePath.empty() ? (e.diskIndex == disk && e.partitionStart == start &&
                                     e.partitionSectors == count && e.freeBytes == freeNow &&
                                     (!fingerprint || e.mediumFingerprint == fingerprint) &&
                                     EntryImagePath(e).empty())
                                  : (EntryImagePath(e) == imagePath && e.partitionStart == start &&
                                     e.partitionSectors == count);
    if (same) {
      found = &e;
      break;
    }
  }
  if (!found) {
    ScanResumeEntry e;
    std::memset(&e, 0, sizeof e);
    e.diskIndex = imagePath.empty() ? disk : 0;
    e.partitionStart = start;
    e.partitionSectors = count;
    e.freeBytes = freeNow;
    e.imageWriteTime = writeTime;
    e.mediumFingerprint = imagePath.empty() ? fingerprint : 0;
    if (!SetEntryImagePath(e, imagePath) || !SetEntryScanFolder(e, folder)) return kNameTooLong;
    entries_.push_back(e);
    found = &entries_.back();
  }
  found->rangeStart = p.rangeStart;
  found->rangeLength = p.rangeLength;
  found->rangeOffset = p.rangeOffset;
  found->sectorsDone = p.sectorsDone;
  found->filesFound = p.filesFound;
  return Save();
}

Status ScanLogFolder::FindLogFile(const std::string& part, std::string& outName, const std::string& folder) const {
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& de : fs::directory_iterator(NativePath(folder), ec)) {
    std::string n = PathText(de.path().filename());
    if (n.empty() || n[0] == '.' || n.find(part) == std::string::npos) continue;
    auto endsWith = [&](std::string_view suffix) {
      return n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (endsWith("_Relation") || endsWith("_DirInfo")) continue;
    names.push_back(n);
  }
  if (ec) return StatusFromErrno(ec.value());
  if (names.empty()) return kFileNotFound;
  // The directory order is not fixed here; the lowest name is.
  outName = *std::min_element(names.begin(), names.end());
  return kOk;
}

}  // namespace dunmere
