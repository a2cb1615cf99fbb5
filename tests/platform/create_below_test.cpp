// New files for copy-out (platform File, kCreateNew): nothing at the name is
// replaced, and below a CreateBelowScope's root no link on the way is followed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

std::string Text(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  return s;
}

TEST(CreateNew, NeverReplacesOrWritesThroughWhatHasTheName) {
  TempDir d, elsewhere;
  { std::ofstream(d / "taken.txt") << "theirs\n"; }
  fs::create_symlink(elsewhere / "target.txt", d / "dangling.txt");
  File f;
  EXPECT_EQ(f.Open(d / "taken.txt", File::Mode::kCreateNew), kAlreadyExists);
  EXPECT_EQ(Text(d / "taken.txt"), "theirs");
  EXPECT_EQ(f.Open(d / "dangling.txt", File::Mode::kCreateNew), kAlreadyExists);
  EXPECT_FALSE(fs::exists(elsewhere / "target.txt"));
  EXPECT_EQ(f.Open(d / "new.txt", File::Mode::kCreateNew), kOk);
}

TEST(CreateNew, BelowTheRootALinkOnTheWayIsRefused) {
  TempDir t, elsewhere;
  std::string root = t / "dest";
  fs::create_directories(root + "/photo");
  fs::create_directory_symlink(elsewhere.path(), root + "/photo/Trip");
  File f;
  {
    CreateBelowScope scope(root + "/");
    EXPECT_EQ(f.Open(root + "/photo/Trip/a.jpg", File::Mode::kCreateNew), kAccessDenied);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    // A plain folder on the way is fine, and "." or ".." never lead out.
    EXPECT_EQ(f.Open(root + "/photo/b.jpg", File::Mode::kCreateNew), kOk);
    // Below the root, a truncating open replaces nothing either.
    EXPECT_EQ(f.Open(root + "/photo/b.jpg", File::Mode::kCreateTruncate), kAlreadyExists);
    EXPECT_NE(f.Open(root + "/photo/../../escape.jpg", File::Mode::kCreateNew), kOk);
    EXPECT_FALSE(fs::exists(t / "escape.jpg"));
  }
  // Outside a scope only the last step is guarded (the folders were checked
  // by whoever made them).
  EXPECT_EQ(f.Open(root + "/photo/Trip/c.jpg", File::Mode::kCreateNew), kOk);
}

TEST(CreateNew, FilesOfOneFolderInARowNeverReplaceOrLeaveTheDestination) {
  TempDir t, elsewhere;
  std::string root = t / "dest";
  fs::create_directories(root + "/a");
  File f;
  CreateBelowScope scope(root);
  EXPECT_EQ(f.Open(root + "/a/1.bin", File::Mode::kCreateNew), kOk);
  EXPECT_EQ(f.Open(root + "/a/2.bin", File::Mode::kCreateNew), kOk);
  EXPECT_EQ(f.Open(root + "/a/1.bin", File::Mode::kCreateTruncate), kAlreadyExists);
  EXPECT_NE(f.Open(root + "/a/..", File::Mode::kCreateNew), kOk);
  // The folder swapped for a link between two files: the next file still
  // goes into the folder that was walked to, never through the link.
  fs::rename(root + "/a", root + "/a-moved");
  fs::create_directory_symlink(elsewhere.path(), root + "/a");
  (void)f.Open(root + "/a/3.bin", File::Mode::kCreateNew);
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));
  EXPECT_FALSE(fs::exists(t / "escape.bin"));
}

TEST(CreateNew, TheRootItselfMayBeALink) {
  TempDir t, real;
  fs::create_directory_symlink(real.path(), t / "via-link");
  fs::create_directories(real / "others");
  CreateBelowScope scope(t / "via-link");
  File f;
  EXPECT_EQ(f.Open(t / "via-link/others/x.bin", File::Mode::kCreateNew), kOk);
  EXPECT_TRUE(fs::exists(real / "others/x.bin"));
}

TEST(MakeFolderChain, MakesFoldersOneByOneAndRefusesLinksAndFiles) {
  TempDir t, elsewhere;
  fs::create_directory_symlink(elsewhere.path(), t / "link");
  { std::ofstream(t / "file") << "x"; }
  EXPECT_EQ(MakeFolderChain(t.path(), {"a", "b", "c"}), kOk);
  EXPECT_TRUE(fs::is_directory(t / "a/b/c"));
  EXPECT_EQ(MakeFolderChain(t.path(), {"a", "b"}), kOk);  // existing ones are entered
  EXPECT_EQ(MakeFolderChain(t.path(), {"link", "inside"}), kAccessDenied);
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));
  EXPECT_EQ(MakeFolderChain(t.path(), {"file", "inside"}), kAlreadyExists);
  EXPECT_EQ(MakeFolderChain(t.path(), {"a", "..", "up"}), kAccessDenied);
}

}  // namespace
}  // namespace dunmere
