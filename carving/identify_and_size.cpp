#include "carving/identify_and_size.h"

#include "carving/signature_table.h"

namespace dunmere {

Identification IdentifyAndSize(CarveContext& ctx, ByteView sectorBytes, uint64_t sector, bool noFormatStarts) {
  Identification out;
  ctx.candidateStart = sector;
  ctx.currentSector = sector;
  FileTypeCode code = noFormatStarts ? kNoMatch : IdentifySector(ctx, sectorBytes);
  // Whatever the answer, a transport stream that follows continues what was
  // seen; only an M2TS file just carved keeps its flag.
  ctx.tsContinuation = true;
  ctx.m2tsContinuation = false;
  out.code = code;
  const SignatureRule* row = FindRuleByCode(code);
  if (!row || !row->sizeRule) return out;
  out.extension = row->extension;
  if (code != kTs) ctx.tsContinuation = false;
  if (code == kMts) ctx.m2tsContinuation = true;
  ctx.stopResult = kOk;
  ctx.currentSector = sector;
  ctx.partial = false;
  out.size = row->sizeRule(ctx, sectorBytes);
  out.partial = ctx.partial;
  out.status = ctx.stopResult == kStopRequested ? Status(kStopRequested) : kOk;
  return out;
}

uint64_t CarvedSkipSectors(FileTypeCode code, uint64_t size, uint32_t sectorSize) {
  const SignatureRule* row = FindRuleByCode(code);
  if ((row && row->rescanInside) || !sectorSize) return 1;
  return (size + sectorSize - 1) / sectorSize;
}

}  // namespace dunmere
