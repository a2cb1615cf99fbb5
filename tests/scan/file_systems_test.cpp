#include "scan/file_systems.h"

#include "fat/fat_boot_sector.h"
#include "ntfs/ntfs_boot_sector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "engine/quick_ext_engine.h"
#include "storage/disk_table.h"
#include "scan/engine_factory.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::TempDir;

// Boot areas made by the real formatting tools, once per test program.
class RealBootSectors : public ::testing::Test {
 protected:
  static std::vector<uint8_t> Make(const std::string& tool, const std::string& command) {
    if (!test::HaveTool(tool)) return {};
    std::string img = dir_->path() + "/" + std::to_string(counter_++) + ".img";
    std::string out;
    std::string cmd = command;
    for (size_t p; (p = cmd.find("IMG")) != std::string::npos;) cmd.replace(p, 3, "'" + img + "'");
    EXPECT_EQ(test::RunCommand(cmd, &out), 0) << out;
    std::vector<uint8_t> bytes = test::ReadBytes(img);
    bytes.resize(kDetectBytes);
    return bytes;
  }
  static void SetUpTestSuite() { dir_ = new TempDir; }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static FsKind Detect(const std::vector<uint8_t>& b) { return DetectFileSystem(ByteView(b.data(), b.size())); }
  static inline TempDir* dir_ = nullptr;
  static inline int counter_ = 0;
};

TEST_F(RealBootSectors, FatVariantsFromMkfsFat) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  EXPECT_EQ(Detect(Make("mkfs.fat", "mkfs.fat -F 12 -C IMG 1440 >/dev/null")), FsKind::kFat);
  EXPECT_EQ(Detect(Make("mkfs.fat", "mkfs.fat -F 16 -C IMG 20000 >/dev/null")), FsKind::kFat);
  EXPECT_EQ(Detect(Make("mkfs.fat", "mkfs.fat -F 32 -C IMG 40000 >/dev/null")), FsKind::kFat);
  EXPECT_EQ(Detect(Make("mkfs.fat", "mkfs.fat -F 16 -S 4096 -C IMG 80000 >/dev/null")), FsKind::kFat);
  // A small FAT32 volume: mkfs.fat puts its size in the 16-bit field only.
  std::vector<uint8_t> small = Make("mkfs.fat", "mkfs.fat -F 32 -S 4096 -C IMG 80000 >/dev/null 2>&1");
  ASSERT_GE(small.size(), 512u);
  ASSERT_EQ(small[32] | small[33] | small[34] | small[35], 0);
  ASSERT_NE(small[19] | small[20], 0);
  EXPECT_EQ(Detect(small), FsKind::kFat);
  EXPECT_TRUE(IsFatBootSector(ByteView(small.data(), 512)));
  // With neither count it describes no volume.
  small[19] = small[20] = 0;
  EXPECT_EQ(Detect(small), FsKind::kOther);
}

TEST_F(RealBootSectors, NtfsFromMkntfsWithEveryClusterSize) {
  DUNMERE_REQUIRE_TOOL("mkntfs");
  std::vector<uint8_t> b = Make("mkntfs", "truncate -s 8M IMG && mkntfs -F -Q -q IMG");
  EXPECT_EQ(Detect(b), FsKind::kNtfs);
  std::vector<uint8_t> big = Make("mkntfs", "truncate -s 16M IMG && mkntfs -F -Q -q -s 4096 -c 65536 IMG");
  EXPECT_EQ(Detect(big), FsKind::kNtfs);
  // 64 KiB clusters on 512-byte sectors (128 sectors per cluster), and the
  // larger ones stored as a power of two: 2^(256 - value) sectors.
  std::vector<uint8_t> c64k = Make("mkntfs", "truncate -s 32M IMG && mkntfs -F -Q -q -s 512 -c 65536 IMG");
  ASSERT_GE(c64k.size(), 512u);
  EXPECT_EQ(c64k[13], 0x80);
  EXPECT_EQ(Detect(c64k), FsKind::kNtfs);
  std::vector<uint8_t> c2m =
      Make("mkntfs", "truncate -s 512M IMG && mkntfs -F -Q -q -s 512 -c 2097152 IMG >/dev/null 2>&1");
  ASSERT_GE(c2m.size(), 512u);
  EXPECT_EQ(c2m[13], 0xF4);
  EXPECT_EQ(Detect(c2m), FsKind::kNtfs);
  NtfsBootInfo info;
  ASSERT_EQ(ParseNtfsBootSector(ByteView(c2m.data(), 512), info), kOk);
  EXPECT_EQ(info.clusterBytes, 2u << 20);
  // Values that are neither a power of two nor an exponent up to 2 MiB stay
  // refused: 3 sectors, 2^13 sectors (4 MiB), 2^127 sectors.
  for (uint8_t bad : {uint8_t(3), uint8_t(0), uint8_t(0xF3), uint8_t(0x81)}) {
    c2m[13] = bad;
    EXPECT_NE(Detect(c2m), FsKind::kNtfs) << int(bad);
  }
  b[13] = 8;
  b[511] = 0;
  EXPECT_EQ(Detect(b), FsKind::kOther);
}

