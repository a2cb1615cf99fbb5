#include "engine/result_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine/kept_records.h"
#include "engine/relation_text.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::ReadBytes;
using test::TempDir;

FoundItemRecord Rec(const char* name, uint32_t itemId, bool folder) {
  FoundItemRecord r = MakeEmptyRecord();
  r.itemId = itemId;
  r.isFolder = folder ? 1 : 0;
  r.size = 1234;
  SetRecordName(r, name);
  return r;
}

TEST(ResultStoreFiles, WritesRecordLogRelationAndFolderNamesByteForByte) {
  TempDir dir;
  {
    ResultStore store;
    ASSERT_EQ(store.Open(dir.path(), "Fast_0_2021439 5"), kOk);
    EXPECT_EQ(store.Append(Rec("a.jpg", 100, false), 5, 0), 1u);
    EXPECT_EQ(store.Append(Rec("b.txt", 101, false), 5, 0), 2u);
    EXPECT_EQ(store.Append(Rec("sub", 48, true), 48, 1), 3u);
    ASSERT_EQ(store.Close(), kOk);
  }
  std::vector<uint8_t> log = ReadBytes(dir / "Fast_0_2021439 5");
  ASSERT_EQ(log.size(), 3 * 346u);
  // recordIndex at offset 18, itemId at 22, name at 86 of each record.
  EXPECT_EQ(log[346 + 18], 2);
  EXPECT_EQ(log[2 * 346 + 22], 48);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&log[2 * 346 + 86])), "sub");

  std::vector<uint8_t> rel = ReadBytes(dir / "Fast_0_2021439 5_Relation");
  EXPECT_EQ(std::string(rel.begin(), rel.end()), " | 5 - [1,2] | 4294967344 - [3]");

  std::vector<uint8_t> dirInfo = ReadBytes(dir / "Fast_0_2021439 5_DirInfo");
  ASSERT_EQ(dirInfo.size(), 268u);
  EXPECT_EQ(dirInfo[0], 48);  // itemId
  EXPECT_EQ(dirInfo[4], 3);   // recordIndex
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&dirInfo[8])), "sub");
}

TEST(ResultStoreFiles, ReopenAppendsAfterExistingRecordsAndKeepsRelations) {
  TempDir dir;
  {
    ResultStore store;
    ASSERT_EQ(store.Open(dir.path(), "L"), kOk);
    store.Append(Rec("one", 7, true), 5, 0);
    store.Append(Rec("two", 8, false), 7, 1);
  }
  ResultStore store;
  ASSERT_EQ(store.Open(dir.path(), "L"), kOk);
  EXPECT_EQ(store.Count(), 2u);
  EXPECT_EQ(store.Append(Rec("three", 9, false), 5, 0), 3u);
  ASSERT_NE(store.Children(MakeRelationKey(5, 0)), nullptr);
  EXPECT_EQ(*store.Children(MakeRelationKey(5, 0)), (std::vector<uint32_t>{1, 3}));
  ASSERT_NE(store.FolderNameById(7), nullptr);
  EXPECT_EQ(EntryName(*store.FolderNameById(7)), "one");
  FoundItemRecord r;
  ASSERT_EQ(store.Read(2, r), kOk);
  EXPECT_EQ(RecordName(r), "two");
  ASSERT_EQ(store.Read(3, r), kOk);  // still in the buffer
  EXPECT_EQ(RecordName(r), "three");
  EXPECT_EQ(store.Read(4, r), kInvalidArg);
}

TEST(ResultStoreFiles, RecordsBeyondOneBufferReadBackAndRewrite) {
  TempDir dir;
  ResultStore store;
  ASSERT_EQ(store.Open(dir.path(), "L"), kOk);
  for (uint32_t i = 0; i < 450; ++i) store.Append(Rec(("f" + std::to_string(i)).c_str(), i, false), 5, 0);
  FoundItemRecord r;
  ASSERT_EQ(store.Read(1, r), kOk);
  EXPECT_EQ(RecordName(r), "f0");
  r.size = 77;
  ASSERT_EQ(store.Rewrite(r), kOk);
  ASSERT_EQ(store.Read(450, r), kOk);
  EXPECT_EQ(RecordName(r), "f449");
  ASSERT_EQ(store.Flush(), kOk);
  EXPECT_EQ(ReadBytes(store.LogPath()).size(), 450 * 346u);
  ASSERT_EQ(store.Read(1, r), kOk);
  EXPECT_EQ(+r.size, 77u);
}

