#include "storage/disk_list.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

// One fake tree for the whole program: it takes real tools to make.
class DiskListTree : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    fs::create_directories(dir_->path() + "/mnt");
    std::string out;
    status_ = test::RunFixtureScript("make_sysfs_tree.sh", "'" + dir_->path() + "' '" + dir_->path() + "/mnt'", &out);
    if (status_ != 0) message_ = out;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (status_ == 77) GTEST_SKIP() << "fake sysfs tree needs sfdisk and mkfs.fat: " << message_;
    ASSERT_EQ(status_, 0) << message_;
    roots_.sysBlock = dir_->path() + "/sys/block";
    roots_.dev = dir_->path() + "/dev";
    roots_.udevData = dir_->path() + "/udev";
    roots_.mountInfo = dir_->path() + "/mountinfo";
  }
  std::vector<VolumeInfo> Flat() {
    DiskList list;
    EXPECT_EQ(RebuildDiskList(list, roots_), 1);
    std::vector<VolumeInfo> flat;
    FlattenDiskList(list, flat);
    return flat;
  }
  static TempDir* dir_;
  static int status_;
  static std::string message_;
  EnumerationRoots roots_;
};
TempDir* DiskListTree::dir_ = nullptr;
int DiskListTree::status_ = -1;
std::string DiskListTree::message_;

TEST_F(DiskListTree, VolumesGapsAndWholeDisksInOrder) {
  std::vector<VolumeInfo> v = Flat();
  ASSERT_EQ(v.size(), 7u);
  // Disks in natural name order: mmcblk0, sda, sdb, sdc; the unattached loop is left out.
  EXPECT_EQ(v[0].kind, EntryKind::kWholeDisk);
  EXPECT_EQ(v[0].diskNumber, 0);
  EXPECT_EQ(v[0].sectorCount, 30720u);
  EXPECT_EQ(v[0].totalBytes, 30720u * 512);
  EXPECT_EQ(v[0].freeBytes, v[0].totalBytes);

  EXPECT_EQ(v[1].kind, EntryKind::kVolume);
  EXPECT_EQ(v[1].volumePath, roots_.dev + "/sda1");
  EXPECT_EQ(v[1].fsName, "FAT");
  EXPECT_EQ(v[1].fsType, kFsTypeFat);
  EXPECT_EQ(v[1].label, "MYFAT");
  EXPECT_EQ(v[1].partitionNumber, 1);
  EXPECT_EQ(v[1].startSector, 2048u);
  EXPECT_EQ(v[1].sectorCount, 40960u);
  EXPECT_EQ(v[1].mountPoint, dir_->path() + "/mnt");
  EXPECT_EQ(v[1].usedBytes + v[1].freeBytes, v[1].totalBytes);

  EXPECT_EQ(v[2].kind, EntryKind::kUnallocated);
  EXPECT_EQ(v[2].startSector, 43008u);
  EXPECT_EQ(v[2].sectorCount, 18432u);
  EXPECT_EQ(v[2].fsType, 0);
  EXPECT_EQ(v[2].freeBytes, 18432u * 512);

  // Not readable as a node: the udev database names it.
  EXPECT_EQ(v[3].fsName, "NTFS");
  EXPECT_EQ(v[3].fsType, kFsTypeNtfs);
  EXPECT_EQ(v[3].label, "My Disk");
  EXPECT_EQ(v[3].totalBytes, 40960u * 512);  // not mounted: the partition's length
  EXPECT_EQ(v[3].freeBytes, 0u);

  EXPECT_EQ(v[4].kind, EntryKind::kUnallocated);
  EXPECT_EQ(v[4].startSector, 102400u);
  EXPECT_EQ(v[4].sectorCount, 131072u - 102400u);

  // A stick formatted without a partition table is listed as its volume.
  EXPECT_EQ(v[5].kind, EntryKind::kVolume);
  EXPECT_EQ(v[5].diskNumber, 2);
  EXPECT_EQ(v[5].partitionNumber, 0);
  EXPECT_EQ(v[5].fsName, "FAT32");
  EXPECT_EQ(v[5].fsType, kFsTypeFat32);
  EXPECT_EQ(v[5].label, "STICK");

  EXPECT_EQ(v[6].kind, EntryKind::kWholeDisk);
  EXPECT_EQ(v[6].diskNumber, 3);

  // Every entry has its 1-based position as its tag.
  for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(v[i].letter, i + 1);
}

