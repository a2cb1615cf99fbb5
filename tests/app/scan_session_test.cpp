#include "app/core/sessions/scan_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "engine/scan_log_folder.h"
#include "tests/app/fake_engine.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::FakeEngine;
using test::SampleItems;
using test::TempDir;

class ScanSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void Scan(FakeEngine& e) {
    ASSERT_EQ(RunScan(e, {}), kOk);
    ASSERT_EQ(CollectFoundItems(e, TypeFilter{}, files, &folders), kOk);
  }
  const FoundEntry* Find(const std::vector<FoundEntry>& v, const std::string& path) {
    for (const FoundEntry& e : v)
      if (e.folderPath + e.Name() == path) return &e;
    return nullptr;
  }
  std::vector<FoundEntry> files, folders;
};

std::string ReadText(const std::string& p) {
  auto b = test::ReadBytes(p);
  return std::string(b.begin(), b.end());
}

TEST_F(ScanSession, ProgressReachesTheObserverAndStopComesBack) {
  FakeEngine e(SampleItems());
  std::vector<int> seen;
  EXPECT_EQ(RunScan(e,
                    [&](const ScanProgress& p) {
                      seen.push_back(p.percent);
                      EXPECT_EQ(p.total, 40u);
                      return 0;
                    }),
            kOk);
  EXPECT_EQ(seen, (std::vector<int>{25, 50, 75, 100}));
  FakeEngine stopped(SampleItems());
  EXPECT_EQ(RunScan(stopped, [](const ScanProgress& p) { return p.percent >= 50 ? kStopRequested : 0; }),
            kStopRequested);
}

TEST_F(ScanSession, CollectsFilesWithFolderPathsAndEveryFolder) {
  FakeEngine e(SampleItems());
  Scan(e);
  ASSERT_NE(Find(files, "Trip/Inner/deep.txt"), nullptr);
  EXPECT_EQ(Find(files, "Trip/Inner/deep.txt")->level, 2u);
  EXPECT_NE(Find(files, "Work/dup.txt"), nullptr);
  EXPECT_NE(Find(files, "notes"), nullptr);
  EXPECT_EQ(Find(files, "ghost.png"), nullptr);  // a picture that failed its content check stays hidden
  EXPECT_EQ(files.size(), 9u);
  ASSERT_EQ(folders.size(), 3u);
  EXPECT_NE(Find(folders, "Trip/Inner"), nullptr);
}

TEST_F(ScanSession, TypeFilterIsExactAndKnowsGroups) {
  TypeFilter f;
  std::string error;
  ASSERT_TRUE(ParseTypeFilter("JPEG, .docx", "", f, error));
  EXPECT_TRUE(f.Matches("a.jpg"));   // the jpg group covers jpeg
  EXPECT_TRUE(f.Matches("a.JPEG"));
  EXPECT_TRUE(f.Matches("b.doc"));
  EXPECT_FALSE(f.Matches("a.jp"));   // not by substring
  EXPECT_FALSE(f.Matches("notes"));
  ASSERT_TRUE(ParseTypeFilter("other", "archive", f, error));
  EXPECT_TRUE(f.Matches("notes"));
  EXPECT_TRUE(f.Matches("x.dat"));
  EXPECT_TRUE(f.Matches("x.zip"));
  EXPECT_FALSE(f.Matches("x.jpg"));
  EXPECT_FALSE(ParseTypeFilter("", "music", f, error));
  EXPECT_NE(error.find("music"), std::string::npos);
}

TEST_F(ScanSession, RecoverByCategoryNeverOverwrites) {
  FakeEngine e(SampleItems());
  Scan(e);
  TempDir out;
  std::vector<RecoverOutcome> outcomes;
  RecoverSummary s = RecoverFound(e, files, out.path(), Layout::kCategory, {},
                                  [&](const RecoverOutcome& o) { outcomes.push_back(o); });
  EXPECT_EQ(s.processed, 9u);
  EXPECT_EQ(s.failed, 1u);  // bad.zip
  EXPECT_FALSE(s.stopped);
  EXPECT_EQ(ReadText(out / "photo/beach.jpg"), test::JpegBytes(5000));
  EXPECT_TRUE(fs::exists(out / "photo/holiday.JPEG"));
  EXPECT_EQ(ReadText(out / "others/notes"), "no extension");
  EXPECT_TRUE(fs::exists(out / "document/report.docx"));
  // Two dup.txt from two folders: both kept.
  std::set<std::string> dups = {ReadText(out / "document/dup.txt"), ReadText(out / "document/dup(1).txt")};
  EXPECT_EQ(dups, (std::set<std::string>{"first dup", "second dup"}));
  // An empty file is a success, a failed one is not left behind.
  EXPECT_TRUE(fs::exists(out / "document/empty.txt"));
  EXPECT_FALSE(fs::exists(out / "archive/bad.zip"));
  for (const RecoverOutcome& o : outcomes)
    EXPECT_EQ(o.status == kOk, o.path.find("bad.zip") == std::string::npos) << o.path;

  // A second run next to the first: every name gets the next number.
  RecoverSummary again = RecoverFound(e, files, out.path(), Layout::kCategory, {}, {});
  EXPECT_EQ(again.processed, 9u);
  EXPECT_EQ(ReadText(out / "photo/beach(1).jpg"), test::JpegBytes(5000));
  EXPECT_TRUE(fs::exists(out / "document/dup(2).txt"));
  EXPECT_TRUE(fs::exists(out / "document/dup(3).txt"));
}

