// A partition made ext2 over an NTFS volume whose boot sector and master file
// table are still in place: ext is the file system the system mounts and the
// quick scan's, the NTFS is named as lying under it, and the deep scan (the
// formatted and the deep recovery) gives back every file of the old table,
// in use there or not, at its folder path. A plain NTFS volume is scanned as
// before.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "base/text.h"
#include "engine/quick_ext_engine.h"
#include "engine/scan_log_folder.h"
#include "ntfs/quick/quick_ntfs_engine.h"
#include "scan/deep_scan_engine.h"
#include "scan/engine_factory.h"
#include "scan/file_systems.h"
#include "tests/support/engine_walk.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

struct Row {
  std::string folder, name, sha256, state;
  uint64_t size = 0;
  std::string Path() const { return folder.empty() ? name : folder + "/" + name; }
};

struct Fixture {
  std::string dir, why;
  bool missingTool = false;
  std::vector<Row> rows;
  std::string Volume() const { return dir + "/ext-over-ntfs.img"; }
};

const Fixture& Images() {
  static const Fixture fx = [] {
    Fixture f;
    test::CachedFixture c = test::MakeCachedFixture("make_ext_over_ntfs_images.sh", "ext-over-ntfs-images");
    f.dir = c.dir;
    f.why = c.message;
    f.missingTool = c.missingTool;
    for (const std::vector<std::string>& col : test::ReadTsvRows(c.dir + "/manifest.tsv"))
      if (col.size() == 6) f.rows.push_back({col[1], col[2], col[3], col[5], std::stoull(col[4])});
    if (f.rows.empty() && f.why.empty()) f.why = "empty manifest";
    return f;
  }();
  return fx;
}

std::vector<uint8_t> Head(const std::string& image) {
  std::vector<uint8_t> head = test::ReadBytes(image);
  head.resize(kDetectBytes);
  return head;
}

class ExtOverNtfs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    if (Images().missingTool) GTEST_SKIP() << Images().why;
    ASSERT_FALSE(Images().rows.empty()) << Images().why;
  }
};

TEST_F(ExtOverNtfs, ExtIsTheCurrentFileSystemAndTheNtfsIsNamedUnderIt) {
  std::vector<uint8_t> head = Head(Images().Volume());
  ByteView b(head.data(), head.size());
  EXPECT_EQ(DetectFileSystem(b), FsKind::kExt);
  EXPECT_EQ(FileSystemUnder(b), FsKind::kNtfs);
  // Without the ext superblock the same sectors are a plain NTFS volume.
  head[1024 + 56] = 0;
  EXPECT_EQ(DetectFileSystem(b), FsKind::kNtfs);
  EXPECT_EQ(FileSystemUnder(b), FsKind::kOther);
}

TEST_F(ExtOverNtfs, DeepScanGivesBackEveryFileOfTheOldTableAtItsFolder) {
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto engine = CreateEngineForImage(Images().Volume(), 'E', true);
  ASSERT_NE(dynamic_cast<DeepScanEngine*>(engine.get()), nullptr);
  engine->DeclineResume();
  ASSERT_EQ(engine->Scan(nullptr), kOk);
  test::TempDir out;
  std::multimap<std::string, test::ListedFile> found = test::CopyOutWithPaths(*engine, out.path());
  size_t live = 0;
  for (const Row& r : Images().rows) {
    SCOPED_TRACE(r.Path());
    live += r.state == "live";
    auto [lo, hi] = found.equal_range(r.sha256);
    ASSERT_NE(lo, hi) << "not recovered byte-exact";
    EXPECT_EQ(std::next(lo), hi) << "listed more than once";
    EXPECT_EQ(lo->second.path, r.Path());
    EXPECT_EQ(lo->second.record.sourceKind, uint32_t(kSourceDeepNtfs));
  }
  EXPECT_GE(live, 15u);
}

TEST_F(ExtOverNtfs, DeletedRecoveryReadsTheCurrentExtAndAPlainNtfsAsBefore) {
  ScanLogFolder::Instance().BeginNewScanFolder();
  auto layered = CreateEngineForImage(Images().Volume(), 'E', false);
  EXPECT_NE(dynamic_cast<QuickExtEngine*>(layered.get()), nullptr);
  // The same volume without the ext superblock: NTFS's deleted files only.
  test::TempDir dir;
  std::vector<uint8_t> bytes = test::ReadBytes(Images().Volume());
  bytes[1024 + 56] = 0;
  test::WriteBytes(dir / "plain.img", bytes);
  auto plain = CreateEngineForImage(dir / "plain.img", 'P', false);
  ASSERT_NE(dynamic_cast<QuickNtfsEngine*>(plain.get()), nullptr);
  ASSERT_EQ(plain->Scan(nullptr), kOk);
  std::vector<std::string> listed;
  for (const test::ListedFile& f : test::ListEveryFile(*plain)) listed.push_back(f.path);
  std::vector<std::string> deleted;
  for (const Row& r : Images().rows)
    if (r.state == "deleted") deleted.push_back(r.Path());
  EXPECT_EQ(listed, deleted);
}

}  // namespace
}  // namespace dunmere
