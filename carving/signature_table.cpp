#include "carving/signature_table.h"

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "carving/sig_archives.h"
#include "carving/sig_documents.h"
#include "carving/sig_executables.h"
#include "carving/sig_media.h"
#include "carving/sig_pictures.h"
#include "engine/formats/file_format.h"

namespace dunmere {
namespace {

uint64_t Mpeg(CarveContext& c, ByteView s) { return MpegSize(c, s); }

// One row per carvable format, in the order detection asks them; the first
// detector that answers wins. The extension is the one a carved file gets; the
// other names of the format (file_formats.cpp) reach its row by its code.
const SignatureRule kTable[] = {
    {"mpeg", kMpeg, &kMpegDetector, Mpeg},
    {"mp4", kMp4, &kMp4Detector, Mp4Size},
    {"rmvb", kRmvb, &kRmDetector, RmSize},
    {"wmv", kWmv, &kAsfDetector, AsfSize, true},
    {"swf", kSwf, &kSwfDetector, SwfSize, true},
    {"avi", kAvi, &kAviDetector, RiffSize, true},
    {"flv", kFlv, &kFlvDetector, FlvSize},
    {"3gp", k3gp, &k3gpDetector, IsoMediaSize},
    {"mkv", kMkv, &kMkvDetector, MkvSize},
    {"ts", kTs, &kTsDetector, TsSize},
    {"mts", kMts, &kMtsDetector, MtsSize},
    {"mxf", kMxf, &kMxfDetector, MxfSize},
    {"mp3", kMp3, &kMp3Detector, Mp3Size},
    {"mid", kMid, &kMidDetector, MidSize},
    {"ape", kApe, &kApeDetector, ApeSize},
    {"wav", kWav, &kWavDetector, RiffSize, true},
    {"mov", kMov, &kMovDetector, IsoMediaSize},
    {"mp2", kMp2, &kMp2Detector, Mp2Size},
    {"mmf", kMmf, &kMmfDetector, MmfSize},
    {"fla", kFla, &kFlaDetector, FlaSize},
    {"gif", kGif, &kGifDetector, GifSize},
    {"bmp", kBmp, &kBmpDetector, BmpSize, true},
    {"jpg", kJpg, &kJpegDetector, JpegSize},
    {"png", kPng, &kPngDetector, PngSize},
    {"psd", kPsd, &kPsdDetector, PsdSize},
    {"tif", kTif, &kTifDetector, TifSize},
    {"ico", kIco, &kIcoDetector, IcoSize, true},
    {"doc", kDoc, &kOleDetector, OleSize, true},
    {"xls", kXls, &kOleDetector, OleSize, true},
    {"ppt", kPpt, &kOleDetector, OleSize, true},
    {"ole", kOle, &kOleDetector, OleSize, true},
    {"docx", kDocx, &kOoxmlDetector, OoxmlSize},
    {"xlsx", kXlsx, &kOoxmlDetector, OoxmlSize},
    {"pptx", kPptx, &kOoxmlDetector, OoxmlSize},
    {"mso07", kMso07, &kOoxmlDetector, OoxmlSize},
    {"pdf", kPdf, &kPdfDetector, PdfSize},
    {"gz", kGz, &kGzDetector, GzSize},
    {"7z", k7z, &k7zDetector, SevenZipSize},
    {"zip", kZip, &kZipDetector, ZipSize},
    {"rar", kRar, &kRarDetector, RarSize},
    {"cab", kCab, &kCabDetector, CabSize, true},
    {"exe", kExe, &kPeDetector, nullptr},
    {"dll", kDll, &kPeDetector, nullptr},
    {"sys", kSys, &kPeDetector, nullptr},
    {"gho", kGho, &kGhoDetector, nullptr},
    {"db", kDb, &kDbDetector, DbSize},
    {"dbx", kDbx, &kDbxDetector, DbxSize},
    {"pst", kPst, &kPstDetector, PstSize},
    {"ttf", kTtf, &kTtfDetector, TtfSize, true},
    {"", kNoMatch, nullptr, nullptr},
};

// For each first byte, the distinct detectors that can accept a sector
// starting with it, in table order, each with the bytes at offset 4 it can
// accept. A detector skipped here would have answered kNoMatch, so the first
// answer is the table walk's.
struct Dispatch {
  static constexpr size_t kMaxPerByte = 16;
  const DetectorInfo* lists[256][kMaxPerByte] = {};
  uint8_t counts[256] = {};

