#include "scan/read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "carving/scan_frame.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::TempDir;
using Take = ReadAhead::Take;

// An image of `sectors` sectors of random bytes, opened.
class ReadAheadImage : public ::testing::Test {
 protected:
  void Make(uint64_t sectors, const std::function<void(std::vector<uint8_t>&)>& shape = {}) {
    std::mt19937 rng(11);
    bytes_.resize(sectors * 512);
    for (uint8_t& b : bytes_) b = uint8_t(rng());
    if (shape) shape(bytes_);
    path_ = dir_ / "image.bin";
    test::WriteBytes(path_, bytes_);
    ASSERT_EQ(source_.OpenImageFile(path_), kOk);
  }
  bool Same(const uint8_t* data, uint64_t sector, uint64_t count) const {
    return std::memcmp(data, bytes_.data() + sector * 512, count * 512) == 0;
  }

  TempDir dir_;
  std::string path_;
  std::vector<uint8_t> bytes_;
  SectorSource source_;
};

const std::function<bool()> kNoStop;

TEST_F(ReadAheadImage, ChunksComeInOrderAlongThePlanAndAfterSkipsOfAnySize) {
  Make(4000);
  // Pieces of 16 sectors, four of them ahead; the area starts at sector 100.
  ReadAhead ahead(source_, 100, 512, 16, 4);
  const uint8_t* data = nullptr;
  EXPECT_EQ(ahead.TakeChunk(0, 0, 16, data, kNoStop), Take::kNotAhead) << "nothing planned yet";
  ahead.Restart({{0, 1000, 0}, {2000, 500, 0}});
  uint64_t at = 0;
  for (; at < 160; at += 16) {
    ASSERT_EQ(ahead.TakeChunk(0, at, 16, data, kNoStop), Take::kData) << at;
    EXPECT_TRUE(Same(data, 100 + at, 16)) << at;
  }
  // A carved file moved the pass on by a few sectors: the chunk straddles
  // two pieces (and, in a ring of four, sooner or later its end).
  for (at += 5; at + 16 <= 400; at += 16) {
    ASSERT_EQ(ahead.TakeChunk(0, at, 16, data, kNoStop), Take::kData) << at;
    EXPECT_TRUE(Same(data, 100 + at, 16)) << at;
  }
  // Far past what was read ahead: the pass restarts the reader there.
  at = 900;
  ASSERT_EQ(ahead.TakeChunk(0, at, 16, data, kNoStop), Take::kNotAhead);
  ahead.Restart({{0, 1000, at}, {2000, 500, 0}});
  for (; at < 1000; at += 16) {
    const uint32_t n = uint32_t(std::min<uint64_t>(16, 1000 - at));
    ASSERT_EQ(ahead.TakeChunk(0, at, n, data, kNoStop), Take::kData) << at;
    EXPECT_TRUE(Same(data, 100 + at, n)) << at;
  }
  // The next range follows without a restart.
  for (at = 0; at < 500; at += 16) {
    const uint32_t n = uint32_t(std::min<uint64_t>(16, 500 - at));
    ASSERT_EQ(ahead.TakeChunk(2000, at, n, data, kNoStop), Take::kData) << at;
    EXPECT_TRUE(Same(data, 2100 + at, n)) << at;
  }
  EXPECT_EQ(ahead.TakeChunk(3000, 0, 16, data, kNoStop), Take::kNotAhead) << "past the plan";
}

