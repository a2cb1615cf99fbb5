// A deep scan of a whole disk (MBR and two FAT partitions) rather than of one
// partition: the FAT volumes' boot sectors lie inside the scanned area, and
// the deleted files of both volumes must still come back byte-exact, with
// their names and folder paths, each listed once.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <map>
#include <sstream>

#include "base/text.h"
#include "scan/engine_factory.h"
#include "scan/deep_scan_engine.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

struct Deleted {
  std::string partition, folder, name, sha256;
};

struct Fixture {
  std::string dir, why;
  bool missingTool = false;
  std::vector<Deleted> rows;
};

const Fixture& Disk() {
  static const Fixture fx = [] {
    Fixture f;
    test::CachedFixture c = test::MakeCachedFixture("make_two_fat_disk_image.sh", "two-fat-disk");
    f.dir = c.dir;
    f.why = c.message;
    f.missingTool = c.missingTool;
    for (const std::vector<std::string>& col : test::ReadTsvRows(c.dir + "/manifest.tsv")) {
      if (col.size() == 4) f.rows.push_back({col[0], col[1], col[2], col[3]});
    }
    if (f.rows.empty() && f.why.empty()) f.why = "empty manifest";
    return f;
  }();
  return fx;
}

using Listed = test::ListedFile;

// Every listed file copied out, keyed by the sha256 of its copy; `files`:
// how many were listed.
std::multimap<std::string, Listed> DeepScanAndCopy(const std::string& image, const std::string& outDir,
                                                   size_t& files) {
  files = 0;
  auto e = CreateEngineForImage(image, 'W', true);
  EXPECT_NE(dynamic_cast<DeepScanEngine*>(e.get()), nullptr);
  if (!e) return {};
  e->DeclineResume();
  EXPECT_EQ(e->Scan(nullptr), 0);
  files = test::ListEveryFile(*e).size();
  return test::CopyOutWithPaths(*e, outDir);
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class DeepScanWholeDiskFat : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    const Fixture& fx = Disk();
    if (fx.missingTool) GTEST_SKIP() << fx.why;
    ASSERT_FALSE(fx.rows.empty()) << fx.why;
  }
};

TEST_F(DeepScanWholeDiskFat, DeletedFilesOfBothPartitionsComeBackAtTheirFoldersOnce) {
  const Fixture& fx = Disk();
  test::TempDir out;
  size_t files = 0;
  auto found = DeepScanAndCopy(fx.dir + "/two-fat-disk.img", out.path(), files);
  size_t recovered = 0;
  for (const Deleted& d : fx.rows) {
    SCOPED_TRACE("partition " + d.partition + ": " + d.folder + d.name);
    auto [lo, hi] = found.equal_range(d.sha256);
    if (lo == hi) {
      ADD_FAILURE() << "not recovered byte-exact";
      continue;
    }
    EXPECT_EQ(std::next(lo), hi) << "listed more than once";
    const std::string& path = lo->second.path;
    const bool placed = path == d.folder + d.name || EndsWith(path, "/" + d.folder + d.name);
    EXPECT_TRUE(placed) << path;
    recovered += placed ? 1 : 0;
    EXPECT_EQ(path.find("LostFolder"), std::string::npos) << path;
  }
  std::printf("whole disk of two FAT partitions: %zu of %zu deleted files at their folders, %zu files listed\n",
              recovered, fx.rows.size(), files);
}

}  // namespace
}  // namespace dunmere
