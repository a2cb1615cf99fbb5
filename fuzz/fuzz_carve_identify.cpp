// Every carving detector with its size rule: the fuzz bytes are a medium
// whose first sector is the candidate, identified through the format table
// and sized by the winning rule, which reads on through the medium as a deep
// scan's carving pass does.
#include <cstdint>
#include <memory>

#include "carving/carve_context.h"
#include "carving/identify_and_size.h"
#include "carving/signature_table.h"
#include "fuzz/fuzz_support.h"
#include "storage/sector_source.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::MemoryImage image(data, size, 512);
  SectorSource source;
  if (source.OpenImageFile(image.path()) != kOk) __builtin_trap();
  // One context per input, as every engine owns its own: no flags carried over.
  auto ctx = std::make_unique<CarveContext>();
  ctx->sectorSize = 512;
  ctx->source = &source;
  std::vector<uint8_t> first(512, 0);
  std::copy(data, data + std::min<size_t>(size, 512), first.begin());
  ByteView sector(first.data(), first.size());
  // The first-byte dispatch must answer what the walk over every row answers.
  const FileTypeCode byDispatch = IdentifySector(*ctx, sector);
  const FileTypeCode byWalk = IdentifyByTableWalk(*ctx, sector);
  if (byDispatch != byWalk) __builtin_trap();
  Identification id = IdentifyAndSize(*ctx, sector, 0);
  if (id.status == kOk) {
    (void)CarvedSkipSectors(id.code, id.size, 512);
    if (const SignatureRule* rule = FindRuleByCode(id.code)) (void)FindRuleByExtension(rule->extension);
    (void)MatchesSignature(*ctx, sector, id.extension, &source, 512, 0);
  }
  return 0;
}
