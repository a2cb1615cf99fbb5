// Deep scans of live volumes where a deleted file's clusters were given to a
// file written after it (tests/fixtures/make_overwritten_images.sh). Where
// the volume's allocation map can be read, the deep engines refuse such a
// file as the quick engines do, instead of copying the newer file's data
// out under the deleted one's name; deleted files whose clusters are still
// free, and live files, come back whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/scan_log_folder.h"
#include "scan/deep_scan_engine.h"
#include "scan/engine_factory.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

class DeepScanOverwritten : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    fixture_ = test::MakeCachedFixture("make_overwritten_images.sh", "overwritten-images");
    if (fixture_.missingTool) GTEST_SKIP() << fixture_.message;
    ASSERT_FALSE(fixture_.dir.empty()) << fixture_.message;
    for (const auto& row : test::ReadTsvRows(fixture_.dir + "/manifest.tsv"))
      if (row.size() == 3) sha_[row[0] + "/" + row[1]] = row[2];
  }
  // Deep-scans the image and maps each file the engine of `kind` listed, by
  // its name, to its record.
  std::map<std::string, FoundItemRecord> DeepScan(const std::string& image, uint32_t kind) {
    engine_ = CreateEngineForImage(fixture_.dir + "/" + image, 'V', true);
    EXPECT_NE(dynamic_cast<DeepScanEngine*>(engine_.get()), nullptr);
    if (!engine_) return {};
    engine_->DeclineResume();
    EXPECT_EQ(engine_->Scan(nullptr), kOk);
    std::map<std::string, FoundItemRecord> out;
    for (const test::ListedFile& f : test::ListEveryFile(*engine_))
      if (f.record.sourceKind == kind) out[RecordName(f.record)] = f.record;
    return out;
  }
  // Of the scan DeepScan ran: what the engine of `kind` listed, by name.
  std::map<std::string, FoundItemRecord> DeepScanKinds(uint32_t kind) {
    std::map<std::string, FoundItemRecord> out;
    if (!engine_) return out;
    for (const test::ListedFile& f : test::ListEveryFile(*engine_))
      if (f.record.sourceKind == kind) out[RecordName(f.record)] = f.record;
    return out;
  }
  // Copies the record out; the sha256 of the copy, or "" when nothing was written.
  std::string CopyOut(const FoundItemRecord& r, Status expect) {
    const std::string dest = out_ / ("copy" + std::to_string(++copies_));
    EXPECT_EQ(engine_->RecoverItem(r, dest, 0), expect) << RecordName(r);
    return fs::exists(dest) ? test::Sha256OfFile(dest) : std::string();
  }

  test::CachedFixture fixture_;
  std::map<std::string, std::string> sha_;  // "image/file" -> sha256
  std::unique_ptr<ScanEngine> engine_;
  test::TempDir out_;
  int copies_ = 0;
};

// The deleted folder no entry names any more: the deep FAT engine finds it
// among the free clusters (the quick pass leaves that look to it) and lists
// its files, the quick pass does not list them too. Its first file's
// clusters hold new.bin now (the FAT says they are in use), its second
// file's are free.
TEST_F(DeepScanOverwritten, FatFileWhoseClustersTheFatGaveAwayIsRefused) {
  auto found = DeepScan("fat32.img", kSourceDeepFat);
  for (const auto& [name, record] : DeepScanKinds(kSourceQuickFat)) {
    const std::string n = name;
    EXPECT_TRUE(n != "!one.bin" && n != "!eep.bin") << n << " listed twice";
  }
  ASSERT_TRUE(found.count("!one.bin")) << "gone.bin not listed by the deep FAT engine";
  ASSERT_TRUE(found.count("!eep.bin")) << "keep.bin not listed by the deep FAT engine";
  // Before, new.bin's data came out under gone.bin's name, reported as done.
  EXPECT_EQ(CopyOut(found["!one.bin"], kDataOverwritten), "");
  EXPECT_EQ(CopyOut(found["!eep.bin"], kOk), sha_["fat32.img/keep.bin"]);
}

// A whole disk: no quick pass, the deep NTFS engine reads the volume's
// master file table and finds live and deleted files alike.
TEST_F(DeepScanOverwritten, NtfsFileWhoseClustersTheBitmapGaveAwayIsRefused) {
  auto found = DeepScan("ntfs-disk.img", kSourceDeepNtfs);
  for (const char* name : {"old.bin", "intact.bin", "new.bin"}) ASSERT_TRUE(found.count(name)) << name;
  EXPECT_EQ(CopyOut(found["old.bin"], kDataOverwritten), "");
  EXPECT_EQ(CopyOut(found["intact.bin"], kOk), sha_["ntfs-disk.img/intact.bin"]);
  // A live file's clusters are its own.
  EXPECT_EQ(CopyOut(found["new.bin"], kOk), sha_["ntfs-disk.img/new.bin"]);
}

}  // namespace
}  // namespace dunmere
