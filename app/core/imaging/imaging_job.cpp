#include "app/core/imaging/imaging_job.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/device_identity.h"
#include "app/core/results/text_formats.h"
#include "base/text.h"
#include "platform/block_device.h"
#include "platform/file.h"
#include "storage/disk_list.h"
#include "storage/disk_table.h"
#include "platform/native_path.h"

namespace fs = std::filesystem;

namespace dunmere {

namespace {

constexpr uint32_t kChunkBytes = 65536;
constexpr uint64_t kFat32Limit = 0xFFFFFFFFULL;  // largest file FAT32 can hold
constexpr uint64_t kFatLimit = 0x80000000ULL;

struct OpenedSource {
  File file;
  uint32_t sectorSize = 512;
  uint64_t totalSectors = 0;
  bool isDevice = false;
};

std::string SourcePathOf(const ImagingJob& job) {
  return job.diskIndex >= 0 ? DiskTable::DevicePath(uint32_t(job.diskIndex)) : job.sourcePath;
}

Status OpenSource(const ImagingJob& job, OpenedSource& src) {
  std::string path = SourcePathOf(job);
  if (path.empty()) return kFileNotFound;
  if (Status s = src.file.Open(path, File::Mode::kRead)) return s;
  BlockGeometry g;
  if (Status s = QueryBlockGeometry(src.file, g)) return s;
  src.isDevice = g.isBlockDevice;
  src.sectorSize = job.sectorSize ? job.sectorSize : (g.isBlockDevice ? g.bytesPerSector : 512);
  src.totalSectors = g.lengthBytes ? g.lengthBytes / src.sectorSize
                                   : g.cylinders * g.tracksPerCylinder * g.sectorsPerTrack;
  return kOk;
}

// The range to copy; 87 when it reaches past the source.
Status ResolveRange(const ImagingJob& job, uint64_t totalSectors, uint64_t& count) {
  if (job.firstSector > totalSectors) return kInvalidArg;
  count = job.sectorCount ? job.sectorCount : totalSectors - job.firstSector;
  if (count > totalSectors - job.firstSector) return kInvalidArg;
  return count ? kOk : kInvalidArg;
}

void AddBad(std::vector<BadRange>& v, uint64_t off, uint64_t len) {
  if (!v.empty() && v.back().offset + v.back().length == off)
    v.back().length += len;
  else
    v.push_back({off, len});
}

// ddrescue's map: every byte of the image is finished ('+'), bad ('-') or not
// tried ('?' past where imaging stopped).
Status WriteMap(const std::string& path, const std::vector<BadRange>& bad, uint64_t reached, uint64_t total) {
  std::string out = "# Mapfile. Created by dunmere-cli\n# current_pos  current_status  current_pass\n";
  char line[128];
  std::snprintf(line, sizeof line, "0x%08llX     %c               1\n", (unsigned long long)reached,
                reached >= total ? '+' : '?');
  out += line;
  out += "#      pos        size  status\n";
  auto emit = [&](uint64_t pos, uint64_t size, char st) {
    if (!size) return;
    std::snprintf(line, sizeof line, "0x%08llX  0x%08llX  %c\n", (unsigned long long)pos, (unsigned long long)size,
                  st);
    out += line;
  };
  uint64_t pos = 0;
  for (const BadRange& b : bad) {
    emit(pos, b.offset - pos, '+');
    emit(b.offset, b.length, '-');
    pos = b.offset + b.length;
  }
  emit(pos, reached > pos ? reached - pos : 0, '+');
  if (total > std::max(pos, reached)) emit(std::max(pos, reached), total - std::max(pos, reached), '?');
  return WriteFileAtomically(path, out.data(), out.size());
}

}  // namespace

Status ImageSourceBytes(const ImagingJob& job, uint64_t& bytes) {
  bytes = 0;
  uint64_t count = 0;
  if (job.reader) {
    count = job.sectorCount;
    bytes = count * job.sectorSize;
    return bytes ? kOk : kInvalidArg;
  }
  OpenedSource src;
  if (Status s = OpenSource(job, src)) return s;
  if (Status s = ResolveRange(job, src.totalSectors, count)) return s;
  bytes = count * src.sectorSize;
  return kOk;
}

Status CopySourceToImage(ImagingJob& job) {
  job.bytesWritten = 0;
  job.badRanges.clear();
  job.mapWanted = job.continueOnErrors;
  job.mapStatus = kOk;
  bool goOn = job.continueOnErrors;
  OpenedSource src;
  SectorReader read = job.reader;
  uint32_t ss = job.sectorSize;
  uint64_t count = job.sectorCount;
  if (!read) {
    if (Status s = OpenSource(job, src)) return s;
    ss = src.sectorSize;
    if (Status s = ResolveRange(job, src.totalSectors, count)) return s;
    // Writes still cached for a mounted volume reach the device before it is read raw.
    if (src.isDevice) FlushSystemCaches();
    const File* file = &src.file;
    read = [file, ss](uint64_t sector, uint32_t n, uint8_t* buf, uint32_t& got) -> Status {
      size_t done = 0;
      (void)file->ReadAt(sector * ss, buf, size_t(n) * ss, done);  // a failed read still gives what arrived
      got = uint32_t(done / ss);
      return got == n ? kOk : kReadFault;
    };
  }
  if (ss == 0 || ss > kChunkBytes || count == 0) return kInvalidArg;

  // An image made earlier at that path is replaced whole, never patched.
  File out;
  if (Status s = out.Open(job.imagePath, File::Mode::kReplace)) return s;
  std::string mapPath = job.mapPath.empty() ? job.imagePath + ".map" : job.mapPath;

  const uint64_t total = count * ss;
  std::vector<uint8_t> buf(kChunkBytes);
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto lastEstimate = start;
  int64_t secondsLeft = -1;
  Status result = kOk;
  uint64_t done = 0;
  while (done < total) {
    uint32_t chunk = uint32_t(std::min<uint64_t>(kChunkBytes, total - done));
    uint32_t sectors = chunk / ss;
    uint64_t sector = job.firstSector + done / ss;
    uint32_t got = 0;
    Status rs = read(sector, sectors, buf.data(), got);
    if (rs || got < sectors) {
      if (got > sectors) got = sectors;
      if (!goOn && job.askOnReadError && job.askOnReadError()) goOn = job.mapWanted = true;
      if (!goOn) {
        // What did arrive is kept, then imaging stops at the first bad sector.
        if (got) {
          if (Status w = out.WriteAt(done, buf.data(), size_t(got) * ss)) {
            result = w;
            break;
          }
          done += uint64_t(got) * ss;
        }
        result = kReadFault;
        break;
      }
      // Sector by sector over the rest of the chunk; bad ones become zeros.
      for (uint32_t i = got; i < sectors; ++i) {
        uint32_t one = 0;
        uint8_t* p = buf.data() + size_t(i) * ss;
        if (read(sector + i, 1, p, one) || one != 1) {
          std::memset(p, 0, ss);
          AddBad(job.badRanges, done + uint64_t(i) * ss, ss);
        }
      }
    }
    if (Status w = out.WriteAt(done, buf.data(), chunk)) {
      result = w;
      break;
    }
    done += chunk;
    auto now = Clock::now();
    if (now - lastEstimate > std::chrono::milliseconds(4999)) {
      lastEstimate = now;
      int64_t secs = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
      uint64_t speed = done / uint64_t(std::max<int64_t>(1, secs));
      if (speed == 0) speed = 1;
      secondsLeft = int64_t((total - done) / speed);
    }
    if (job.progress) {
      int percent = int(done * 100 / total);
      if (int answer = job.progress(job.user, percent, done / ss, total / ss, secondsLeft)) {
        result = answer;
        break;
      }
    }
  }
  job.bytesWritten = done;
  if (Status c = out.Close(); c && result == kOk) result = c;
  if (job.mapWanted) {
    job.mapStatus = WriteMap(mapPath, job.badRanges, done, total);
    if (result == kOk) result = job.mapStatus;
  }
  return result;
}

ImageCheck CheckImageDestination(uint64_t sourceBytes, bool onSource, std::string_view fsName, bool freeKnown,
                                 uint64_t freeBytes) {
  if (onSource) return ImageCheck::kOnSource;
  std::string upper(fsName);
  for (char& c : upper) c = char(toupper(uint8_t(c)));
  // exFAT holds files of any size; every other FAT holds at most 4 GiB - 1,
  // and FAT12/16 volumes are held to 2 GiB.
  bool exfat = upper.find("EXFAT") != std::string::npos;
  bool fat32 = !exfat && (upper.find("FAT32") != std::string::npos || upper == "VFAT" || upper == "MSDOS");
  bool fat = !exfat && !fat32 && upper.find("FAT") != std::string::npos;
  if (fat32 && sourceBytes > kFat32Limit) return ImageCheck::kTooBigForFat32;
  if (fat && sourceBytes > kFatLimit) return ImageCheck::kTooBigForFat;
  if (freeKnown && freeBytes < sourceBytes) return ImageCheck::kNotEnoughSpace;
  return ImageCheck::kOk;
}

DestinationFacts GatherDestinationFacts(const std::string& imagePath, const std::string& sourcePath) {
  DestinationFacts f;
  std::error_code ec;
  const std::string folder = PathText(fs::absolute(NativePath(imagePath), ec).parent_path());
  // An image file imaged over itself would be emptied before it is read.
  f.onSource = SameFile(imagePath, sourcePath) || DestinationOnSource(imagePath, sourcePath);
  (void)GetVolumeFsName(folder, f.fsName);  // unknown: no size limit applies
  f.freeKnown = GetVolumeFreeBytes(folder, f.freeBytes) == kOk;
  // The file about to be replaced gives its space back.
  if (f.freeKnown) f.freeBytes += AllocatedBytes(imagePath);
  return f;
}

ImageCheck CheckImageDestinationPath(const std::string& imagePath, const std::string& sourcePath,
                                     uint64_t sourceBytes) {
  const DestinationFacts f = GatherDestinationFacts(imagePath, sourcePath);
  return CheckImageDestination(sourceBytes, f.onSource, f.fsName, f.freeKnown, f.freeBytes);
}

std::string ImageCheckMessage(ImageCheck c) {
  switch (c) {
    case ImageCheck::kOk: return "";
    case ImageCheck::kOnSource: return "the image file would be written to the device being imaged";
    case ImageCheck::kTooBigForFat32:
      return "the destination is a FAT32 volume, which cannot hold a file of 4 GiB or more";
    case ImageCheck::kTooBigForFat: return "the destination is a FAT volume, which cannot hold a file over 2 GiB";
    case ImageCheck::kNotEnoughSpace: return "not enough free space on the destination for the image";
  }
  return "";
}

}  // namespace dunmere
