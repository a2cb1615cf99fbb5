// Every format of the signature table, carved from real files made by the
// tools that write them (tests/fixtures/make_media_samples.sh), placed on a
// medium at a sector boundary and followed by another file or random data.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "carving/metadata_sector.h"
#include "carving/scan_frame.h"
#include "carving/signature_table.h"
#include "fat/dir_entry_tests.h"
#include "tests/carving/media_samples_fixture.h"
#include "tests/carving/sig_test_util.h"

namespace dunmere::test {
namespace {


enum class Expect { kExact, kWholeSectors };
struct Sample {
  const char* file;
  FileTypeCode code;
  const char* ext;
  Expect size;
};

// Sizes: exact where the format states its length (a header field, an end
// record, its structure), else the file runs to the next header, in whole
// sectors.
const Sample kSamples[] = {
    {"big.jpg", kJpg, "jpg", Expect::kExact},
    {"exif.jpg", kJpg, "jpg", Expect::kExact},
    {"exif-small.jpg", kJpg, "jpg", Expect::kExact},
    {"image.png", kPng, "png", Expect::kExact},
    {"image.gif", kGif, "gif", Expect::kExact},
    {"image.bmp", kBmp, "bmp", Expect::kExact},
    {"image.tif", kTif, "tif", Expect::kExact},
    {"image.psd", kPsd, "psd", Expect::kExact},
    {"image.ico", kIco, "ico", Expect::kExact},
    {"video.mp4", kMp4, "mp4", Expect::kExact},
    {"video.mov", kMov, "mov", Expect::kExact},
    {"video.3gp", k3gp, "3gp", Expect::kExact},
    {"video.avi", kAvi, "avi", Expect::kExact},
    {"video.mkv", kMkv, "mkv", Expect::kExact},
    {"video.flv", kFlv, "flv", Expect::kExact},
    {"video.mpg", kMpeg, "mpeg", Expect::kExact},
    {"video.ts", kTs, "ts", Expect::kExact},
    {"video.m2ts", kMts, "mts", Expect::kExact},
    {"video.wmv", kWmv, "wmv", Expect::kExact},
    {"video.swf", kSwf, "swf", Expect::kExact},
    {"video.mxf", kMxf, "mxf", Expect::kExact},
    {"video.rm", kRmvb, "rmvb", Expect::kExact},
    {"audio.mp3", kMp3, "mp3", Expect::kExact},
    {"audio.mp2", kMp2, "mp2", Expect::kExact},
    {"audio.mmf", kMmf, "mmf", Expect::kExact},
    {"audio.wav", kWav, "wav", Expect::kExact},
    {"song.mid", kMid, "mid", Expect::kExact},
    {"archive.zip", kZip, "zip", Expect::kExact},
    {"archive.7z", k7z, "7z", Expect::kExact},
    {"archive.gz", kGz, "gz", Expect::kExact},
    {"archive.cab", kCab, "cab", Expect::kExact},
    {"archive.rar", kRar, "rar", Expect::kExact},
    {"data.db", kDb, "db", Expect::kExact},
    {"font.ttf", kTtf, "ttf", Expect::kExact},
    {"word.doc", kDoc, "doc", Expect::kExact},
    {"named.doc", kDoc, "doc", Expect::kExact},
    {"sheet.xls", kXls, "xls", Expect::kExact},
    {"slides.ppt", kPpt, "ppt", Expect::kExact},
    {"plain.ole", kOle, "ole", Expect::kExact},
    {"doc.docx", kDocx, "docx", Expect::kExact},
    {"book.xlsx", kXlsx, "xlsx", Expect::kExact},
    {"deck.pptx", kPptx, "pptx", Expect::kExact},
};

TEST_F(MediaSamples, EveryToolMadeFileIsIdentifiedAndSizedBeforeTheNextFile) {
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.file);
    auto file = File(s.file);
    Identification id = Carve(file);
    EXPECT_EQ(id.status, kOk);
    EXPECT_EQ(id.code, s.code);
    EXPECT_STREQ(id.extension, s.ext);
    uint64_t want = s.size == Expect::kExact ? file.size() : RoundUp(file.size());
    EXPECT_EQ(id.size, want);
  }
}

