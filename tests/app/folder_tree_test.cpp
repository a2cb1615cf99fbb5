// The folder view's model: sources, folders and files without a folder,
// counts below each node, the files a folder's check takes, and the checked
// counts that give the three states. The time to build a big tree is printed
// for information only.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>

#include "app/core/recover/checked_set.h"
#include "app/core/results/folder_tree.h"
#include "app/core/results/result_groups.h"
#include "tests/support/found_records.h"

namespace dunmere {
namespace {

struct Files {
  std::vector<FoundItemRecord> list;
  std::map<std::pair<uint16_t, uint32_t>, std::string> folderOf;  // (tag, index) -> path; none: no folder
  void Add(const char* name, uint32_t index, const char* folder, uint16_t tag = 'E',
           uint32_t kind = kSourceQuickFat) {
    list.push_back(test::MakeRecord(name, index, 10, tag, kind));
    if (folder) folderOf[{tag, index}] = folder;
  }
  FolderTree::FolderOf Source() const {
    return [this](const FoundItemRecord& r, std::string& out) {
      auto it = folderOf.find({r.sourceTag, r.recordIndex});
      if (it == folderOf.end()) return false;
      out = it->second;
      return true;
    };
  }
};

Files Sample() {
  Files f;
  f.Add("root.txt", 1, "");
  f.Add("b.jpg", 2, "Photos/2020/");
  f.Add("a.txt", 3, "photos/");  // another folder than "Photos", sorted beside it
  f.Add("c.jpg", 4, "Photos/2020/");
  f.Add("d.txt", 5, "Photos/");
  f.Add("e.doc", 6, "Docs/");
  f.Add("carved.jpg", 7, nullptr, 'E', kSourceCarving);
  f.Add("other.txt", 1, "Work/", 'F');  // record 1 of a second source
  return f;
}

std::vector<std::string> ChildNames(const FolderTree& t, uint32_t node) {
  std::vector<std::string> out;
  for (uint32_t c : t[node].children)
    out.push_back(t[c].kind == FolderTree::Kind::kNoFolder ? "<none>" : t[c].name);
  return out;
}

TEST(FolderTree, SourcesFoldersAndCounts) {
  const Files f = Sample();
  FolderTree t;
  t.Build(f.list, f.Source());
  ASSERT_TRUE(t.Built());
  ASSERT_EQ(t.Roots().size(), 2u);
  const uint32_t e = t.Roots()[0], other = t.Roots()[1];
  EXPECT_EQ(t[e].sourceTag, 'E');
  EXPECT_EQ(t[e].total, 7u);
  EXPECT_EQ(t[other].total, 1u);
  EXPECT_EQ(t[e].files, std::vector<uint32_t>{0});  // root.txt lies in the volume's root
  // Folders by name whatever their case, the files without a folder last.
  EXPECT_EQ(ChildNames(t, e), (std::vector<std::string>{"Docs", "Photos", "photos", "<none>"}));
  const uint32_t photos = t.Find('E', "Photos/");
  ASSERT_NE(photos, FolderTree::kNoNode);
  EXPECT_EQ(t[photos].total, 3u);
  EXPECT_EQ(t.PathOf(photos), "Photos/");
  const uint32_t y2020 = t.Find('E', "Photos/2020/");
  ASSERT_NE(y2020, FolderTree::kNoNode);
  EXPECT_EQ(t[y2020].parent, photos);
  EXPECT_EQ(t.PathOf(y2020), "Photos/2020/");
  EXPECT_EQ(t[y2020].files, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(t.Find('E', "Nowhere/"), FolderTree::kNoNode);
  EXPECT_EQ(t.Find('F', "Work/"), t[other].children[0]);
  // A folder's check takes its own files and those of every folder below.
  EXPECT_EQ(t.FilesBelow(photos), (std::vector<uint32_t>{4, 1, 3}));
  EXPECT_EQ(t.FilesBelow(e).size(), 7u);
}

TEST(FolderTree, CheckedCountsGiveTheThreeStates) {
  const Files f = Sample();
  ResultGroups groups;
  groups.Build(f.list);
  CheckedSet checked;
  checked.Attach(f.list, groups);
  FolderTree t;
  t.Build(f.list, f.Source());
  const uint32_t photos = t.Find('E', "Photos/"), y2020 = t.Find('E', "Photos/2020/");
  const uint32_t e = t.Roots()[0];
  checked.SetChecked(1, true);  // one of 2020's two files
  std::vector<uint64_t> below = t.CheckedBelow(checked);
  EXPECT_EQ(t.StateOf(y2020, below), CheckState::kPartial);
  EXPECT_EQ(t.StateOf(photos, below), CheckState::kPartial);
  EXPECT_EQ(t.StateOf(t.Find('E', "Docs/"), below), CheckState::kUnchecked);
  for (uint32_t i : t.FilesBelow(photos)) checked.SetChecked(i, true);
  below = t.CheckedBelow(checked);
  EXPECT_EQ(t.StateOf(y2020, below), CheckState::kChecked);
  EXPECT_EQ(t.StateOf(photos, below), CheckState::kChecked);
  EXPECT_EQ(t.StateOf(e, below), CheckState::kPartial);
  EXPECT_EQ(below[e], 3u);
  EXPECT_EQ(checked.Count(), 3u);
}

TEST(FolderTree, FolderRecordsAndAnEmptyListMakeNoFiles) {
  Files f;
  f.Add("Photos", 1, "");
  f.list.back().isFolder = 1;
  FolderTree t;
  t.Build(f.list, f.Source());
  EXPECT_TRUE(t.Built());
  EXPECT_TRUE(t.Roots().empty());
  t.Build({}, f.Source());
  EXPECT_EQ(t.size(), 0u);
}

TEST(FolderTree, ABigResultIsBuiltOnce) {
  // 100,000 files in 1,000 folders three levels deep; the time is reported,
  // not judged.
  std::vector<FoundItemRecord> list;
  list.reserve(100'000);
  for (uint32_t i = 0; i < 100'000; ++i) list.push_back(test::MakeRecord("file.jpg", i + 1, 1000));
  auto folderOf = [](const FoundItemRecord& r, std::string& out) {
    const uint32_t f = r.recordIndex % 1000;
    out = "Level " + std::to_string(f / 100) + "/Sub " + std::to_string(f / 10) + "/Leaf " + std::to_string(f) + "/";
    return true;
  };
  const auto start = std::chrono::steady_clock::now();
  FolderTree t;
  t.Build(list, folderOf);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::cout << "[ info ] folder tree of 100000 files: " << ms << " ms\n";
  ASSERT_EQ(t.Roots().size(), 1u);
  EXPECT_EQ(t[t.Roots()[0]].total, 100'000u);
  EXPECT_EQ(t[t.Roots()[0]].children.size(), 10u);
  EXPECT_EQ(t[t.Find('E', "Level 3/Sub 34/Leaf 345/")].total, 100u);
}

}  // namespace
}  // namespace dunmere
