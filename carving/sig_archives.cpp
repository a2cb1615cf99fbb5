#include "carving/sig_archives.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "carving/gzip_walk.h"
#include "carving/rar_walk.h"
#include "carving/scan_frame.h"
#include "carving/sig_documents.h"
#include "carving/structure_walk.h"

namespace dunmere {
using namespace std::literals;
namespace {

const uint8_t kRarEnd[] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
const uint8_t k7zTail[] = {0x00, 0x07, 0x0B, 0x01, 0x00, 0x01, 0x23, 0x03, 0x01, 0x01, 0x05, 0x5D};

FileTypeCode DetectGz(CarveContext&, ByteView s) {
  if (s.size() < 16 || !s.Equals(0, "\x1F\x8B\x08"sv)) return kNoMatch;
  uint8_t flags = s.U8(3), xfl = s.U8(8), os = s.U8(9);
  if (flags != 0 && flags != 8) return kNoMatch;
  return (xfl == 2 || xfl == 4) && (os < 14 || os == 0xFF) ? kGz : kNoMatch;
}

FileTypeCode Detect7z(CarveContext&, ByteView s) {
  return s.size() >= 5 && s.Equals(0, "7z\xBC\xAF\x27"sv) ? k7z : kNoMatch;
}

FileTypeCode DetectZip(CarveContext&, ByteView s) { return s.size() >= 48 && s.Equals(0, "PK\x03\x04"sv) ? kZip : kNoMatch; }

FileTypeCode DetectRar(CarveContext&, ByteView s) {
  return s.size() >= 7 && s.Equals(0, "Rar!\x1A\x07\x00"sv) ? kRar : kNoMatch;
}

FileTypeCode DetectCab(CarveContext&, ByteView s) { return s.size() >= 36 && s.Equals(0, "MSCF") ? kCab : kNoMatch; }

FileTypeCode DetectGho(CarveContext&, ByteView s) {
  return s.size() >= 4 && s.Equals(0, "\xFE\xEF\x00\x00"sv) ? kGho : kNoMatch;
}

class RarEnd : public EndSearch {
 public:
  bool Search(CarveContext& ctx, ByteView b, uint64_t off, uint64_t& end) override {
    for (size_t p = FindFirst(b, kRarEnd, 7); p != kNotFound; p = FindFirst(b, kRarEnd, 7, p + 1)) {
      if (ZeroPaddingOk(b, p + 7, ctx.sectorSize)) {
        end = off + p + 7;
        return true;
      }
    }
    return false;
  }
};

class SevenZipEnd : public EndSearch {
 public:
  bool Search(CarveContext&, ByteView b, uint64_t off, uint64_t& end) override {
    size_t p = FindLast(b, k7zTail, sizeof k7zTail);
    if (p == kNotFound) return false;
    end = off + p + 27;
    return true;
  }
};

uint32_t Crc32(const uint8_t* p, size_t n) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFF;
  for (size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFF;
}

}  // namespace

const DetectorInfo kGzDetector{DetectGz, {0x1F, -1, -1, -1}};
const DetectorInfo k7zDetector{Detect7z, {'7', -1, -1, -1}};
const DetectorInfo kZipDetector{DetectZip, {'P', -1, -1, -1}};
const DetectorInfo kRarDetector{DetectRar, {'R', -1, -1, -1}};
const DetectorInfo kCabDetector{DetectCab, {'M', -1, -1, -1}};
const DetectorInfo kGhoDetector{DetectGho, {0xFE, -1, -1, -1}};

// gzip: the member's deflate stream and trailer; the next header where the
// stream does not decode (a member cut short or damaged: partial).
uint64_t GzSize(CarveContext& ctx, ByteView s) {
  GzipWalk walk;
  return SizeByClosingWalk(ctx, s, kCap6GiB, walk, nullptr);
}

// The start header names where the archive's own header lies and how long it
// is, under a checksum: when that holds, the size is exact. The tail-pattern
// search is kept for archives whose start header is damaged.
uint64_t SevenZipSize(CarveContext& ctx, ByteView s) {
  if (s.Has(0, 32) && Crc32(s.data() + 12, 20) == s.U32(8)) {
    uint64_t offset = s.U64(12), length = s.U64(20);
    if (offset < kCap4GiB && length < kCap4GiB && 32 + offset + length <= kCap4GiB + ctx.sectorSize)
      return 32 + offset + length;
  }
  SevenZipEnd search;
  return RunScanFrame(ctx, s, kCap4GiB, &search);
}

uint64_t ZipSize(CarveContext& ctx, ByteView s) { return ZipEndSize(ctx, s, kCap4GiB); }

// RAR: the blocks to the end-of-archive block; where they break, that block
// found by its bytes (followed by zeros only).
uint64_t RarSize(CarveContext& ctx, ByteView s) {
  RarEnd markers;
  RarWalk walk;
  return SizeByWalk(ctx, s, kCap4GiB, walk, &markers);
}

uint64_t CabSize(CarveContext&, ByteView s) { return std::min<uint64_t>(s.U32(8), kCap1GiB); }

}  // namespace dunmere
