#include "scan/read_ahead.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::TempDir;
using Take = ReadAhead::Take;

// An image of `sectors` sectors of random bytes, opened.
class ReadAheadImage : public ::testing::Test {
 protected:
  void Make(uint64_t sectors) {
    std::mt19937 rng(11);
    bytes_.resize(sectors * 512);
    for (uint8_t& b : bytes_) b = uint8_t(rng());
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
  const uint8_t* window = ahead.Sectors(1, 40);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(Same(window, 1, 40));
  EXPECT_TRUE(Same(data, 0, 16)) << "the chunk being dispatched is kept";
  EXPECT_EQ(ahead.Sectors(40, 40), nullptr) << "beyond four pieces: read from the source";
  EXPECT_EQ(ahead.Sectors(2000, 1), nullptr) << "outside the plan";
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
  EXPECT_EQ(ahead.Sectors(96, 4), nullptr);
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
