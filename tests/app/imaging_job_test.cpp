#include "app/core/imaging/imaging_job.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::ReadBytes;
using test::TempDir;

// A source of `sectors` 512-byte sectors whose bytes are a function of their
// offset; sectors in `bad` cannot be read.
struct FakeSource {
  uint64_t sectors;
  std::set<uint64_t> bad;
  static uint8_t ByteAt(uint64_t off) { return uint8_t(off * 7 + off / 512); }
  SectorReader Reader() {
    return [this](uint64_t sector, uint32_t count, uint8_t* buf, uint32_t& got) -> Status {
      got = 0;
      for (uint32_t i = 0; i < count; ++i) {
        if (sector + i >= sectors || bad.count(sector + i)) return kReadFault;
        for (uint32_t b = 0; b < 512; ++b) buf[size_t(i) * 512 + b] = ByteAt((sector + i) * 512 + b);
        ++got;
      }
      return kOk;
    };
  }
};

struct Reports {
  std::vector<int> percents;
  std::vector<int64_t> secondsLeft;
  std::vector<uint64_t> done;
  int stopAfter = -1;
  static int Callback(void* u, int percent, uint64_t done, uint64_t total, int64_t left) {
    auto* r = static_cast<Reports*>(u);
    r->percents.push_back(percent);
    r->secondsLeft.push_back(left);
    r->done.push_back(done);
    EXPECT_GT(total, 0u);
    return int(r->percents.size()) == r->stopAfter ? kStopRequested : 0;
  }
};

ImagingJob JobFor(FakeSource& src, const std::string& image, Reports* rep) {
  ImagingJob job;
  job.reader = src.Reader();
  job.sectorSize = 512;
  job.sectorCount = src.sectors;
  job.imagePath = image;
  job.progress = &Reports::Callback;
  job.user = rep;
  return job;
}

TEST(CopySourceToImage, ByteExactWithShortLastChunk) {
  TempDir dir;
  FakeSource src{300, {}};  // 150 KiB: two full chunks and a short one
  Reports rep;
  ImagingJob job = JobFor(src, dir / "a.img", &rep);
  ASSERT_EQ(CopySourceToImage(job), kOk);
  auto bytes = ReadBytes(dir / "a.img");
  ASSERT_EQ(bytes.size(), 300u * 512);
  for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], FakeSource::ByteAt(i)) << i;
  EXPECT_EQ(rep.done, (std::vector<uint64_t>{128, 256, 300}));
  EXPECT_EQ(rep.percents.back(), 100);
  // A run this short never gets an estimate.
  for (int64_t s : rep.secondsLeft) EXPECT_EQ(s, -1);
}

TEST(CopySourceToImage, ReplacesALongerExistingFile) {
  TempDir dir;
  test::WriteBytes(dir / "a.img", std::vector<uint8_t>(1 << 20, 0xEE));
  FakeSource src{10, {}};
  ImagingJob job = JobFor(src, dir / "a.img", nullptr);
  job.progress = nullptr;
  ASSERT_EQ(CopySourceToImage(job), kOk);
  EXPECT_EQ(ReadBytes(dir / "a.img").size(), 5120u);  // nothing of the old file survives past the end
}

TEST(CopySourceToImage, StopKeepsThePartialImage) {
  TempDir dir;
  FakeSource src{1000, {}};
  Reports rep;
  rep.stopAfter = 2;
  ImagingJob job = JobFor(src, dir / "a.img", &rep);
  EXPECT_EQ(CopySourceToImage(job), kStopRequested);
  EXPECT_EQ(ReadBytes(dir / "a.img").size(), 2u * 65536);
}

TEST(CopySourceToImage, UnreadableSectorStopsWithReadFault) {
  TempDir dir;
  FakeSource src{400, {130}};
  ImagingJob job = JobFor(src, dir / "a.img", nullptr);
  job.progress = nullptr;
  EXPECT_EQ(CopySourceToImage(job), kReadFault);
  // What arrived before the bad sector is kept.
  EXPECT_EQ(ReadBytes(dir / "a.img").size(), 130u * 512);
  EXPECT_EQ(job.bytesWritten, 130u * 512);
}

TEST(CopySourceToImage, ContinueOnErrorsFillsZerosAndWritesTheMap) {
  TempDir dir;
  FakeSource src{400, {5, 6, 7, 200, 399}};
  ImagingJob job = JobFor(src, dir / "a.img", nullptr);
  job.progress = nullptr;
  job.continueOnErrors = true;
  ASSERT_EQ(CopySourceToImage(job), kOk);
  auto bytes = ReadBytes(dir / "a.img");
  ASSERT_EQ(bytes.size(), 400u * 512);
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint64_t s = i / 512;
    uint8_t want = src.bad.count(s) ? 0 : FakeSource::ByteAt(i);
    ASSERT_EQ(bytes[i], want) << i;
  }
  ASSERT_EQ(job.badRanges.size(), 3u);  // 5..7 merged
  EXPECT_EQ(job.badRanges[0].offset, 5u * 512);
  EXPECT_EQ(job.badRanges[0].length, 3u * 512);
  EXPECT_EQ(job.badRanges[2].offset, 399u * 512);
  std::string map;
  auto m = ReadBytes(dir / "a.img.map");
  map.assign(m.begin(), m.end());
  EXPECT_NE(map.find("0x00000A00  0x00000600  -"), std::string::npos) << map;
  EXPECT_NE(map.find("0x00000000  0x00000A00  +"), std::string::npos) << map;
  EXPECT_NE(map.find("0x00031E00  0x00000200  -"), std::string::npos) << map;
}

