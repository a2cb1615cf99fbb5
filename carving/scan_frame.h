#pragma once
// The forward scan shared by the size rules that find a file's end by reading
// on: chunks of the look-ahead buffer are read after the first sector until
// the next file header or metadata sector, the format's own end marker, or the
// rule's cap.
#include <cstdint>

#include "carving/carve_context.h"
#include "engine/formats/file_type_code.h"
#include "base/bytes.h"

namespace dunmere {

inline constexpr uint64_t kCap8MiB = 0x800000;
inline constexpr uint64_t kCap128MiB = 0x8000000;
inline constexpr uint64_t kCap256MiB = 0x10000000;
inline constexpr uint64_t kCap512MiB = 0x20000000;
inline constexpr uint64_t kCap1GiB = 0x40000000;
inline constexpr uint64_t kCap2GiB = 0x80000000;
inline constexpr uint64_t kCap4GiB = 0x100000000;
inline constexpr uint64_t kCap6GiB = 0x180000000;
inline constexpr uint64_t kCap64GiB = 0x1000000000;
inline constexpr uint64_t kCapOle = 0x7FFFFFF;

// An end marker ending at byte `end` of a sector-aligned buffer counts when it
// ends on a sector boundary or only zero bytes follow it in its sector.
bool ZeroPaddingOk(ByteView buf, size_t end, uint32_t sectorSize);

// A sector the forward scan passes over whatever the pass's state: no format
// starts in it and it is no metadata (`directorySector` as the context's).
// From the sector's bytes alone, so a thread reading ahead can judge it.
bool PlainSector(ByteView sector, SectorTest directorySector);

// Looks for the first sector of `chunk` that starts another file or is file
// system metadata; on a hit adds its offset to `size` and answers true.
// Advances ctx.currentSector by one per sector examined.
bool ScanToNextHeader(CarveContext& ctx, ByteView chunk, uint64_t& size);
// The same, except that MPEG pack headers (answer kMpeg) do not count.
bool ScanToNextHeaderMpeg(CarveContext& ctx, ByteView chunk, uint64_t& size);
// The same, except that sectors answering `own` (the format being sized,
// whose stream repeats its header) do not count. `plain`: a flag per sector
// of the chunk, set where PlainSector judged it already, or null.
bool ScanToNextOtherHeader(CarveContext& ctx, ByteView chunk, uint64_t& size, FileTypeCode own,
                           const uint8_t* plain = nullptr);

// A format's own end search. Called with the first sector and then with each
// chunk, cut before the next header when one was found; `fileOffset` is where
// `bytes` lie in the file. Answers true when it has fixed the end (in `end`).
class EndSearch {
 public:
  virtual ~EndSearch() = default;
  virtual bool Search(CarveContext& ctx, ByteView bytes, uint64_t fileOffset, uint64_t& end) = 0;
  // Whether a header found at file offset `headerAt` (inside `bytes`, which
  // lie at `fileOffset`) is a part of this file, so that it does not end it.
  virtual bool HoldsHeaderAt(CarveContext&, ByteView /*bytes*/, uint64_t /*fileOffset*/, uint64_t /*headerAt*/) {
    return false;
  }
};

// Runs the frame for the file whose first sector is `first` (at
// ctx.candidateStart). Returns the size: the end found by `search`, else the
// extent up to the next header, the cap, a read error or a stop request.
// `own`: a code whose headers do not end the file (kNoMatch: every header does).
uint64_t RunScanFrame(CarveContext& ctx, ByteView first, uint64_t cap, EndSearch* search,
                      FileTypeCode own = kNoMatch);

// Offsets of a byte pattern in a buffer.
size_t FindFirst(ByteView buf, const uint8_t* pat, size_t len, size_t from = 0);
size_t FindLast(ByteView buf, const uint8_t* pat, size_t len);
inline constexpr size_t kNotFound = size_t(-1);

}  // namespace dunmere