TEST_F(DiskListTree, IteratorWalksTheSameOrder) {
  DiskList list;
  RebuildDiskList(list, roots_);
  std::vector<VolumeInfo> flat;
  FlattenDiskList(list, flat);
  DiskListIterator it(list);
  VolumeInfo v;
  size_t n = 0;
  while (it.Next(v)) {
    ASSERT_LT(n, flat.size());
    EXPECT_EQ(v.letter, flat[n].letter);
    ++n;
  }
  EXPECT_EQ(n, flat.size());
  EXPECT_EQ(it.Next(v), 0);
}

TEST_F(DiskListTree, RemovableByFlagUsbOrSd) {
  EXPECT_TRUE(IsRemovableDisk(0, roots_));   // mmcblk0: SD
  EXPECT_FALSE(IsRemovableDisk(1, roots_));  // sda
  EXPECT_TRUE(IsRemovableDisk(2, roots_));   // removable media
  EXPECT_TRUE(IsRemovableDisk(3, roots_));   // on a USB bus
  EXPECT_FALSE(IsRemovableDisk(9, roots_));
  uint64_t len = 0;
  EXPECT_EQ(GetDiskLengthBytes(len, 1, roots_), kOk);
  EXPECT_EQ(len, 131072u * 512);
  EXPECT_NE(GetDiskLengthBytes(len, 42, roots_), kOk);
}

TEST_F(DiskListTree, RemovedVolumesAreReported) {
  std::vector<VolumeInfo> before = Flat();
  // The NTFS partition goes away (the gap before it grows over its place) and
  // so does the last disk.
  fs::rename(roots_.sysBlock + "/sda/sda2", dir_->path() + "/sda2.off");
  fs::rename(roots_.sysBlock + "/sdc", dir_->path() + "/sdc.off");
  DiskList list;
  std::vector<VolumeInfo> removed;
  DetectRemovedVolumes(list, before, removed, roots_);
  fs::rename(dir_->path() + "/sda2.off", roots_.sysBlock + "/sda/sda2");
  fs::rename(dir_->path() + "/sdc.off", roots_.sysBlock + "/sdc");
  ASSERT_EQ(removed.size(), 3u);
  EXPECT_EQ(removed[0].fsName, "NTFS");
  EXPECT_EQ(removed[1].startSector, 102400u);  // the old tail stretch now starts earlier
  EXPECT_EQ(removed[2].diskNumber, 3);
}

TEST(DiskList, GapOfOneCylinderIsNoStretch) {
  const uint64_t cyl = 16065;
  auto none = UnallocatedStretches({{63, 1000}, {1063 + cyl, 500}}, 63, cyl, 0);
  EXPECT_TRUE(none.empty());
  auto one = UnallocatedStretches({{63, 1000}, {1063 + cyl + 1, 500}}, 63, cyl, 0);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].start, 1063u);
  EXPECT_EQ(one[0].count, cyl + 1);
  // The tail, and overlapping entries of a damaged table never rewind.
  auto tail = UnallocatedStretches({{63, 100000}, {50000, 10}}, 63, cyl, 100063 + cyl + 1);
  ASSERT_EQ(tail.size(), 1u);
  EXPECT_EQ(tail[0].start, 100063u);
}

TEST(DiskList, NoWholeDiskBeyondNumber127) {
  TempDir dir;
  for (int i = 0; i < 130; ++i) {
    fs::path d = fs::path(dir.path()) / "block" / ("vd" + std::to_string(i));
    fs::create_directories(d);
    std::ofstream(d / "size") << 8;
  }
  EnumerationRoots roots;
  roots.sysBlock = dir.path() + "/block";
  roots.dev = dir.path() + "/dev";
  roots.udevData = dir.path() + "/udev";
  roots.mountInfo = dir.path() + "/none";
  DiskList list;
  ASSERT_EQ(RebuildDiskList(list, roots), 1);
  EXPECT_EQ(list.size(), kMaxListedDisks);
  EXPECT_EQ(list.rbegin()->first, 127u);
  EnumerationRoots missing = roots;
  missing.sysBlock = dir.path() + "/nothing";
  EXPECT_EQ(RebuildDiskList(list, missing), 0);
  EXPECT_TRUE(list.empty());
}