// A carved file whose own structure does not close is written as found: a
// success that says it is partial, counted apart.
TEST_F(ScanSession, APartialFileIsWrittenAndReportedPartial) {
  FakeEngine e({{"whole.txt", 20, 5, 0, false, "all of it"},
                {"cut.mov", 21, 5, 0, false, std::string(3000, 'm'), kContentPartial}});
  Scan(e);
  TempDir out;
  std::map<std::string, RecoverOutcome> outcomes;
  RecoverSummary s = RecoverFound(e, files, out.path(), Layout::kCategory, {},
                                  [&](const RecoverOutcome& o) { outcomes[fs::path(o.path).filename()] = o; });
  EXPECT_EQ(s.processed, 2u);
  EXPECT_EQ(s.failed, 0u);
  EXPECT_EQ(s.partial, 1u);
  EXPECT_EQ(outcomes["cut.mov"].status, kOk);
  EXPECT_TRUE(outcomes["cut.mov"].partial);
  EXPECT_FALSE(outcomes["whole.txt"].partial);
  EXPECT_EQ(ReadText(out / "video/cut.mov"), std::string(3000, 'm'));
}

TEST_F(ScanSession, RecoverTreeLayoutAndFoldersWithTheirTree) {
  FakeEngine e(SampleItems());
  Scan(e);
  TempDir out;
  RecoverSummary s = RecoverFound(e, files, out / "tree", Layout::kTree, {}, {});
  EXPECT_EQ(s.processed, 9u);
  EXPECT_EQ(ReadText(out / "tree/Trip/dup.txt"), "first dup");
  EXPECT_EQ(ReadText(out / "tree/Work/dup.txt"), "second dup");
  EXPECT_EQ(ReadText(out / "tree/Trip/Inner/deep.txt"), "deep file");

  // A folder keeps its tree wherever it is placed, also below the root level.
  std::vector<FoundEntry> pick = {*Find(folders, "Trip"), *Find(folders, "Trip/Inner")};
  RecoverSummary f = RecoverFound(e, pick, out / "cat", Layout::kCategory, {}, {});
  EXPECT_EQ(f.failed, 0u);
  EXPECT_EQ(ReadText(out / "cat/others/Trip/dup.txt"), "first dup");
  EXPECT_EQ(ReadText(out / "cat/others/Trip/Inner/deep.txt"), "deep file");
  EXPECT_EQ(ReadText(out / "cat/others/Inner/deep.txt"), "deep file");
  EXPECT_EQ(f.processed, 3u);
}

TEST_F(ScanSession, StopEndsTheCopyAtTheNextPiece) {
  FakeEngine e(SampleItems());
  Scan(e);
  TempDir out;
  int copied = 0;
  RecoverSummary s = RecoverFound(
      e, files, out.path(), Layout::kCategory, [&] { return copied >= 2; },
      [&](const RecoverOutcome&) { ++copied; });
  EXPECT_TRUE(s.stopped);
  EXPECT_EQ(s.processed, 2u);
}

TEST_F(ScanSession, StopInsideAFileRemovesItsPartAndListsItAsStopped) {
  std::vector<test::FakeItem> items = {{"first.txt", 20, 5, 0, false, "whole"},
                                       {"big.bin", 21, 5, 0, false, std::string(300000, 'b')},
                                       {"after.txt", 22, 5, 0, false, "never"}};
  FakeEngine e(items);
  Scan(e);
  TempDir out;
  std::vector<RecoverOutcome> outcomes;
  std::vector<RecoverProgress> seen;
  uint64_t partOnDisk = 0;
  RecoverSummary s = RecoverFound(
      e, files, out.path(), Layout::kCategory,
      [&] {
        // Once a piece of big.bin is on disk.
        const std::string big = out / "others/big.bin";
        if (fs::exists(big) && fs::file_size(big) > 0) partOnDisk = fs::file_size(big);
        return partOnDisk > 0;
      },
      [&](const RecoverOutcome& o) { outcomes.push_back(o); }, [&](const RecoverProgress& p) { seen.push_back(p); });
  EXPECT_TRUE(s.stopped);
  EXPECT_GT(partOnDisk, 0u);
  EXPECT_LT(partOnDisk, 300000u);
  EXPECT_FALSE(fs::exists(out / "others/big.bin"));
  ASSERT_FALSE(outcomes.empty());
  EXPECT_EQ(outcomes.back().path, out / "others/big.bin");
  EXPECT_EQ(outcomes.back().status, kStopRequested);
  EXPECT_EQ(s.processed, outcomes.size() - 1);  // a stopped file is listed, not counted
  // Progress counts the bytes of the files before and the part of this one.
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().path, out / "others/big.bin");
  EXPECT_GT(seen.back().bytesDone, 0u);
  EXPECT_LT(seen.back().bytesDone, 300000u + 5 + 5);
}