// Formats whose size comes from a header field do not depend on what follows.
TEST_F(MediaSamples, HeaderDerivedSizesIgnoreWhatFollows) {
  for (const char* name : {"audio.wav", "video.avi", "image.bmp", "archive.cab", "video.swf", "video.wmv",
                           "font.ttf", "image.ico", "word.doc", "sheet.xls"}) {
    SCOPED_TRACE(name);
    auto file = File(name);
    Identification id = Carve(file, /*headerFollows=*/false);
    EXPECT_EQ(id.status, kOk);
    EXPECT_EQ(id.size, file.size());
    EXPECT_EQ(CarvedSkipSectors(id.code, id.size, Medium::kSector), 1u);
  }
  // A carved JPEG is skipped over as a whole.
  auto jpg = File("big.jpg");
  Identification id = Carve(jpg);
  EXPECT_EQ(CarvedSkipSectors(id.code, id.size, Medium::kSector), RoundUp(jpg.size()) / Medium::kSector);
}

// The thumbnail's own end marker lies inside the Exif block, followed by
// the rest of the picture: it must not end the file.
TEST_F(MediaSamples, JpegThumbnailEndDoesNotEndThePicture) {
  for (const char* name : {"exif.jpg", "exif-small.jpg"}) {
  SCOPED_TRACE(name);
  auto jpg = File(name);
  auto thumb = File("thumb.jpg");
  auto at = std::search(jpg.begin(), jpg.end(), thumb.begin(), thumb.end());
  ASSERT_NE(at, jpg.end());
  size_t thumbEnd = size_t(at - jpg.begin()) + thumb.size();
  ASSERT_EQ(jpg[thumbEnd - 2], 0xFF);
  ASSERT_EQ(jpg[thumbEnd - 1], 0xD9);
  ASSERT_FALSE(ZeroPaddingOk(ByteView(jpg.data(), jpg.size()), thumbEnd, Medium::kSector));
  ASSERT_GT(thumbEnd, Medium::kSector);  // past the first sector, in the first chunk
  Identification id = Carve(jpg);
  EXPECT_EQ(id.size, jpg.size());
  }
}

// GIF: its blocks end it at the trailer, whatever follows in its sector.
// Where the blocks break, the end-marker rule decides: a 00 3B followed by
// other bytes in its sector is not the trailer; the search goes on to the
// real one.
TEST_F(MediaSamples, GifTrailerFollowedByDataKeepsSearching) {
  auto gif = File("image.gif");
  for (bool damaged : {false, true}) {
    SCOPED_TRACE(damaged ? "damaged" : "whole");
    auto file = gif;
    // The first block after the global colour table: an extension or an image.
    const size_t block = 13 + ((file[10] & 0x80) ? 3u << ((file[10] & 7) + 1) : 0u);
    ASSERT_TRUE(file[block] == 0x21 || file[block] == 0x2C);
    if (damaged) file[block] = 0x99;
    medium_ = std::make_unique<Medium>();
    uint64_t at = medium_->PlaceThen(file, {0x11, 0x22, 0x33});
    medium_->Random(3);
    std::vector<uint8_t> late(40, 0x55);
    late.push_back(0x00);
    late.push_back(0x3B);
    uint64_t lateAt = medium_->Place(late);
    medium_->Place(NextHeader());
    medium_->Open(tmp_);
    CarveContext ctx;
    Identification id = CarveAt(ctx, *medium_, at);
    EXPECT_EQ(id.code, kGif);
    EXPECT_EQ(id.size, damaged ? (lateAt - at) * Medium::kSector + late.size() : gif.size());
  }
}