TEST(ResultStoreFiles, PartialTrailingRecordFromACrashIsDropped) {
  TempDir dir;
  std::vector<uint8_t> bytes(346 * 2 + 100, 0);
  test::WriteBytes(dir / "L", bytes);
  ResultStore store;
  ASSERT_EQ(store.Open(dir.path(), "L"), kOk);
  EXPECT_EQ(store.Count(), 2u);
  EXPECT_EQ(store.Append(Rec("x", 1, false), 5, 0), 3u);
  (void)store.Close();
  EXPECT_EQ(ReadBytes(dir / "L").size(), 3 * 346u);
}

TEST(ResultStoreFiles, RemappedRelationsMoveOnlyNewRecordsAndSurviveReopen) {
  TempDir dir;
  {
    ResultStore store;
    ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
    store.Append(Rec("old.txt", 10, false), 7, 1);   // 1: before the remap's first index
    store.Append(Rec("a.txt", 11, false), 5, 1);     // 2
    store.Append(Rec("b.txt", 12, false), 7, 1);     // 3
    store.Append(Rec("c.txt", 13, false), 9, 2);     // 4: stays where it is
    // Folder 7 turns out to be a later part of folder 5, one level deeper.
    store.RemapRelations(2, [](RelationKey k) {
      return RelationParent(k) == 7 ? MakeRelationKey(5, 2) : RelationParent(k) == 5 ? MakeRelationKey(5, 2) : k;
    });
    const std::vector<uint32_t>* five = store.Children(MakeRelationKey(5, 2));
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(*five, (std::vector<uint32_t>{2, 3}));  // in record order
    ASSERT_NE(store.Children(MakeRelationKey(7, 1)), nullptr);
    EXPECT_EQ(*store.Children(MakeRelationKey(7, 1)), (std::vector<uint32_t>{1}));
    EXPECT_EQ(store.Children(MakeRelationKey(5, 1)), nullptr);  // emptied keys go
    RelationKey k = 0;
    ASSERT_TRUE(store.ParentKeyOf(3, k));
    EXPECT_EQ(k, MakeRelationKey(5, 2));
    ASSERT_TRUE(store.ParentKeyOf(4, k));
    EXPECT_EQ(k, MakeRelationKey(9, 2));
    ASSERT_EQ(store.Close(), kOk);
  }
  ResultStore again;
  ASSERT_EQ(again.Open(dir.path(), "log"), kOk);
  ASSERT_NE(again.Children(MakeRelationKey(5, 2)), nullptr);
  EXPECT_EQ(*again.Children(MakeRelationKey(5, 2)), (std::vector<uint32_t>{2, 3}));
}