TEST(DiskList, VolumeFsNameAndFreeSpaceOfAPath) {
  TempDir dir;
  std::string name;
  ASSERT_EQ(GetVolumeFsName(dir.path(), name), kOk);
  EXPECT_FALSE(name.empty());
  uint64_t freeBytes = 0;
  ASSERT_EQ(GetVolumeFreeBytes(dir.path(), freeBytes), kOk);
  struct statvfs sv;
  ASSERT_EQ(statvfs(dir.path().c_str(), &sv), 0);
  EXPECT_NEAR(double(freeBytes), double(uint64_t(sv.f_bavail) * sv.f_frsize), 64.0 * 1024 * 1024);
  EXPECT_NE(GetVolumeFreeBytes(dir / "missing", freeBytes), kOk);
}

// A real loop device with a partitioned image, where this machine allows one.
TEST(DiskList, LoopDeviceWithPartitions) {
  DUNMERE_REQUIRE_TOOL("losetup");
  DUNMERE_REQUIRE_TOOL("sfdisk");
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  TempDir dir;
  std::string img = dir / "disk.img", part = dir / "p1.img", out;
  ASSERT_EQ(test::RunCommand("truncate -s 48M '" + img + "' && printf 'label: dos\\nstart=2048, size=32768, "
                             "type=c\\n' | sfdisk -q '" + img + "' && truncate -s 16M '" + part +
                             "' && mkfs.fat -F 16 -n LOOPFAT '" + part + "' >/dev/null && dd if='" + part + "' of='" +
                             img + "' bs=512 seek=2048 conv=notrunc status=none", &out), 0) << out;
  std::string loop;
  if (test::RunCommand("losetup -f --show -P '" + img + "'", &loop) != 0)
    GTEST_SKIP() << "no loop device here (needs root): " << loop;
  while (!loop.empty() && (loop.back() == '\n' || loop.back() == ' ')) loop.pop_back();
  DiskList list;
  RebuildDiskList(list);
  test::RunCommand("losetup -d '" + loop + "'");
  const VolumeInfo* found = nullptr;
  for (const auto& [disk, entries] : list)
    for (const VolumeInfo& v : entries)
      if (v.label == "LOOPFAT") found = &v;
  // With or without partition scanning, the table's partition is listed.
  ASSERT_NE(found, nullptr) << "loop device " << loop << " not listed with its FAT partition";
  EXPECT_EQ(found->startSector, 2048u);
  EXPECT_EQ(found->sectorCount, 32768u);
  EXPECT_EQ(found->fsName, "FAT");
  EXPECT_EQ(found->partitionNumber, 1);
}

// An exFAT volume mounted through exfat-fuse (type fuseblk) is named by what
// the device holds, as the kernel's own exfat driver would name it.
TEST(DiskList, ExfatMountedThroughFuseIsExfat) {
  DUNMERE_REQUIRE_TOOL("losetup");
  DUNMERE_REQUIRE_TOOL("mkfs.exfat");
  DUNMERE_REQUIRE_TOOL("mount.exfat-fuse");
  TempDir dir;
  const std::string img = dir / "x.img", mnt = dir / "mnt";
  fs::create_directories(mnt);
  std::string loop;
  if (test::RunCommand("truncate -s 8M '" + img + "' && losetup -f --show '" + img + "'", &loop) != 0)
    GTEST_SKIP() << "no loop device here (needs root): " << loop;
  while (!loop.empty() && (loop.back() == '\n' || loop.back() == ' ')) loop.pop_back();
  struct Detach {
    std::string loop, mnt;
    ~Detach() { test::RunCommand("fusermount -u '" + mnt + "' 2>/dev/null; losetup -d '" + loop + "'"); }
  } detach{loop, mnt};
  std::string out;
  ASSERT_EQ(test::RunCommand("mkfs.exfat -L FUSEX '" + loop + "' >/dev/null", &out), 0) << out;
  if (test::RunCommand("mount.exfat-fuse '" + loop + "' '" + mnt + "'", &out) != 0)
    GTEST_SKIP() << "exfat-fuse cannot mount here (needs /dev/fuse): " << out;
  std::string name;
  ASSERT_EQ(GetVolumeFsName(mnt, name), kOk);
  EXPECT_EQ(name, "exFAT");
}