// An incremental update appends a second %%EOF; the file ends after it and
// its line end, so the carved file is the original byte for byte.
TEST_F(MediaSamples, PdfWithIncrementalUpdateEndsAfterTheLastEof) {
  auto pdf = File("update.pdf");
  std::string text(pdf.begin(), pdf.end());
  size_t first = text.find("%%EOF"), last = text.rfind("%%EOF");
  ASSERT_NE(first, last);
  Identification id = Carve(pdf);
  EXPECT_EQ(id.code, kPdf);
  EXPECT_EQ(id.size, last + 6);
  EXPECT_EQ(id.size, pdf.size());
}

// A zip made by the zip tool whose first member starts with "word" is taken
// for a Word document and sized by the zip end record.
TEST_F(MediaSamples, ZipWithAWordMemberIsADocx) {
  DUNMERE_REQUIRE_TOOL("zip");
  std::string work = tmp_ / "z";
  ASSERT_EQ(RunCommand("mkdir -p '" + work + "' && cd '" + work + "' && printf 'alpha\\nbeta\\n' > wordlist.txt && "
                       "zip -q -X list.zip wordlist.txt"), 0);
  auto zip = ReadBytes(work + "/list.zip");
  Identification id = Carve(zip);
  EXPECT_EQ(id.code, kDocx);
  EXPECT_STREQ(id.extension, "docx");
  EXPECT_EQ(id.size, zip.size());
}

// Small files back to back in one look-ahead chunk: the end record of the
// second must not become the end of the first.
TEST_F(MediaSamples, EndRecordOfTheNextFileIsNotThisFilesEnd) {
  for (const char* name : {"archive.zip", "update.pdf", "doc.docx", "archive.7z"}) {
    SCOPED_TRACE(name);
    auto file = File(name);
    medium_ = std::make_unique<Medium>();
    uint64_t first = medium_->Place(file);
    uint64_t second = medium_->Place(file);
    medium_->Random(8);
    medium_->Open(tmp_);
    CarveContext ctx;
    uint64_t want = file.size();
    EXPECT_EQ(CarveAt(ctx, *medium_, first).size, want);
    EXPECT_EQ(CarveAt(ctx, *medium_, second).size, want);
  }
}

// A member's local header that happens to open a sector is the zip's own,
// not the start of another file.
TEST_F(MediaSamples, ZipMemberHeaderOpeningASectorDoesNotCutTheZip) {
  auto zip = File("aligned.zip");
  ASSERT_GT(zip.size(), 1028u);
  ASSERT_EQ(std::string(zip.begin() + 1024, zip.begin() + 1028), "PK\x03\x04");
  Identification id = Carve(zip);
  EXPECT_EQ(id.code, kZip);
  EXPECT_EQ(id.size, zip.size());
}

// A JPEG ends where its structure ends: not at end markers that random bytes
// after it hold at a sector's end, and also when old data fills the rest of
// its last sector.
TEST_F(MediaSamples, JpegEndsWhereItsStructureEnds) {
  for (const char* name : {"big.jpg", "exif.jpg", "progressive.jpg"}) {
    SCOPED_TRACE(name);
    auto jpg = File(name);
    // [picture][zeros][text][random sector ending in FF D9][next header]
    medium_ = std::make_unique<Medium>();
    uint64_t at = medium_->Place(jpg);
    medium_->Zero(3);
    std::string text(700, 'a');
    medium_->Place(std::vector<uint8_t>(text.begin(), text.end()));
    auto stray = medium_->RandomBytes(Medium::kSector);
    stray[Medium::kSector - 2] = 0xFF;
    stray[Medium::kSector - 1] = 0xD9;
    medium_->Place(stray);
    medium_->Place(NextHeader());
    medium_->Open(tmp_);
    CarveContext ctx;
    EXPECT_EQ(CarveAt(ctx, *medium_, at).size, jpg.size());

    medium_ = std::make_unique<Medium>();
    at = medium_->PlaceThen(jpg, medium_->RandomBytes(RoundUp(jpg.size()) - jpg.size()));
    medium_->Random(16);
    medium_->Place(NextHeader());
    medium_->Open(tmp_, "slack.img");
    CarveContext ctx2;
    EXPECT_EQ(CarveAt(ctx2, *medium_, at).size, jpg.size());
  }
}

