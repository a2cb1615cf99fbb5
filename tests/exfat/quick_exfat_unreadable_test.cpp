// The quick exFAT scan on a medium with unreadable sectors, served by nbdkit
// through nbdfuse (tests/fixtures/failing_medium.sh serve): a deleted folder
// whose cluster cannot be read costs its entries, a file whose data cannot
// be read fails its copy with a read fault, the scan goes on past both, and
// the engine tells which sectors it met unreadable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "engine/scan_log_folder.h"
#include "exfat/quick/quick_exfat_engine.h"
#include "storage/unreadable_sectors.h"
#include "tests/exfat/exfat_builder.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::ExfatBuilder;
using test::PatternBytes;
using test::RunCommand;
using test::TempDir;

std::string Script() { return test::SourcePath("tests/fixtures/failing_medium.sh"); }

TEST(ExfatUnreadable, ADeletedFolderAndADataClusterThatCannotBeRead) {
  for (const char* tool : {"nbdkit", "nbdfuse", "fusermount3"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << "needs " << tool;
  test::UsePrivateDataFolder();
  ScanLogFolder::Instance().BeginNewScanFolder();
  TempDir dir;
  ExfatBuilder b;  // 4 KiB clusters on a 4 KiB boundary: one page of the FUSE file each
  const uint32_t docs = b.AddFolder(b.RootCluster(), u"Docs");
  const auto readable = PatternBytes(5000, 1);
  b.AddFile(docs, u"readable.bin", readable, true);
  const uint32_t badData = b.AddFile(docs, u"bad data.bin", PatternBytes(9000, 2), true);
  const uint32_t gone = b.AddFolder(b.RootCluster(), u"Gone", true);
  b.AddFile(gone, u"lost with its folder.bin", PatternBytes(100, 3), true);
  b.AddFile(b.RootCluster(), u"after.bin", PatternBytes(100, 4), true);
  b.Save(dir / "exfat.img");
  const uint64_t length = b.Image().size();
  // ddrescue map: the deleted folder's cluster and the second cluster of "bad data.bin".
  const std::vector<std::pair<uint64_t, uint64_t>> bad = {{b.ClusterOffset(badData + 1), 4096},
                                                          {b.ClusterOffset(gone), 4096}};
  std::vector<std::pair<uint64_t, uint64_t>> sorted = bad;
  std::sort(sorted.begin(), sorted.end());
  FILE* map = std::fopen((dir / "exfat.map").c_str(), "w");
  ASSERT_NE(map, nullptr);
  std::fprintf(map, "# Mapfile\n0x00000000     +               1\n#      pos        size  status\n");
  uint64_t pos = 0;
  for (const auto& r : sorted) {
    std::fprintf(map, "0x%08llX  0x%08llX  +\n", (unsigned long long)pos, (unsigned long long)(r.first - pos));
    std::fprintf(map, "0x%08llX  0x%08llX  -\n", (unsigned long long)r.first, (unsigned long long)r.second);
    pos = r.first + r.second;
  }
  std::fprintf(map, "0x%08llX  0x%08llX  +\n", (unsigned long long)pos, (unsigned long long)(length - pos));
  std::fclose(map);

  const std::string mount = dir / "m";
  std::string log;
  if (RunCommand("bash '" + Script() + "' serve '" + dir.path() + "' exfat '" + mount + "'", &log) != 0)
    GTEST_SKIP() << "nbdfuse cannot serve a file here: " << log;
  struct Stop {
    std::string mount;
    ~Stop() { (void)RunCommand("bash '" + Script() + "' stop '" + mount + "'"); }
  } stop{mount};

  QuickExfatEngine engine;
  Medium medium;
  ASSERT_EQ(OpenImageMedium(mount + "/medium.img", medium), kOk);
  ASSERT_EQ(engine.Open(medium, 'U'), kOk);
  ASSERT_EQ(engine.Scan(nullptr), kOk);
  std::map<std::string, FoundItemRecord> listed;
  for (const test::ListedFile& f : test::ListEveryFile(engine)) listed.emplace(f.path, f.record);
  EXPECT_TRUE(listed.count("Docs/readable.bin"));
  EXPECT_TRUE(listed.count("after.bin"));
  EXPECT_FALSE(listed.count("Gone/lost with its folder.bin"));
  ASSERT_TRUE(listed.count("Docs/bad data.bin"));
  EXPECT_EQ(engine.RecoverItem(listed["Docs/bad data.bin"], dir / "bad", 0), kReadFault);
  EXPECT_EQ(engine.RecoverItem(listed["Docs/readable.bin"], dir / "good", 0), kOk);
  EXPECT_EQ(test::ReadBytes(dir / "good"), readable);
  // Both pages, 8 sectors each, and nothing else.
  UnreadableSectors u;
  const uint32_t unit = engine.CollectUnreadable(u);
  EXPECT_EQ(unit, 512u);
  EXPECT_EQ(u.Count(unit), 16u);
}

}  // namespace
}  // namespace dunmere
