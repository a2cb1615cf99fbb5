// The model of the results page without widgets: extension groups, the
// checked set and its three-state counts, sorting with the header items'
// directions, the type tree's layout and the summary's message format.
#include <gtest/gtest.h>

#include "app/core/recover/checked_set.h"
#include "app/core/language/message_format.h"
#include "app/core/results/result_groups.h"
#include "app/core/results/result_sort.h"
#include "app/core/results/result_type_tree.h"
#include "tests/support/found_records.h"

namespace dunmere {
namespace {

FoundItemRecord Rec(const char* name, uint32_t index, uint64_t size = 0, uint16_t tag = 'E',
                    uint32_t kind = kSourceQuickFat) {
  return test::MakeRecord(name, index, size, tag, kind);
}

std::vector<std::string> Names(const std::vector<uint32_t>& rows, const std::vector<FoundItemRecord>& all) {
  std::vector<std::string> out;
  for (uint32_t i : rows) out.push_back(RecordName(all[i]));
  return out;
}

TEST(ResultGroups, AliasesLowerCaseAndUnknowInNameOrder) {
  const std::vector<FoundItemRecord> found = {Rec("a.JPG", 1), Rec("holiday.JPEG", 2), Rec("notes", 3),
                                              Rec("b.jpg", 4),  Rec("c.Docx", 5),       Rec("trail.", 6),
                                              Rec("x.xyz", 7),  Rec("d.doc", 8)};
  ResultGroups g;
  g.Build(found);
  std::vector<std::string> names;
  for (const auto& group : g.Groups()) names.push_back(group.name);
  EXPECT_EQ(names, (std::vector<std::string>{"doc", "jpg", "unknow", "xyz"}));
  EXPECT_EQ(g[size_t(g.Find("jpg"))].members, (std::vector<uint32_t>{0, 1, 3}));
  // Both a name without a dot and one ending in a dot have no extension.
  EXPECT_EQ(g[size_t(g.Find("unknow"))].members, (std::vector<uint32_t>{2, 5}));
  EXPECT_EQ(g[size_t(g.Find("doc"))].members, (std::vector<uint32_t>{4, 7}));
  EXPECT_EQ(g.GroupOf(6), uint32_t(g.Find("xyz")));
  EXPECT_EQ(g.GroupOf(99), ResultGroups::kNoGroup);
}

// A result list where two engines report the same record numbers.
class CheckedSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    found = {Rec("a.jpg", 1, 100), Rec("b.jpg", 2, 200), Rec("c.jpg", 3, 300),
             // same record numbers from carving on the same source, and from another source
             Rec("d.jpg", 1, 1000, 'E', kSourceCarving), Rec("e.png", 2, 2000, 'F', kSourceQuickFat)};
    groups.Build(found);
    set.Attach(found, groups);
    jpg = size_t(groups.Find("jpg"));
    png = size_t(groups.Find("png"));
  }
  std::vector<FoundItemRecord> found;
  ResultGroups groups;
  CheckedSet set;
  size_t jpg = 0, png = 0;
};

TEST_F(CheckedSetTest, KeysKeepSourcesApartAndCountsFollowRows) {
  EXPECT_EQ(CheckedKeyOf(found[0]), CheckedKey(1, ('E' << 16) | 1));
  EXPECT_EQ(CheckedKeyOf(found[3]), CheckedKey(1, ('E' << 16) | 4));
  EXPECT_TRUE(set.SetChecked(0, true));
  EXPECT_TRUE(set.SetChecked(3, true));
  EXPECT_FALSE(set.SetChecked(3, true));  // already checked
  EXPECT_TRUE(set.SetChecked(4, true));
  EXPECT_EQ(set.Count(), 3u);  // record 1 twice and record 2 of another source: three entries
  EXPECT_EQ(set.TotalBytes(), 100u + 1000 + 2000);
  EXPECT_EQ(std::string(set.Map().at(CheckedKeyOf(found[3])).name), "d.jpg");
  EXPECT_FALSE(set.IsChecked(1));  // b.jpg shares record number 2 with e.png only
  EXPECT_EQ(set.GroupState(jpg), CheckState::kPartial);
  EXPECT_EQ(set.GroupState(png), CheckState::kChecked);
  EXPECT_EQ(set.StateOf({jpg, png}), CheckState::kPartial);
  set.SetChecked(1, true);
  set.SetChecked(2, true);
  EXPECT_EQ(set.GroupState(jpg), CheckState::kChecked);
  EXPECT_EQ(set.StateOf({jpg, png}), CheckState::kChecked);
  set.SetChecked(4, false);
  EXPECT_EQ(set.GroupState(png), CheckState::kUnchecked);
  EXPECT_EQ(set.TotalBytes(), 100u + 200 + 300 + 1000);
}