// Old data in the rest of a PNG's last sector: its chunks still end it.
TEST_F(MediaSamples, PngEndsAfterItsLastChunkWhateverFollowsInItsSector) {
  auto png = File("image.png");
  medium_ = std::make_unique<Medium>();
  std::vector<uint8_t> slack = medium_->RandomBytes(RoundUp(png.size()) - png.size());
  uint64_t at = medium_->PlaceThen(png, slack);
  medium_->Random(16);
  medium_->Place(NextHeader());
  medium_->Open(tmp_);
  CarveContext ctx;
  Identification id = CarveAt(ctx, *medium_, at);
  EXPECT_EQ(id.code, kPng);
  EXPECT_EQ(id.size, png.size());
}

// A zip with an archive comment ends after the comment.
TEST_F(MediaSamples, ZipCommentBelongsToTheFile) {
  std::string work = tmp_ / "c";
  ASSERT_EQ(RunCommand("mkdir -p '" + work + "' && cd '" + work + "' && printf 'x' > a.txt && "
                       "zip -q -X c.zip a.txt && printf 'a comment of some length' | zip -q -z c.zip"), 0);
  auto zip = ReadBytes(work + "/c.zip");
  Identification id = Carve(zip);
  EXPECT_EQ(id.code, kZip);
  EXPECT_EQ(id.size, zip.size());
}

// Detection answers 3 on the "doc" row for a workbook: the extension is the
// first row carrying 3, "xls".
TEST_F(MediaSamples, OleWorkbookAnsweredOnTheDocRowIsNamedXls) {
  auto xls = File("sheet.xls");
  const SignatureRule* docRow = FindRuleByExtension("doc");
  ASSERT_NE(docRow, nullptr);
  medium_ = std::make_unique<Medium>();
  uint64_t at = medium_->Place(xls);
  medium_->Open(tmp_);
  CarveContext ctx;
  PrepareContext(ctx, *medium_);
  ctx.currentSector = ctx.candidateStart = at;
  EXPECT_EQ(docRow->detector->detect(ctx, medium_->SectorAt(at)), kXls);
  Identification id = CarveAt(ctx, *medium_, at);
  EXPECT_STREQ(id.extension, "xls");
}

// A "FILE" record met while reading ahead ends the file before it (a TIFF
// whose first directory is lost, so that its structure cannot tell the end).
TEST_F(MediaSamples, FileRecordInsideTheLookAheadEndsTheFile) {
  auto tif = File("image.tif");
  std::fill(tif.begin() + 4, tif.begin() + 8, 0xF0);
  medium_ = std::make_unique<Medium>();
  uint64_t at = medium_->Place(tif);
  medium_->Place(FileRecordSector());
  medium_->Random(16);
  medium_->Open(tmp_);
  CarveContext ctx;
  Identification id = CarveAt(ctx, *medium_, at);
  EXPECT_EQ(id.code, kTif);
  EXPECT_EQ(id.size, RoundUp(tif.size()));
}

// A FAT directory sector, as mkfs.fat and mcopy write it, is metadata once the
// FAT directory test is handed over: it ends a file whose look-ahead reaches it.
TEST_F(MediaSamples, FatDirectorySectorEndsTheFile) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mcopy");
  DUNMERE_REQUIRE_TOOL("mmd");
  std::string img = tmp_ / "fat.img";
  std::string note = SamplePath("note.txt"), noise = SamplePath("noise.bin");
  ASSERT_EQ(RunCommand("mkfs.fat -C '" + img + "' 2048 >/dev/null && mcopy -i '" + img + "' '" + note + "' '" + noise +
                       "' ::/ && mmd -i '" + img + "' ::/Photos"), 0);
  auto fat = ReadBytes(img);
  ByteView boot(fat.data(), fat.size());
  uint64_t rootSector = boot.U16(14) + uint64_t(boot.U8(16)) * boot.U16(22);
  std::vector<uint8_t> dirSector(fat.begin() + rootSector * 512, fat.begin() + (rootSector + 1) * 512);
  ASSERT_FALSE(IsMetadataSector(ByteView(dirSector.data(), dirSector.size())));
  ASSERT_TRUE(IsMetadataSector(ByteView(dirSector.data(), dirSector.size()), &IsDirectoryCluster));
  auto psd = File("image.psd");
  psd[5] = 9;  // a version no Photoshop wrote: the sections are not followed
  medium_ = std::make_unique<Medium>();
  uint64_t at = medium_->Place(psd);
  medium_->Place(dirSector);
  medium_->Random(16);
  medium_->Open(tmp_);
  CarveContext ctx;
  ctx.directorySector = &IsDirectoryCluster;
  Identification id = CarveAt(ctx, *medium_, at);
  EXPECT_EQ(id.code, kPsd);
  EXPECT_EQ(id.size, RoundUp(psd.size()));
}