TEST(ResultStoreFiles, TruncatedLogKeepsOnlyItsFirstRecordsRelationsAndFolders) {
  TempDir dir;
  {
    ResultStore store;
    ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
    store.Append(Rec("kept", 40, true), 5, 0);    // 1
    store.Append(Rec("a.txt", 11, false), 40, 1);  // 2
    store.Append(Rec("gone", 41, true), 5, 0);    // 3
    store.Append(Rec("b.txt", 12, false), 41, 1);  // 4
    store.Append(Rec("c.txt", 13, false), 40, 1);  // 5
    ASSERT_EQ(store.Close(), kOk);
  }
  {
    ResultStore store;
    ASSERT_EQ(store.Open(dir.path(), "log"), kOk);
    ASSERT_EQ(store.TruncateTo(2), kOk);
    EXPECT_EQ(store.TruncateTo(9), kOk);  // longer than the log: nothing happens
    EXPECT_EQ(store.Count(), 2u);
    // Appends go on after the records kept.
    EXPECT_EQ(store.Append(Rec("d.txt", 14, false), 40, 1), 3u);
    ASSERT_EQ(store.Close(), kOk);
  }
  ResultStore again;
  ASSERT_EQ(again.Open(dir.path(), "log"), kOk);
  EXPECT_EQ(again.Count(), 3u);
  EXPECT_EQ(ReadBytes(dir / "log").size(), 3 * 346u);
  ASSERT_NE(again.Children(MakeRelationKey(40, 1)), nullptr);
  EXPECT_EQ(*again.Children(MakeRelationKey(40, 1)), (std::vector<uint32_t>{2, 3}));
  EXPECT_EQ(*again.Children(MakeRelationKey(5, 0)), (std::vector<uint32_t>{1}));
  EXPECT_EQ(again.Children(MakeRelationKey(41, 1)), nullptr);
  EXPECT_NE(again.FolderNameById(40), nullptr);
  EXPECT_EQ(again.FolderNameById(41), nullptr);
  FoundItemRecord r;
  ASSERT_EQ(again.Read(3, r), kOk);
  EXPECT_EQ(RecordName(r), "d.txt");
}

TEST(ResultStoreFiles, CompanionsWrittenOnceStillFollowEveryChangeAndCrashCut) {
  TempDir dir;
  const std::string rel = dir / "L_Relation", info = dir / "L_DirInfo";
  auto text = [](const std::string& path) {
    std::vector<uint8_t> b = ReadBytes(path);
    return std::string(b.begin(), b.end());
  };
  {
    ResultStore store;
    ASSERT_EQ(store.Open(dir.path(), "L"), kOk);
    store.Append(Rec("d1", 40, true), 5, 0);
    store.Append(Rec("f", 41, false), 40, 1);
    ASSERT_EQ(store.Flush(), kOk);
    EXPECT_EQ(text(rel), " | 5 - [1] | 4294967336 - [2]");
    // A flush with nothing new leaves both files as they are, and one after a
    // change writes the change.
    ASSERT_EQ(store.Flush(), kOk);
    store.Append(Rec("d2", 42, true), 5, 0);
    ASSERT_EQ(store.Flush(), kOk);
    EXPECT_EQ(text(rel), " | 5 - [1,3] | 4294967336 - [2]");
    EXPECT_EQ(ReadBytes(info).size(), 2 * sizeof(FolderNameEntry));
    ASSERT_EQ(store.Close(), kOk);
  }
  // A crash cut both companions short: the cut piece and the cut entry go at
  // the next flush, even with nothing new, and later folder names land
  // aligned after the whole ones.
  std::filesystem::resize_file(rel, text(rel).size() - 3);
  std::filesystem::resize_file(info, sizeof(FolderNameEntry) + 100);
  {
    ResultStore store;
    ASSERT_EQ(store.Open(dir.path(), "L"), kOk);
    ASSERT_EQ(store.FolderNames().size(), 1u);
    ASSERT_EQ(store.Flush(), kOk);
    EXPECT_EQ(text(rel), " | 5 - [1,3]");
    EXPECT_EQ(ReadBytes(info).size(), sizeof(FolderNameEntry));
    store.Append(Rec("d3", 43, true), 5, 0);
    ASSERT_EQ(store.Close(), kOk);
  }
  ResultStore store;
  ASSERT_EQ(store.Open(dir.path(), "L"), kOk);
  ASSERT_EQ(store.FolderNames().size(), 2u);
  EXPECT_EQ(EntryName(store.FolderNames()[0]), "d1");
  EXPECT_EQ(EntryName(store.FolderNames()[1]), "d3");
  EXPECT_EQ(store.FolderNames()[1].recordIndex, 4u);
  ASSERT_NE(store.Children(MakeRelationKey(5, 0)), nullptr);
  EXPECT_EQ(*store.Children(MakeRelationKey(5, 0)), (std::vector<uint32_t>{1, 3, 4}));
}

