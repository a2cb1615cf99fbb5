// The built dunmere-cli on an image of a whole disk whose MBR has an
// extended partition holding two logical ones (sfdisk, FAT made in place by
// mkfs.fat --offset, filled through mtools): the logical partitions are
// sources numbered as the kernel numbers them (5, 6), the extended container
// is none, each is scanned and copied out on its own, and imaging IMAGE:N
// copies exactly the partition's sectors.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cli/cli_run.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::TempDir;

std::string Q(const std::string& s) { return test::ShellQuote(s); }
bool Contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

struct Deleted {
  std::string partition, start, count, path, sha256;
};

struct LogicalDisk {
  std::string image, why;
  bool missingTool = false;
  std::vector<Deleted> deleted;
};

const LogicalDisk& Disk() {
  static const LogicalDisk disk = [] {
    LogicalDisk d;
    const test::CachedFixture c = test::MakeCachedFixture("make_logical_partitions_image.sh", "logical-disk");
    d.why = c.message;
    d.missingTool = c.missingTool;
    if (c.dir.empty()) return d;
    d.image = c.dir + "/logical-disk.img";
    for (const std::vector<std::string>& col : test::ReadTsvRows(c.dir + "/manifest.tsv"))
      if (col.size() == 5) d.deleted.push_back({col[0], col[1], col[2], col[3], col[4]});
    if (d.deleted.empty()) d.why = "empty manifest";
    return d;
  }();
  return disk;
}

class CliLogicalPartitions : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    if (Disk().missingTool) GTEST_SKIP() << "the logical-partition image needs sfdisk, mkfs.fat and mtools: " << Disk().why;
    ASSERT_FALSE(Disk().image.empty()) << Disk().why;
    ASSERT_EQ(Disk().deleted.size(), 5u) << Disk().why;
  }
  TempDir dir_;
};

TEST_F(CliLogicalPartitions, SourcesListsBothLogicalPartitionsAndNotTheExtendedOne) {
  const std::string& img = Disk().image;
  test::CliResult r = test::RunCli("sources " + Q(img));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "partition 1  FAT  'PRIMARY'")) << r.out;
  EXPECT_TRUE(Contains(r.out, "partition 5  FAT  'LOGICAL5'")) << r.out;
  EXPECT_TRUE(Contains(r.out, "start 36864  sectors 32768  source " + img + ":5\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "partition 6  FAT  'LOGICAL6'")) << r.out;
  EXPECT_TRUE(Contains(r.out, "start 71680  sectors 32768  source " + img + ":6\n")) << r.out;
  // The extended partition only holds the others: it is no place to scan.
  EXPECT_FALSE(Contains(r.out, "partition 2")) << r.out;
  EXPECT_FALSE(Contains(r.out, "source " + img + ":2\n")) << r.out;

  r = test::RunCli("sources --json " + Q(img));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "\"partition\":5")) << r.out;
  EXPECT_TRUE(Contains(r.out, "\"source\":\"" + img + ":6\"")) << r.out;
  EXPECT_FALSE(Contains(r.out, "\"partition\":2")) << r.out;
}

TEST_F(CliLogicalPartitions, QuickScanOfEachPartitionFindsItsOwnDeletedFilesByteExact) {
  const std::string& img = Disk().image;
  std::map<std::string, std::vector<Deleted>> byPartition;
  for (const Deleted& d : Disk().deleted) byPartition[d.partition].push_back(d);
  for (const auto& entry : byPartition) {
    const std::string& part = entry.first;
    SCOPED_TRACE("partition " + part);
    test::CliResult r = test::RunCli("scan " + Q(img + ":" + part));
    ASSERT_EQ(r.code, 0) << r.out;
    for (const Deleted& other : Disk().deleted) {
      const std::string name = other.path.substr(other.path.rfind('/') + 1);
      EXPECT_EQ(Contains(r.out, name), other.partition == part) << name << "\n" << r.out;
    }
    EXPECT_FALSE(Contains(r.out, "_keep.txt")) << r.out;

    const std::string out = dir_ / ("out" + part);
    r = test::RunCli("recover " + Q(img + ":" + part) + " --to " + Q(out));
    ASSERT_EQ(r.code, 0) << r.out;
    std::map<std::string, int> copies;
    for (const auto& f : std::filesystem::recursive_directory_iterator(out))
      if (f.is_regular_file()) copies[test::Sha256OfFile(f.path().string())]++;
    for (const Deleted& d : entry.second) EXPECT_EQ(copies[d.sha256], 1) << d.path;
  }
}

TEST_F(CliLogicalPartitions, ImagingALogicalPartitionCopiesExactlyItsSectors) {
  const std::string& img = Disk().image;
  for (const char* part : {"5", "6"}) {
    const Deleted* d = nullptr;
    for (const Deleted& x : Disk().deleted)
      if (x.partition == part) d = &x;
    ASSERT_NE(d, nullptr);
    const std::string copy = dir_ / (std::string("p") + part + ".img");
    test::CliResult r = test::RunCli("image " + Q(img + ":" + part) + " " + Q(copy));
    ASSERT_EQ(r.code, 0) << r.out;
    // The partition's own sectors of the disk image, compared here (no dd
    // and cmp under Windows).
    const std::vector<uint8_t> whole = test::ReadBytes(img), taken = test::ReadBytes(copy);
    const size_t start = std::stoull(d->start) * 512, length = std::stoull(d->count) * 512;
    ASSERT_GE(whole.size(), start + length);
    EXPECT_EQ(taken.size(), length) << part;
    EXPECT_TRUE(taken.size() == length && std::equal(taken.begin(), taken.end(), whole.begin() + start)) << part;
  }
}

}  // namespace
}  // namespace dunmere
