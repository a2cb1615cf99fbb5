// Names in the local file system (platform/file.h): what a removal may touch,
// what a path is with and without following links, when two names are one
// file, and the lock that serialises scans between processes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

TEST(RemoveIfRegularFile, TakesAFileButNeverALinkOrAFolder) {
  TempDir d;
  { std::ofstream(d / "part.jpg") << "half"; }
  { std::ofstream(d / "theirs.txt") << "keep"; }
  fs::create_symlink(d / "theirs.txt", d / "link.jpg");
  fs::create_directory(d / "folder.jpg");

  EXPECT_TRUE(RemoveIfRegularFile(d / "part.jpg"));
  EXPECT_FALSE(fs::exists(d / "part.jpg"));
  EXPECT_FALSE(RemoveIfRegularFile(d / "link.jpg"));
  EXPECT_TRUE(fs::is_symlink(d / "link.jpg"));
  EXPECT_TRUE(fs::exists(d / "theirs.txt"));
  EXPECT_FALSE(RemoveIfRegularFile(d / "folder.jpg"));
  EXPECT_TRUE(fs::is_directory(d / "folder.jpg"));
  EXPECT_FALSE(RemoveIfRegularFile(d / "missing.jpg"));
}

TEST(RemoveFile, TakesTheLinkNotWhatItPointsToAndRefusesAFolder) {
  TempDir d;
  { std::ofstream(d / "target.txt") << "keep"; }
  fs::create_symlink(d / "target.txt", d / "link.txt");
  fs::create_directory(d / "folder");

  EXPECT_EQ(RemoveFile(d / "link.txt"), kOk);
  EXPECT_FALSE(fs::is_symlink(d / "link.txt"));
  EXPECT_TRUE(fs::exists(d / "target.txt"));
  EXPECT_NE(RemoveFile(d / "folder"), kOk);
  EXPECT_TRUE(fs::is_directory(d / "folder"));
  EXPECT_EQ(RemoveFile(d / "missing"), kFileNotFound);
}

TEST(PathKindOf, ALinkIsSeenThroughOnlyWhenFollowed) {
  TempDir d;
  fs::create_directory(d / "folder");
  fs::create_directory_symlink(d / "folder", d / "to-folder");
  fs::create_symlink(d / "nowhere", d / "dangling");

  EXPECT_EQ(PathKindOf(d / "folder"), PathKind::kFolder);
  EXPECT_EQ(PathKindOf(d / "to-folder"), PathKind::kFolder);
  EXPECT_EQ(PathKindOf(d / "to-folder", Links::kNoFollow), PathKind::kLink);
  EXPECT_EQ(PathKindOf(d / "dangling", Links::kNoFollow), PathKind::kLink);
  std::error_code why;
  EXPECT_EQ(PathKindOf(d / "dangling", Links::kFollow, why), PathKind::kNone);
  EXPECT_EQ(why, std::errc::no_such_file_or_directory);
}

TEST(SameFile, NamesOfOneFileAgreeAndCopiesDoNot) {
  TempDir d;
  { std::ofstream(d / "a.img") << "same bytes"; }
  { std::ofstream(d / "copy.img") << "same bytes"; }
  fs::create_symlink(d / "a.img", d / "soft.img");
  fs::create_hard_link(d / "a.img", d / "hard.img");

  EXPECT_TRUE(SameFile(d / "a.img", d / "soft.img"));
  EXPECT_TRUE(SameFile(d / "a.img", d / "hard.img"));
  EXPECT_FALSE(SameFile(d / "a.img", d / "copy.img"));
  EXPECT_FALSE(SameFile(d / "missing.img", d / "missing.img"));
}

TEST(FileLock, HeldThroughOneOpenItRefusesAnotherUntilClosed) {
  TempDir d;
  FileLock first, second;
  ASSERT_EQ(first.Open(d / ".lock"), kOk);
  ASSERT_EQ(second.Open(d / ".lock"), kOk);
  EXPECT_TRUE(first.TryLock());
  EXPECT_FALSE(second.TryLock());
  first.Close();
  EXPECT_TRUE(second.TryLock());
  EXPECT_EQ(second.Lock(), kOk);  // already ours: no wait
}

TEST(ReplaceMode, ANameTheUserGaveIsFollowedAndEmptied) {
  TempDir d;
  { std::ofstream(d / "old.img") << "an earlier image, longer"; }
  fs::create_symlink(d / "old.img", d / "chosen.img");
  File f;
  // A copy-out never writes through a link; an image the user named does.
  EXPECT_NE(f.Open(d / "chosen.img", File::Mode::kCreateTruncate), kOk);
  ASSERT_EQ(f.Open(d / "chosen.img", File::Mode::kReplace), kOk);
  EXPECT_EQ(f.WriteAt(0, "new", 3), kOk);
  EXPECT_EQ(f.Close(), kOk);
  EXPECT_TRUE(fs::is_symlink(d / "chosen.img"));
  std::string back;
  EXPECT_EQ(ReadWholeFile(d / "old.img", back), kOk);
  EXPECT_EQ(back, "new");
}

TEST(WriteFileAtomically, APerProcessTemporaryNeverOutlivesAFailure) {
  TempDir d;
  // A folder that is not empty cannot be renamed over: the write fails late.
  fs::create_directories(d / "taken.ini/inside");
  const std::string text = "[Options]\r\nLanguage=en\r\n";
  EXPECT_NE(WriteFileAtomically(d / "taken.ini", text.data(), text.size(), TempName::kPerProcess), kOk);
  for (const auto& e : fs::directory_iterator(d.path())) EXPECT_EQ(e.path().filename(), "taken.ini");

  EXPECT_EQ(WriteFileAtomically(d / "lang.ini", text.data(), text.size(), TempName::kPerProcess), kOk);
  std::string back;
  EXPECT_EQ(ReadWholeFile(d / "lang.ini", back), kOk);
  EXPECT_EQ(back, text);
}

}  // namespace
}  // namespace dunmere