// The transport stream's sectors inside the carved range do not start new
// streams, and the range is remembered for the pass.
TEST_F(MediaSamples, TransportStreamIsCarvedOnceAndRemembered) {
  auto ts = File("video.ts");
  medium_ = std::make_unique<Medium>();
  medium_->Zero(2);
  uint64_t at = medium_->Place(ts);
  medium_->Random(8);
  medium_->Open(tmp_);
  CarveContext ctx;
  Identification id = CarveAt(ctx, *medium_, at);
  ASSERT_EQ(id.code, kTs);
  EXPECT_EQ(id.size, ts.size());
  ASSERT_EQ(ctx.streamRanges.size(), 1u);
  EXPECT_EQ(ctx.streamRanges[0].firstSector, at);
  EXPECT_EQ(ctx.streamRanges[0].lastSector, at + RoundUp(ts.size()) / Medium::kSector - 1);
  EXPECT_TRUE(ctx.tsContinuation);
  // Sector 47 of the stream starts with a packet; it continues the stream.
  uint64_t inner = at + 47;
  ASSERT_EQ(medium_->SectorAt(inner).U8(0), 0x47);
  Identification again = CarveAt(ctx, *medium_, inner);
  EXPECT_EQ(again.code, kNoMatch);
  EXPECT_EQ(again.status, kInvalidArg);
  // A fresh pass without the flag still refuses it: it lies in a carved range.
  ctx.tsContinuation = false;
  ctx.currentSector = inner;
  EXPECT_EQ(IdentifySector(ctx, medium_->SectorAt(inner)), kNoMatch);
  ctx.streamRanges.clear();
  EXPECT_EQ(IdentifySector(ctx, medium_->SectorAt(inner)), kTs);
}

// M2TS: the flag set by carving one keeps its own later PAT packets from
// counting as new files while the flag stands.
TEST_F(MediaSamples, M2tsFlagFollowsTheLastCarve) {
  auto m2ts = File("video.m2ts");
  medium_ = std::make_unique<Medium>();
  uint64_t at = medium_->Place(m2ts);
  uint64_t png = medium_->Place(NextHeader());
  medium_->Open(tmp_);
  CarveContext ctx;
  Identification id = CarveAt(ctx, *medium_, at);
  ASSERT_EQ(id.code, kMts);
  EXPECT_TRUE(ctx.m2tsContinuation);
  EXPECT_FALSE(ctx.tsContinuation);
  // A PAT packet with a non-zero arrival stamp is not a new file while the flag stands.
  std::vector<uint8_t> pat(m2ts.begin(), m2ts.begin() + Medium::kSector);
  pat[2] = 0x12;
  EXPECT_EQ(IdentifySector(ctx, ByteView(pat.data(), pat.size())), kNoMatch);
  CarveAt(ctx, *medium_, png);
  EXPECT_FALSE(ctx.m2tsContinuation);
  EXPECT_EQ(IdentifySector(ctx, ByteView(pat.data(), pat.size())), kMts);
}

