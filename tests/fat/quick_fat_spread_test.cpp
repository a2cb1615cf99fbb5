// Quick scans of FAT32 images whose deleted folders spanned several clusters
// (tests/fixtures/make_fat_spread_images.sh): the entries in a deleted
// folder's later clusters come back under that folder, not another's.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "engine/result_store.h"
#include "engine/scan_log_folder.h"
#include "fat/quick/quick_fat_engine.h"
#include "scan/engine_factory.h"
#include "tests/fat/fat_images.h"
#include "tests/support/test_support.h"

using namespace dunmere;
using namespace dunmere::test;

namespace {

const CachedFixture& SpreadImages() {
  static const CachedFixture fixture = MakeCachedFixture("make_fat_spread_images.sh", "fat-spread-images");
  return fixture;
}

class SpreadFolderScan : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(SpreadFolderScan, EveryDeletedFileComesBackInItsOwnFolder) {
  const CachedFixture& f = SpreadImages();
  if (f.missingTool) GTEST_SKIP() << f.message;
  ASSERT_FALSE(f.dir.empty()) << f.message;
  const std::string image = f.dir + "/" + GetParam();
  UsePrivateDataFolder();
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto engine = CreateEngineForImage(image, 'Z', false);
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  auto listed = ListAll(*engine);

  std::map<std::string, std::string> where;  // name -> folder, names are unique per image
  for (const ManifestEntry& m : ReadManifest(image)) where[m.name] = m.folder;
  TempDir out;
  size_t checked = 0;
  std::set<std::string> wrong;
  for (const ManifestEntry& m : ReadManifest(image)) {
    if (m.state != "deleted") continue;
    auto it = listed.find(m.folder + m.name);
    if (it == listed.end()) {
      wrong.insert("missing: " + m.folder + m.name);
      continue;
    }
    std::string dest = out / ("f" + std::to_string(checked++));
    ASSERT_EQ(engine->RecoverItem(it->second.record, dest, 0), 0) << m.folder << m.name;
    EXPECT_EQ(Sha256OfFile(dest), m.sha256) << "bytes differ: " << m.folder << m.name;
  }
  // A later cluster given to the wrong folder shows its files elsewhere.
  for (const auto& [path, item] : listed) {
    if (item.record.isFolder) continue;
    const std::string name = path.substr(path.rfind('/') + 1);
    auto w = where.find(name);
    if (w == where.end() || w->second + name != path) wrong.insert("misplaced: " + path);
  }
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " wrong, first: " << *wrong.begin();
  EXPECT_GT(checked, 15u);
}

INSTANTIATE_TEST_SUITE_P(Images, SpreadFolderScan, ::testing::Values("spread32_4k.img", "spread32_512.img"),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(0, n.find('.'));
                         });

// A resumed deep scan loads the quick pass's log instead of scanning again;
// it must still know which free clusters were deleted folders it listed.
TEST(SpreadFolderScanLog, AReloadedLogKnowsTheDeletedFoldersItCameFrom) {
  const CachedFixture& f = SpreadImages();
  if (f.missingTool) GTEST_SKIP() << f.message;
  ASSERT_FALSE(f.dir.empty()) << f.message;
  const std::string image = f.dir + "/spread32_4k.img";
  UsePrivateDataFolder();
  ScanLogFolder::Instance().BeginNewScanFolder();
  QuickFatEngine scanned, reloaded;
  ASSERT_EQ(scanned.OpenImage(image, 'Z'), 0);
  ASSERT_EQ(scanned.Scan(nullptr), 0);
  const std::string log = std::filesystem::path(scanned.Store()->LogPath()).filename().string();
  ASSERT_EQ(reloaded.OpenImage(image, 'Z'), 0);
  ASSERT_EQ(reloaded.Scan(&log), 0);
  size_t walked = 0;
  const uint64_t cb = scanned.Geometry().ClusterBytes();
  for (uint64_t byte = 0; byte < std::filesystem::file_size(image); byte += cb) {
    const bool w = scanned.WalkedDeletedDirectoryAt(byte);
    EXPECT_EQ(reloaded.WalkedDeletedDirectoryAt(byte), w) << "at byte " << byte;
    walked += w;
  }
  // Four deleted folders, each over two clusters or more.
  EXPECT_GE(walked, 8u);
  EXPECT_FALSE(scanned.WalkedDeletedDirectoryAt(0));
}