TEST(ResultStoreFiles, ReadManyMatchesReadOneByOneOnDiskAndInTheBuffer) {
  TempDir dir;
  ResultStore store;
  ASSERT_EQ(store.Open(dir.path(), "L"), kOk);
  const uint32_t total = uint32_t(ResultStore::kBufferRecords) * 3 + 17;  // the last 17 still buffered
  for (uint32_t i = 1; i <= total; ++i) store.Append(Rec(("n" + std::to_string(i)).c_str(), i, false), 5, 0);
  // Runs, gaps wider than one read joins, a descending pair, a repeat, and
  // records on both sides of the buffer's edge.
  std::vector<uint32_t> want{1, 2, 3, 30, 31, 400, 399, 399, total - 20, total - 17, total - 16, total};
  std::vector<FoundItemRecord> got;
  ASSERT_EQ(store.ReadMany(want, got), kOk);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    FoundItemRecord one;
    ASSERT_EQ(store.Read(want[i], one), kOk);
    EXPECT_EQ(std::memcmp(&one, &got[i], kRecordSize), 0) << want[i];
    EXPECT_EQ(RecordName(got[i]), "n" + std::to_string(want[i]));
  }
  EXPECT_EQ(store.ReadMany({1, total + 1}, got), kInvalidArg);
  EXPECT_EQ(store.ReadMany({0}, got), kInvalidArg);
}

TEST(KeptRecords, LogsAreCutBackToTheSavedCountsAndNothingOutsideIsTouched) {
  TempDir dir;
  const std::string folder = dir / "scan";
  {
    ResultStore a, b;
    ASSERT_EQ(a.Open(folder, "File_Type_0_x"), kOk);
    ASSERT_EQ(b.Open(folder, "Pro_Fat_0_x"), kOk);
    a.Append(Rec("1.jpg", 1, false), 0, 0);
    ASSERT_EQ(SaveKeptRecords(folder, {&a, &b, nullptr}), kOk);
    a.Append(Rec("2.jpg", 2, false), 0, 0);  // after the save: a run that died
    b.Append(Rec("x.txt", 3, false), 0, 0);
  }
  // Damaged or hostile lines are passed over.
  std::vector<uint8_t> outside(3 * 346, 7);
  test::WriteBytes(dir / "victim", outside);
  auto kept = ReadBytes(folder + "/.kept_records");
  std::string text(kept.begin(), kept.end());
  text += "../victim\t0\nno tab here\nPro_Fat_0_x\tlots\n.config\t0\nmissing_log\t0\n";
  test::WriteBytes(folder + "/.kept_records", std::vector<uint8_t>(text.begin(), text.end()));
  ASSERT_EQ(CutBackToKeptRecords(folder), kOk);
  EXPECT_EQ(ReadBytes(folder + "/File_Type_0_x").size(), 346u);
  EXPECT_EQ(ReadBytes(folder + "/Pro_Fat_0_x").size(), 0u);
  EXPECT_EQ(ReadBytes(dir / "victim"), outside);
  EXPECT_FALSE(std::filesystem::exists(folder + "/missing_log"));
  // A folder without the file is left alone.
  TempDir other;
  EXPECT_EQ(CutBackToKeptRecords(other.path()), kOk);
}

TEST(RelationText, ParsesWhatItWritesAndSurvivesDamage) {
  RelationMap m;
  m[5] = {1, 2};
  m[4294967344ULL] = {3};
  std::string text = FormatRelationText(m);
  EXPECT_EQ(ParseRelationText(text), m);
  EXPECT_TRUE(ParseRelationText("").empty());
  EXPECT_TRUE(ParseRelationText("garbage without pieces").empty());
  // A cut-off second piece keeps the first.
  RelationMap cut = ParseRelationText(" | 5 - [1,2] | 77 - [3,");
  EXPECT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[5], (std::vector<uint32_t>{1, 2}));
  // Overflowing numbers stop the parse instead of wrapping.
  EXPECT_TRUE(ParseRelationText(" | 99999999999999999999999 - [1]").empty());
  EXPECT_EQ(ParseRelationText(" | 5 - [4294967296]").count(5), 0u);
  // An empty list is kept as an empty list.
  EXPECT_TRUE(ParseRelationText(" | 9 - []").at(9).empty());
}

}  // namespace
}  // namespace dunmere