// A window's worker may be held at any progress report (the cancel question
// is open), so nothing may be reported about a file before a piece of it is
// on disk: a name already taken is no failure of the copy and is not
// reported; the first report of the file is about the name it really got.
TEST_F(ScanSession, ATakenNameIsNotReportedBeforeTheFileIsWritten) {
  FakeEngine e({{"big.bin", 21, 5, 0, false, std::string(300000, 'b')}});
  Scan(e);
  TempDir out;
  ASSERT_EQ(RecoverFound(e, files, out.path(), Layout::kCategory, {}, {}).failed, 0u);
  const std::string second = out / "others/big(1).bin";
  std::vector<RecoverProgress> seen;
  bool writtenAtFirstReport = false;
  RecoverSummary s = RecoverFound(
      e, files, out.path(), Layout::kCategory, {}, {}, [&](const RecoverProgress& p) {
        if (seen.empty()) writtenAtFirstReport = fs::exists(second) && fs::file_size(second) > 0;
        seen.push_back(p);
      });
  EXPECT_EQ(s.failed, 0u);
  EXPECT_EQ(ReadText(second), std::string(300000, 'b'));
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(writtenAtFirstReport);
  for (const RecoverProgress& p : seen) EXPECT_EQ(p.path, second);
}

TEST_F(ScanSession, CopyOutStaysInsideTheDestinationAndFollowsNoForeignLink) {
  std::vector<test::FakeItem> items = {{"beach.jpg", 20, 5, 0, false, "jpeg"},
                                       {"report.txt", 21, 5, 0, false, "report"},
                                       {"../../escape.txt", 22, 5, 0, false, "escape"},
                                       {"..", 23, 5, 0, false, "dots"}};
  FakeEngine e(items);
  Scan(e);
  TempDir out, elsewhere;
  // Someone else's links inside the destination: a category folder that
  // points away, and a name that points at a file elsewhere.
  fs::create_directory_symlink(elsewhere.path(), out / "photo");
  fs::create_directories(out / "document");
  fs::create_symlink(elsewhere / "victim.txt", out / "document/report.txt");
  std::vector<RecoverOutcome> outcomes;
  RecoverSummary s = RecoverFound(e, files, out.path(), Layout::kCategory, {},
                                  [&](const RecoverOutcome& o) { outcomes.push_back(o); });
  EXPECT_EQ(s.processed, 4u);
  EXPECT_EQ(s.failed, 1u);
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));
  for (const RecoverOutcome& o : outcomes) {
    EXPECT_EQ(o.path.rfind(out.path() + "/", 0), 0u) << o.path;
    if (o.path.find("beach") != std::string::npos) {
      EXPECT_EQ(o.status, kAccessDenied);
    }
  }
  EXPECT_EQ(ReadText(out / "document/report(1).txt"), "report");
  EXPECT_EQ(ReadText(out / "document/.._.._escape.txt"), "escape");
  EXPECT_EQ(ReadText(out / "others/_.."), "dots");
}

TEST_F(ScanSession, SourcesThatCannotBeScanned) {
  TempDir dir;
  SourceSpec spec;
  std::string error;
  EXPECT_NE(ResolveSource(dir / "missing.img", spec, error), kOk);
  EXPECT_NE(error.find("source not found"), std::string::npos) << error;
  EXPECT_NE(ResolveSource(dir.path(), spec, error), kOk);
  EXPECT_NE(error.find("folder"), std::string::npos) << error;
  EXPECT_NE(ResolveSource("disk:x", spec, error), kOk);
  EXPECT_NE(ResolveSource("disk:99999", spec, error), kOk);
  EXPECT_NE(error.find("no disk"), std::string::npos) << error;

  test::WriteBytes(dir / "zeros.img", std::vector<uint8_t>(1 << 20, 0));
  ASSERT_EQ(ResolveSource(dir / "zeros.img", spec, error), kOk) << error;
  OpenedEngine opened;
  EXPECT_NE(OpenEngine(spec, false, opened, error), kOk);
  EXPECT_NE(error.find("no file system to quick-scan"), std::string::npos) << error;
  test::WriteBytes(dir / "small.img", std::vector<uint8_t>(1000, 0));
  ASSERT_EQ(ResolveSource(dir / "small.img", spec, error), kOk);
  EXPECT_NE(OpenEngine(spec, false, opened, error), kOk);
  EXPECT_NE(error.find("16 KiB"), std::string::npos) << error;
}