  Dispatch() {
    std::vector<const DetectorInfo*> seen;
    for (const SignatureRule& r : kTable) {
      if (!r.detector) continue;
      bool dup = false;
      for (auto* d : seen) dup = dup || d == r.detector;
      if (dup) continue;
      seen.push_back(r.detector);
      for (int b = 0; b < 256; ++b) {
        bool fits = r.detector->anyFirstByte;
        for (int16_t f : r.detector->firstBytes) fits = fits || f == b;
        if (fits && counts[b] < kMaxPerByte) lists[b][counts[b]++] = r.detector;
      }
    }
  }
};

const Dispatch& TheDispatch() {
  static const Dispatch d;
  return d;
}

}  // namespace

std::span<const SignatureRule> SignatureTable() { return std::span<const SignatureRule>(kTable); }

const SignatureRule* FindRuleByCode(FileTypeCode code) {
  if (code == kNoMatch) return nullptr;
  for (const SignatureRule& r : kTable)
    if (r.code == code) return &r;
  return nullptr;
}

const SignatureRule* FindRuleByExtension(std::string_view ext) {
  if (ext.empty()) return nullptr;
  std::string lower(ext);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return FindRuleByCode(CodeOfExtension(lower));
}

namespace {
// Shows `sector` to the detectors its first byte (and, where they name it,
// its fifth) allows, in table order, until `visit` answers true.
template <class Visit>
void ForEachCandidate(ByteView sector, Visit&& visit) {
  const Dispatch& d = TheDispatch();
  const uint8_t b = sector.data()[0];
  const int fifth = sector.size() > 4 ? sector.data()[4] : -2;
  for (uint8_t i = 0; i < d.counts[b]; ++i) {
    const DetectorInfo& info = *d.lists[b][i];
    if (info.fifthBytes[0] >= 0 && fifth != info.fifthBytes[0] && fifth != info.fifthBytes[1]) continue;
    if (visit(info)) return;
  }
}
}  // namespace

FileTypeCode IdentifySector(CarveContext& ctx, ByteView sector) {
  if (sector.size() == 0) return kNoMatch;
  FileTypeCode found = kNoMatch;
  ForEachCandidate(sector, [&](const DetectorInfo& info) { return (found = info.detect(ctx, sector)) != kNoMatch; });
  return found;
}

bool NoFormatStartsIn(ByteView sector) {
  if (sector.size() == 0) return true;
  // Detectors of the bytes alone never touch the context: one of this
  // thread's own serves them all.
  thread_local CarveContext bytesOnly;
  bool starts = false;
  ForEachCandidate(sector, [&](const DetectorInfo& info) {
    starts = info.looksFurther ? info.looksFurther(sector) : info.detect(bytesOnly, sector) != kNoMatch;
    return starts;
  });
  return !starts;
}

FileTypeCode IdentifyByTableWalk(CarveContext& ctx, ByteView sector) {
  for (const SignatureRule& r : kTable) {
    if (!r.detector) break;
    FileTypeCode c = r.detector->detect(ctx, sector);
    if (c != kNoMatch) return c;
  }
  return kNoMatch;
}

bool MatchesSignature(CarveContext& ctx, ByteView sector, std::string_view extension, const SectorSource* source,
                      uint32_t sectorSize, uint64_t startSector) {
  const SignatureRule* row = FindRuleByExtension(extension);
  if (!row || row->code == kNoMatch || !row->detector) return true;
  ctx.sectorSize = sectorSize;
  ctx.tsContinuation = false;
  ctx.candidateStart = startSector;
  ctx.currentSector = startSector;
  ctx.source = source;
  if (row->detector->detect(ctx, sector) == row->code) return true;
  return row->detector->namedFileStart && row->detector->namedFileStart(sector);
}

}  // namespace dunmere
