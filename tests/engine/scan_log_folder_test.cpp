#include "engine/scan_log_folder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

struct FreeSpace {
  uint64_t bytes = 1000;
};

ScanLogFolder MakeFolder(const std::string& path, FreeSpace* free) {
  return ScanLogFolder(path, [free](uint32_t, uint64_t, uint64_t, uint16_t) { return free->bytes; });
}

ResumeProgress Progress(uint64_t done) {
  ResumeProgress p;
  p.rangeStart = 10;
  p.rangeLength = 20;
  p.rangeOffset = 5;
  p.sectorsDone = done;
  p.filesFound = 3;
  return p;
}

TEST(ScanLogFolderConfig, FirstScanUsesFolderOneAndCounterSurvivesSave) {
  TempDir dir;
  FreeSpace free;
  std::string base = dir / "ScanLog";
  auto f = MakeFolder(base, &free);
  f.BeginNewScanFolder();
  EXPECT_EQ(f.CurrentScanFolder(), base + "/1/");
  ASSERT_EQ(f.SaveScanState('E', 1, 2048, 4096, Progress(7), f.CurrentScanFolder(), ""), kOk);
  auto again = MakeFolder(base, &free);
  EXPECT_EQ(again.Counter(), 1);
  ASSERT_EQ(again.Entries().size(), 1u);
  const ScanResumeEntry& e = again.Entries()[0];
  EXPECT_EQ(e.diskIndex, 1u);
  EXPECT_EQ(e.partitionStart, 2048u);
  EXPECT_EQ(e.partitionSectors, 4096u);
  EXPECT_EQ(e.sectorsDone, 7u);
  EXPECT_EQ(e.freeBytes, 1000u);
  EXPECT_EQ(EntryScanFolder(e), base + "/1/");
  // Saving the same partition again replaces only the progress.
  ASSERT_EQ(again.SaveScanState('E', 1, 2048, 4096, Progress(99), again.CurrentScanFolder(), ""), kOk);
  EXPECT_EQ(MakeFolder(base, &free).Entries().size(), 1u);
  EXPECT_EQ(MakeFolder(base, &free).Entries()[0].sectorsDone, 99u);
  // counter (8 bytes) + one 1,120-byte entry, nothing else.
  EXPECT_EQ(fs::file_size(base + "/config"), 8u + 1120u);
}

TEST(ScanLogFolderConfig, InterruptedSaveLeavingOnlyTmpIsCompleted) {
  TempDir dir;
  FreeSpace free;
  std::string base = dir / "ScanLog";
  {
    auto f = MakeFolder(base, &free);
    f.BeginNewScanFolder();
    f.BeginNewScanFolder();
    ASSERT_EQ(f.SaveScanState(0, 0, 0, 0, Progress(1), f.CurrentScanFolder(), "/img/a.img"), kOk);
  }
  fs::rename(base + "/config", base + "/config.tmp");
  auto f = MakeFolder(base, &free);
  EXPECT_EQ(f.Counter(), 2);
  EXPECT_EQ(f.Entries().size(), 1u);
  EXPECT_TRUE(fs::exists(base + "/config"));
  EXPECT_FALSE(fs::exists(base + "/config.tmp"));
}

TEST(ScanLogFolderConfig, TruncatedTrailingEntryAndMissingConfig) {
  TempDir dir;
  FreeSpace free;
  std::string base = dir / "ScanLog";
  auto empty = MakeFolder(base, &free);
  EXPECT_EQ(empty.Counter(), 0);
  EXPECT_TRUE(empty.Entries().empty());
  empty.BeginNewScanFolder();
  ASSERT_EQ(empty.SaveScanState('E', 0, 1, 2, Progress(1), empty.CurrentScanFolder(), ""), kOk);
  ASSERT_EQ(empty.SaveScanState('F', 0, 3, 4, Progress(1), empty.CurrentScanFolder(), ""), kOk);
  fs::resize_file(base + "/config", 8 + 1120 + 500);
  auto f = MakeFolder(base, &free);
  EXPECT_EQ(f.Counter(), 1);
  ASSERT_EQ(f.Entries().size(), 1u);
  EXPECT_EQ(f.Entries()[0].partitionStart, 1u);
}

TEST(ScanLogFolderResume, PartitionEntryFoundThenDiscardedWhenOneByteOfFreeSpaceChanged) {
  TempDir dir;
  FreeSpace free;
  std::string base = dir / "ScanLog";
  auto f = MakeFolder(base, &free);
  f.BeginNewScanFolder();
  std::string folder = f.CurrentScanFolder();
  fs::create_directories(folder);
  std::ofstream(folder + "File_Type_1") << "x";
  ASSERT_EQ(f.SaveScanState('E', 2, 63, 1000, Progress(5), folder, ""), kOk);
  f.BeginNewScanFolder();  // another scan meanwhile

  ScanResumeEntry e;
  EXPECT_EQ(f.FindResumablePartition(2, 63, 1001, 'E', &e), 0);
  EXPECT_EQ(f.FindResumablePartition(2, 63, 1000, 'E', &e), 1);
  EXPECT_EQ(e.sectorsDone, 5u);
  EXPECT_EQ(f.CurrentScanFolder(), folder);

  free.bytes += 1;
  EXPECT_EQ(f.FindResumablePartition(2, 63, 1000, 'E', &e), 0);
  EXPECT_TRUE(f.Entries().empty());
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(f.CurrentScanFolder(), base + "/2/");
}

