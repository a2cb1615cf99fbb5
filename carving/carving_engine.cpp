#include "carving/carving_engine.h"

#include "engine/log_name.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "carving/identify_and_size.h"
#include "engine/formats/file_format.h"
#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "platform/file.h"
#include "platform/local_time.h"
#include "platform/native_path.h"
#include "engine/destination_name.h"

namespace fs = std::filesystem;

namespace dunmere {

namespace {

constexpr uint32_t kChunkBytes = 65536;
// Internal answer of the preview sink once the caller's buffer is full.
constexpr int kBufferFull = -9600;

bool UsableSectorSize(uint32_t s) { return s >= 32 && s <= kChunkBytes; }

// A log name from the scan folder's listing is one plain file name.
bool PlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

int Percent(uint64_t done, uint64_t total) {
  return total ? int(std::min<uint64_t>(100, done * 100 / total)) : 100;
}

}  // namespace

std::string CarvingLogName(uint64_t start, const struct tm& t) { return FormatLogName("File_Type_", start, t); }

CarvingEngine::~CarvingEngine() {
  store_.reset();
  source_.Close();
}

void CarvingEngine::Reset(uint16_t tag, uint64_t start, uint64_t count, uint32_t sectorSize) {
  store_.reset();
  source_.Close();
  tag_ = tag;
  startSector_ = start;
  sectorCount_ = count;
  sectorSize_ = sectorSize;
}

static struct tm LocalNow() { return LocalTimeNow(); }

Status CarvingEngine::Open(const Medium& medium, uint16_t tag) {
  // An image is counted in 512-byte sectors; a disk in its own when carving can use them.
  Reset(tag, medium.start, medium.count, 512);
  source_ = medium.source.Share();
  if (!medium.IsImage() && UsableSectorSize(source_.UnitSize())) sectorSize_ = source_.UnitSize();
  return OpenStore(CarvingLogName(medium.start, LocalNow()));
}

Status CarvingEngine::Resume(const Medium& medium, uint32_t sectorSize, const std::string& logName, uint16_t tag) {
  if (!UsableSectorSize(sectorSize) || !PlainFileName(logName)) return kInvalidArg;
  Reset(tag, 0, 0, sectorSize);
  source_ = medium.source.Share();
  if (!source_.IsOpen()) return kInvalidArg;
  sectorCount_ = source_.LengthBytes() / sectorSize;
  return OpenStore(logName);
}

Status CarvingEngine::ResumeOnDisk(uint32_t sectorSize, uint32_t disk, const std::string& logName, uint16_t tag) {
  if (!UsableSectorSize(sectorSize) || !PlainFileName(logName)) return kInvalidArg;
  Medium medium;
  if (Status s = OpenDiskMedium(disk, 0, ~uint64_t(0), medium)) return s;
  return Resume(medium, sectorSize, logName, tag);
}

Status CarvingEngine::ResumeOnImage(uint32_t sectorSize, const std::string& logName, uint16_t tag,
                                    const std::string& imagePath) {
  if (!UsableSectorSize(sectorSize) || !PlainFileName(logName)) return kInvalidArg;
  Medium medium;
  if (Status s = OpenImageMedium(imagePath, medium)) return s;
  return Resume(medium, sectorSize, logName, tag);
}

Status CarvingEngine::SetCallbacks(ScanProgressCallback progress, DataCallback data, void* user, int share) {
  (void)StoreEngine::SetCallbacks(progress, data, user, share);
  ctx_.progress.callback = progress;
  ctx_.progress.user = user;
  ctx_.progress.share = share;
  return kOk;
}

Status CarvingEngine::SetSearchCallback(SearchProgressCallback cb, void* user) {
  if (!store_) return kInvalidArg;
  return StoreEngine::SetSearchCallback(cb, user);
}

Status CarvingEngine::GetFolderPath(const FoundItemRecord*, std::string& out) {
  out.clear();
  return kOk;
}

uint64_t CarvingEngine::BytesToEnd(const SectorSource& source, uint32_t sectorSize, uint64_t sector) const {
  uint64_t sectors = source.LengthBytes() / sectorSize;
  return sector < sectors ? (sectors - sector) * sectorSize : 0;
}

Status CarvingEngine::CarveAtSector(uint32_t sectorSize, ByteView sectorBytes, uint64_t sector,
                                        const CarveScanProgress& progress, const SectorSource* source,
                                        uint64_t& skip, uint64_t& foundCounter, bool judgedPlain) {
  if (!source) source = &source_;
  // The detectors and rules read a whole sector; a shorter buffer is never carved.
  if (!store_ || !source->IsOpen() || !UsableSectorSize(sectorSize) || sectorBytes.size() < sectorSize)
    return kInvalidArg;
  uint64_t toEnd = BytesToEnd(*source, sectorSize, sector);
  if (toEnd == 0) return kInvalidArg;  // a sector the medium does not hold
  // The detectors assume one sector; more would let a rule size from bytes of the next.
  if (sectorBytes.size() > sectorSize) sectorBytes = ByteView(sectorBytes.data(), sectorSize);

  ctx_.sectorSize = sectorSize;
  ctx_.source = source;
  ctx_.progress.sectorsDone = progress.sectorsDone;
  ctx_.progress.sectorsTotal = progress.sectorsTotal;
  ctx_.progress.secondsLeft = progress.secondsLeft;
  ctx_.progress.filesFound = progress.filesFound;

  Identification id;
  try {
    id = IdentifyAndSize(ctx_, sectorBytes, sector, judgedPlain);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  } catch (...) {
    return kInvalidArg;
  }
  if (id.status != kOk) return id.status;

  // Header-derived sizes are claims of the file itself: a file whose header
  // promises more than the medium holds ends with the medium.
  uint64_t size = std::min(id.size, toEnd);

  FoundItemRecord r = MakeEmptyRecord();
  r.sourceTag = tag_;
  r.sourceKind = kSourceCarving;
  r.isFolder = 0;
  // Cut by the medium's end, or a structure that did not close: partial.
  r.contentOk = id.partial || id.size > toEnd ? kContentPartial : kContentOk;
  r.itemId = 0;
  r.clusterBytes = kNoClusterSize;
  r.size = size;
  r.dataAreaStart = 0;
  r.location = sector;
  SetRecordName(r, std::to_string(sector) + "." + id.extension);
  store_->Append(r, 0, 0);

  skip = std::max<uint64_t>(1, CarvedSkipSectors(id.code, size, sectorSize));
  ++foundCounter;
  return kOk;
}

Status CarvingEngine::ReadRange(const FoundItemRecord& record, uint64_t limit, const ContentSink& sink) {
  if (!source_.IsOpen() || !UsableSectorSize(sectorSize_)) return kReadFault;
  uint64_t toEnd = BytesToEnd(source_, sectorSize_, record.location);
  if (toEnd == 0) return kDataPastEnd;  // nothing of the file lies on the medium
  // A record from a damaged log never makes us read past the medium.
  uint64_t size = std::min({record.size, limit, toEnd});
  std::vector<uint8_t> chunk(kChunkBytes);
  const uint32_t perChunk = kChunkBytes / sectorSize_;
  uint64_t done = 0;
  while (done < size) {
    uint64_t leftSectors = (size - done + sectorSize_ - 1) / sectorSize_;
    uint32_t want = uint32_t(std::min<uint64_t>(perChunk, leftSectors));
    uint32_t got = 0;
    Status s = source_.ReadSectors(want, chunk.data(), record.location + done / sectorSize_, sectorSize_, got);
    if (got == 0) return s ? s : kReadFault;
    size_t use = size_t(std::min<uint64_t>(uint64_t(got) * sectorSize_, size - done));
    if (int answer = sink(chunk.data(), use)) return answer;
    done += use;
    if (s) return s;
  }
  return kOk;
}

Status CarvingEngine::ReadContent(const FoundItemRecord& record, const ContentSink& sink) {
  return ReadRange(record, UINT64_MAX, sink);
}

Status CarvingEngine::RecoverItem(const FoundItemRecord& record, const std::string& destination, int) {
  // Carving makes files only; a folder flag can come from a damaged log alone.
  if (record.isFolder || destination.empty()) return kInvalidArg;
  std::string target = destination;
  std::error_code ec;
  // Given a folder, the file goes inside it under its own (made safe) name.
  if (target.back() == '/' || fs::is_directory(NativePath(target), ec)) {
    if (target.back() != '/') target += '/';
    target += DestinationName(RecordName(record), NameRuleOf(target));
  }
  fs::path parent = NativePath(target).parent_path();
  if (!parent.empty()) {
    fs::create_directories(parent, ec);
    if (ec && !fs::is_directory(parent)) return StatusFromErrno(ec.value());
  }
  return CopyFile(record, target);
}

Status CarvingEngine::ReadForPreview(const FoundItemRecord* record, std::string& path, uint8_t* buffer,
                                         uint64_t& byteCount, PreviewProgressCallback cb, void* user) {
  uint64_t capacity = byteCount;
  byteCount = 0;
  if (!record) {
    path.clear();
    if (cb) cb(user, 100, kInvalidArg);
    return kInvalidArg;
  }
  std::string name = RecordName(*record);
  size_t dot = name.rfind('.');
  // The extension with its point, so that "jpg" cannot match inside "*.jpeg" alone.
  std::string ext = dot == std::string::npos ? std::string() : AsciiLower(name.substr(dot));
  std::string dir = ScanLogFolder::Instance().ScanLogPath();
  std::string target;
  if (ext.size() > 1) {
    if (InList(ext, PreviewDocumentList())) target = dir + "/" + DestinationName(name, NameRuleOf(dir));
    bool media = InList(ext, CategoryList(Category::kAudio)) || InList(ext, CategoryList(Category::kVideo));
    if (media || InList(ext, CategoryList(Category::kPhoto))) target = dir + (media ? "/tmp.avi" : "/tmp.jpg");
  }
  if (Utf8ToUtf16(target).size() >= 260) target.clear();

  uint64_t done = 0;
  if (!target.empty()) {
    if (Status s = WritePreviewFile(*record, dir, target, cb, user)) {
      if (s > 0 && cb) cb(user, 100, s);
      path.clear();
      return s;
    }
    path = target;
    return kOk;
  }

  path.clear();
  if (!buffer) capacity = 0;
  uint64_t recordSize = record->size;  // a copy: the packed field is not aligned
  uint64_t total = std::min(recordSize, capacity);
  Status s = kOk;
  if (total > 0) {
    s = ReadRange(*record, total, [&](const uint8_t* data, size_t len) -> int {
      size_t take = size_t(std::min<uint64_t>(len, capacity - done));
      std::memcpy(buffer + done, data, take);
      done += take;
      if (int a = cb ? cb(user, Percent(done, total), kOk) : 0) return a;
      return done >= capacity ? kBufferFull : 0;
    });
    if (s == kBufferFull) s = kOk;
  }
  if (s > 0 && cb) cb(user, 100, s);
  byteCount = done;
  return s;
}

}  // namespace dunmere