// The dispatch by first byte gives the table walk's answer on every sector
// of every sample.
TEST_F(MediaSamples, DispatchAgreesWithTheTableWalkOnRealFiles) {
  medium_ = std::make_unique<Medium>();
  for (const Sample& s : kSamples) medium_->Place(File(s.file));
  medium_->Open(tmp_);
  CarveContext a, b;
  PrepareContext(a, *medium_);
  PrepareContext(b, *medium_);
  size_t hits = 0;
  for (uint64_t s = 0; s < medium_->bytes.size() / Medium::kSector; ++s) {
    a.currentSector = b.currentSector = s;
    FileTypeCode fast = IdentifySector(a, medium_->SectorAt(s));
    ASSERT_EQ(fast, IdentifyByTableWalk(b, medium_->SectorAt(s))) << "sector " << s;
    hits += fast != kNoMatch;
  }
  EXPECT_GE(hits, std::size(kSamples));
}

// A sector judged plain from its bytes alone (on a thread reading ahead) is
// one the forward scan passes over whatever the pass's stream flags: on
// every sector of every sample, with the readers of the transport-stream,
// Office and MP2 detectors at hand. Most sectors of real files are plain, or
// judging them would gain nothing.
TEST_F(MediaSamples, PlainSectorsStartNoFormatAndAreNoMetadata) {
  medium_ = std::make_unique<Medium>();
  for (const Sample& s : kSamples) medium_->Place(File(s.file));
  medium_->Open(tmp_);
  const uint64_t sectors = medium_->bytes.size() / Medium::kSector;
  uint64_t plain = 0;
  for (int flags = 0; flags < 4; ++flags) {
    CarveContext ctx;
    PrepareContext(ctx, *medium_);
    ctx.tsContinuation = flags & 1;
    ctx.m2tsContinuation = flags & 2;
    for (uint64_t s = 0; s < sectors; ++s) {
      if (!PlainSector(medium_->SectorAt(s), &IsDirectoryCluster)) continue;
      plain += flags == 0;
      ctx.currentSector = ctx.candidateStart = s;
      ASSERT_EQ(IdentifySector(ctx, medium_->SectorAt(s)), kNoMatch) << "sector " << s << " flags " << flags;
      ASSERT_FALSE(IsMetadataSector(medium_->SectorAt(s), &IsDirectoryCluster)) << "sector " << s;
    }
  }
  EXPECT_GT(plain, sectors * 9 / 10);
  for (const char* first : {"video.ts", "video.m2ts", "audio.mp2", "plain.ole", "doc.docx", "big.jpg"}) {
    auto f = File(first);
    f.resize(Medium::kSector);
    EXPECT_FALSE(PlainSector(ByteView(f.data(), f.size()), nullptr)) << first;
  }
}

// MatchesSignature judges a found file's first sector by its extension.
TEST_F(MediaSamples, MatchesSignatureByExtension) {
  medium_ = std::make_unique<Medium>();
  uint64_t docx = medium_->Place(File("doc.docx"));
  uint64_t xlsx = medium_->Place(File("book.xlsx"));
  uint64_t jpg = medium_->Place(File("big.jpg"));
  uint64_t ts = medium_->Place(File("video.ts"));
  medium_->Open(tmp_);
  CarveContext ctx;
  ctx.tsContinuation = true;
  const SectorSource* src = &medium_->source;
  EXPECT_TRUE(MatchesSignature(ctx, medium_->SectorAt(docx), "DOCX", src, 512, docx));
  EXPECT_FALSE(MatchesSignature(ctx, medium_->SectorAt(xlsx), "docx", src, 512, xlsx));
  EXPECT_FALSE(MatchesSignature(ctx, medium_->SectorAt(xlsx), "mso07", src, 512, xlsx));
  EXPECT_TRUE(MatchesSignature(ctx, medium_->SectorAt(jpg), "jpeg", src, 512, jpg));
  EXPECT_FALSE(MatchesSignature(ctx, medium_->SectorAt(jpg), "png", src, 512, jpg));
  EXPECT_TRUE(MatchesSignature(ctx, medium_->SectorAt(jpg), "txt", src, 512, jpg));
  EXPECT_TRUE(MatchesSignature(ctx, medium_->SectorAt(ts), "ts", src, 512, ts));
  EXPECT_FALSE(ctx.tsContinuation);
}

}  // namespace
}  // namespace dunmere::test
