#pragma once
// One identification of a candidate sector: the table walk, the continuation
// flags of the transport-stream detectors, and the size rule of the answer.
#include <cstdint>
#include <string>

#include "carving/carve_context.h"
#include "engine/formats/file_type_code.h"
#include "base/bytes.h"
#include "base/status.h"

namespace dunmere {

struct Identification {
  // 0: a file was sized; kInvalidArg: nothing to carve here; kStopRequested.
  Status status = kInvalidArg;
  FileTypeCode code = kNoMatch;
  const char* extension = "";
  uint64_t size = 0;
  // The file's own structure did not close at `size` (see CarveContext::partial).
  bool partial = false;
};

// The caller fills ctx.sectorSize, ctx.source and ctx.progress; the candidate
// and current sector are set here to `sector`. `noFormatStarts`: the sector
// was judged already (NoFormatStartsIn), so it is not identified again.
Identification IdentifyAndSize(CarveContext& ctx, ByteView sectorBytes, uint64_t sector,
                               bool noFormatStarts = false);

// Sectors the carving pass may skip after a carved file: one for formats whose
// size comes from a header field (it might be wrong), else the whole file.
uint64_t CarvedSkipSectors(FileTypeCode code, uint64_t size, uint32_t sectorSize);

}  // namespace dunmere
