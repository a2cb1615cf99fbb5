#include "carving/carve_context.h"

#include <algorithm>

#include "storage/sector_source.h"

namespace dunmere {

LookAheadBuffer::LookAheadBuffer()
    : window_(new uint8_t[kLookAheadBytes]()), probe_(new uint8_t[kProbeBytes]()) {}

uint32_t CarveContext::Readable(uint32_t capacity, uint64_t sector, uint32_t count) const {
  if (!source || !source->IsOpen() || !UsableSectorSize()) return 0;
  count = std::min<uint32_t>(count, capacity / sectorSize);
  uint64_t inMedium = source->LengthBytes() / sectorSize;
  if (sector >= inMedium) return 0;
  // A file reaching the end of the medium keeps its last partial chunk.
  return uint32_t(std::min<uint64_t>(count, inMedium - sector));
}

uint32_t CarveContext::ReadInto(uint8_t* dst, uint32_t capacity, uint64_t sector, uint32_t count) {
  count = Readable(capacity, sector, count);
  if (count == 0) return 0;
  uint32_t got = 0;
  (void)source->ReadSectors(count, dst, sector, sectorSize, got);
  return got;
}

uint32_t CarveContext::ReadWindow(uint64_t sector, uint32_t count) {
  window_ = lookAhead.Window();
  windowPlain_ = nullptr;
  if (feed) {
    const uint32_t n = Readable(kLookAheadBytes, sector, count);
    if (n == 0) return 0;
    if (const uint8_t* held = feed->Sectors(sector, n, &windowPlain_)) {
      window_ = held;
      return n;
    }
    windowPlain_ = nullptr;
  }
  return ReadInto(lookAhead.Window(), kLookAheadBytes, sector, count);
}

uint32_t CarveContext::ReadProbe(uint64_t sector, uint32_t count, uint32_t offset) {
  if (offset >= LookAheadBuffer::kProbeBytes) return 0;
  return ReadInto(lookAhead.Probe() + offset, LookAheadBuffer::kProbeBytes - offset, sector, count);
}

ByteView CarveContext::ReadFileBytes(uint64_t fileStart, uint64_t offset, uint32_t length) {
  if (!UsableSectorSize() || length == 0) return {};
  uint64_t first = offset / sectorSize;
  uint64_t last = (offset + length - 1) / sectorSize;
  uint64_t count = last - first + 1;
  if (count * sectorSize > LookAheadBuffer::kProbeBytes) return {};
  if (fileStart + first < fileStart) return {};
  if (ReadProbe(fileStart + first, uint32_t(count)) != count) return {};
  return ByteView(lookAhead.Probe() + (offset - first * sectorSize), length);
}

bool CarveContext::ReportProgress(uint64_t sectorsReadByRule) {
  if (!progress.callback) return true;
  uint64_t at = progress.sectorsDone + sectorsReadByRule;
  uint64_t total = progress.sectorsTotal ? progress.sectorsTotal : 1;
  int percent = int(at * 100 / total + 10);
  int answer = progress.callback(progress.user, percent, progress.share, progress.secondsLeft, at,
                                 progress.sectorsTotal, progress.filesFound, 0);
  if (answer != 0) {
    stopResult = answer;
    return false;
  }
  return true;
}

bool CarveContext::InCarvedStream(uint64_t sector) const {
  for (const auto& r : streamRanges)
    if (sector >= r.firstSector && sector <= r.lastSector) return true;
  return false;
}

}  // namespace dunmere
