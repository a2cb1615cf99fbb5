#include "carving/sig_pictures.h"

#include <algorithm>
#include <utility>

#include "carving/gif_walk.h"
#include "carving/jpeg_walk.h"
#include "carving/png_walk.h"
#include "carving/psd_walk.h"
#include "carving/scan_frame.h"
#include "carving/structure_walk.h"
#include "carving/tiff_walk.h"

namespace dunmere {
namespace {

const uint8_t kJpegEnd[] = {0xFF, 0xD9};
const uint8_t kGifTrailer[] = {0x00, 0x3B};
const uint8_t kPngEnd[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

FileTypeCode DetectJpeg(CarveContext&, ByteView s) {
  if (s.size() < 16 || s.U8(0) != 0xFF || s.U8(1) != 0xD8 || s.U8(2) != 0xFF) return kNoMatch;
  const uint8_t marker = s.U8(3);
  if (marker == 0xE0) return s.Equals(6, "JFIF") ? kJpg : kNoMatch;
  if (marker == 0xE1) return s.Equals(6, "Exif") || s.Equals(6, "http") ? kJpg : kNoMatch;
  // Many cameras and encoders start straight with a table, a comment or
  // another application segment; without these, valid pictures were neither
  // carved nor accepted by the file systems' content check.
  const bool segment = marker == 0xDB || marker == 0xC4 || marker == 0xFE || (marker >= 0xE2 && marker <= 0xEF);
  return segment && s.B16(4) >= 2 ? kJpg : kNoMatch;
}

FileTypeCode DetectPng(CarveContext&, ByteView s) {
  static const uint8_t sig[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return s.size() >= 8 && std::equal(sig, sig + 8, s.data()) ? kPng : kNoMatch;
}

FileTypeCode DetectGif(CarveContext&, ByteView s) {
  if (s.size() < 8 || !s.Equals(0, "GIF")) return kNoMatch;
  auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  uint8_t letter = s.U8(5);
  return digit(s.U8(3)) && digit(s.U8(4)) && letter >= 'a' && letter <= 'z' ? kGif : kNoMatch;
}

// Every info header size that real writers use: OS/2 1.x (12), Windows 3
// (40), the Adobe extensions (52, 56), OS/2 2.x (64, or 16 when cut short),
// version 4 (108) and version 5 (124, ImageMagick's default). Only 40 was
// taken, so version 4 and 5 pictures were hidden as damaged and never carved.
FileTypeCode DetectBmp(CarveContext&, ByteView s) {
  if (s.size() < 40 || !(s.Equals(0, "BM") || s.Equals(0, "BA"))) return kNoMatch;
  if (s.U16(6) != 0 || s.U16(8) != 0) return kNoMatch;
  switch (s.U32(14)) {
    case 12: case 16: case 40: case 52: case 56: case 64: case 108: case 124: return kBmp;
    default: return kNoMatch;
  }
}

FileTypeCode DetectPsd(CarveContext&, ByteView s) {
  return s.size() >= 40 && s.Equals(0, "8BPS") ? kPsd : kNoMatch;
}

FileTypeCode DetectTif(CarveContext&, ByteView s) {
  if (s.size() < 4) return kNoMatch;
  if (s.Equals(0, std::string_view("MM\x00\x2A", 4)) || s.Equals(0, std::string_view("II\x2A\x00", 4))) return kTif;
  // BigTIFF (version 43), as ImageMagick writes large or TIFF64 pictures: its
  // offsets are 8 bytes wide and the next two bytes must be 0.
  if (s.size() >= 8 && s.Equals(0, std::string_view("II\x2B\x00\x08\x00\x00\x00", 8))) return kTif;
  if (s.size() >= 8 && s.Equals(0, std::string_view("MM\x00\x2B\x00\x08\x00\x00", 8))) return kTif;
  return kNoMatch;
}

// The directory must describe images laid end to end right after it.
FileTypeCode DetectIco(CarveContext&, ByteView s) {
  if (s.size() < 16 || s.U32(0) != 0x00010000) return kNoMatch;
  uint32_t n = s.U16(4);
  if (n == 0 || 16ull * n + 6 > s.size()) return kNoMatch;
  uint64_t running = 16ull * n + 6;
  for (uint32_t i = 0; i < n; ++i) {
    size_t e = 6 + 16 * size_t(i);
    if (s.U8(e + 3) != 0 || s.U32(e + 12) != running) return kNoMatch;
    running += s.U32(e + 8);
  }
  return kIco;
}

// JPEG end markers: every one followed only by zeros in its sector is a
// candidate; a thumbnail's end, followed by more of the file, is not. The
// last candidate before the next header wins.
class JpegMarkerEnd : public EndSearch {
 public:
  uint64_t candidate = 0;
  bool Search(CarveContext& ctx, ByteView b, uint64_t off, uint64_t& end) override {
    for (size_t p = FindFirst(b, kJpegEnd, 2); p != kNotFound; p = FindFirst(b, kJpegEnd, 2, p + 1)) {
      if (!ZeroPaddingOk(b, p + 2, ctx.sectorSize)) continue;
      candidate = off + p + 2;
      if (off == 0) {
        end = candidate;
        return true;
      }
    }
    return false;
  }
};

// GIF and PNG: the first end marker that passes the padding test ends the file.
class MarkerEnd : public EndSearch {
 public:
  MarkerEnd(const uint8_t* pat, size_t len) : pat_(pat), len_(len) {}
  bool Search(CarveContext& ctx, ByteView b, uint64_t off, uint64_t& end) override {
    for (size_t p = FindFirst(b, pat_, len_); p != kNotFound; p = FindFirst(b, pat_, len_, p + 1)) {
      if (ZeroPaddingOk(b, p + len_, ctx.sectorSize)) {
        end = off + p + len_;
        found = true;
        return true;
      }
    }
    return false;
  }
  bool found = false;  // the end is the marker's

 private:
  const uint8_t* pat_;
  size_t len_;
};

// The file's structure is followed to its exact end, whatever lies in the
// rest of its last sector; where the structure breaks, the end-marker rule
// takes over from that chunk on. (End markers alone needed zeros after them,
// so old data in the slack made pictures run on to the next header, and
// random bytes holding FF D9 at a sector's end ended JPEGs there.)
template <class Walk, class Markers>
class StructureEnd : public EndSearch {
 public:
  explicit StructureEnd(Markers m) : markers(std::move(m)) {}
  bool Search(CarveContext& ctx, ByteView b, uint64_t off, uint64_t& end) override {
    if (walk_.GetState() != Walk::State::kBroken) {
      if (walk_.Feed(b, off) == Walk::State::kEnded) {
        end = walk_.End();
        exact = ended = true;
        return true;
      }
      if (walk_.GetState() == Walk::State::kGoing) return false;
    }
    ended = markers.Search(ctx, b, off, end);
    return ended;
  }
  bool exact = false;  // the end came from the structure
  bool ended = false;  // from the structure or the end marker
  Markers markers;

 private:
  Walk walk_;
};

}  // namespace

const DetectorInfo kJpegDetector{DetectJpeg, {0xFF, -1, -1, -1}};
const DetectorInfo kPngDetector{DetectPng, {0x89, -1, -1, -1}};
const DetectorInfo kGifDetector{DetectGif, {'G', -1, -1, -1}};
const DetectorInfo kBmpDetector{DetectBmp, {'B', -1, -1, -1}};
const DetectorInfo kPsdDetector{DetectPsd, {'8', -1, -1, -1}};
const DetectorInfo kTifDetector{DetectTif, {'M', 'I', -1, -1}};
const DetectorInfo kIcoDetector{DetectIco, {0x00, -1, -1, -1}};

// A picture without its end marker (end of image, IEND, the trailer), found
// by the walk or on its own, is partial: cut short or overwritten.
uint64_t JpegSize(CarveContext& ctx, ByteView sector) {
  StructureEnd<JpegWalk, JpegMarkerEnd> search{JpegMarkerEnd{}};
  uint64_t size = RunScanFrame(ctx, sector, kCap128MiB, &search);
  if (search.exact) return size;
  const uint64_t candidate = search.markers.candidate;
  if (!candidate) ctx.partial = true;
  return candidate && candidate < size ? candidate : size;
}

uint64_t PngSize(CarveContext& ctx, ByteView sector) {
  StructureEnd<PngWalk, MarkerEnd> search{MarkerEnd(kPngEnd, sizeof kPngEnd)};
  const uint64_t size = RunScanFrame(ctx, sector, kCap128MiB, &search);
  if (!search.ended) ctx.partial = true;
  return size;
}

uint64_t GifSize(CarveContext& ctx, ByteView sector) {
  MarkerEnd markers(kGifTrailer, sizeof kGifTrailer);
  GifWalk walk;
  const uint64_t size = SizeByWalk(ctx, sector, kCap128MiB, walk, &markers);
  const bool byWalk = walk.GetState() == StructureWalk::State::kEnded && walk.End() == size;
  if (!byWalk && !markers.found) ctx.partial = true;
  return size;
}

uint64_t BmpSize(CarveContext&, ByteView s) { return std::min<uint64_t>(s.U32(2), kCap128MiB); }

uint64_t PsdSize(CarveContext& ctx, ByteView s) {
  PsdWalk walk;
  return SizeByWalk(ctx, s, kCap128MiB, walk, nullptr);
}

// TIFF: the furthest directory, value, strip or tile; the next header where
// the directories do not hold together.
uint64_t TifSize(CarveContext& ctx, ByteView s) {
  const uint64_t start = ctx.candidateStart;
  const uint64_t extent = TiffExtent(ctx, kCap128MiB);
  ctx.currentSector = start;
  if (extent > 0) return std::max<uint64_t>(extent, 8);
  return RunScanFrame(ctx, s, kCap128MiB, nullptr);
}

uint64_t IcoSize(CarveContext& ctx, ByteView s) {
  uint32_t n = s.U16(4);
  ByteView dir = s;
  if (16ull * n + 6 > s.size()) {
    uint32_t got = ctx.ReadWindow(ctx.candidateStart, ctx.SectorsPerWindow());
    if (got == 0) return ctx.sectorSize;
    dir = ctx.WindowView(got);
  }
  if (n == 0) return ctx.sectorSize;
  size_t e = 6 + 16 * size_t(n - 1);
  if (!dir.Has(e, 16)) return ctx.sectorSize;
  return uint64_t(dir.U32(e + 12)) + dir.U32(e + 8);
}

}  // namespace dunmere