// A 24 MiB disk image: two 8 MiB FAT partitions at 2048 and 18432.
std::string MakeTwoPartitionImage(const TempDir& dir, const std::string& name, std::string& out) {
  const std::string img = dir / name;
  const std::string q = test::ShellQuote(img);
  const int rc = test::RunCommand("truncate -s 24M " + q +
                                      " && printf 'label: dos\\nstart=2048, size=16384, type=6\\n"
                                      "start=18432, size=16384, type=6\\n' | sfdisk -q " + q +
                                      " && mkfs.fat -n ONE --offset 2048 " + q + " 8192 >/dev/null" +
                                      " && mkfs.fat -n TWO --offset 18432 " + q + " 8192 >/dev/null",
                                  &out);
  return rc == 0 ? img : std::string();
}

TEST_F(ScanSession, PartitionOfAWholeDiskImageIsASource) {
  DUNMERE_REQUIRE_TOOL("sfdisk");
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  TempDir dir;
  std::string out, error;
  // A colon in the file's own name is part of the name.
  const std::string img = MakeTwoPartitionImage(dir, "card:2.img", out);
  ASSERT_FALSE(img.empty()) << out;

  SourceSpec spec;
  ASSERT_EQ(ResolveSource(img, spec, error), kOk) << error;
  EXPECT_EQ(spec.kind, SourceSpec::Kind::kFile);
  OpenedEngine opened;
  EXPECT_NE(OpenEngine(spec, false, opened, error), kOk);
  EXPECT_NE(error.find(img + ":1, " + img + ":2"), std::string::npos) << error;

  ASSERT_EQ(ResolveSource(img + ":2", spec, error), kOk) << error;
  EXPECT_EQ(spec.kind, SourceSpec::Kind::kFileRange);
  EXPECT_EQ(spec.path, img);
  EXPECT_EQ(spec.text, img + ":2");
  EXPECT_EQ(spec.start, 18432u);
  EXPECT_EQ(spec.count, 16384u);
  ASSERT_EQ(OpenEngine(spec, false, opened, error), kOk) << error;
  EXPECT_EQ(opened.kind, FsKind::kFat);

  ASSERT_EQ(ResolveSource(img + ":2048:16384", spec, error), kOk) << error;
  EXPECT_EQ(spec.kind, SourceSpec::Kind::kFileRange);
  EXPECT_EQ(spec.start, 2048u);
  EXPECT_EQ(spec.count, 16384u);

  EXPECT_NE(ResolveSource(img + ":3", spec, error), kOk);
  EXPECT_NE(error.find("no partition 3"), std::string::npos) << error;
  EXPECT_NE(ResolveSource(img + ":49100:100", spec, error), kOk);
  EXPECT_NE(error.find("past the end"), std::string::npos) << error;
}

TEST_F(ScanSession, DeepScansOfTwoPartitionsOfOneImageResumeApart) {
  DUNMERE_REQUIRE_TOOL("sfdisk");
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  TempDir dir;
  std::string out, error;
  const std::string img = MakeTwoPartitionImage(dir, "card.img", out);
  ASSERT_FALSE(img.empty()) << out;
  SourceSpec first, second;
  ASSERT_EQ(ResolveSource(img + ":1", first, error), kOk) << error;
  ASSERT_EQ(ResolveSource(img + ":2", second, error), kOk) << error;
  {
    OpenedEngine deep;
    ASSERT_EQ(OpenEngine(first, true, deep, error), kOk) << error;
    (void)SettleResume(*deep.engine, true);
    ASSERT_EQ(RunScan(*deep.engine, {}), kOk);
  }
  // The first partition's scan is remembered for it alone.
  OpenedEngine deep;
  ASSERT_EQ(OpenEngine(second, true, deep, error), kOk) << error;
  EXPECT_FALSE(deep.engine->CanResume());
  deep.engine.reset();
  ASSERT_EQ(OpenEngine(first, true, deep, error), kOk) << error;
  EXPECT_TRUE(deep.engine->CanResume());
}

TEST_F(ScanSession, EngineNames) {
  EXPECT_EQ(EngineName(kSourceQuickNtfs), "quick NTFS");
  EXPECT_EQ(EngineName(kSourceCarving), "carving");
  EXPECT_EQ(EngineName(77), "unknown");
}

}  // namespace
}  // namespace dunmere