TEST_F(ReadAheadImage, CarvingTakesTheSectorsAfterTheChunkFromTheRingOnly) {
  Make(1000);
  ReadAhead ahead(source_, 0, 512, 16, 4);
  ahead.Restart({{0, 1000, 0}});
  const uint8_t* data = nullptr;
  ASSERT_EQ(ahead.TakeChunk(0, 0, 16, data, kNoStop), Take::kData);
  // A size rule's window after the chunk's first sector, as far as the ring
  // holds it while the chunk stays.
  const uint8_t* window = ahead.Sectors(1, 40, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(Same(window, 1, 40));
  EXPECT_TRUE(Same(data, 0, 16)) << "the chunk being dispatched is kept";
  EXPECT_EQ(ahead.Sectors(40, 40, nullptr), nullptr) << "beyond four pieces: read from the source";
  EXPECT_EQ(ahead.Sectors(2000, 1, nullptr), nullptr) << "outside the plan";
}

// The reader judges the sectors of the pieces it reads while the pass has
// some queued (here two), and hands the flags out with the sectors.
TEST_F(ReadAheadImage, TheReaderJudgesSectorsWhileThePassHasPiecesQueued) {
  Make(256, [](std::vector<uint8_t>& b) {
    const uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43};
    std::copy(std::begin(jpeg), std::end(jpeg), b.begin() + 40 * 512);  // a picture starts
    std::memcpy(b.data() + 41 * 512, "FILE", 4);                          // an NTFS record
    b[42 * 512] = 0x47;                                                    // a stream's sync byte, maybe
    std::fill(b.begin() + 43 * 512, b.begin() + 44 * 512, 0);
  });
  ReadAhead ahead(source_, 0, 512, 16, 8);
  ahead.JudgeSectors(nullptr, 2);
  ahead.Restart({{0, 256, 0}});
  const uint8_t* data = nullptr;
  ASSERT_EQ(ahead.TakeChunk(0, 0, 16, data, kNoStop), Take::kData);
  // Pieces 0 and 1 were read with fewer than two queued: not judged.
  const uint8_t* plain = data;
  ASSERT_NE(ahead.Sectors(1, 20, &plain), nullptr);
  EXPECT_EQ(plain, nullptr);
  // Pieces 2 to 7 were.
  const uint8_t* window = ahead.Sectors(32, 96, &plain);
  ASSERT_NE(window, nullptr);
  ASSERT_NE(plain, nullptr);
  EXPECT_TRUE(Same(window, 32, 96));
  for (uint64_t s = 32; s < 128; ++s)
    EXPECT_EQ(plain[s - 32] != 0, PlainSector(ByteView(bytes_.data() + s * 512, 512), nullptr)) << s;
  EXPECT_FALSE(plain[40 - 32]);
  EXPECT_FALSE(plain[41 - 32]);
  EXPECT_FALSE(plain[42 - 32]);
  EXPECT_TRUE(plain[43 - 32]);
  EXPECT_GT(std::count(plain, plain + 96, 1), 80);
}

TEST_F(ReadAheadImage, AReadThatFailsIsLeftToThePass) {
  Make(100);
  ReadAhead ahead(source_, 0, 512, 16, 4);
  // The plan runs past the end of the medium (an area larger than the disk).
  ahead.Restart({{0, 120, 0}});
  const uint8_t* data = nullptr;
  uint64_t at = 0;
  for (; at < 96; at += 16) ASSERT_EQ(ahead.TakeChunk(0, at, 16, data, kNoStop), Take::kData) << at;
  EXPECT_EQ(ahead.TakeChunk(0, 96, 16, data, kNoStop), Take::kReadItYourself);
  EXPECT_EQ(ahead.Sectors(96, 4, nullptr), nullptr);
}

TEST_F(ReadAheadImage, EndsWhileTheReaderWaitsForRoom) {
  Make(1000);
  for (uint32_t taken : {0u, 1u, 3u}) {
    ReadAhead ahead(source_, 0, 512, 8, 2);
    ahead.Restart({{0, 1000, 0}});
    const uint8_t* data = nullptr;
    for (uint32_t i = 0; i < taken; ++i) ASSERT_EQ(ahead.TakeChunk(0, i * 8, 8, data, kNoStop), Take::kData);
    // The ring fills and the reader waits on it; going out of scope wakes
    // it and ends it (a hang here fails the test by its time-out).
  }
}

}  // namespace
}  // namespace dunmere
