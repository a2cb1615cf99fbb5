#pragma once
// Archive formats: gzip, 7z, zip, RAR, cabinet, Ghost images.
#include "carving/signature_table.h"

namespace dunmere {

extern const DetectorInfo kGzDetector, k7zDetector, kZipDetector, kRarDetector, kCabDetector, kGhoDetector;

uint64_t GzSize(CarveContext& ctx, ByteView sector);
uint64_t SevenZipSize(CarveContext& ctx, ByteView sector);
uint64_t ZipSize(CarveContext& ctx, ByteView sector);
uint64_t RarSize(CarveContext& ctx, ByteView sector);
uint64_t CabSize(CarveContext& ctx, ByteView sector);

}  // namespace dunmere
