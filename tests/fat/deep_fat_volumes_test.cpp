// Several FAT volumes in one deep scan (the partitions of a whole disk):
// each volume's clusters are kept apart, a volume ends where its boot sector
// says, and only a boot sector whose FAT opens where it says makes a volume.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

#include "engine/scan_log_folder.h"
#include "fat/dir_entry_tests.h"
#include "fat/fat_boot_sector.h"
#include "fat/deep/folder_tree.h"
#include "fat/deep/volume_guesses.h"
#include "fat/deep/deep_fat_engine.h"
#include "tests/support/test_support.h"
#include "tests/support/open_medium.h"

using namespace dunmere;
using namespace dunmere::test;

namespace {

// A FAT16 volume at 100 (2 KiB clusters, fixed root) and a FAT32 one at 1100
// whose cluster 2 also falls on a cluster start of the first one's geometry.
struct TwoVolumes {
  DeepFatLimits limits;
  DeepFatStats stats;
  FatVolumeGuesses guesses{limits};
  FatFolderTree tree{guesses, stats, nullptr};
  TwoVolumes() {
    tree.Reset("");
    FatVolumeGuess a;
    a.sectorsPerCluster = 4;
    a.partitionStart = 100;
    a.dataStart = 50;
    a.rootCluster = 0;
    a.endSector = 1100;
    FatVolumeGuess b;
    b.sectorsPerCluster = 2;
    b.partitionStart = 1100;
    b.dataStart = 50;
    b.rootSectors = 0;
    b.rootCluster = 2;
    b.endSector = 3100;
    guesses.Add(a);
    guesses.Add(b);
    tree.SetRootCluster(0);
  }
};

TEST(DeepFatVolumes, ASectorOfTheSecondPartitionBelongsToItNotToTheFirst) {
  TwoVolumes v;
  int g = FatVolumeGuesses::kNone;
  uint32_t c = 0;
  ASSERT_TRUE(v.guesses.Place(1150, g, c));
  EXPECT_EQ(g, 1);
  EXPECT_EQ(c, 2u);
  EXPECT_EQ(v.guesses.FindAt(5, 1156), 1);
  EXPECT_EQ(v.guesses.FindNearestBelow(2000), 1);
  // Inside the first partition the first volume answers.
  ASSERT_TRUE(v.guesses.Place(158, g, c));
  EXPECT_EQ(g, 0);
  EXPECT_EQ(c, 4u);
}

TEST(DeepFatVolumes, EqualClusterNumbersOfTwoVolumesStayApartAndBothRootsAreTheRoot) {
  TwoVolumes v;
  const uint32_t first = v.guesses.Key(0, 5), second = v.guesses.Key(1, 5);
  EXPECT_EQ(first, 5u);
  EXPECT_NE(first, second);
  EXPECT_EQ(v.guesses[1].ClusterSector(second), v.guesses[1].ClusterSector(5));
  // The FAT32 volume's root cluster is the root; the FAT16 volume's cluster 2 is a folder.
  EXPECT_TRUE(v.tree.IsRoot(v.guesses.Key(1, 2)));
  EXPECT_EQ(v.tree.Normalize(v.guesses.Key(1, 2)), 0u);
  EXPECT_TRUE(v.tree.IsRoot(v.guesses.Key(1, 0)));
  EXPECT_FALSE(v.tree.IsRoot(v.guesses.Key(0, 2)));
  EXPECT_FALSE(v.tree.IsRoot(v.guesses.Key(1, 3)));
  // The same volume met twice (the area's boot sector, then the pass) is one volume.
  FatVolumeGuess again = v.guesses[1];
  again.tag = 0;
  EXPECT_TRUE(v.guesses.Has(again));
}

TEST(DeepFatVolumes, AVolumeLearnedInsideAPartitionSharesItsTagAndTheFirstAreaKeepsNone) {
  TwoVolumes v;
  // An older volume under the second partition, learned from two folders.
  FatVolumeGuess old;
  old.sectorsPerCluster = 1;
  old.partitionStart = 0;
  old.dataStart = 1300;
  v.guesses.Add(old);
  ASSERT_EQ(v.guesses.List().size(), 3u);
  EXPECT_EQ(v.guesses.Key(2, 7), v.guesses.Key(1, 7));
  // Under the first one: the same numbers as the first partition's.
  FatVolumeGuess under;
  under.sectorsPerCluster = 1;
  under.dataStart = 500;
  v.guesses.Add(under);
  EXPECT_EQ(v.guesses.Key(3, 7), 7u);
}

std::vector<uint8_t> Boot(bool fat32) {
  std::vector<uint8_t> b(512, 0);
  b[21] = 0xF8;
  if (!fat32) b[17] = 0x02;  // 512 root entries; a FAT32 boot sector has none
  if (!fat32) b[22] = 0x20;  // sectors per FAT in the FAT16 field
  return b;
}

TEST(DeepFatVolumes, OnlyAFatThatOpensWithTheMediaByteConfirmsABootSector) {
  const std::vector<uint8_t> fat16{0xF8, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, fat32{0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
  // What lies 6 + 32 sectors past a FAT32 backup boot sector: FAT entries of files.
  const std::vector<uint8_t> chain{0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00}, zeros(8, 0);
  auto b16 = Boot(false), b32 = Boot(true);
  auto v = [](const std::vector<uint8_t>& x) { return ByteView(x.data(), x.size()); };
  EXPECT_TRUE(FatOpensForBoot(v(b16), v(fat16)));
  EXPECT_TRUE(FatOpensForBoot(v(b32), v(fat32)));
  EXPECT_FALSE(FatOpensForBoot(v(b32), v(chain)));
  EXPECT_FALSE(FatOpensForBoot(v(b16), v(zeros)));
  auto other = Boot(false);
  other[21] = 0xF0;  // a floppy's media byte: not this FAT
  EXPECT_FALSE(FatOpensForBoot(v(other), v(fat16)));
}

// Two FAT16 partitions laid out alike, so that their folders and files have
// the same cluster numbers; every sector goes to the engine as the pass gives it.
TEST(DeepFatVolumes, TwoPartitionsWithTheSameClustersKeepTheirOwnFolders) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mcopy");
  DUNMERE_REQUIRE_TOOL("mdel");
  DUNMERE_REQUIRE_TOOL("mmd");
  TempDir tmp;
  const std::string img = tmp / "disk.img";
  const uint64_t p[2] = {2048, 2048 + 32768};
  std::string cmd = "set -e; export MTOOLS_SKIP_CHECK=1; cd '" + tmp.path() + "'; truncate -s " +
                    std::to_string((p[1] + 32768 + 64) * 512) + " disk.img;";
  for (int i = 0; i < 2; ++i) {
    const std::string n = std::to_string(i + 1), v = "disk.img@@" + std::to_string(p[i] * 512);
    cmd += " mkfs.fat -F 16 -s 4 --offset " + std::to_string(p[i]) + " disk.img 16384 >/dev/null 2>&1;";
    cmd += " head -c " + std::to_string(5000 + 1000 * i) + " /dev/urandom > kept.bin; head -c " +
           std::to_string(7000 + 1000 * i) + " /dev/urandom > gone.bin;";
    cmd += " mmd -i " + v + " ::/Docs; mcopy -i " + v + " kept.bin ::/Docs/kept_" + n + ".bin; mcopy -i " + v +
           " gone.bin ::/Docs/gone_" + n + ".bin; mdel -i " + v + " ::/Docs/gone_" + n + ".bin;";
  }
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  UsePrivateDataFolder();
  ScanLogFolder::Instance().BeginNewScanFolder();
  DeepFatEngine e;
  ASSERT_EQ(test::OpenImageIn(e, img, 'V'), 0);
  ASSERT_EQ(e.BeginFatLog(""), 0);
  ASSERT_EQ(e.SeedFromBootSector(), 0);  // sector 0 is the MBR: no volume
  std::ifstream in(img, std::ios::binary);
  std::vector<uint8_t> s(512);
  for (uint64_t n = 0; in.read(reinterpret_cast<char*>(s.data()), 512); ++n) {
    ByteView sv(s.data(), s.size());
    if (IsFatBootSector(sv))
      e.OnBootSector(sv, n);
    else if (IsDotPair(sv))
      e.OnDotPairSector(sv, n);
    else if (IsDirectoryCluster(sv))
      e.OnDirectorySector(sv, n);
  }
  ASSERT_EQ(e.FinishFatScan(), 0);
  ASSERT_EQ(e.Guesses().size(), 2u);

  // Each top folder holds the files of one partition only, read from it.
  std::vector<FoundItemRecord> top, kids;
  ASSERT_EQ(e.ListChildren(nullptr, 0, top), 0);
  std::set<std::string> seen;
  for (const FoundItemRecord& f : top) {
    if (!f.isFolder) continue;
    ASSERT_EQ(e.ListChildren(&f, 1, kids), 0);
    std::set<uint64_t> starts;
    for (const FoundItemRecord& k : kids) {
      const std::string name = RecordName(k);
      EXPECT_TRUE(seen.insert(name).second) << name << " listed twice";
      const uint64_t want = name.find('1') != std::string::npos ? p[0] : p[1];
      EXPECT_EQ(uint64_t(k.partitionStart), want) << name;
      starts.insert(k.partitionStart);
    }
    EXPECT_EQ(starts.size(), 1u) << RecordName(f) << " mixes the partitions";
  }
  // A deleted short name has lost its first letter.
  EXPECT_EQ(seen, (std::set<std::string>{"kept_1.bin", "kept_2.bin", "!one_1.bin", "!one_2.bin"}));
}

}  // namespace
