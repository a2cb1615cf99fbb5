// End-to-end quick scans of real FAT images: what is found, where, under which
// name, and whether the copied bytes equal the originals.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "fat/quick/quick_fat_engine.h"
#include "storage/disk_table.h"
#include "scan/engine_factory.h"
#include "tests/fat/fat_images.h"
#include "tests/support/test_support.h"

using namespace dunmere;
using namespace dunmere::test;
namespace fs = std::filesystem;

namespace {

std::unique_ptr<ScanEngine> ScanImage(const std::string& image) {
  UsePrivateDataFolder();
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto engine = CreateEngineForImage(image, 'Z', false);
  if (!engine) return nullptr;
  EXPECT_EQ(engine->Scan(nullptr), 0);
  return engine;
}

// A name stored only as an upper-case 8.3 short name is listed lowered, and
// deletion has taken its first character.
std::string ExpectedName(const std::string& name) {
  bool shortOnly = name.size() <= 12 && !name.empty();
  for (char c : name)
    if (!(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9') && c != '.') shortOnly = false;
  if (!shortOnly) return name;
  return "!" + AsciiLower(name.substr(1));
}

// Checks every manifest line against the listing and the copied bytes.
void CheckAgainstManifest(ScanEngine& engine, const std::string& image) {
  auto listed = ListAll(engine);
  TempDir out;
  int deletedChecked = 0;
  for (const ManifestEntry& m : ReadManifest(image)) {
    std::string path = m.folder + ExpectedName(m.name);
    auto it = listed.find(path);
    if (m.state == "live") {
      EXPECT_EQ(it, listed.end()) << "a live file is reported: " << path;
      continue;
    }
    // Its directory slot may have been taken by the file that overwrote it.
    if (m.state == "overwritten") continue;
    ASSERT_NE(it, listed.end()) << "not found: " << path;
    const FoundItemRecord& r = it->second.record;
    EXPECT_EQ(+r.isFolder, 0u);
    EXPECT_EQ(+r.sourceKind, uint32_t(kSourceQuickFat));
    std::string folderPath;
    EXPECT_EQ(engine.GetFolderPath(&r, folderPath), 0);
    EXPECT_EQ(folderPath, m.folder);
    if (m.state != "deleted") continue;
    std::string dest = out / ("f" + std::to_string(deletedChecked++));
    ASSERT_EQ(engine.RecoverItem(r, dest, 0), 0) << path;
    EXPECT_EQ(Sha256OfFile(dest), m.sha256) << "bytes differ: " << path;
  }
  EXPECT_GT(deletedChecked, 10);
}

class FatImageScan : public ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(FatImageScan, FindsDeletedFilesWithNamesFoldersAndBytes) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  std::string image = FatImageFolder() + "/" + GetParam();
  auto engine = ScanImage(image);
  ASSERT_TRUE(engine) << "no engine for " << image;
  CheckAgainstManifest(*engine, image);

  auto listed = ListAll(*engine);
  // The deleted folder and its subfolder are reported and flagged deleted;
  // live folders appear only as ancestors of what was found.
  ASSERT_TRUE(listed.count("Trash Bin/Sub Folder"));
  EXPECT_EQ(+listed["Trash Bin"].record.deletedFlag, 1u);
  EXPECT_EQ(+listed["Trash Bin/Sub Folder"].record.deletedFlag, 1u);
  EXPECT_EQ(listed["Trash Bin/Sub Folder"].level, 1u);
  EXPECT_EQ(+listed["a/b/c"].record.deletedFlag, 0u);
  EXPECT_EQ(listed["a/b/c"].level, 2u);
  EXPECT_EQ(listed.count("a/b/middle live.txt"), 0u);
  uint32_t count = 0;
  EXPECT_EQ(engine->CountFiles(&listed["Trash Bin"].record, 1, count), 0);
  EXPECT_EQ(count, 24u);
  // Zero-length deleted file: found and copied as an empty file.
  EXPECT_EQ(+listed["docs/Empty file.txt"].record.size, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, FatImageScan,
                         ::testing::Values("fat12.img", "fat16.img", "fat32.img", "fat16_4k.img"),
                         [](const auto& info) {
                           std::string n = info.param;
                           return n.substr(0, n.find('.'));
                         });

TEST(FatPartitionScan, VolumeAtNonZeroStartOfAnMbrDisk) {
  DUNMERE_REQUIRE_FAT_IMAGES();
  std::string disk = FatImageFolder() + "/disk.img";
  UsePrivateDataFolder();
  DiskTable::SetOverride({disk});
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto engine = CreateEngineForPartition(0, 2048, 12288, 'C', false);
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->Scan(nullptr), 0);
  CheckAgainstManifest(*engine, disk);
  auto listed = ListAll(*engine);
  EXPECT_TRUE(listed.count("!ootdel.jpg"));
  DiskTable::SetOverride({});
}
