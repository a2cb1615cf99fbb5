#pragma once
// Picture formats: JPEG, PNG, GIF, BMP, PSD, TIFF, ICO.
#include "carving/signature_table.h"

namespace dunmere {

extern const DetectorInfo kJpegDetector, kPngDetector, kGifDetector, kBmpDetector, kPsdDetector, kTifDetector,
    kIcoDetector;

uint64_t JpegSize(CarveContext& ctx, ByteView sector);
uint64_t PngSize(CarveContext& ctx, ByteView sector);
uint64_t GifSize(CarveContext& ctx, ByteView sector);
uint64_t BmpSize(CarveContext& ctx, ByteView sector);
uint64_t PsdSize(CarveContext& ctx, ByteView sector);
uint64_t TifSize(CarveContext& ctx, ByteView sector);
uint64_t IcoSize(CarveContext& ctx, ByteView sector);

}  // namespace dunmere