TEST_F(RealBootSectors, ExfatFromMkfsExfatNeverTakenForFat) {
  DUNMERE_REQUIRE_TOOL("mkfs.exfat");
  for (const char* cluster : {"512", "4K", "128K"}) {
    SCOPED_TRACE(cluster);
    std::vector<uint8_t> b =
        Make("mkfs.exfat", std::string("truncate -s 16M IMG && mkfs.exfat -c ") + cluster + " IMG >/dev/null");
    EXPECT_EQ(Detect(b), FsKind::kExfat);
    EXPECT_FALSE(IsFatBootSector(ByteView(b.data(), 512)));
    // Where FAT keeps its sector size exFAT keeps zeros: with a value there
    // it is neither (the FAT test still finds no FAT in the rest).
    b[11] = 0x00;
    b[12] = 0x02;
    EXPECT_NE(Detect(b), FsKind::kExfat);
    EXPECT_NE(Detect(b), FsKind::kFat);
  }
}

TEST_F(RealBootSectors, ExtWithOneAndFourKiBBlocks) {
  DUNMERE_REQUIRE_TOOL("mke2fs");
  std::vector<uint8_t> oneK = Make("mke2fs", "truncate -s 8M IMG && mke2fs -q -F -b 1024 IMG");
  EXPECT_EQ(Detect(oneK), FsKind::kExt);
  EXPECT_EQ(Detect(Make("mke2fs", "truncate -s 8M IMG && mke2fs -q -F -t ext4 -b 4096 IMG")), FsKind::kExt);
  // A 1 KiB block size demands first data block 1.
  PutLe32(&oneK[1024 + 20], 0);
  EXPECT_EQ(Detect(oneK), FsKind::kOther);
}

TEST_F(RealBootSectors, EncryptedVolumeIsNeverFat) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  std::vector<uint8_t> b = Make("mkfs.fat", "mkfs.fat -F 32 -C IMG 40000 >/dev/null");
  std::vector<uint8_t> marked = b;
  std::memcpy(&marked[3], "-FVE-FS-", 8);
  EXPECT_EQ(Detect(marked), FsKind::kOther);
  marked = b;
  std::memcpy(&marked[480], "xxxxxxxx", 8);
  std::memset(&marked[488], 0xFF, 19);
  marked[507] = 0x00;
  marked[508] = 0x1F;
  marked[509] = 0x2C;
  EXPECT_EQ(Detect(marked), FsKind::kOther);
  marked[509] = 0x2D;  // not the marker after all
  EXPECT_EQ(Detect(marked), FsKind::kFat);
}

TEST(DetectDamagedBytes, ZerosShortBuffersAndGarbage) {
  std::vector<uint8_t> zeros(kDetectBytes, 0);
  EXPECT_EQ(DetectFileSystem(ByteView(zeros.data(), zeros.size())), FsKind::kOther);
  EXPECT_EQ(DetectFileSystem(ByteView(zeros.data(), 100)), FsKind::kOther);
  std::vector<uint8_t> noise(kDetectBytes);
  uint32_t x = 12345;
  for (int round = 0; round < 200; ++round) {
    for (auto& v : noise) v = uint8_t((x = x * 1103515245 + 12345) >> 16);
    noise[510] = 0x55;
    noise[511] = 0xAA;
    std::memcpy(&noise[3], round % 2 ? "NTFS    " : "MSWIN4.1", 8);
    DetectFileSystem(ByteView(noise.data(), noise.size()));  // must not crash
  }
}

class FactoryOnImages : public ::testing::Test {
 protected:
  void TearDown() override { DiskTable::SetOverride({}); }
  TempDir dir_;
};

