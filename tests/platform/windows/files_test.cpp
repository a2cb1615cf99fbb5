// The Windows file calls of platform/: UTF-8 names reaching the system as
// UTF-16, paths past MAX_PATH, new-files-only copy-out, locks between opens,
// and programs started with their output read back.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/file.h"
#include "platform/native_path.h"
#include "platform/process.h"
#include "platform/this_process.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::TempDir;

std::wstring WideName(const std::string& folder, const std::string& pattern) {
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW(NativePath(folder + "/" + pattern).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return {};
  ::FindClose(h);
  return found.cFileName;
}

Status WriteText(const std::string& path, const std::string& text, File::Mode mode = File::Mode::kCreateNew) {
  File f;
  if (Status s = f.Open(path, mode)) return s;
  if (Status s = f.WriteAt(0, text.data(), text.size())) return s;
  return f.Close();
}

std::string ReadText(const std::string& path) {
  std::string out;
  return ReadWholeFile(path, out) ? std::string("<unreadable>") : out;
}

TEST(WindowsFiles, NamesAreUtf16OnDiskAndLongPathsWork) {
  TempDir dir;
  // "Übersicht €.txt": what the system stores is the UTF-16 of the UTF-8 name.
  const std::string name = "\xC3\x9C" "bersicht \xE2\x82\xAC.txt";
  ASSERT_EQ(WriteText(dir / name, "report"), kOk);
  EXPECT_EQ(WideName(dir.path(), "*.txt"), L"\u00DCbersicht \u20AC.txt");
  EXPECT_EQ(ReadText(dir / name), "report");
  EXPECT_EQ(PathKindOf(dir / name), PathKind::kFile);

  // Folders nested past 260 characters, as a deep tree recovered in place makes.
  std::vector<std::string> parts;
  std::string deep = dir.path();
  for (int i = 0; i < 12; ++i) {
    parts.push_back(std::string(40, char('a' + i)));
    deep += "/" + parts.back();
  }
  ASSERT_GT(deep.size(), 500u);
  ASSERT_EQ(MakeFolderChain(dir.path(), parts), kOk);
  EXPECT_EQ(PathKindOf(deep), PathKind::kFolder);
  ASSERT_EQ(WriteText(deep + "/leaf.bin", std::string(70000, 'x')), kOk);
  File f;
  ASSERT_EQ(f.Open(deep + "/leaf.bin", File::Mode::kRead), kOk);
  uint64_t size = 0;
  ASSERT_EQ(f.Size(size), kOk);
  EXPECT_EQ(size, 70000u);
  std::string tail(10, '\0');
  size_t got = 0;
  ASSERT_EQ(f.ReadAt(69995, tail.data(), tail.size(), got), kOk);
  EXPECT_EQ(got, 5u);  // short only at the end
  ASSERT_EQ(f.Close(), kOk);
  EXPECT_GT(AllocatedBytes(deep + "/leaf.bin"), 0u);
  EXPECT_NE(FileLastWriteTime(deep + "/leaf.bin"), 0u);
  EXPECT_EQ(RemoveFile(deep + "/leaf.bin"), kOk);
  EXPECT_EQ(PathKindOf(deep + "/leaf.bin"), PathKind::kNone);
  // Both separators lead to the same file; the standard library gets the same path.
  const std::string mixed = dir.path() + "\\" + name;
  EXPECT_TRUE(SameFile(mixed, dir / name));
  EXPECT_EQ(PathText(NativePath(mixed)), ProgramPath(mixed));
}

TEST(WindowsFiles, CopyOutMakesNewFilesOnlyAndFoldersOneByOne) {
  TempDir dir;
  const std::string root = dir / "out";
  ASSERT_EQ(MakeFolder(root), kOk);
  EXPECT_EQ(MakeFolder(root), kAlreadyExists);
  ASSERT_EQ(WriteText(root + "/taken.txt", "theirs"), kOk);
  {
    CreateBelowScope scope(root);
    // Below the copy-out root nothing already there is replaced.
    EXPECT_EQ(WriteText(root + "/taken.txt", "ours", File::Mode::kCreateTruncate), kAlreadyExists);
    EXPECT_EQ(ReadText(root + "/taken.txt"), "theirs");
    ASSERT_EQ(MakeFolderChain(root, {"a", "b"}), kOk);
    EXPECT_EQ(WriteText(root + "/a/b/new.txt", "new", File::Mode::kCreateTruncate), kOk);
    // A file where a folder of the way should be.
    EXPECT_EQ(MakeFolderChain(root, {"taken.txt", "c"}), kAlreadyExists);
    EXPECT_NE(WriteText(root + "/taken.txt/c.txt", "x", File::Mode::kCreateTruncate), kOk);
    // Names that climb out are refused.
    EXPECT_EQ(MakeFolderChain(root, {".."}), kAccessDenied);
    EXPECT_EQ(MakeFolderChain(root, {"x:y"}), kAccessDenied);
  }
  EXPECT_EQ(ReadText(root + "/a/b/new.txt"), "new");
  // Outside a scope a chosen name is replaced, as the user asked.
  EXPECT_EQ(WriteText(root + "/taken.txt", "ours", File::Mode::kReplace), kOk);
  EXPECT_EQ(ReadText(root + "/taken.txt"), "ours");
  EXPECT_TRUE(RemoveIfRegularFile(root + "/taken.txt"));
  EXPECT_FALSE(RemoveIfRegularFile(root + "/a"));
  EXPECT_EQ(RemoveFile(root + "/a"), kAccessDenied);  // a folder is refused
  EXPECT_TRUE(CanWriteInto(root));
  EXPECT_TRUE(SystemRefusesWindowsNames());
}

TEST(WindowsFiles, ReplacingAFileLeavesTheOldOrTheNewOne) {
  TempDir dir;
  const std::string path = dir / "config";
  ASSERT_EQ(WriteFileAtomically(path, "first", 5), kOk);
  ASSERT_EQ(WriteFileAtomically(path, "second", 6, TempName::kPerProcess), kOk);
  EXPECT_EQ(ReadText(path), "second");
  EXPECT_EQ(PathKindOf(path + ".tmp"), PathKind::kNone);
}

TEST(WindowsFiles, ALockRefusesEveryOtherOpenUntilClosed) {
  TempDir dir;
  FileLock first, second;
  ASSERT_EQ(first.Open(dir / "lock"), kOk);
  ASSERT_EQ(second.Open(dir / "lock"), kOk);
  ASSERT_TRUE(first.TryLock());
  EXPECT_FALSE(second.TryLock());
  first.Close();
  EXPECT_TRUE(second.TryLock());
}

TEST(WindowsProcesses, OutputComesBackThroughOnePipeWithTheExitCode) {
  // The command line itself, as a person runs it: its help and its code.
  const std::string cli = std::string(DUNMERE_BINARY_DIR) + "/cli/dunmere-cli.exe";
  ASSERT_TRUE(IsExecutable(cli)) << cli;
  ChildProcess child;
  // An argument with blanks and quotes reaches the program as one word.
  ASSERT_TRUE(child.Start(cli, {"no such \"command\""}));
  EXPECT_GT(child.Id(), 0);
  std::string out;
  while (child.Running() || child.WaitForOutput(0)) {
    if (child.WaitForOutput(1000)) child.ReadOutput(out);
  }
  child.ReadOutput(out);
  EXPECT_NE(out.find("unknown command 'no such \"command\"'"), std::string::npos) << out;
  EXPECT_EQ(child.ExitCode(), 2);
  EXPECT_FALSE(ProcessGroupExists(child.Id()));
}

TEST(WindowsProcesses, EndingTheGroupEndsAProgramThatWouldNotEndItself) {
  // This test program, started again to wait for ever (WaitsUntilEnded).
  const std::string self = ProgramFilePath();
  ASSERT_FALSE(self.empty());
  ::SetEnvironmentVariableW(L"DUNMERE_WAIT_UNTIL_ENDED", L"1");
  ChildProcess child;
  const bool started = child.Start(self, {"--gtest_filter=WindowsProcesses.WaitsUntilEnded"});
  ::SetEnvironmentVariableW(L"DUNMERE_WAIT_UNTIL_ENDED", nullptr);
  ASSERT_TRUE(started);
  // It says when it waits: ended after that, never by a guessed delay.
  std::string out;
  while (out.find("waiting") == std::string::npos && child.Running())
    if (child.WaitForOutput(1000)) child.ReadOutput(out);
  ASSERT_TRUE(child.Running()) << out;
  EXPECT_TRUE(ProcessGroupExists(child.Id()));
  TerminateProcessGroup(child.Id());
  EXPECT_TRUE(child.WaitForEnd(60000));
  EXPECT_EQ(child.ExitCode(), -1);  // ended from outside
  EXPECT_FALSE(ProcessGroupExists(child.Id()));
}

TEST(WindowsProcesses, WaitsUntilEnded) {
  if (!std::getenv("DUNMERE_WAIT_UNTIL_ENDED")) GTEST_SKIP() << "runs only as the child of the test above";
  std::printf("waiting\n");
  std::fflush(stdout);
  for (;;) ::Sleep(INFINITE);
}

}  // namespace
}  // namespace dunmere
