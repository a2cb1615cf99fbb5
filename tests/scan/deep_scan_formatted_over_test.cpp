// NTFS volumes formatted over by another file system (mkfs.ext2, mkfs.fat):
// the old MFT records the new file system left in place must come back from
// the deep scan with their names, folders and bytes, beside what the new
// volume itself holds, each file listed once.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <map>
#include <sstream>

#include "base/text.h"
#include "engine/scan_log_folder.h"
#include "scan/engine_factory.h"
#include "scan/deep_scan_engine.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

struct Row {
  std::string image, folder, name, sha256, expect;
};

struct Fixture {
  std::string dir, why;
  bool missingTool = false;
  std::vector<Row> rows;
};

const Fixture& Images() {
  static const Fixture fx = [] {
    Fixture f;
    test::CachedFixture c = test::MakeCachedFixture("make_formatted_over_images.sh", "formatted-over-images");
    f.dir = c.dir;
    f.why = c.message;
    f.missingTool = c.missingTool;
    for (const std::vector<std::string>& col : test::ReadTsvRows(c.dir + "/manifest.tsv")) {
      if (col.size() == 6) f.rows.push_back({col[0], col[1], col[2], col[3], col[5]});
    }
    if (f.rows.empty() && f.why.empty()) f.why = "empty manifest";
    return f;
  }();
  return fx;
}

using Listed = test::ListedFile;

// A deep scan of the image as a user makes it; every listed file is copied
// out and keyed by the sha256 of its copy.
std::multimap<std::string, Listed> DeepScanAndCopy(const std::string& image, const std::string& outDir) {
  auto e = CreateEngineForImage(image, 'F', true);
  EXPECT_NE(dynamic_cast<DeepScanEngine*>(e.get()), nullptr);
  if (!e) return {};
  e->DeclineResume();
  EXPECT_EQ(e->Scan(nullptr), 0);
  return test::CopyOutWithPaths(*e, outDir);
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Checks the old NTFS files of `expectationsOf` in a deep scan of `image`:
// "named" ones at their folder path, "exact" ones under their name, each
// listed once. Returns the listing for further checks.
std::multimap<std::string, Listed> CheckOldFiles(const std::string& image, const std::string& expectationsOf,
                                                 size_t minNamed, size_t minExact) {
  const Fixture& fx = Images();
  test::TempDir out;
  auto found = DeepScanAndCopy(fx.dir + "/" + image, out.path());
  size_t named = 0, exact = 0;
  for (const Row& r : fx.rows) {
    if (r.image != expectationsOf || (r.expect != "named" && r.expect != "exact")) continue;
    SCOPED_TRACE(r.folder + r.name);
    (r.expect == "named" ? named : exact)++;
    auto [lo, hi] = found.equal_range(r.sha256);
    if (lo == hi) {
      ADD_FAILURE() << "not recovered byte-exact";
      continue;
    }
    EXPECT_EQ(std::next(lo), hi) << "listed more than once";
    EXPECT_EQ(lo->second.record.sourceKind, uint32_t(kSourceDeepNtfs));
    const std::string& path = lo->second.path;
    if (r.expect == "named")
      EXPECT_TRUE(path == r.folder + r.name || EndsWith(path, "/" + r.folder + r.name)) << path;
    else
      EXPECT_TRUE(path == r.name || EndsWith(path, "/" + r.name)) << path;
  }
  // The fixture keeps enough of the old volume to mean something.
  EXPECT_GE(named, minNamed);
  EXPECT_GE(exact, minExact);
  return found;
}

class DeepScanFormattedOver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    const Fixture& fx = Images();
    if (fx.missingTool) GTEST_SKIP() << fx.why;
    ASSERT_FALSE(fx.rows.empty()) << fx.why;
  }
};

TEST_F(DeepScanFormattedOver, Ext2OverNtfsGivesBackTheOldFilesWithTheirFolders) {
  CheckOldFiles("ext2.img", "ext2.img", 30, 200);
}

TEST_F(DeepScanFormattedOver, FatOverNtfsGivesBackTheOldFilesAndTheNewVolumesDeletedFile) {
  for (const std::string image : {"fat.img", "fat32.img"}) {
    SCOPED_TRACE(image);
    auto found = CheckOldFiles(image, image, 30, 20);
    for (const Row& r : Images().rows) {
      if (r.image != image || r.expect != "fat-deleted") continue;
      auto [lo, hi] = found.equal_range(r.sha256);
      ASSERT_NE(lo, hi) << "the new volume's deleted file is missing";
      // A deleted short name loses its first letter.
      EXPECT_TRUE(EndsWith(AsciiLower(lo->second.path), "eleted.bin")) << lo->second.path;
      EXPECT_EQ(lo->second.record.sourceKind, uint32_t(kSourceQuickFat));
    }
  }
}

TEST_F(DeepScanFormattedOver, WholeDiskPlacesTheOldVolumeAtItsPartition) {
  // The old $MFT record is gone; only its copy in $MFTMirr tells where the
  // old volume began, so that cluster numbers land on the right sectors.
  auto found = CheckOldFiles("disk-fat.img", "fat.img", 30, 20);
  // The new FAT volume's boot sector lies inside the disk, not at its start:
  // its deleted file still comes back, with its name.
  for (const Row& r : Images().rows) {
    if (r.image != "fat.img" || r.expect != "fat-deleted") continue;
    auto [lo, hi] = found.equal_range(r.sha256);
    ASSERT_NE(lo, hi) << "the new volume's deleted file is missing";
    EXPECT_EQ(std::next(lo), hi) << "listed more than once";
    EXPECT_TRUE(EndsWith(AsciiLower(lo->second.path), "eleted.bin")) << lo->second.path;
  }
}

}  // namespace
}  // namespace dunmere