TEST(ScanLogFolderResume, ImageEntryDependsOnTheImagesLastWriteTime) {
  TempDir dir;
  FreeSpace free;
  auto f = MakeFolder(dir / "ScanLog", &free);
  std::string img = dir / "disk.img";
  std::ofstream(img) << "data";
  f.BeginNewScanFolder();
  ASSERT_EQ(f.SaveScanState(0, 0, 0, 8, Progress(3), f.CurrentScanFolder(), img), kOk);
  EXPECT_EQ(f.FindResumableImage(img + "x", 0, 8, nullptr), 0);
  EXPECT_EQ(f.FindResumableImage(img, 0, 8, nullptr), 1);
  fs::last_write_time(img, fs::last_write_time(img) + std::chrono::seconds(5));
  EXPECT_EQ(f.FindResumableImage(img, 0, 8, nullptr), 0);
  EXPECT_TRUE(f.Entries().empty());
}

TEST(ScanLogFolderResume, PartitionsOfOneImageKeepEntriesOfTheirOwn) {
  TempDir dir;
  FreeSpace free;
  auto f = MakeFolder(dir / "ScanLog", &free);
  std::string img = dir / "disk.img";
  std::ofstream(img) << "data";
  f.BeginNewScanFolder();
  const std::string first = f.CurrentScanFolder();
  ASSERT_EQ(f.SaveScanState(1, 0, 2048, 65536, Progress(3), first, img), kOk);
  f.BeginNewScanFolder();
  const std::string second = f.CurrentScanFolder();
  ASSERT_EQ(f.SaveScanState(2, 0, 67584, 262144, Progress(4), second, img), kOk);
  // The second partition's scan does not take the place of the first one's.
  ASSERT_EQ(f.Entries().size(), 2u);

  ScanResumeEntry e;
  EXPECT_EQ(f.FindResumableImage(img, 0, 329728, &e), 0);
  ASSERT_EQ(f.FindResumableImage(img, 2048, 65536, &e), 1);
  EXPECT_EQ(e.sectorsDone, 3u);
  EXPECT_EQ(f.CurrentScanFolder(), first);
  ASSERT_EQ(f.FindResumableImage(img, 67584, 262144, &e), 1);
  EXPECT_EQ(e.sectorsDone, 4u);
  EXPECT_EQ(f.CurrentScanFolder(), second);
}

TEST(ScanLogFolderRemove, NeverDeletesOutsideTheScanLogFolder) {
  TempDir dir;
  FreeSpace free;
  std::string base = dir / "ScanLog";
  auto f = MakeFolder(base, &free);
  fs::create_directories(dir / "precious/inner");
  fs::create_directories(base + "/3");
  EXPECT_NE(f.RemoveScanFolder(dir / "precious"), kOk);
  EXPECT_NE(f.RemoveScanFolder(base + "/../precious"), kOk);
  EXPECT_NE(f.RemoveScanFolder(base), kOk);
  EXPECT_NE(f.RemoveScanFolder("/"), kOk);
  EXPECT_NE(f.RemoveScanFolder(""), kOk);
  // A link in the scan-log folder is never followed (where links can be
  // made: Wine makes none).
  std::error_code linkError;
  fs::create_directory_symlink(dir / "precious", base + "/4", linkError);
  if (!linkError) {
    EXPECT_NE(f.RemoveScanFolder(base + "/4"), kOk);
    EXPECT_TRUE(fs::exists(dir / "precious/inner"));
  }
  EXPECT_EQ(f.RemoveScanFolder(base + "/3/"), kOk);
  EXPECT_FALSE(fs::exists(base + "/3"));
}

TEST(ScanLogFolderRemove, HostileConfigFolderIsNotDeleted) {
  TempDir dir;
  FreeSpace free;
  std::string base = dir / "ScanLog";
  fs::create_directories(dir / "victim");
  {
    auto f = MakeFolder(base, &free);
    ASSERT_EQ(f.SaveScanState('E', 0, 5, 6, Progress(1), dir / "victim", ""), kOk);
  }
  auto f = MakeFolder(base, &free);
  free.bytes = 1;  // makes the entry stale, which removes its folder
  EXPECT_EQ(f.FindResumablePartition(0, 5, 6, 'E', nullptr), 0);
  EXPECT_TRUE(fs::exists(dir / "victim"));
}

TEST(ScanLogFolderLogs, FindLogFileReturnsTheLogNotItsCompanions) {
  TempDir dir;
  FreeSpace free;
  auto f = MakeFolder(dir / "ScanLog", &free);
  for (const char* n : {"Pro_Fat_5_DirInfo", "Pro_Fat_5_Relation", "Pro_Fat_5", ".Pro_Fat_hidden", "Fast_0_x"})
    std::ofstream(dir / n) << "x";
  std::string name;
  ASSERT_EQ(f.FindLogFile("Pro_Fat_", name, dir.path()), kOk);
  EXPECT_EQ(name, "Pro_Fat_5");
  EXPECT_EQ(f.FindLogFile("Pro_Ntfs_", name, dir.path()), kFileNotFound);
}

TEST(ScanResumeEntryLayout, PathsRoundTripAndOverlongPathIsRefused) {
  ScanResumeEntry e;
  std::memset(&e, 0, sizeof e);
  ASSERT_TRUE(SetEntryImagePath(e, "/tmp/bilder/ä.img"));
  EXPECT_EQ(EntryImagePath(e), "/tmp/bilder/ä.img");
  EXPECT_FALSE(SetEntryScanFolder(e, std::string(300, 'a')));
}

}  // namespace
}  // namespace dunmere
