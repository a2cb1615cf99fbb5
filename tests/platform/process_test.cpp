// Programs started as processes of their own (platform/process.h): which file
// a name on PATH runs, and what a process that ended leaves to read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::TempDir;

// The guard of a wait only bounds a hang; no verdict depends on it.
constexpr int kHangGuardMs = 600000;

class PathOverride {
 public:
  explicit PathOverride(const std::string& path) {
    if (const char* p = std::getenv("PATH")) old_ = p;
    ::setenv("PATH", path.c_str(), 1);
  }
  ~PathOverride() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

void Script(const std::string& path, bool executable) {
  std::ofstream(path) << "#!/bin/sh\nexit 0\n";
  fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
}

TEST(FindExecutableOnPath, SkipsWhatCannotRunAndTakesTheFirstThatCan) {
  TempDir first, second, third;
  Script(first / "tool", false);            // not executable
  fs::create_directory(first / "folder");  // a folder is never a program
  Script(second / "tool", true);
  Script(second / "folder", true);
  Script(third / "tool", true);
  PathOverride path("::" + first.path() + ":" + second.path() + ":" + third.path());

  EXPECT_EQ(FindExecutableOnPath("tool"), second / "tool");
  EXPECT_EQ(FindExecutableOnPath("folder"), second / "folder");
  EXPECT_EQ(FindExecutableOnPath("no-such-tool-dunmere"), "");
}

TEST(ChildProcess, AllItPrintedAndItsExitCodeAreThereAfterItEnds) {
  ChildProcess p;
  ASSERT_TRUE(p.Start("/bin/sh", {"-c", "printf 'out '; printf err >&2; exit 3"}));
  EXPECT_GT(p.Id(), 0);
  ASSERT_TRUE(p.WaitForEnd(kHangGuardMs));
  EXPECT_FALSE(p.Running());
  std::string out;
  p.ReadOutput(out);
  EXPECT_EQ(out, "out err");
  EXPECT_EQ(p.ExitCode(), 3);
}

TEST(ChildProcess, OneEndedByASignalHasNoExitCodeAndAMissingOneNeverStarts) {
  ChildProcess killed;
  ASSERT_TRUE(killed.Start("/bin/sh", {"-c", "kill -9 $$"}));
  ASSERT_TRUE(killed.WaitForEnd(kHangGuardMs));
  EXPECT_EQ(killed.ExitCode(), -1);

  TempDir d;
  ChildProcess missing;
  EXPECT_FALSE(missing.Start(d / "no-such-program", {}));
  EXPECT_EQ(missing.Id(), 0);
}

}  // namespace
}  // namespace dunmere