TEST_F(CheckedSetTest, GroupChecksAllAndBackAndReattachKeepsOnlyShownRecords) {
  EXPECT_EQ(set.SetGroup(jpg, true), 4u);
  EXPECT_EQ(set.SetGroup(jpg, true), 0u);
  EXPECT_EQ(set.Count(), 4u);
  EXPECT_EQ(set.GroupChecked(jpg), 4u);
  EXPECT_EQ(set.GroupState(png), CheckState::kUnchecked);
  // A new search result that still holds a.jpg and d.jpg but not b or c.
  const CheckedMap kept = set.Detach();
  EXPECT_EQ(set.Count(), 0u);
  ASSERT_EQ(kept.size(), 4u);
  // The list is replaced in place, as the view replaces it.
  found = {found[3], Rec("z.txt", 9), found[0]};
  ResultGroups nextGroups;
  nextGroups.Build(found);
  set.Attach(found, nextGroups, kept);
  EXPECT_EQ(set.Count(), 2u);
  EXPECT_TRUE(set.IsChecked(0));
  EXPECT_TRUE(set.IsChecked(2));
  EXPECT_FALSE(set.IsChecked(1));
  EXPECT_EQ(set.GroupState(size_t(nextGroups.Find("jpg"))), CheckState::kChecked);
  EXPECT_EQ(set.TotalBytes(), 1100u);
  EXPECT_EQ(set.SetGroup(size_t(nextGroups.Find("jpg")), false), 2u);
  EXPECT_EQ(set.Count(), 0u);
  EXPECT_EQ(set.TotalBytes(), 0u);
}

// Copy-out takes the checked records where the list holds them: the same
// entries as the map, in its order, one per key, and no copies.
TEST_F(CheckedSetTest, RecordsAreTheMapsEntriesInTheListItself) {
  EXPECT_TRUE(set.Records().empty());
  set.SetChecked(4, true);
  set.SetChecked(0, true);
  set.SetChecked(3, true);
  set.SetChecked(2, true);
  const std::vector<const FoundItemRecord*> records = set.Records();
  const CheckedMap& map = set.Map();
  ASSERT_EQ(records.size(), map.size());
  auto it = map.begin();
  for (const FoundItemRecord* r : records) {
    EXPECT_GE(r, found.data());
    EXPECT_LT(r, found.data() + found.size());
    EXPECT_EQ(CheckedKeyOf(*r), it->first);
    EXPECT_EQ(std::string(r->name), std::string(it->second.name));
    ++it;
  }
  // Key order: record 1 of both engines, then record 2 of F, then record 3.
  EXPECT_EQ(std::string(records.front()->name), "a.jpg");
  EXPECT_EQ(std::string(records.back()->name), "c.jpg");
  set.SetGroup(jpg, false);
  ASSERT_EQ(set.Records().size(), 1u);
  EXPECT_EQ(set.Records()[0], &found[4]);
  set.Clear();
  EXPECT_TRUE(set.Records().empty());
}

TEST(CheckedSet, OneRecordListedTwiceIsCheckedAsOne) {
  const std::vector<FoundItemRecord> found = {Rec("a.jpg", 5, 10), Rec("b.png", 6, 20), Rec("a.jpg", 5, 10)};
  ResultGroups groups;
  groups.Build(found);
  CheckedSet set;
  set.Attach(found, groups);
  set.SetChecked(2, true);
  EXPECT_TRUE(set.IsChecked(0));
  EXPECT_EQ(set.Count(), 1u);
  EXPECT_EQ(set.TotalBytes(), 10u);
  EXPECT_EQ(set.GroupState(size_t(groups.Find("jpg"))), CheckState::kChecked);
  EXPECT_EQ(set.Map().size(), 1u);
  EXPECT_EQ(set.Records().size(), 1u);  // twins: one entry, one copy out
  set.SetChecked(1, true);
  // The map follows every change, in key order.
  ASSERT_EQ(set.Map().size(), 2u);
  EXPECT_EQ(set.Map().begin()->first.first, 5u);
  EXPECT_EQ(std::string(std::next(set.Map().begin())->second.name), "b.png");
  set.SetChecked(1, false);
  set.SetChecked(0, false);
  EXPECT_TRUE(set.Map().empty());
  EXPECT_FALSE(set.IsChecked(2));
  EXPECT_EQ(set.GroupChecked(size_t(groups.Find("jpg"))), 0u);
  EXPECT_EQ(set.TotalBytes(), 0u);
}

