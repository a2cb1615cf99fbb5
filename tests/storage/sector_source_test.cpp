#include "storage/sector_source.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "storage/disk_table.h"
#include "storage/read_stop.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

// An image whose every byte tells its own position: byte i = (i / 512) & 0xFF.
std::string MakeImage(const TempDir& dir, size_t bytes) {
  std::vector<uint8_t> data(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = uint8_t(i / 512);
  std::string path = dir / "disk.img";
  test::WriteBytes(path, data);
  return path;
}

TEST(SectorSourceBounds, ReadEndingAtTheLastSectorAndOnePast) {
  TempDir dir;
  SectorSource src;
  ASSERT_EQ(src.OpenImageFile(MakeImage(dir, 100 * 512)), kOk);
  EXPECT_EQ(src.SectorCount(), 100u);
  std::vector<uint8_t> buf(4 * 512, 0xEE);
  uint32_t got = 99;
  EXPECT_EQ(src.ReadSectors(4, buf.data(), 96, 512, got), kOk);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(buf[3 * 512], 99);
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(src.ReadSectors(4, buf.data(), 97, 512, got), kInvalidArg);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(buf[0], 0xEE);  // nothing was read
  // Overflowing sector numbers are refused, not wrapped.
  EXPECT_EQ(src.ReadSectors(2, buf.data(), UINT64_MAX, 512, got), kInvalidArg);
  // In larger sectors the same bound holds in bytes.
  EXPECT_EQ(src.ReadSectors(1, buf.data(), 24, 2048, got), kOk);
  EXPECT_EQ(src.ReadSectors(1, buf.data(), 25, 2048, got), kInvalidArg);
}

TEST(SectorSourceBounds, ImageSizeNotAMultipleOf512AndZeroCount) {
  TempDir dir;
  SectorSource src;
  ASSERT_EQ(src.OpenImageFile(MakeImage(dir, 10 * 512 + 300)), kOk);
  EXPECT_EQ(src.SectorCount(), 10u);
  uint8_t buf[512];
  uint32_t got = 7;
  EXPECT_EQ(src.ReadSectors(1, buf, 10, 512, got), kInvalidArg);
  EXPECT_EQ(src.ReadSectors(0, buf, 3, 512, got), kOk);
  EXPECT_EQ(got, 0u);
}

TEST(SectorSourceReads, LargeReadsArriveWholeAcrossPieces) {
  TempDir dir;
  SectorSource src;
  ASSERT_EQ(src.OpenImageFile(MakeImage(dir, 1000 * 512)), kOk);
  std::vector<uint8_t> buf(300 * 512);
  uint32_t got = 0;
  ASSERT_EQ(src.ReadSectors(300, buf.data(), 700, 512, got), kOk);
  EXPECT_EQ(got, 300u);
  for (uint32_t s = 0; s < 300; ++s) ASSERT_EQ(buf[s * 512 + 17], uint8_t(700 + s)) << s;
}

TEST(SectorSourceReads, MediumShrinkingUnderTheReadGivesReadFaultWithSectorsSoFar) {
  TempDir dir;
  std::string path = MakeImage(dir, 200 * 512);
  SectorSource src;
  ASSERT_EQ(src.OpenImageFile(path), kOk);
  // The medium loses its tail after it was opened (a pulled card, a cut image).
  fs::resize_file(path, 150 * 512 + 256);
  std::vector<uint8_t> buf(100 * 512);
  uint32_t got = 0;
  EXPECT_EQ(src.ReadSectors(100, buf.data(), 90, 512, got), kReadFault);
  EXPECT_EQ(got, 60u);
  EXPECT_EQ(buf[59 * 512], uint8_t(149));
}

TEST(SectorSourceLifecycle, DoubleCloseMissingFileAndNoWriteAccess) {
  TempDir dir;
  SectorSource src;
  EXPECT_EQ(src.OpenImageFile(dir / "missing.img"), kFileNotFound);
  std::string path = MakeImage(dir, 8 * 512);
  chmod(path.c_str(), 0444);  // read-only media open fine: nothing asks for write access
  ASSERT_EQ(src.OpenImageFile(path), kOk);
  src.Close();
  src.Close();
  EXPECT_FALSE(src.IsOpen());
  uint8_t buf[512];
  uint32_t got = 0;
  EXPECT_EQ(src.ReadSectors(1, buf, 0, 512, got), kInvalidArg);
}

TEST(SectorSourceDisks, DiskTableSubstitutesImagesForPhysicalDisks) {
  TempDir dir;
  std::string img = MakeImage(dir, 64 * 512);
  DiskTable::SetOverride({dir / "none.img", img});
  SectorSource src;
  EXPECT_NE(src.OpenPhysicalDisk(0), kOk);
  ASSERT_EQ(src.OpenPhysicalDisk(1), kOk);
  EXPECT_EQ(src.SectorCount(), 64u);
  EXPECT_EQ(src.OpenPhysicalDisk(2), kFileNotFound);
  DiskTable::SetOverride({});
}

TEST(DiskTableOrder, NaturalKernelNameOrder) {
  std::vector<std::string> names = {"sdb",  "nvme1n1", "sda",  "nvme0n10", "nvme0n2", "sdaa",
                                    "sdz",  "mmcblk0", "vda",  "sdab",     "vdb",     "mmcblk0p1"};
  std::sort(names.begin(), names.end(), NaturalNameLess);
  EXPECT_EQ(names, (std::vector<std::string>{"mmcblk0", "mmcblk0p1", "nvme0n2", "nvme0n10", "nvme1n1", "sda", "sdb",
                                             "sdz", "sdaa", "sdab", "vda", "vdb"}));
}

TEST(DiskTableOrder, FakeSysfsSkipsRamZramAndEmptyDevices) {
  TempDir dir;
  auto dev = [&](const std::string& n, const std::string& size) {
    fs::create_directories(dir / ("block/" + n));
    std::ofstream(dir / ("block/" + n + "/size")) << size << "\n";
  };
  dev("sdb", "2048");
  dev("sda", "4096");
  dev("ram0", "8192");
  dev("zram0", "8192");
  dev("loop3", "0");
  dev("loop1", "100");
  EXPECT_EQ(DiskTable::ScanSysfs(dir / "block", "/dev"),
            (std::vector<std::string>{"/dev/loop1", "/dev/sda", "/dev/sdb"}));
}

}  // namespace
}  // namespace dunmere

