#include "app/core/recover/recovery_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/support/test_support.h"

namespace dunmere {
namespace {

struct FakeDisk {
  std::set<std::string> paths;
  PathExists Exists() {
    return [this](const std::string& p) { return paths.count(p) != 0; };
  }
};

TEST(UniquePath, CountsUpBeforeTheExtension) {
  FakeDisk d;
  std::string p = CategoryDestination("/rec", "a.jpg");
  EXPECT_EQ(p, "/rec/photo/a.jpg");
  EXPECT_EQ(MakeUniquePath(p, d.Exists()), "/rec/photo/a.jpg");
  d.paths.insert(p);
  EXPECT_EQ(MakeUniquePath(p, d.Exists()), "/rec/photo/a(1).jpg");
  d.paths.insert("/rec/photo/a(1).jpg");
  EXPECT_EQ(MakeUniquePath(p, d.Exists()), "/rec/photo/a(2).jpg");
}

TEST(UniquePath, NamesWithoutOrOnlyExtension) {
  FakeDisk d;
  d.paths = {"/r/others/notes", "/r/others/.bashrc", "/r/a.b/c"};
  EXPECT_EQ(MakeUniquePath("/r/others/notes", d.Exists()), "/r/others/notes(1)");
  EXPECT_EQ(MakeUniquePath("/r/others/.bashrc", d.Exists()), "/r/others/(1).bashrc");
  // A dot in a folder name is not an extension.
  EXPECT_EQ(MakeUniquePath("/r/a.b/c", d.Exists()), "/r/a.b/c(1)");
}

TEST(UniquePath, LongNamesStayWithinTheLimit) {
  FakeDisk d;
  std::string name = std::string(251, 'x') + ".jpg";  // 255 bytes exactly
  std::string p = "/r/photo/" + name;
  d.paths.insert(p);
  std::string u = MakeUniquePath(p, d.Exists());
  std::string base = u.substr(u.rfind('/') + 1);
  EXPECT_LE(base.size(), kMaxNameBytes);
  EXPECT_EQ(base.substr(base.size() - 7), "(1).jpg");
}

TEST(DestinationName, UnsafeAndOverlongNames) {
  EXPECT_EQ(DestinationName(".."), "_..");
  EXPECT_EQ(DestinationName("a/b"), "a_b");
  EXPECT_EQ(DestinationName(""), "_");
  std::string longName = std::string(300, 'n') + ".pdf";
  std::string cut = DestinationName(longName);
  EXPECT_EQ(cut.size(), kMaxNameBytes);
  EXPECT_EQ(cut.substr(cut.size() - 4), ".pdf");
  // Cut at a character boundary: 2-byte characters never split.
  std::string utf8;
  for (int i = 0; i < 200; ++i) utf8 += "\xC3\xA9";
  std::string c2 = DestinationName(utf8 + ".txt");
  EXPECT_LE(c2.size(), kMaxNameBytes);
  EXPECT_EQ((c2.size() - 4) % 2, 0u);
}

TEST(Destinations, CategoryAndTreeLayouts) {
  EXPECT_EQ(CategoryDestination("/rec/", "a.dat"), "/rec/others/a.dat");
  EXPECT_EQ(CategoryDestination("/rec", "a.JPG"), "/rec/photo/a.JPG");
  EXPECT_EQ(CategoryDestination("/rec", "../../etc/passwd"), "/rec/others/.._.._etc_passwd");
  EXPECT_EQ(TreeDestination("/rec", "DCIM/Camera/", "x.jpg"), "/rec/DCIM/Camera/x.jpg");
  EXPECT_EQ(TreeDestination("/rec", "", "x.jpg"), "/rec/x.jpg");
  // A folder named ".." on a damaged volume stays inside the destination.
  EXPECT_EQ(TreeDestination("/rec", "../", "x.jpg"), "/rec/_../x.jpg");
}

TEST(LevelBase, ChildrenGetTheirRealLevel) {
  // The engine lists a folder's children at separators(dest) - levelBase.
  std::string d1 = "/rec/others/Trip";  // a folder in the volume root
  EXPECT_EQ(SeparatorCount(d1) - LevelBaseFor(d1, 0), 1);
  std::string d2 = "/rec/others/Inner";  // a folder one level down
  EXPECT_EQ(SeparatorCount(d2) - LevelBaseFor(d2, 1), 2);
  EXPECT_EQ(FolderDepth("a/b/"), 2u);
  EXPECT_EQ(FolderDepth(""), 0u);
  EXPECT_EQ(StripTrailingSeparator("/a/"), "/a");
  EXPECT_EQ(StripTrailingSeparator("/"), "/");
}

}  // namespace
}  // namespace dunmere

namespace dunmere {
namespace {

TEST(MakeFoldersBelow, MakesEachStepAndRefusesLinksAndEscapes) {
  test::TempDir root, elsewhere;
  EXPECT_EQ(MakeFoldersBelow(root.path() + "/", root / "a/b/c"), kOk);
  EXPECT_TRUE(std::filesystem::is_directory(root / "a/b/c"));
  EXPECT_EQ(MakeFoldersBelow(root.path(), root / "a/b/c"), kOk);  // already there
  // Where links can be made (Wine makes none).
  std::error_code linkError;
  std::filesystem::create_directory_symlink(elsewhere.path(), root / "link", linkError);
  if (!linkError) {
    EXPECT_EQ(MakeFoldersBelow(root.path(), root / "link/x"), kAccessDenied);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
  }
  EXPECT_EQ(MakeFoldersBelow(root.path(), root / "a/../../x"), kAccessDenied);
  EXPECT_EQ(MakeFoldersBelow(root.path(), elsewhere / "x"), kAccessDenied);
  EXPECT_EQ(MakeFoldersBelow(root.path(), root.path() + "x/y"), kAccessDenied);  // a sibling sharing the prefix
  test::WriteBytes(root / "file", {1});
  EXPECT_EQ(MakeFoldersBelow(root.path(), root / "file/x"), kAlreadyExists);
}

}  // namespace
}  // namespace dunmere
