// The built dunmere-cli on image files of whole disks (a partition table
// inside, as dd of a card makes them): their partitions are sources of their
// own, IMAGE:N. The images are sparse files written by sfdisk, with a FAT
// volume made in place by mkfs.fat --offset and filled through mtools.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/cli/cli_run.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::TempDir;

std::string Q(const std::string& s) { return test::ShellQuote(s); }
bool Contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

class CliDiskImage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    for (const char* tool : {"sfdisk", "mkfs.fat", "mcopy", "mdel"})
      if (!test::HaveTool(tool)) GTEST_SKIP() << "needs " << tool << " (not installed)";
  }

  // A 64 MiB disk image with `table` (sfdisk's input) and a FAT16 volume
  // at sector 2048 holding "Keep Letter.txt" and the deleted "Gone Letter.txt".
  std::string MakeImage(const std::string& name, const std::string& table) {
    const std::string img = dir_ / name;
    const std::string at = Q(img + "@@" + std::to_string(2048 * 512));
    std::string out;
    const int rc = test::RunCommand(
        "export MTOOLS_SKIP_CHECK=1; truncate -s 64M " + Q(img) + " && printf " + Q(table) + " | sfdisk -q " +
            Q(img) + " && mkfs.fat -F 16 -n INSIDE --offset 2048 " + Q(img) + " 16384 >/dev/null && " +
            "head -c 5000 /dev/urandom > " + Q(dir_ / "keep.txt") + " && head -c 9000 /dev/urandom > " +
            Q(dir_ / "gone.txt") + " && mcopy -i " + at + " " + Q(dir_ / "keep.txt") + " \"::/Keep Letter.txt\"" +
            " && mcopy -i " + at + " " + Q(dir_ / "gone.txt") + " \"::/Gone Letter.txt\" && mdel -i " + at +
            " \"::/Gone Letter.txt\"",
        &out);
    EXPECT_EQ(rc, 0) << out;
    return rc == 0 ? img : std::string();
  }

  TempDir dir_;
};

TEST_F(CliDiskImage, SourcesListsThePartitionsOfAnMbrImage) {
  const std::string img = MakeImage("card.img", "label: dos\nstart=2048, size=32768, type=6\n");
  ASSERT_FALSE(img.empty());
  test::CliResult r = test::RunCli("sources " + Q(img));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "partition 1  FAT  'INSIDE'")) << r.out;
  EXPECT_TRUE(Contains(r.out, "start 2048  sectors 32768  source " + img + ":1")) << r.out;
  // The rest of the card is free space, a source of its own.
  EXPECT_TRUE(Contains(r.out, "unallocated space")) << r.out;
  EXPECT_TRUE(Contains(r.out, "source " + img + ":34816:96256")) << r.out;

  r = test::RunCli("sources --json " + Q(img));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "\"source\":\"" + img + ":1\"")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\"partitioned\":true")) << r.out;
}

TEST_F(CliDiskImage, QuickScanOfAPartitionFindsTheDeletedFile) {
  const std::string img = MakeImage("card.img", "label: dos\nstart=2048, size=32768, type=6\n");
  ASSERT_FALSE(img.empty());
  test::CliResult r = test::RunCli("scan " + Q(img + ":1"));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "Gone Letter.txt")) << r.out;
  EXPECT_FALSE(Contains(r.out, "Keep Letter.txt")) << r.out;

  // It is copied out byte-exact.
  r = test::RunCli("recover " + Q(img + ":1") + " --to " + Q(dir_ / "out"));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(test::Sha256OfFile(dir_ / "out/document/Gone Letter.txt"), test::Sha256OfFile(dir_ / "gone.txt")) << r.out;

  // The whole image has no file system at its start: the message names the partitions.
  r = test::RunCli("scan " + Q(img));
  EXPECT_NE(r.code, 0);
  EXPECT_TRUE(Contains(r.out, "image of a whole disk")) << r.out;
  EXPECT_TRUE(Contains(r.out, img + ":1")) << r.out;

  // A partition that is not there.
  r = test::RunCli("scan " + Q(img + ":7"));
  EXPECT_NE(r.code, 0);
  EXPECT_TRUE(Contains(r.out, "no partition 7")) << r.out;
}

TEST_F(CliDiskImage, GptImagePartitionIsScannedToo) {
  const std::string img =
      MakeImage("gpt.img", "label: gpt\nstart=2048, size=32768, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n");
  ASSERT_FALSE(img.empty());
  test::CliResult r = test::RunCli("sources " + Q(img));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "source " + img + ":1")) << r.out;
  r = test::RunCli("scan " + Q(img + ":1"));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "Gone Letter.txt")) << r.out;
}

TEST_F(CliDiskImage, PartitionIsImagedByteExact) {
  const std::string img = MakeImage("card.img", "label: dos\nstart=2048, size=32768, type=6\n");
  ASSERT_FALSE(img.empty());
  test::CliResult r = test::RunCli("image " + Q(img + ":1") + " " + Q(dir_ / "p1.img"));
  ASSERT_EQ(r.code, 0) << r.out;
  std::string out;
  ASSERT_EQ(test::RunCommand("dd if=" + Q(img) + " bs=512 skip=2048 count=32768 status=none | cmp - " +
                                 Q(dir_ / "p1.img"),
                             &out),
            0)
      << out;
}

TEST_F(CliDiskImage, BareVolumeImageStaysOneSource) {
  const std::string img = dir_ / "volume.img";
  std::string out;
  ASSERT_EQ(test::RunCommand("mkfs.fat -C -F 16 -n BARE " + Q(img) + " 16384 >/dev/null", &out), 0) << out;
  test::CliResult r = test::RunCli("sources " + Q(img));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "no partition table")) << r.out;
  EXPECT_TRUE(Contains(r.out, "[1] whole image  FAT  'BARE'")) << r.out;
  EXPECT_FALSE(Contains(r.out, "[2]")) << r.out;
  EXPECT_TRUE(Contains(r.out, "source " + img + "\n")) << r.out;
  r = test::RunCli("scan " + Q(img + ":1"));
  EXPECT_NE(r.code, 0);
  EXPECT_TRUE(Contains(r.out, "holds no partition table")) << r.out;
}

}  // namespace
}  // namespace dunmere
