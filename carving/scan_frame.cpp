#include "carving/scan_frame.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "carving/metadata_sector.h"
#include "carving/signature_table.h"

namespace dunmere {

bool ZeroPaddingOk(ByteView buf, size_t end, uint32_t sectorSize) {
  if (sectorSize == 0) return false;
  if (end % sectorSize == 0) return true;
  size_t sectorEnd = (end / sectorSize + 1) * sectorSize;
  if (sectorEnd > buf.size()) sectorEnd = buf.size();
  if (end > sectorEnd) return false;
  for (size_t i = end; i < sectorEnd; ++i)
    if (buf.data()[i] != 0) return false;
  return true;
}

bool PlainSector(ByteView sector, SectorTest directorySector) {
  return NoFormatStartsIn(sector) && !IsMetadataSector(sector, directorySector);
}

bool ScanToNextOtherHeader(CarveContext& ctx, ByteView chunk, uint64_t& size, FileTypeCode own,
                           const uint8_t* plain) {
  uint32_t ss = ctx.sectorSize;
  if (!ctx.UsableSectorSize()) return false;
  size_t sectors = chunk.size() / ss;
  for (size_t i = 0; i < sectors; ++i) {
    ctx.currentSector += 1;
    // Judged already (by the thread reading ahead): nothing in it ends the file.
    if (plain && plain[i]) continue;
    ByteView sector = chunk.Sub(i * ss, ss);
    FileTypeCode code = IdentifySector(ctx, sector);
    bool header = code != kNoMatch && code != own;
    if (header || IsMetadataSector(sector, ctx.directorySector)) {
      size += uint64_t(i) * ss;
      return true;
    }
  }
  return false;
}

bool ScanToNextHeader(CarveContext& ctx, ByteView chunk, uint64_t& size) {
  return ScanToNextOtherHeader(ctx, chunk, size, kNoMatch);
}
bool ScanToNextHeaderMpeg(CarveContext& ctx, ByteView chunk, uint64_t& size) {
  return ScanToNextOtherHeader(ctx, chunk, size, kMpeg);
}

uint64_t RunScanFrame(CarveContext& ctx, ByteView first, uint64_t cap, EndSearch* search, FileTypeCode own) {
  uint32_t ss = ctx.sectorSize;
  uint64_t size = ss;
  if (!ctx.UsableSectorSize()) return size;
  uint64_t end = 0;
  if (search && search->Search(ctx, first.Sub(0, ss), 0, end)) return end;
  uint64_t remaining = cap / ss;
  uint32_t chunk = ctx.SectorsPerWindow();
  uint64_t readSoFar = 0;
  while (remaining > 0) {
    uint32_t n = uint32_t(std::min<uint64_t>(chunk, remaining));
    uint64_t start = ctx.candidateStart + 1 + readSoFar;
    uint32_t got = ctx.ReadWindow(start, n);
    if (got == 0) break;
    readSoFar += got;
    if (!ctx.ReportProgress(readSoFar)) break;
    ByteView bytes = ctx.WindowView(got);
    const uint8_t* plain = ctx.WindowPlain();
    ctx.currentSector = start - 1;
    uint64_t headerSize = size;
    bool header = false;
    for (size_t from = 0; from < bytes.size();) {
      headerSize = size + from;
      header = ScanToNextOtherHeader(ctx, bytes.Sub(from, bytes.size() - from), headerSize, own,
                                     plain ? plain + from / ss : nullptr);
      if (!header || !search || !search->HoldsHeaderAt(ctx, bytes, size, headerSize)) break;
      // The file's own part: the look for the next header goes on after it.
      header = false;
      from = size_t(headerSize - size) + ss;
    }
    // The end search only sees this file's part of the chunk: a marker of
    // the file that follows must not become this one's end.
    size_t searchable = header ? size_t(headerSize - size) : bytes.size();
    if (search && search->Search(ctx, bytes.Sub(0, searchable), size, end)) return end;
    if (header) return headerSize;
    size += uint64_t(got) * ss;
    remaining -= got;
    if (got < n) break;
  }
  return size;
}

namespace {
// A first-byte hit is rarely a match: the second byte says so without a call.
inline bool Matches(const uint8_t* p, const uint8_t* pat, size_t len) {
  return (len < 2 || p[1] == pat[1]) && std::memcmp(p, pat, len) == 0;
}
}  // namespace

size_t FindFirst(ByteView buf, const uint8_t* pat, size_t len, size_t from) {
  if (len == 0 || from > buf.size() || buf.size() - from < len) return kNotFound;
  // End markers are searched over every byte a size rule looks ahead over.
  // memchr on the first byte is several times faster than a search on media
  // data; where the first byte is too common (zero runs), Boyer-Moore-Horspool
  // takes over.
  const uint8_t* base = buf.data();
  const uint8_t* p = base + from;
  const uint8_t* last = base + buf.size() - len;  // the last place a match can start
  size_t misses = 0;
  while (p <= last) {
    const void* hit = std::memchr(p, pat[0], size_t(last - p) + 1);
    if (!hit) return kNotFound;
    p = static_cast<const uint8_t*>(hit);
    if (Matches(p, pat, len)) return size_t(p - base);
    ++p;
    if (++misses > 64 && size_t(p - (base + from)) < misses * 32) {
      const uint8_t* end = base + buf.size();
      const uint8_t* m = std::search(p, end, std::boyer_moore_horspool_searcher(pat, pat + len));
      return m != end ? size_t(m - base) : kNotFound;
    }
  }
  return kNotFound;
}

size_t FindLast(ByteView buf, const uint8_t* pat, size_t len) {
  if (len == 0 || buf.size() < len) return kNotFound;
  // Blocks from the end, each searched forward with memchr (a byte-wise
  // backward loop took a third of a carving pass); the last match in the
  // last block holding one wins.
  constexpr size_t kBlock = 4096;
  const uint8_t* base = buf.data();
  size_t hi = buf.size() - len + 1;  // candidate starts are below this
  while (hi > 0) {
    const size_t lo = hi > kBlock ? hi - kBlock : 0;
    size_t found = kNotFound;
    for (const uint8_t* p = base + lo; p < base + hi;) {
      const void* hit = std::memchr(p, pat[0], size_t(base + hi - p));
      if (!hit) break;
      p = static_cast<const uint8_t*>(hit);
      if (Matches(p, pat, len)) found = size_t(p - base);
      ++p;
    }
    if (found != kNotFound) return found;
    hi = lo;
  }
  return kNotFound;
}

}  // namespace dunmere
