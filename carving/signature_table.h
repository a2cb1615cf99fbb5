#pragma once
// The table of carvable formats: for each, the extension a carved file gets,
// its type code, the detector that recognises its first sector and the size
// rule that tells how far it reaches. Detection walks the rows in order and the
// first detector that answers wins. Which names a format goes by is kept with
// the other file formats (engine/formats/).
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "carving/carve_context.h"
#include "engine/formats/file_type_code.h"
#include "base/bytes.h"

namespace dunmere {

class SectorSource;

// (sector bytes) -> type code, kNoMatch when the sector is not of the format.
using Detector = FileTypeCode (*)(CarveContext& ctx, ByteView sector);
// (first sector bytes) -> size of the file in bytes.
using SizeRule = uint64_t (*)(CarveContext& ctx, ByteView sector);

// A detector together with the first bytes it can possibly accept, so that a
// sector is only shown to the detectors its first byte allows.
struct DetectorInfo {
  Detector detect = nullptr;
  std::array<int16_t, 4> firstBytes{-1, -1, -1, -1};
  bool anyFirstByte = false;
  // For the content check of a file whose name already gives its format: a
  // start that real files have but that is too common inside other data to
  // begin a carve (an MP3 frame without a tag, say). nullptr: none.
  bool (*namedFileStart)(ByteView sector) = nullptr;
  // For a detector that takes any first byte: the bytes at offset 4 it can
  // possibly accept (-1: any), so that it is not called on every sector.
  std::array<int16_t, 2> fifthBytes{-1, -1};
  // For a detector that reads past its sector or looks at the pass's state:
  // whether it might for this sector, from the sector's bytes alone (false
  // only where it answers kNoMatch without either). nullptr: it judges the
  // sector's bytes only, so it can be asked on any thread.
  bool (*looksFurther)(ByteView sector) = nullptr;
};

struct SignatureRule {
  const char* extension;  // lower case, without the point; empty in the end row
  FileTypeCode code;
  const DetectorInfo* detector;
  SizeRule sizeRule;  // nullptr: recognised, never carved
  // After a carve the pass goes on at the next sector rather than past the
  // file: the size comes from a header field, which might be wrong.
  bool rescanInside = false;
};

// All rows in table order, the end row (kNoMatch) last.
std::span<const SignatureRule> SignatureTable();
// First row carrying the code (nullptr for kNoMatch or an unknown code).
const SignatureRule* FindRuleByCode(FileTypeCode code);
// The row of the format an extension names, regardless of case (nullptr if none).
const SignatureRule* FindRuleByExtension(std::string_view ext);

// The answer of the table walk for one sector, through the first-byte dispatch.
FileTypeCode IdentifySector(CarveContext& ctx, ByteView sector);
// True only where IdentifySector answers kNoMatch whatever the pass's state,
// decided from the sector's bytes alone, so that a thread reading ahead can
// judge sectors for the pass. False also where that needs more than the bytes.
bool NoFormatStartsIn(ByteView sector);
// The same answer by calling every row's detector in table order; slower, kept
// as the reference the dispatch is checked against.
FileTypeCode IdentifyByTableWalk(CarveContext& ctx, ByteView sector);

// Whether a found file's first sector still holds content of the kind its
// extension promises. Unknown extensions cannot be judged and answer true.
bool MatchesSignature(CarveContext& ctx, ByteView sector, std::string_view extension, const SectorSource* source,
                      uint32_t sectorSize, uint64_t startSector);

}  // namespace dunmere