TEST_F(FactoryOnImages, ExtImageGetsTheExtEngineAndUnknownGetsNone) {
  DUNMERE_REQUIRE_TOOL("mke2fs");
  std::string img = dir_ / "ext.img";
  ASSERT_EQ(test::RunCommand("truncate -s 8M '" + img + "' && mke2fs -q -F '" + img + "'"), 0);
  auto engine = CreateEngineForImage(img, 1, false);
  ASSERT_NE(engine, nullptr);
  EXPECT_NE(dynamic_cast<QuickExtEngine*>(engine.get()), nullptr);
  EXPECT_EQ(engine->Scan(nullptr), kOk);
  EXPECT_EQ(engine->GetFoundCount(), 0);

  std::string blank = dir_ / "blank.img";
  test::WriteBytes(blank, std::vector<uint8_t>(kDetectBytes, 0));
  EXPECT_EQ(CreateEngineForImage(blank, 1, false), nullptr);
  // The first 16 KiB must arrive whole, even when the boot sector itself is there.
  test::WriteBytes(blank, std::vector<uint8_t>(kDetectBytes - 1, 0));
  EXPECT_EQ(CreateEngineForImage(blank, 1, false), nullptr);
  EXPECT_EQ(CreateEngineForImage(dir_ / "missing.img", 1, false), nullptr);
}

TEST_F(FactoryOnImages, PartitionOfAPartitionedDiskIsFoundByStartSector) {
  DUNMERE_REQUIRE_TOOL("sfdisk");
  DUNMERE_REQUIRE_TOOL("mke2fs");
  std::string disk = dir_ / "disk.img";
  std::string out;
  ASSERT_EQ(test::RunCommand("truncate -s 16M '" + disk + "' && echo 'start=2048, size=20480, type=83' | sfdisk -q '" +
                                 disk + "' && mke2fs -q -F -E offset=1048576 '" + disk + "' 10240",
                             &out),
            0)
      << out;
  DiskTable::SetOverride({disk});
  auto engine = CreateEngineForPartition(0, 2048, 20480, 2, false);
  ASSERT_NE(engine, nullptr);
  EXPECT_NE(dynamic_cast<QuickExtEngine*>(engine.get()), nullptr);
  EXPECT_EQ(CreateEngineForPartition(0, 0, 20480, 2, false), nullptr);       // the partition table
  EXPECT_EQ(CreateEngineForPartition(0, 32760, 10, 2, false), nullptr);      // 16 KiB past the end
  EXPECT_EQ(CreateEngineForPartition(5, 2048, 20480, 2, false), nullptr);    // no such disk
}

// Every record kind the engines write is named, each by one engine, and every
// file system the table names has a quick engine to hand out.
TEST(FileSystemTable, NamesRecordKindsAndEnginesOnce) {
  std::set<std::string> names;
  for (uint32_t kind :
       {kSourceQuickNtfs, kSourceQuickFat, kSourceDeepNtfs, kSourceDeepFat, kSourceCarving, kSourceQuickExfat,
        kSourceDeepExfat})
    EXPECT_TRUE(names.insert(EngineName(kind)).second) << kind;
  EXPECT_EQ(names, (std::set<std::string>{"quick NTFS", "quick FAT", "deep NTFS", "deep FAT", "carving", "quick exFAT",
                                          "deep exFAT"}));
  EXPECT_TRUE(KindHasFolders(kSourceQuickExfat));
  EXPECT_TRUE(KindHasFolders(kSourceDeepExfat));
  EXPECT_FALSE(KindHasFolders(kSourceCarving));
  EXPECT_EQ(EngineName(kNoSourceKind), "unknown");
  EXPECT_EQ(EngineName(77), "unknown");
  std::set<int> kinds;
  for (const FileSystemRow& row : FileSystems()) {
    EXPECT_TRUE(kinds.insert(int(row.kind)).second);
    EXPECT_EQ(FileSystemOf(row.kind), &row);
    EXPECT_EQ(FsKindName(row.kind), row.name);
    ASSERT_NE(row.makeQuick, nullptr) << row.name;
    EXPECT_NE(row.makeQuick(), nullptr) << row.name;
    EXPECT_NE(CreateEngineForKind(row.kind, false), nullptr) << row.name;
  }
  EXPECT_EQ(FileSystemOf(FsKind::kOther), nullptr);
  EXPECT_EQ(FsKindName(FsKind::kOther), "unknown");
  EXPECT_EQ(CreateEngineForKind(FsKind::kOther, false), nullptr);
  EXPECT_NE(CreateEngineForKind(FsKind::kOther, true), nullptr);  // a deep scan reads anything
}

}  // namespace
}  // namespace dunmere