namespace dunmere {
namespace {

TEST(UnreadableSectorsTally, OverlapsAndNeighboursCountOnce) {
  UnreadableSectors u;
  u.Add(512 * 10, 512 * 4);  // 10..13
  u.Add(512 * 12, 512 * 4);  // 12..15, overlaps
  u.Add(512 * 16, 512);      // 16, adjoins
  u.Add(512 * 40, 512);
  EXPECT_EQ(u.Count(512), 8u);
  EXPECT_EQ(u.Ranges().size(), 2u);
  UnreadableSectors other;
  other.Add(512 * 9, 512 * 2);   // 9..10: one new
  other.Add(512 * 40, 512);      // already known
  u.Merge(other);
  EXPECT_EQ(u.Count(512), 9u);
  // Counted in 4 KiB sectors, a partly bad sector counts whole.
  EXPECT_EQ(u.Count(4096), 3u);  // bytes 4608..8703 touch sectors 1 and 2; 20480 is sector 5
}

TEST(ReadStop, ARequestedStopRefusesReadsNotYetStarted) {
  test::TempDir dir;
  SectorSource src;
  ASSERT_EQ(src.OpenImageFile(MakeImage(dir, 300 * 512)), kOk);
  std::vector<uint8_t> buf(256 * 512, 0xEE);
  bool stop = false;
  uint32_t got = 0, bad = 0;
  {
    ReadStopScope scope([&] { return stop; });
    EXPECT_EQ(src.ReadSectors(256, buf.data(), 0, 512, got), kOk);
    stop = true;
    EXPECT_EQ(src.ReadSectors(256, buf.data(), 0, 512, got), kStopRequested);
    EXPECT_EQ(got, 0u);
    // A stop is no bad sector.
    EXPECT_EQ(src.ReadSectorsSkippingBad(256, buf.data(), 0, 512, bad), kStopRequested);
    EXPECT_TRUE(src.Unreadable().Empty());
  }
  // Outside the scope the thread reads again.
  EXPECT_EQ(src.ReadSectors(1, buf.data(), 0, 512, got), kOk);
  EXPECT_EQ(src.ReadSectorsSkippingBad(1, buf.data(), 299, 512, bad), kOk);
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(src.ReadSectorsSkippingBad(2, buf.data(), 299, 512, bad), kInvalidArg);
}

}  // namespace
}  // namespace dunmere
