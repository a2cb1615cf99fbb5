// Files sized by their own structure: real files made by the tools that
// write them, carved from a medium where old data follows them, and damaged,
// cut and hostile variants that must fall back without looping or reading
// outside what was fed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "carving/ebml_walk.h"
#include "carving/flv_walk.h"
#include "carving/gif_walk.h"
#include "carving/gzip_walk.h"
#include "carving/iso_media_walk.h"
#include "carving/midi_walk.h"
#include "carving/mpeg_audio_walk.h"
#include "carving/mpeg_ps_walk.h"
#include "carving/mxf_walk.h"
#include "carving/psd_walk.h"
#include "carving/rar_walk.h"
#include "carving/real_media_walk.h"
#include "carving/signature_table.h"
#include "carving/structure_walk.h"
#include "tests/carving/media_samples_fixture.h"

namespace dunmere::test {
namespace {

struct Walked {
  const char* file;
  FileTypeCode code;
};

// One or more real files per walk.
const Walked kWalked[] = {
    {"video.mp4", kMp4},     {"video.mov", kMov},      {"mjpeg.mov", kMov},       {"video.3gp", k3gp},
    {"video.mkv", kMkv},     {"av.mkv", kMkv},         {"video.flv", kFlv},       {"video.mpg", kMpeg},
    {"video.vob", kMpeg},    {"video.mxf", kMxf},      {"video.rm", kRmvb},       {"archive.gz", kGz},
    {"numbers.gz", kGz},     {"image.psd", kPsd},      {"image.tif", kTif},       {"image-lzw.tif", kTif},
    {"audio.mmf", kMmf},     {"data.db", kDb},         {"pages.db", kDb},         {"image.gif", kGif},
    {"archive.rar", kRar},   {"ffmpeg.m2ts", kMts},    {"video.m2ts", kMts},      {"plain.mp2", kMp2},
    {"audio.mp2", kMp2},     {"video6.swf", kSwf},     {"long.mid", kMid},        {"song.mid", kMid},
    {"font.ttf", kTtf},
};

bool HeaderSized(FileTypeCode c) { return c == kDb || c == kMmf || c == kTtf; }

class StructureSizes : public MediaSamples {
 protected:
  // [zeros][file][old data to the end of its sector][random][next header]
  Identification CarveWithSlack(const std::vector<uint8_t>& file, uint32_t seed) {
    medium_ = std::make_unique<Medium>(seed);
    medium_->Zero(2);
    auto slack = medium_->RandomBytes(RoundUp(file.size()) - file.size());
    uint64_t at = medium_->PlaceThen(file, slack);
    medium_->Random(24);
    medium_->Place(NextHeader());
    medium_->Random(8);
    medium_->Open(tmp_, "slack.img");
    ctx_ = std::make_unique<CarveContext>();
    return CarveAt(*ctx_, *medium_, at);
  }
  // The size when the file is cut at `keep` bytes and random data follows.
  Identification CarveCut(const std::vector<uint8_t>& file, size_t keep, uint32_t seed) {
    std::vector<uint8_t> cut(file.begin(), file.begin() + std::min(keep, file.size()));
    return CarveWithSlack(cut, seed);
  }
};

// Old data in the rest of the last sector and random sectors after it: the
// structure still ends every file at its last byte.
TEST_F(StructureSizes, ToolMadeFilesEndAtTheirLastByteWhateverFollows) {
  for (const Walked& w : kWalked) {
    SCOPED_TRACE(w.file);
    auto file = File(w.file);
    for (uint32_t seed : {1u, 2u, 3u}) {
      Identification id = CarveWithSlack(file, seed);
      EXPECT_EQ(id.code, w.code);
      EXPECT_EQ(id.size, file.size()) << "seed " << seed;
    }
  }
}

// A file cut short (the rest overwritten by random data) breaks its walk:
// the fallback decides, the size stays within the medium, and nothing loops.
// (SQLite, SMAF and TrueType state their size in the header, as WAV does: a
// cut file keeps it.)
TEST_F(StructureSizes, CutFilesFallBackWithinTheMedium) {
  for (const Walked& w : kWalked) {
    SCOPED_TRACE(w.file);
    auto file = File(w.file);
    if (file.size() < 1200 || HeaderSized(w.code)) continue;
    for (size_t keep : {size_t(700), file.size() / 2, file.size() - 9}) {
      Identification id = CarveCut(file, keep, uint32_t(keep));
      if (id.code == kNoMatch) continue;  // too little left to tell the format
      EXPECT_EQ(id.status, kOk);
      EXPECT_GE(id.size, 8u);
      EXPECT_LE(id.size, medium_->bytes.size()) << keep;
    }
  }
}

// Hostile bytes over the header fields and the lengths further in: each
// sample with four bytes overwritten by FF, 00 or random values, one place at
// a time. Every carve
// ends within the medium, or within 256 MiB for sizes stated in a header (run
// under the sanitizer build for out-of-bounds reads).
TEST_F(StructureSizes, HostileHeaderBytesNeverLeaveTheMedium) {
  std::mt19937 rng(11);
  for (const Walked& w : kWalked) {
    SCOPED_TRACE(w.file);
    auto file = File(w.file);
    for (int round = 0; round < 48; ++round) {
      auto bad = file;
      // Half the rounds hit the headers, half anywhere (chunk and tag lengths deep in the file).
      const size_t span = round < 24 ? std::min<size_t>(600, bad.size() - 8) : bad.size() - 8;
      const size_t at = 4 + rng() % span;
      const uint8_t fill = round % 3 == 0 ? 0xFF : round % 3 == 1 ? 0x00 : uint8_t(rng());
      for (size_t i = at; i < std::min(bad.size(), at + 4); ++i) bad[i] = fill;
      Identification id = CarveWithSlack(bad, uint32_t(round));
      if (id.code == kNoMatch) continue;  // the damage hit what identifies the format
      EXPECT_EQ(id.status, kOk);
      if (HeaderSized(w.code)) EXPECT_LE(id.size, uint64_t(256) << 20);
      else EXPECT_LE(id.size, medium_->bytes.size());
    }
  }
}

// Where a structure cannot tell the end, the former rule still does: an MP4
// whose box chain breaks runs to the next header, in whole sectors.
TEST_F(StructureSizes, BrokenBoxChainRunsToTheNextHeader) {
  auto mp4 = File("video.mp4");
  // The second box's type made unprintable.
  const uint32_t first = Be32(mp4.data());
  ASSERT_LT(first + 8, mp4.size());
  mp4[first + 4] = 0x01;
  medium_ = std::make_unique<Medium>();
  uint64_t at = medium_->Place(mp4);
  uint64_t next = medium_->Place(NextHeader());
  medium_->Open(tmp_);
  CarveContext ctx;
  EXPECT_EQ(CarveAt(ctx, *medium_, at).size, (next - at) * Medium::kSector);
}

// A gzip member cut short with another file right after it: the deflate
// stream fails on the other file's first sector, so that file is not taken
// into the archive. (Inside a stored block any bytes would do; compressed
// data, as here, tells.)
TEST_F(StructureSizes, CutDeflateStreamEndsAtTheNextFile) {
  for (const char* name : {"numbers.gz"}) {
    SCOPED_TRACE(name);
    auto gz = File(name);
    gz.resize(gz.size() / 2);
    medium_ = std::make_unique<Medium>();
    uint64_t at = medium_->Place(gz);
    uint64_t next = medium_->Place(File("image.png"));
    medium_->Random(16);
    medium_->Open(tmp_);
    CarveContext ctx;
    Identification id = CarveAt(ctx, *medium_, at);
    EXPECT_EQ(id.code, kGz);
    EXPECT_EQ(id.size, (next - at) * Medium::kSector);
  }
}

// A picture's header that happens to open a sector inside the media box (a
// JPEG frame, or bytes of coded video that look like one) is the movie's own:
// it does not end the movie.
TEST_F(StructureSizes, HeadersInsideTheMediaBoxBelongToTheMovie) {
  for (const char* name : {"video.mp4", "mjpeg.mov"}) {
    SCOPED_TRACE(name);
    auto movie = File(name);
    // Finds the media box among the top-level boxes.
    size_t box = 0, mdat = 0, mdatEnd = 0;
    while (box + 8 <= movie.size()) {
      const uint32_t size = Be32(movie.data() + box);
      if (size < 8) break;
      if (std::memcmp(movie.data() + box + 4, "mdat", 4) == 0) {
        mdat = box;
        mdatEnd = box + size;
      }
      box += size;
    }
    ASSERT_GT(mdatEnd, mdat + 2 * Medium::kSector);
    // A JFIF header at the first sector boundary inside the media data.
    const size_t at = (mdat + 8 + Medium::kSector - 1) / Medium::kSector * Medium::kSector;
    const uint8_t jfif[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00, 0x00, 0x01};
    std::copy(std::begin(jfif), std::end(jfif), movie.begin() + at);
    Identification id = CarveWithSlack(movie, 5);
    EXPECT_EQ(id.size, movie.size());
    CarveContext probe;
    PrepareContext(probe, *medium_);
    EXPECT_EQ(IdentifySector(probe, ByteView(movie.data() + at, Medium::kSector)), kJpg);
  }
}

// ---- The walks on bytes made here: hostile lengths, gaps, loops ----------

template <class W>
StructureWalk::State FeedAll(W& w, const std::vector<uint8_t>& b, size_t piece = 7) {
  for (size_t off = 0; off < b.size(); off += piece)
    w.Feed(ByteView(b.data() + off, std::min(piece, b.size() - off)), off);
  return w.GetState();
}

void PutBe32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void Box(std::vector<uint8_t>& b, const char* type, uint32_t size, size_t body) {
  PutBe32(b, size);
  b.insert(b.end(), type, type + 4);
  b.resize(b.size() + body, 0x11);
}

TEST(StructureWalks, IsoBoxesEndAfterTheMovieAndRefuseHostileSizes) {
  std::vector<uint8_t> b;
  Box(b, "ftyp", 16, 8);
  Box(b, "mdat", 40, 32);
  Box(b, "moov", 24, 16);
  const size_t end = b.size();
  b.insert(b.end(), {0x9C, 0x01, 0xEE, 0x7F, 0x00, 0x02, 0x03, 0x04});  // old data
  IsoMediaWalk ok;
  EXPECT_EQ(FeedAll(ok, b, 5), StructureWalk::State::kEnded);
  EXPECT_EQ(ok.End(), end);

  // No movie box: the walk cannot tell the end.
  std::vector<uint8_t> noMovie;
  Box(noMovie, "ftyp", 16, 8);
  noMovie.insert(noMovie.end(), 8, 0x9C);
  IsoMediaWalk a;
  EXPECT_EQ(FeedAll(a, noMovie), StructureWalk::State::kBroken);

  // A 64-bit size that wraps the file offset, and one below its header.
  for (uint64_t large : {~uint64_t(0) - 4, uint64_t(8)}) {
    std::vector<uint8_t> h;
    Box(h, "ftyp", 16, 8);
    PutBe32(h, 1);
    h.insert(h.end(), {'m', 'd', 'a', 't'});
    PutBe32(h, uint32_t(large >> 32));
    PutBe32(h, uint32_t(large));
    h.resize(h.size() + 64, 0);
    IsoMediaWalk w;
    EXPECT_EQ(FeedAll(w, h), StructureWalk::State::kBroken) << large;
  }
}

TEST(StructureWalks, AGapBetweenPiecesBreaksTheWalk) {
  std::vector<uint8_t> b;
  Box(b, "ftyp", 16, 8);
  Box(b, "moov", 24, 16);
  IsoMediaWalk w;
  w.Feed(ByteView(b.data(), 10), 0);
  EXPECT_EQ(w.Feed(ByteView(b.data() + 20, 10), 20), StructureWalk::State::kBroken);
}

TEST(StructureWalks, EbmlUnknownSizeSegmentLeavesTheEndToTheFallback) {
  std::vector<uint8_t> b = {0x1A, 0x45, 0xDF, 0xA3, 0x84, 1, 2, 3, 4,                 // EBML header
                            0x18, 0x53, 0x80, 0x67, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  b.resize(64, 0x22);
  EbmlWalk w;
  EXPECT_EQ(FeedAll(w, b), StructureWalk::State::kBroken);
  // A known size ends the file after the segment.
  std::vector<uint8_t> k = {0x1A, 0x45, 0xDF, 0xA3, 0x84, 1, 2, 3, 4, 0x18, 0x53, 0x80, 0x67, 0x82, 9, 9};
  k.resize(k.size() + 12, 0x00);
  EbmlWalk e;
  EXPECT_EQ(FeedAll(e, k), StructureWalk::State::kEnded);
  EXPECT_EQ(e.End(), 16u);
}

TEST(StructureWalks, FlvPreviousTagSizeMustAgree) {
  std::vector<uint8_t> b = {'F', 'L', 'V', 1, 1, 0, 0, 0, 9, 0, 0, 0, 0};
  b.insert(b.end(), {9, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4});  // video tag, 4 bytes
  PutBe32(b, 15);
  const size_t end = b.size();
  b.insert(b.end(), 16, 0xC3);
  FlvWalk ok;
  EXPECT_EQ(FeedAll(ok, b), StructureWalk::State::kEnded);
  EXPECT_EQ(ok.End(), end);
  b[end - 1] = 16;
  FlvWalk bad;
  EXPECT_EQ(FeedAll(bad, b), StructureWalk::State::kBroken);
}

TEST(StructureWalks, MpegPackStreamEndsAtTheEndCode) {
  std::vector<uint8_t> b = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8};  // MPEG-2 pack
  b.insert(b.end(), {0, 0, 1, 0xE0, 0, 3, 7, 7, 7});
  b.insert(b.end(), {0, 0, 1, 0xB9});
  const size_t end = b.size();
  b.insert(b.end(), {0x55, 0x66, 0x77, 0x88, 0x99, 0xAA});
  MpegPsWalk w;
  EXPECT_EQ(FeedAll(w, b, 3), StructureWalk::State::kEnded);
  EXPECT_EQ(w.End(), end);
  b[14 + 2] = 0x07;  // the PES start code damaged
  MpegPsWalk d;
  EXPECT_EQ(FeedAll(d, b), StructureWalk::State::kBroken);
}

TEST(StructureWalks, MxfLengthsBeyondEightBytesBreak) {
  std::vector<uint8_t> b = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
  b.push_back(0x8F);  // 15 length bytes: not BER as MXF writes it
  b.resize(64, 0);
  MxfWalk w;
  EXPECT_EQ(FeedAll(w, b), StructureWalk::State::kBroken);
}

TEST(StructureWalks, RarBlocksEndAtTheEndBlockAndRefuseShortHeads) {
  std::vector<uint8_t> b = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  b.insert(b.end(), {0, 0, 0x73, 0, 0, 13, 0, 0, 0, 0, 0, 0, 0});
  b.insert(b.end(), {0, 0, 0x7B, 0, 0x40, 7, 0});
  const size_t end = b.size();
  b.insert(b.end(), 9, 0xEE);
  RarWalk ok;
  EXPECT_EQ(FeedAll(ok, b), StructureWalk::State::kEnded);
  EXPECT_EQ(ok.End(), end);
  b[7 + 5] = 3;  // a head shorter than its own fields
  RarWalk bad;
  EXPECT_EQ(FeedAll(bad, b), StructureWalk::State::kBroken);
}

TEST(StructureWalks, MidiTrackCountAndEndOfTrack) {
  std::vector<uint8_t> b = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};
  b.insert(b.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0x00});
  MidiWalk ok;
  EXPECT_EQ(FeedAll(ok, b), StructureWalk::State::kEnded);
  EXPECT_EQ(ok.End(), b.size());
  b[b.size() - 2] = 0x2E;  // no end-of-track event
  MidiWalk bad;
  EXPECT_EQ(FeedAll(bad, b), StructureWalk::State::kBroken);
  // 65535 announced tracks of length 0xFFFFFFF0: the walk waits for bytes it
  // never gets instead of running away.
  std::vector<uint8_t> h = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0xFF, 0xFF, 0, 96};
  h.insert(h.end(), {'M', 'T', 'r', 'k', 0xFF, 0xFF, 0xFF, 0xF0});
  MidiWalk big;
  EXPECT_EQ(FeedAll(big, h), StructureWalk::State::kGoing);
}