// Asked once at the first unreadable sector: yes goes on with zeros and a
// map, no stops there as without the question.
TEST(CopySourceToImage, QuestionAtTheFirstUnreadableSector) {
  TempDir dir;
  FakeSource src{400, {130, 131, 300}};
  for (bool yes : {true, false}) {
    SCOPED_TRACE(yes);
    ImagingJob job = JobFor(src, dir / "a.img", nullptr);
    job.progress = nullptr;
    int asked = 0;
    job.askOnReadError = [&] { return ++asked, yes; };
    std::filesystem::remove(dir / "a.img.map");
    if (yes) {
      ASSERT_EQ(CopySourceToImage(job), kOk);
      EXPECT_EQ(ReadBytes(dir / "a.img").size(), 400u * 512);
      ASSERT_EQ(job.badRanges.size(), 2u);
      EXPECT_EQ(job.badRanges[0].offset, 130u * 512);
      EXPECT_EQ(job.badRanges[0].length, 2u * 512);
      EXPECT_TRUE(std::filesystem::exists(dir / "a.img.map"));
    } else {
      EXPECT_EQ(CopySourceToImage(job), kReadFault);
      EXPECT_EQ(job.bytesWritten, 130u * 512);
      EXPECT_FALSE(std::filesystem::exists(dir / "a.img.map"));
    }
    EXPECT_EQ(asked, 1);
  }
}

// A map that cannot be written is not a success: the zeros in the image
// would pass for data.
TEST(CopySourceToImage, UnwritableMapIsReported) {
  TempDir dir;
  FakeSource src{200, {50}};
  ImagingJob job = JobFor(src, dir / "a.img", nullptr);
  job.progress = nullptr;
  job.continueOnErrors = true;
  job.mapPath = dir.path() + "/no-such-folder/a.img.map";
  const Status s = CopySourceToImage(job);
  EXPECT_NE(s, kOk);
  EXPECT_EQ(s, job.mapStatus);
  EXPECT_TRUE(job.mapWanted);
  EXPECT_EQ(job.bytesWritten, 200u * 512);  // the image itself is whole
  // Without unreadable-sector handling no map is due and none is reported.
  ImagingJob plain = JobFor(src, dir / "b.img", nullptr);
  plain.progress = nullptr;
  src.bad.clear();
  plain.mapPath = job.mapPath;
  EXPECT_EQ(CopySourceToImage(plain), kOk);
}

TEST(CopySourceToImage, RealFileRangeAndBadRange) {
  TempDir dir;
  std::vector<uint8_t> data(64 * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13);
  test::WriteBytes(dir / "src.bin", data);
  ImagingJob job;
  job.sourcePath = dir / "src.bin";
  job.firstSector = 8;
  job.sectorCount = 16;
  job.imagePath = dir / "part.img";
  ASSERT_EQ(CopySourceToImage(job), kOk);
  auto out = ReadBytes(dir / "part.img");
  EXPECT_EQ(out, std::vector<uint8_t>(data.begin() + 8 * 512, data.begin() + 24 * 512));
  uint64_t bytes = 0;
  EXPECT_EQ(ImageSourceBytes(job, bytes), kOk);
  EXPECT_EQ(bytes, 16u * 512);
  job.sectorCount = 57;  // reaches past the end
  EXPECT_EQ(CopySourceToImage(job), kInvalidArg);
  job.sourcePath = dir / "missing.bin";
  EXPECT_EQ(CopySourceToImage(job), kFileNotFound);
}

TEST(ImageDestinationChecks, FatLimitsAndFreeSpace) {
  const uint64_t GiB = 1ULL << 30;
  EXPECT_EQ(CheckImageDestination(1, true, "ext4", true, 1ULL << 40), ImageCheck::kOnSource);
  EXPECT_EQ(CheckImageDestination(6 * GiB, false, "FAT32", true, 1ULL << 40), ImageCheck::kTooBigForFat32);
  // FAT32 holds files up to 4 GiB - 1: exactly 4 GiB does not fit, 3 GiB does.
  EXPECT_EQ(CheckImageDestination(4 * GiB, false, "FAT32", true, 1ULL << 40), ImageCheck::kTooBigForFat32);
  EXPECT_EQ(CheckImageDestination(4 * GiB - 1, false, "FAT32", true, 1ULL << 40), ImageCheck::kOk);
  EXPECT_EQ(CheckImageDestination(3 * GiB, false, "vfat", true, 1ULL << 40), ImageCheck::kOk);
  EXPECT_EQ(CheckImageDestination(3 * GiB, false, "FAT", true, 1ULL << 40), ImageCheck::kTooBigForFat);
  EXPECT_EQ(CheckImageDestination(2 * GiB, false, "FAT", true, 1ULL << 40), ImageCheck::kOk);
  // exFAT has no such limit.
  EXPECT_EQ(CheckImageDestination(6 * GiB, false, "exFAT", true, 1ULL << 40), ImageCheck::kOk);
  EXPECT_EQ(CheckImageDestination(2 * GiB, false, "FAT", true, 2 * GiB - 1), ImageCheck::kNotEnoughSpace);
  EXPECT_EQ(CheckImageDestination(2 * GiB, false, "NTFS", true, 2 * GiB), ImageCheck::kOk);
  EXPECT_EQ(CheckImageDestination(2 * GiB, false, "NTFS", false, 0), ImageCheck::kOk);  // unknown free space
}

TEST(ImageDestinationChecks, ImageOfAnImageMayLieBesideIt) {
  TempDir dir;
  test::WriteBytes(dir / "src.img", std::vector<uint8_t>(4096, 1));
  // The source is itself a copy: a new file beside it cannot change it.
  EXPECT_NE(CheckImageDestinationPath(dir / "out.img", dir / "src.img", 4096), ImageCheck::kOnSource);
}

}  // namespace
}  // namespace dunmere
