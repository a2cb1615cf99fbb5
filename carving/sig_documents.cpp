#include "carving/sig_documents.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "carving/scan_frame.h"

namespace dunmere {
using namespace std::literals;
namespace {

const uint8_t kCompoundSig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
const uint8_t kCompObjHeader[] = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A};
const uint8_t kWordName[] = {'M', 'i', 'c', 'r', 'o', 's', 'o', 'f', 't', ' ', 'O', 'f', 'f',
                             'i', 'c', 'e', ' ', 'W', 'o', 'r', 'd', ' ', 0xCE, 0xC4, 0xB5, 0xB5};
const uint8_t kEocd[] = {'P', 'K', 5, 6};
const uint8_t kLocalHeader[] = {'P', 'K', 3, 4};
const uint8_t kCentralHeader[] = {'P', 'K', 1, 2};
const uint8_t kPdfEof[] = {'%', '%', 'E', 'O', 'F'};
const uint8_t kPdfTrailer[] = {'t', 'r', 'a', 'i', 'l', 'e', 'r'};
// Class identifiers of the root entry, as stored (first three fields little-endian).
const uint8_t kWordClsid[] = {0x06, 0x09, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const uint8_t kExcel5Clsid[] = {0x10, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const uint8_t kExcelClsid[] = {0x20, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                               0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const uint8_t kPowerPointClsid[] = {0x10, 0x8D, 0x81, 0x64, 0x9B, 0x4F, 0xCF, 0x11,
                                    0x86, 0xEA, 0x00, 0xAA, 0x00, 0xB9, 0x29, 0xE8};

bool Bytes(ByteView s, size_t off, const uint8_t* pat, size_t len) {
  return s.Has(off, len) && std::equal(pat, pat + len, s.data() + off);
}

// A directory entry's UTF-16 name equals `name` (ASCII) regardless of case.
bool EntryNameIs(ByteView e, std::string_view name) {
  if (name.size() >= 32) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    uint16_t u = e.U16(2 * i);
    if (u >= 0x80 || std::tolower(int(u)) != std::tolower(int(uint8_t(name[i])))) return false;
  }
  return e.U16(2 * name.size()) == 0;
}

uint32_t OleShift(ByteView s) {
  uint16_t shift = s.U16(30);
  return shift == 9 || shift == 12 ? shift : 9;
}

// Word, Excel and PowerPoint files are told apart by their first stream, the
// root's class or the names of the streams in the first directory sector.
FileTypeCode DetectOle(CarveContext& ctx, ByteView s) {
  if (s.size() < 512 || !Bytes(s, 0, kCompoundSig, 8)) return kNoMatch;
  uint64_t start = ctx.currentSector;
  uint32_t shift = OleShift(s);
  uint32_t cfbSector = 1u << shift;
  ByteView first = ctx.ReadFileBytes(start, cfbSector, 6);
  if (first.size() < 6) return kOle;
  if (first.U16(0) == 0xA5EC) return kDoc;
  if (first.U16(0) == 0x0809 && first.U16(2) == 0x0010 && first.U16(4) == 0x0600) return kXls;
  uint64_t dirOffset = (uint64_t(s.U32(48)) + 1) << shift;
  ByteView dir = ctx.ReadFileBytes(start, dirOffset, cfbSector);
  if (dir.size() < cfbSector) return kOle;
  if (Bytes(dir, 80, kWordClsid, 16)) return kDoc;
  if (Bytes(dir, 80, kExcelClsid, 16) || Bytes(dir, 80, kExcel5Clsid, 16)) return kXls;
  if (Bytes(dir, 80, kPowerPointClsid, 16)) return kPpt;
  for (size_t e = 0; e + 128 <= dir.size(); e += 128) {
    ByteView entry = dir.Sub(e, 128);
    if (EntryNameIs(entry, "WordDocument")) return kDoc;
    if (EntryNameIs(entry, "Workbook")) return kXls;
    if (EntryNameIs(entry, "PowerPoint Document")) return kPpt;
  }
  return kOle;
}

FileTypeCode ClassifyZipName(ByteView name) {
  auto starts = [&](std::string_view p) {
    if (name.size() < p.size()) return false;
    for (size_t i = 0; i < p.size(); ++i)
      if (std::tolower(name.data()[i]) != p[i]) return false;
    return true;
  };
  if (starts("word")) return kDocx;
  if (starts("ppt")) return kPptx;
  if (starts("xl")) return kXlsx;
  return kNoMatch;
}

// A zip whose member names start with word/, ppt/ or xl/ is an Office
// document; the first 20 sectors are looked at, in pieces of 4.
FileTypeCode DetectOoxml(CarveContext& ctx, ByteView s) {
  if (s.size() < 31 || !Bytes(s, 0, kLocalHeader, 4)) return kNoMatch;
  if (!ctx.UsableSectorSize()) return kNoMatch;
  constexpr uint32_t kCarry = 4;
  uint32_t piece = std::min<uint32_t>(4, (LookAheadBuffer::kProbeBytes - kCarry) / ctx.sectorSize);
  if (piece == 0) return kNoMatch;
  uint8_t carry[kCarry] = {};
  bool haveCarry = false;
  for (uint32_t i = 0; i < 5; ++i) {
    uint32_t got = ctx.ReadProbe(ctx.currentSector + uint64_t(i) * piece, piece, kCarry);
    if (got == 0) break;
    uint8_t* base = ctx.lookAhead.Probe();
    std::copy(carry, carry + kCarry, base);
    size_t from = haveCarry ? 0 : kCarry;
    ByteView buf(base + from, kCarry - from + size_t(got) * ctx.sectorSize);
    size_t eocd = FindFirst(buf, kEocd, 4);
    ByteView live = eocd == kNotFound ? buf : buf.Sub(0, eocd);
    for (size_t p = 0; p + 4 <= live.size(); ++p) {
      if (live.data()[p] != 'P' || live.data()[p + 1] != 'K') continue;
      size_t nameAt, nameLen;
      if (Bytes(live, p, kLocalHeader, 4)) {
        nameAt = p + 30;
        nameLen = live.U16(p + 26);
      } else if (Bytes(live, p, kCentralHeader, 4)) {
        nameAt = p + 46;
        nameLen = live.U16(p + 28);
      } else {
        continue;
      }
      FileTypeCode c = ClassifyZipName(live.Sub(nameAt, nameLen));
      if (c != kNoMatch) return c;
    }
    if (eocd != kNotFound || got < piece) break;
    std::copy(buf.data() + buf.size() - kCarry, buf.data() + buf.size(), carry);
    haveCarry = true;
  }
  return kNoMatch;
}

FileTypeCode DetectPdf(CarveContext&, ByteView s) { return s.size() >= 5 && s.Equals(0, "%PDF-") ? kPdf : kNoMatch; }

FileTypeCode DetectFla(CarveContext&, ByteView s) {
  return s.size() >= 16 && Bytes(s, 0, kCompoundSig, 4) && !Bytes(s, 4, kCompoundSig + 4, 4) ? kFla : kNoMatch;
}

FileTypeCode DetectTtf(CarveContext&, ByteView s) {
  if (s.size() < 16 || s.B32(0) != 0x00010000) return kNoMatch;
  uint32_t n = s.B16(4);
  if (n == 0 || s.U16(6) == 0 || s.U16(8) == 0 || s.U16(10) == 0) return kNoMatch;
  if (16ull * n + 16 > s.size()) return kNoMatch;
  if (s.B32(12 + 16 * size_t(n)) == 0x00010000) return kTtf;
  // Fonts whose first table is not one that starts with version 1.0 (FontForge
  // puts its FFTM stamp first) are told by a directory that holds together:
  // printable tags in ascending order, aligned data after the directory.
  uint32_t prevTag = 0;
  for (uint32_t i = 0; i < n; ++i) {
    size_t e = 12 + 16 * size_t(i);
    uint32_t tag = s.B32(e), offset = s.B32(e + 8);
    for (int k = 0; k < 4; ++k) {
      uint8_t c = s.U8(e + k);
      if (c < 0x20 || c > 0x7E) return kNoMatch;
    }
    if (i > 0 && tag <= prevTag) return kNoMatch;
    if (offset < 12 + 16ull * n || (offset & 3)) return kNoMatch;
    prevTag = tag;
  }
  return kTtf;
}

FileTypeCode DetectPst(CarveContext&, ByteView s) {
  return s.size() >= 16 && s.Equals(0, "!BDN") && s.Equals(8, "SM") ? kPst : kNoMatch;
}

FileTypeCode DetectDb(CarveContext&, ByteView s) {
  return s.size() >= 16 && s.Equals(0, "SQLite format 3\0"sv) ? kDb : kNoMatch;
}

FileTypeCode DetectDbx(CarveContext&, ByteView s) {
  return s.size() >= 16 && s.Equals(0, "\xCF\xAD\x12\xFE"sv) ? kDbx : kNoMatch;
}

// Zip: the last end-of-central-directory record in a chunk ends the file.
// Members are followed from local header to local header while their sizes
// are in the headers: a header that sits inside the members walked so far
// (a member's own local header that happens to open a sector, or a stored
// picture's first sector) is the zip's, and does not cut it.
class ZipEnd : public EndSearch {
 public:
  bool HoldsHeaderAt(CarveContext&, ByteView b, uint64_t off, uint64_t at) override {
    Walk(b, off, at);
    return known_ && at < next_;
  }
  bool Search(CarveContext&, ByteView b, uint64_t off, uint64_t& end) override {
    Walk(b, off, off + b.size());
    size_t p = FindLast(b, kEocd, 4);
    if (p == kNotFound) return false;
    // The comment belongs to the file; it is counted when its length is readable.
    end = off + p + 22 + (b.Has(p + 20, 2) ? b.U16(p + 20) : 0);
    found = true;
    return true;
  }
  bool found = false;  // the end of the central directory was met

 private:
  // Follows local headers that start at or before `upTo` and lie in `b`.
  void Walk(ByteView b, uint64_t off, uint64_t upTo) {
    while (known_ && next_ <= upTo) {
      if (next_ < off) {
        known_ = false;
        return;
      }
      if (next_ - off >= b.size()) return;  // in a later chunk
      if (next_ - off + 30 > b.size()) {
        known_ = false;  // across the chunk's end: the walk stops
        return;
      }
      const size_t h = size_t(next_ - off);
      const uint32_t compressed = b.U32(h + 18);
      // Sizes after the data (flag 3) or in a zip64 field: not followed.
      if (!b.Equals(h, "PK\x03\x04"sv) || (b.U16(h + 6) & 8) || compressed == 0xFFFFFFFFu) {
        known_ = false;
        return;
      }
      next_ += 30 + uint64_t(b.U16(h + 26)) + b.U16(h + 28) + compressed;
    }
  }
  uint64_t next_ = 0;  // file offset of the next local header
  bool known_ = true;
};

class PdfEnd : public EndSearch {
 public:
  bool Search(CarveContext&, ByteView b, uint64_t off, uint64_t& end) override {
    size_t p = FindLast(b, kPdfEof, sizeof kPdfEof);
    if (p != kNotFound) {
      // The line end after the marker belongs to the file; cutting it left
      // every carved PDF one or two bytes short of the original.
      size_t q = p + sizeof kPdfEof;
      if (q < b.size() && b.U8(q) == '\r') ++q;
      if (q < b.size() && b.U8(q) == '\n') ++q;
      end = off + q;
      found = true;
      return true;
    }
    p = FindLast(b, kPdfTrailer, sizeof kPdfTrailer);
    if (p != kNotFound) {
      end = off + p + sizeof kPdfTrailer;
      found = true;
      return true;
    }
    return false;
  }
  bool found = false;  // the end-of-file marker (or the trailer) was met
};

// An OLE file whose header cannot be trusted ends after the Word program
// name that follows a CompObj stream header.
class OleTextEnd : public EndSearch {
 public:
  bool Search(CarveContext& ctx, ByteView b, uint64_t off, uint64_t& end) override {
    if (off == 0 || FindFirst(b, kCompObjHeader, sizeof kCompObjHeader) == kNotFound) return false;
    size_t p = FindFirst(b, kWordName, sizeof kWordName);
    if (p == kNotFound) return false;
    uint64_t e = off + p + sizeof kWordName;
    end = (e + ctx.sectorSize - 1) / ctx.sectorSize * ctx.sectorSize;
    return true;
  }
};

// The size the compound file's own allocation table implies, 0 when the
// header does not hold together.
uint64_t OleStructuralSize(CarveContext& ctx, ByteView s) {
  uint16_t shift = s.U16(30);
  if (shift != 9 && shift != 12) return 0;
  uint64_t k = 1ull << (shift - 2);               // entries per FAT sector
  uint64_t m = (0xFFFFFFFAull >> (shift - 2)) + 1;  // most FAT sectors addressable
  uint32_t cfbSector = 1u << shift;
  uint64_t fatCount = s.U32(44), miniCount = s.U32(64), d = s.U32(72);
  if (fatCount > m || miniCount > m || d > m / (k - 1) + 1) return 0;
  if (d > 0 && fatCount <= 108) return 0;
  if (fatCount == 0 || (d == 0 && fatCount > 109)) return 0;

  uint64_t fileStart = ctx.candidateStart;
  bool found = false;
  uint32_t lastFat = 0;
  if (d == 0) {
    lastFat = s.U32(76 + 4 * size_t(fatCount - 1));
    found = true;
  } else {
    uint64_t perDifat = k - 1;
    uint64_t rest = (fatCount - 109) % perDifat;
    uint64_t wanted = rest == 0 ? perDifat - 1 : rest - 1;
    uint32_t difat = s.U32(68);
    // At most d sectors are walked, so a chain that loops cannot hold us.
    for (uint64_t i = 0; i < d; ++i) {
      if (difat >= 0xFFFFFFFC) break;
      ByteView sec = ctx.ReadFileBytes(fileStart, (uint64_t(difat) + 1) << shift, cfbSector);
      if (sec.size() < cfbSector) break;
      if (i + 1 == d) {
        lastFat = sec.U32(4 * size_t(wanted));
        found = true;
        break;
      }
      difat = sec.U32(4 * size_t(perDifat));
    }
  }
  uint64_t trailing = 0;
  if (found && lastFat < 0xFFFFFFFA) {
    ByteView fat = ctx.ReadFileBytes(fileStart, (uint64_t(lastFat) + 1) << shift, cfbSector);
    for (size_t i = fat.size() / 4; i-- > 0 && trailing < k;) {
      if (fat.U32(4 * i) != 0xFFFFFFFF) break;
      ++trailing;
    }
  }
  uint64_t size = (fatCount * k + 1 - trailing) << shift;
  return std::min<uint64_t>(size, kCapOle);
}

}  // namespace

namespace {
// Both read on into the file once its signature matched.
bool OleLooksFurther(ByteView s) { return Bytes(s, 0, kCompoundSig, 8); }
bool OoxmlLooksFurther(ByteView s) { return Bytes(s, 0, kLocalHeader, 4); }
}  // namespace
const DetectorInfo kOleDetector{DetectOle, {0xD0, -1, -1, -1}, false, nullptr, {-1, -1}, OleLooksFurther};
const DetectorInfo kOoxmlDetector{DetectOoxml, {'P', -1, -1, -1}, false, nullptr, {-1, -1}, OoxmlLooksFurther};
const DetectorInfo kPdfDetector{DetectPdf, {'%', -1, -1, -1}};
const DetectorInfo kFlaDetector{DetectFla, {0xD0, -1, -1, -1}};
const DetectorInfo kTtfDetector{DetectTtf, {0x00, -1, -1, -1}};
const DetectorInfo kPstDetector{DetectPst, {'!', -1, -1, -1}};
const DetectorInfo kDbDetector{DetectDb, {'S', -1, -1, -1}};
const DetectorInfo kDbxDetector{DetectDbx, {0xCF, -1, -1, -1}};

uint64_t OleSize(CarveContext& ctx, ByteView s) {
  uint64_t size = OleStructuralSize(ctx, s);
  if (size) return size;
  OleTextEnd search;
  return RunScanFrame(ctx, s, kCapOle, &search);
}

// An archive without the end of its central directory cannot be opened as
// it is: partial.
uint64_t ZipEndSize(CarveContext& ctx, ByteView s, uint64_t cap) {
  ZipEnd search;
  const uint64_t size = RunScanFrame(ctx, s, cap, &search);
  if (!search.found) ctx.partial = true;
  return size;
}

uint64_t OoxmlSize(CarveContext& ctx, ByteView s) { return ZipEndSize(ctx, s, kCapOle); }

// A document that never reaches its end-of-file marker is partial.
uint64_t PdfSize(CarveContext& ctx, ByteView s) {
  PdfEnd search;
  const uint64_t size = RunScanFrame(ctx, s, kCap1GiB, &search);
  if (!search.found) ctx.partial = true;
  return size;
}

uint64_t FlaSize(CarveContext& ctx, ByteView s) { return RunScanFrame(ctx, s, kCap512MiB, nullptr); }

uint64_t TtfSize(CarveContext& ctx, ByteView s) {
  uint32_t n = s.B16(4);
  ByteView dir = s;
  if (12 + 16ull * n > s.size()) {
    uint32_t got = ctx.ReadWindow(ctx.candidateStart, ctx.SectorsPerWindow());
    if (got == 0) return ctx.sectorSize;
    dir = ctx.WindowView(got);
  }
  uint64_t size = 0;
  for (uint32_t i = 0; i < n; ++i) {
    size_t e = 12 + 16 * size_t(i);
    if (!dir.Has(e, 16)) break;
    size = std::max<uint64_t>(size, uint64_t(dir.B32(e + 8)) + dir.B32(e + 12));
  }
  if (!size) return ctx.sectorSize;
  // A table reaching past any font's size is damage (a hostile directory
  // gave files of up to 4 GiB): the font then runs to the next header.
  if (size > kCap256MiB) return RunScanFrame(ctx, s, kCap256MiB, nullptr);
  // Tables are padded to four bytes, the last one too: its zero padding is
  // part of the file (without it the font came back short of its last bytes).
  const uint32_t pad = uint32_t((4 - size % 4) % 4);
  if (pad) {
    ByteView tail = ctx.ReadFileBytes(ctx.candidateStart, size, pad);
    if (tail.size() == pad && std::all_of(tail.data(), tail.data() + pad, [](uint8_t c) { return c == 0; }))
      size += pad;
  }
  return size;
}

uint64_t PstSize(CarveContext& ctx, ByteView s) { return RunScanFrame(ctx, s, kCap2GiB, nullptr); }
// SQLite: page size times page count, when the header's count is current
// (its "version valid for" number equals the change counter); otherwise the
// file runs to the next header.
uint64_t DbSize(CarveContext& ctx, ByteView s) {
  const uint32_t raw = s.B16(16);
  const uint64_t pageSize = raw == 1 ? 65536 : raw;
  const uint64_t pages = s.B32(28);
  const bool power = pageSize >= 512 && pageSize <= 65536 && (pageSize & (pageSize - 1)) == 0;
  if (power && pages > 0 && s.B32(92) == s.B32(24) && pageSize * pages <= kCap4GiB) return pageSize * pages;
  return RunScanFrame(ctx, s, kCap4GiB, nullptr);
}
uint64_t DbxSize(CarveContext& ctx, ByteView s) { return RunScanFrame(ctx, s, kCap2GiB, nullptr); }

}  // namespace dunmere
