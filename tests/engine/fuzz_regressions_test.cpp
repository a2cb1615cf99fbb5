// Inputs the fuzz targets (fuzz/) found faults with, fed again to the same
// code. Each file under tests/fixtures/fuzz-regressions/ is named after its
// target.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/bytes.h"
#include "engine/result_store.h"
#include "engine/scan_log_folder.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

std::vector<uint8_t> Regression(const std::string& name) {
  return test::ReadBytes(test::SourcePath("tests/fixtures/fuzz-regressions/" + name));
}

// A damaged "config" whose partition entry names "/" as its scan folder: the
// resume took it up, and the deep scan would have written its logs into "/"
// and cut files there back to the counts of a ".kept_records" found there.
TEST(FuzzRegressions, ResumeEntryWithAForeignFolderIsDropped) {
  test::TempDir dir;
  const std::string base = dir / "ScanLog";
  fs::create_directories(base);
  const auto config = Regression("resume_config-root-folder");
  ASSERT_FALSE(config.empty());
  test::WriteBytes(base + "/config", config);
  ScanLogFolder f(base, [](uint32_t, uint64_t, uint64_t, uint16_t) { return uint64_t(4096); });
  EXPECT_TRUE(f.Entries().empty());
  EXPECT_EQ(f.FindResumablePartition(0, 0, 512, 1, nullptr), 0);
  f.BeginNewScanFolder();
  EXPECT_EQ(fs::path(f.CurrentScanFolder()).parent_path().parent_path(), fs::path(base));
  // Entries of our own folders still load beside it.
  ASSERT_EQ(f.SaveScanState(1, 0, 0, 512, ResumeProgress{}, f.CurrentScanFolder(), ""), kOk);
  ScanLogFolder again(base, [](uint32_t, uint64_t, uint64_t, uint16_t) { return uint64_t(4096); });
  EXPECT_EQ(again.Entries().size(), 1u);
  EXPECT_EQ(again.FindResumablePartition(0, 0, 512, 1, nullptr), 1);
}

// A "config" whose scan counter is the largest 64-bit value: the next scan
// folder's number overflowed. A counter the program never writes is taken as
// damaged; numbering starts again above the folders still listed for resume,
// and those entries stay.
TEST(FuzzRegressions, ScanCounterOutOfRangeStartsAFreshNumberingAndKeepsEntries) {
  test::TempDir dir;
  const std::string base = dir / "ScanLog";
  fs::create_directories(base);
  const auto probe = [](uint32_t, uint64_t, uint64_t, uint16_t) { return uint64_t(4096); };
  const auto config = Regression("resume_config-counter-max");
  ASSERT_EQ(config.size(), 8u);
  test::WriteBytes(base + "/config", config);
  {
    ScanLogFolder f(base, probe);
    EXPECT_EQ(f.Counter(), 0);
    f.BeginNewScanFolder();
    EXPECT_EQ(f.CurrentScanFolder(), base + "/1/");
  }
  // The same damage beside a valid entry for folder 7: the entry survives and
  // a new scan never takes (and so never deletes) its folder.
  {
    ScanLogFolder f(base, probe);
    for (int i = 0; i < 7; ++i) f.BeginNewScanFolder();
    fs::create_directories(f.CurrentScanFolder());
    ASSERT_EQ(f.SaveScanState(1, 0, 0, 512, ResumeProgress{}, f.CurrentScanFolder(), ""), kOk);
  }
  std::vector<uint8_t> saved = test::ReadBytes(base + "/config");
  ASSERT_GT(saved.size(), 8u);
  for (int i = 0; i < 8; ++i) saved[i] = config[i];
  test::WriteBytes(base + "/config", saved);
  ScanLogFolder f(base, probe);
  ASSERT_EQ(f.Entries().size(), 1u);
  EXPECT_EQ(f.Counter(), 7);
  f.BeginNewScanFolder();
  EXPECT_EQ(f.CurrentScanFolder(), base + "/8/");
  EXPECT_TRUE(fs::exists(base + "/7"));
  EXPECT_EQ(f.FindResumablePartition(0, 0, 512, 1, nullptr), 1);
}

// Writes a scan_log target input as the target does: two 4-byte lengths, then
// the record log, its "_Relation" text and its "_DirInfo" entries.
void WriteScanLog(const std::vector<uint8_t>& in, const std::string& folder, const std::string& name) {
  ByteView v(in.data(), in.size());
  const size_t size = in.size();
  const size_t logLen = std::min<size_t>(v.U32(0), size - 8);
  const size_t relLen = std::min<size_t>(v.U32(4), size - 8 - logLen);
  auto part = [&](size_t from, size_t len) {
    return std::vector<uint8_t>(in.begin() + long(from), in.begin() + long(from + len));
  };
  test::WriteBytes(folder + "/" + name, part(8, logLen));
  test::WriteBytes(folder + "/" + name + "_Relation", part(8 + logLen, relLen));
  test::WriteBytes(folder + "/" + name + "_DirInfo", part(8 + logLen + relLen, size - 8 - logLen - relLen));
}

// A "_Relation" text naming record 4,294,967,295 of a one-record log: the
// reopen sized its parent index by it (32 GiB) and died. Relations naming no
// record of the log are dropped; the others stay.
TEST(FuzzRegressions, RelationNamingARecordPastTheLogIsDropped) {
  test::TempDir dir;
  const auto in = Regression("scan_log-relation-index-4g");
  ASSERT_GE(in.size(), 8u);
  WriteScanLog(in, dir.path(), "fuzz.log");
  {
    ResultStore store;
    ASSERT_EQ(store.Open(dir.path(), "fuzz.log"), kOk);
    EXPECT_EQ(store.Count(), 1u);
    EXPECT_TRUE(store.Relations().empty());
    FoundItemRecord r{};
    EXPECT_EQ(store.Append(r, 7, 0), 2u);
    ASSERT_EQ(store.Close(), kOk);
  }
  // The damaged text was written again without the bad entry.
  std::vector<uint8_t> text = test::ReadBytes(dir / "fuzz.log_Relation");
  EXPECT_EQ(std::string(text.begin(), text.end()), " | 7 - [2]");
  ResultStore again;
  ASSERT_EQ(again.Open(dir.path(), "fuzz.log"), kOk);
  ASSERT_NE(again.Children(MakeRelationKey(7, 0)), nullptr);
  EXPECT_EQ(*again.Children(MakeRelationKey(7, 0)), std::vector<uint32_t>{2});
}

}  // namespace
}  // namespace dunmere