TEST(SortDirections, FirstClicksAndReversals) {
  SortDirections d;
  EXPECT_EQ(d.Click(ResultColumn::kName), 1);
  EXPECT_EQ(d.Click(ResultColumn::kName), -1);
  EXPECT_EQ(d.Click(ResultColumn::kName), 1);
  EXPECT_EQ(d.Click(ResultColumn::kType), 1);
  EXPECT_EQ(d.Click(ResultColumn::kSize), -1);
  EXPECT_EQ(d.Click(ResultColumn::kSize), 1);
  EXPECT_EQ(d.Click(ResultColumn::kModified), -1);
  EXPECT_EQ(d.Click(ResultColumn::kCreated), -1);
  EXPECT_EQ(d.Click(ResultColumn::kPath), 0);
  EXPECT_EQ(d.Direction(ResultColumn::kName), 1);
  ResultColumn c;
  EXPECT_TRUE(ParseResultColumn("ModifiedTime", c));
  EXPECT_EQ(c, ResultColumn::kModified);
  EXPECT_FALSE(ParseResultColumn("ChkSelAll", c));
}

TEST(SortRows, NamesCaseInsensitiveSizesAndStableTies) {
  std::vector<FoundItemRecord> found = {
      Rec("beta.jpg", 1, 50), Rec("Alpha.jpg", 2, 50), Rec("alpha.JPG", 3, 10), Rec("", 4, 70),
      Rec("a very long common prefix 2.jpg", 5, 50), Rec("A very long common prefix 10.jpg", 6, 5)};
  std::vector<uint32_t> rows = {0, 1, 2, 3, 4, 5};
  SortRows(rows, found, ResultColumn::kName, 1);
  EXPECT_EQ(Names(rows, found), (std::vector<std::string>{"", "A very long common prefix 10.jpg",
                                                         "a very long common prefix 2.jpg", "Alpha.jpg",
                                                         "alpha.JPG", "beta.jpg"}));
  SortRows(rows, found, ResultColumn::kName, -1);
  // Reversed, except that equal names keep the order they had.
  EXPECT_EQ(Names(rows, found), (std::vector<std::string>{"beta.jpg", "Alpha.jpg", "alpha.JPG",
                                                         "a very long common prefix 2.jpg",
                                                         "A very long common prefix 10.jpg", ""}));
  rows = {0, 1, 2, 3, 4, 5};
  SortRows(rows, found, ResultColumn::kSize, -1);
  // Largest first; the three of 50 bytes in the order they had.
  EXPECT_EQ(rows, (std::vector<uint32_t>{3, 0, 1, 4, 2, 5}));
  SortRows(rows, found, ResultColumn::kSize, 1);
  EXPECT_EQ(rows, (std::vector<uint32_t>{5, 2, 0, 1, 4, 3}));
  const std::vector<uint32_t> before = rows;
  SortRows(rows, found, ResultColumn::kPath, 1);
  EXPECT_EQ(rows, before);
}

TEST(SortRows, TimesByValueNotByText) {
  // As text "2021-10-1" sorts before "2021-3-5"; by time it is newer.
  std::vector<FoundItemRecord> found = {Rec("march.jpg", 1), Rec("october.jpg", 2), Rec("none.jpg", 3)};
  found[0].modified = 132593294490000000ull;  // 2021-03-05
  found[1].modified = 132775776000000000ull;  // 2021-10-01
  found[2].modified = 0;
  std::vector<uint32_t> rows = {0, 1, 2};
  SortRows(rows, found, ResultColumn::kModified, -1);
  EXPECT_EQ(rows, (std::vector<uint32_t>{1, 0, 2}));
}

TEST(SortRows, TypeColumnText) {
  std::vector<FoundItemRecord> found = {Rec("a.jpg", 1), Rec("noext", 2), Rec("folder", 3), Rec("b.JPEG", 4)};
  found[2].isFolder = 1;
  EXPECT_EQ(TypeText(found[1]), "file");
  EXPECT_EQ(TypeText(found[2]), "folder");
  EXPECT_EQ(TypeText(found[3]), "JPEG");
  std::vector<uint32_t> rows = {0, 1, 2, 3};
  SortRows(rows, found, ResultColumn::kType, 1);
  EXPECT_EQ(rows, (std::vector<uint32_t>{1, 2, 3, 0}));
}