// An image file of a whole disk: a sparse file with a partition table
// written by sfdisk and a FAT volume made in place by mkfs.fat --offset.
std::string MakeDiskImage(const TempDir& dir, const std::string& label, const std::string& table,
                          uint64_t fatStart, uint64_t fatSectors, std::string& out) {
  const std::string img = dir / (label + ".img");
  const int rc = test::RunCommand("truncate -s 64M '" + img + "' && printf '" + table + "' | sfdisk -q '" + img +
                                      "' && mkfs.fat -F 16 -n " + label + " --offset " + std::to_string(fatStart) +
                                      " '" + img + "' " + std::to_string(fatSectors / 2) + " >/dev/null",
                                  &out);
  return rc == 0 ? img : std::string();
}

TEST(ImageEntries, MbrImageListsItsPartitionsAndTheFreeStretch) {
  DUNMERE_REQUIRE_TOOL("sfdisk");
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  TempDir dir;
  std::string out;
  // Partition 1: FAT at 2048 (16 MiB); partition 2: empty, 8 MiB, after a
  // 16 MiB gap; the rest of the 64 MiB file is free too.
  const std::string img = MakeDiskImage(
      dir, "CARDFAT", "label: dos\\nstart=2048, size=32768, type=6\\nstart=67584, size=16384, type=83\\n", 2048, 32768,
      out);
  ASSERT_FALSE(img.empty()) << out;
  const std::vector<VolumeInfo> e = ListImageEntries(img);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].kind, EntryKind::kVolume);
  EXPECT_EQ(e[0].partitionNumber, 1);
  EXPECT_EQ(e[0].startSector, 2048u);
  EXPECT_EQ(e[0].sectorCount, 32768u);
  EXPECT_EQ(e[0].fsName, "FAT");
  EXPECT_EQ(e[0].fsType, kFsTypeFat);
  EXPECT_EQ(e[0].label, "CARDFAT");
  EXPECT_EQ(e[0].totalBytes, 32768u * 512);
  EXPECT_EQ(e[0].diskNumber, -1);
  EXPECT_EQ(e[1].kind, EntryKind::kUnallocated);
  EXPECT_EQ(e[1].startSector, 34816u);
  EXPECT_EQ(e[1].sectorCount, 67584u - 34816u);
  EXPECT_EQ(e[2].kind, EntryKind::kVolume);
  EXPECT_EQ(e[2].partitionNumber, 2);
  EXPECT_EQ(e[2].startSector, 67584u);
  EXPECT_TRUE(e[2].fsName.empty());
  EXPECT_EQ(e[2].fsType, 0x83);
  EXPECT_EQ(e[3].kind, EntryKind::kUnallocated);
  EXPECT_EQ(e[3].startSector, 67584u + 16384u);
  EXPECT_EQ(e[3].startSector + e[3].sectorCount, 131072u);
}

TEST(ImageEntries, GptImageListsItsPartition) {
  DUNMERE_REQUIRE_TOOL("sfdisk");
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  TempDir dir;
  std::string out;
  const std::string img = MakeDiskImage(
      dir, "GPTFAT", "label: gpt\\nstart=2048, size=32768, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n", 2048, 32768,
      out);
  ASSERT_FALSE(img.empty()) << out;
  const std::vector<VolumeInfo> e = ListImageEntries(img);
  ASSERT_FALSE(e.empty());
  EXPECT_EQ(e[0].kind, EntryKind::kVolume);
  EXPECT_EQ(e[0].partitionNumber, 1);
  EXPECT_EQ(e[0].startSector, 2048u);
  EXPECT_EQ(e[0].sectorCount, 32768u);
  EXPECT_EQ(e[0].fsName, "FAT");
  EXPECT_EQ(e[0].label, "GPTFAT");
  size_t volumes = 0;
  for (const VolumeInfo& v : e) volumes += v.kind == EntryKind::kVolume;
  EXPECT_EQ(volumes, 1u);
}

TEST(ImageEntries, BareVolumeOrPlainFileHasNone) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  TempDir dir;
  std::string out;
  const std::string fat = dir / "fat.img";
  ASSERT_EQ(test::RunCommand("mkfs.fat -C -F 16 -n BARE '" + fat + "' 16384 >/dev/null", &out), 0) << out;
  EXPECT_TRUE(ListImageEntries(fat).empty());
  test::WriteBytes(dir / "zeros.img", std::vector<uint8_t>(1 << 20, 0));
  EXPECT_TRUE(ListImageEntries(dir / "zeros.img").empty());
  EXPECT_TRUE(ListImageEntries(dir / "missing.img").empty());
}

}  // namespace
}  // namespace dunmere
