#include "app/core/device_identity.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

void WriteText(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

TEST(DeviceIdentity, ImageFileStandsForTheDeviceHoldingIt) {
  TempDir dir;
  test::WriteBytes(dir / "disk.img", std::vector<uint8_t>(512, 0));
  EXPECT_TRUE(DestinationOnSource(dir / "out", dir / "disk.img"));
  // A destination not made yet is judged by its nearest existing folder.
  EXPECT_TRUE(DestinationOnSource(dir / "a/b/c", dir / "disk.img"));
  struct stat a, b;
  if (::stat("/dev/shm", &b) == 0 && ::stat(dir.path().c_str(), &a) == 0 && a.st_dev != b.st_dev) {
    EXPECT_FALSE(DestinationOnSource("/dev/shm", dir / "disk.img"));
  }
  EXPECT_FALSE(DestinationOnSource(dir / "out", dir / "missing.img"));
}

TEST(DeviceIdentity, DiskStandsForItsPartitionsInSysfs) {
  TempDir dir;
  fs::path sys = dir.path();
  WriteText(sys / "block/sdb/dev", "8:16\n");
  WriteText(sys / "block/sdb/sdb1/dev", "8:17\n");
  WriteText(sys / "block/sdb/sdb1/partition", "1\n");
  WriteText(sys / "block/sdb/sdb2/dev", "8:18\n");
  WriteText(sys / "block/sdb/sdb2/partition", "2\n");
  WriteText(sys / "block/sdb/queue/rotational", "0\n");
  fs::create_directories(sys / "dev/block");
  fs::create_directory_symlink("../../block/sdb", sys / "dev/block/8:16");
  fs::create_directory_symlink("../../block/sdb/sdb1", sys / "dev/block/8:17");
  DeviceSet parts = PartitionsOfDisk(makedev(8, 16), sys.string());
  EXPECT_EQ(parts, (DeviceSet{makedev(8, 17), makedev(8, 18)}));
  EXPECT_TRUE(PartitionsOfDisk(makedev(8, 17), sys.string()).empty());
  EXPECT_TRUE(PartitionsOfDisk(makedev(9, 9), sys.string()).empty());
}

}  // namespace
}  // namespace dunmere