TEST(StructureWalks, GifWalksSubBlocksToTheTrailer) {
  std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0};
  b.insert(b.end(), 6, 0);                                                      // 2-colour table
  b.insert(b.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 0x01, 0});  // image, 2 data bytes
  b.push_back(0x3B);
  const size_t end = b.size();
  b.insert(b.end(), {0x00, 0x3B, 0x12});
  GifWalk w;
  EXPECT_EQ(FeedAll(w, b, 4), StructureWalk::State::kEnded);
  EXPECT_EQ(w.End(), end);
}

TEST(StructureWalks, PsdRowCountsAddUpAcrossPieces) {
  std::vector<uint8_t> b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3};
  PutBe32(b, 40);  // height
  PutBe32(b, 7);   // width
  b.insert(b.end(), {0, 8, 0, 3});
  for (int i = 0; i < 3; ++i) PutBe32(b, 0);  // colour modes, resources, layers
  b.insert(b.end(), {0, 1});                  // RLE
  for (int i = 0; i < 120; ++i) b.insert(b.end(), {0, 5});
  const size_t end = b.size() + 600;
  PsdWalk w;
  EXPECT_EQ(FeedAll(w, b, 13), StructureWalk::State::kEnded);
  EXPECT_EQ(w.End(), end);
}

TEST(StructureWalks, GzipThatDoesNotInflateBreaks) {
  std::vector<uint8_t> b = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 2, 3};
  b.insert(b.end(), 40, 0xFF);  // not a deflate stream
  GzipWalk w;
  EXPECT_EQ(FeedAll(w, b), StructureWalk::State::kBroken);
}

TEST(StructureWalks, Mp2FrameLengthsFromTheHeader) {
  const uint8_t mpeg1[] = {0xFF, 0xFD, 0xE4, 0x00};  // 384 kbit/s, 48 kHz
  EXPECT_EQ(Mp2FrameLength(mpeg1), 1152u);
  const uint8_t padded[] = {0xFF, 0xFD, 0x82, 0xC4};  // 128 kbit/s, 44.1 kHz, padding
  EXPECT_EQ(Mp2FrameLength(padded), 418u);
  const uint8_t layer3[] = {0xFF, 0xFB, 0x90, 0x00};
  EXPECT_EQ(Mp2FrameLength(layer3), 0u);
  const uint8_t freeRate[] = {0xFF, 0xFD, 0x04, 0x00};
  EXPECT_EQ(Mp2FrameLength(freeRate), 0u);
}

}  // namespace
}  // namespace dunmere::test
