// Deleted files whose data cannot be copied for a known reason say which:
// overwritten by a file written since, or lying past the end of a cut-off
// image. Neither is a read error, and nothing is left behind looking
// recovered. Images from mkfs.fat and mtools.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "engine/scan_log_folder.h"
#include "fat/dir_entry_tests.h"
#include "fat/quick/quick_fat_engine.h"
#include "fat/deep/deep_fat_engine.h"
#include "tests/support/test_support.h"
#include "tests/support/open_medium.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::RunCommand;
using test::TempDir;

class FatDataGone : public ::testing::Test {
 protected:
  void SetUp() override {
    DUNMERE_REQUIRE_TOOL("mkfs.fat");
    DUNMERE_REQUIRE_TOOL("mcopy");
    test::UsePrivateDataFolder();
  }
  // Scans and maps each found file's name, without its first character
  // (lost on deletion), to its record.
  std::map<std::string, FoundItemRecord> Scan(QuickFatEngine& e, const std::string& image) {
    ScanLogFolder::Instance().BeginNewScanFolder();
    EXPECT_EQ(e.OpenImage(image, 'Z'), kOk);
    EXPECT_EQ(e.Scan(nullptr), kOk);
    std::vector<FoundItemRecord> kids;
    EXPECT_EQ(e.ListChildren(nullptr, 0, kids), kOk);
    std::map<std::string, FoundItemRecord> out;
    for (const FoundItemRecord& r : kids) out[RecordName(r).substr(1)] = r;
    return out;
  }
  // Runs the commands with {} as the image.
  void Make(const std::string& image, const std::string& commands) {
    std::string cmd = commands;
    for (size_t p; (p = cmd.find("{}")) != std::string::npos;) cmd.replace(p, 2, "'" + image + "'");
    std::string out;
    ASSERT_EQ(RunCommand("cd '" + dir_.path() + "' && export MTOOLS_SKIP_CHECK=1 && " + cmd, &out), 0) << out;
  }
  TempDir dir_;
};

// mtools gives a new file the first free clusters: the deleted file's. Its
// entry still names that first cluster, now the head of the new file's chain.
// (The new file goes into a folder made before: in the root it would take
// the deleted entry's slot too.)
TEST_F(FatDataGone, AFileWrittenOverTheDeletedOneIsNotCopiedInItsPlace) {
  const std::string image = dir_ / "fat16.img";
  Make(image,
       "mkfs.fat -F 16 -s 1 -C {} 8192 >/dev/null && head -c 3000 /dev/urandom > a.bin && "
       "head -c 1000 /dev/urandom > b.bin && head -c 2500 /dev/urandom > c.bin && mmd -i {} ::/sub && "
       "mcopy -i {} a.bin ::/gone.bin && mcopy -i {} c.bin ::/intact.bin && mcopy -i {} c.bin ::/keep.bin && "
       "mdel -i {} ::/gone.bin ::/intact.bin && mcopy -i {} b.bin ::/sub/new.bin");
  QuickFatEngine e;
  auto found = Scan(e, image);
  ASSERT_TRUE(found.count("one.bin"));
  ASSERT_TRUE(found.count("ntact.bin"));
  const std::string out = dir_ / "out.bin";
  // Before, the new file's two clusters were copied out under the old name
  // and the chain's early end reported as a read error.
  EXPECT_EQ(e.RecoverItem(found["one.bin"], out, 0), kDataOverwritten);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(StatusMessage(kDataOverwritten), "The file's data is no longer on the medium (overwritten)");
  // A deleted file nobody wrote over still comes back whole.
  ASSERT_EQ(e.RecoverItem(found["ntact.bin"], out, 0), kOk);
  EXPECT_EQ(test::Sha256OfFile(out), test::Sha256OfFile(dir_ / "c.bin"));
}

TEST_F(FatDataGone, ClustersPastTheEndOfACutImageAreSaidToBeThere) {
  const std::string image = dir_ / "fat16.img";
  Make(image,
       "mkfs.fat -F 16 -s 4 -C {} 16384 >/dev/null && head -c 200000 /dev/urandom > first.bin && "
       "head -c 2900000 /dev/urandom > big.bin && "
       "mcopy -i {} first.bin ::/first.bin && mcopy -i {} big.bin ::/big.bin && mcopy -i {} first.bin ::/tail.bin && "
       "mdel -i {} ::/first.bin ::/big.bin ::/tail.bin");
  // Cut inside the second file: the first stays whole, the second runs off
  // the end and the third lies wholly beyond it (and is still listed).
  fs::resize_file(image, 3u << 20);
  QuickFatEngine e;
  auto found = Scan(e, image);
  ASSERT_TRUE(found.count("irst.bin"));
  ASSERT_TRUE(found.count("ig.bin"));
  const std::string out = dir_ / "out.bin";
  ASSERT_EQ(e.RecoverItem(found["irst.bin"], out, 0), kOk);
  EXPECT_EQ(test::Sha256OfFile(out), test::Sha256OfFile(dir_ / "first.bin"));
  EXPECT_EQ(e.RecoverItem(found["ig.bin"], out, 0), kDataPastEnd);
  EXPECT_FALSE(fs::exists(out));
  ASSERT_TRUE(found.count("ail.bin"));
  EXPECT_EQ(e.RecoverItem(found["ail.bin"], out, 0), kDataPastEnd);
  EXPECT_FALSE(fs::exists(out));

  // The deep FAT engine, given the root directory sector, says the same.
  DeepFatEngine deep;
  ScanLogFolder::Instance().BeginNewScanFolder();
  ASSERT_EQ(test::OpenImageIn(deep, image, 'Y'), kOk);
  ASSERT_EQ(deep.BeginFatLog(""), kOk);
  ASSERT_EQ(deep.SeedFromBootSector(), kOk);
  std::vector<uint8_t> boot(512), sector(512);
  std::ifstream in(image, std::ios::binary);
  in.read(reinterpret_cast<char*>(boot.data()), 512);
  ByteView b(boot.data(), boot.size());
  const uint64_t root = b.U16(14) + uint64_t(b.U8(16)) * b.U16(22);  // reserved sectors, then the FATs
  in.seekg(std::streamoff(root * 512));
  in.read(reinterpret_cast<char*>(sector.data()), 512);
  ByteView v(sector.data(), sector.size());
  ASSERT_TRUE(IsDirectoryCluster(v));
  deep.OnDirectorySector(v, root);
  ASSERT_EQ(deep.FinishFatScan(), kOk);
  // Every item, whatever folder the engine hangs it under.
  std::vector<FoundItemRecord> all, level;
  ASSERT_EQ(deep.ListChildren(nullptr, 0, level), kOk);
  for (uint32_t depth = 1; !level.empty() && depth < 8; ++depth) {
    std::vector<FoundItemRecord> next;
    for (const FoundItemRecord& r : level) {
      all.push_back(r);
      std::vector<FoundItemRecord> kids;
      if (r.isFolder && deep.ListChildren(&r, depth, kids) == kOk) next.insert(next.end(), kids.begin(), kids.end());
    }
    level.swap(next);
  }
  // The file that runs off the end (the one wholly past it is not listed by
  // the deep engine at all: its first cluster lies outside the medium).
  bool sawBig = false;
  for (const FoundItemRecord& r : all) {
    if (RecordName(r).substr(1) != "ig.bin") continue;
    sawBig = true;
    EXPECT_EQ(deep.RecoverItem(r, out, 0), kDataPastEnd);
    EXPECT_FALSE(fs::exists(out));
  }
  EXPECT_TRUE(sawBig);
}

}  // namespace
}  // namespace dunmere