std::map<std::string, std::string> SelectedOf(std::initializer_list<std::string_view> userDatas, bool other) {
  std::map<std::string, std::string> sel;
  for (std::string_view u : userDatas) {
    size_t start = 0;
    while (true) {
      size_t bar = u.find('|', start);
      sel[std::string(u.substr(start, bar - start))] = std::string(u);
      if (bar == std::string_view::npos) break;
      start = bar + 1;
    }
  }
  if (other) sel["other"] = "other";
  return sel;
}

TEST(TypeTreeLayout, OnlyJpgAndOtherSelected) {
  const std::vector<FoundItemRecord> found = {Rec("x.jpeg", 1), Rec("a.xyz", 2), Rec("notes", 3),
                                              Rec("b.zzz", 4),  Rec("c.mp3", 5), Rec("y.jpg", 6)};
  ResultGroups groups;
  groups.Build(found);
  const TypeTreeLayout layout = LayOutTypeTree(groups, SelectedOf({"jpg|jpeg"}, true), BuiltInTypeOption);
  ASSERT_EQ(layout.nodes[size_t(Category::kPhoto)].size(), 1u);
  const TypeNodeInfo& jpg = layout.nodes[size_t(Category::kPhoto)][0];
  EXPECT_EQ(jpg.caption, "JPG/JPEG (2)");
  EXPECT_EQ(jpg.picture, "file='FileIcon/jpg.png'");
  EXPECT_EQ(jpg.userData, "jpg|jpeg");
  // mp3 was not selected: with "other" it is an other file like xyz.
  std::vector<std::string> others;
  for (const auto& n : layout.nodes[size_t(Category::kOthers)]) others.push_back(n.caption);
  EXPECT_EQ(others, (std::vector<std::string>{"MP3 Files (1)", "XYZ Files (1)", "ZZZ Files (1)", "UNKNOW Files (1)"}));
  EXPECT_EQ(layout.nodes[size_t(Category::kOthers)][0].picture, "file='FileIcon/other.png'");
  EXPECT_EQ(layout.totals[size_t(Category::kOthers)], 4u);
  EXPECT_EQ(layout.totals[size_t(Category::kPhoto)], 2u);
  EXPECT_TRUE(layout.nodes[size_t(Category::kAudio)].empty());
}

TEST(TypeTreeLayout, WithoutOtherUnselectedExtensionsAreDropped) {
  const std::vector<FoundItemRecord> found = {Rec("a.xyz", 1), Rec("notes", 2), Rec("song.OGG", 3),
                                              Rec("c.docx", 4)};
  ResultGroups groups;
  groups.Build(found);
  const TypeTreeLayout layout =
      LayOutTypeTree(groups, SelectedOf({"ogg", "doc|docx"}, false), BuiltInTypeOption);
  EXPECT_TRUE(layout.nodes[size_t(Category::kOthers)].empty());
  ASSERT_EQ(layout.nodes[size_t(Category::kAudio)].size(), 1u);
  EXPECT_EQ(layout.nodes[size_t(Category::kAudio)][0].caption, "OGG Files (1)");  // "OGG Files(.ogg)"
  ASSERT_EQ(layout.nodes[size_t(Category::kDocument)].size(), 1u);
  EXPECT_EQ(layout.nodes[size_t(Category::kDocument)][0].caption, "DOC Files (1)");
  // An option that is gone (the resolver knows none) is treated like no option.
  const TypeTreeLayout gone = LayOutTypeTree(
      groups, SelectedOf({"ogg"}, true), [](const std::string& u) -> std::optional<TypeOptionInfo> {
        return u == "other" ? BuiltInTypeOption(u) : std::nullopt;
      });
  EXPECT_EQ(gone.nodes[size_t(Category::kOthers)].size(), 4u);
  EXPECT_TRUE(gone.Empty() == false);
  EXPECT_TRUE(LayOutTypeTree(ResultGroups(), SelectedOf({"ogg"}, true), BuiltInTypeOption).Empty());
}

TEST(FormatMessage, ArgumentsInOrderAndNoPrintfSurprises) {
  EXPECT_EQ(FormatMessage("Selected: %s in %d files", {"1.50 MB", "3"}), "Selected: 1.50 MB in 3 files");
  EXPECT_EQ(FormatMessage("100%% of %s", {"x"}), "100% of x");
  // A translation asking for more than it gets, or for other conversions, shows them.
  EXPECT_EQ(FormatMessage("%s %s %n %x", {"a"}), "a %s %n %x");
  EXPECT_EQ(FormatMessage("ends in %", {}), "ends in %");
}

}  // namespace
}  // namespace dunmere
