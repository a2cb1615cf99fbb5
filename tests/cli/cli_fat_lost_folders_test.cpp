// The built dunmere-cli on FAT32 volumes from mkfs.fat: the quick scan's look
// for lost folders reads a bounded part of the free space, and on a volume
// with more free space than that it says a deep scan may find more.
#include <gtest/gtest.h>

#include "tests/cli/cli_run.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::RunCommand;
using test::ShellQuote;
using test::TempDir;

constexpr const char* kMore = "looked for lost folders in part of its free space only; scan --deep may find more";

TEST(CliFatLostFolders, AQuickScanOfALargeVolumeSaysADeepScanMayFindMore) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  test::UsePrivateDataFolder();
  TempDir dir;
  std::string out;
  // Sparse: 1 GiB of free space costs no disk, and reads as zeros.
  ASSERT_EQ(RunCommand("cd " + ShellQuote(dir.path()) +
                           " && truncate -s 1G big.img && mkfs.fat -F 32 big.img >/dev/null"
                           " && truncate -s 40M small.img && mkfs.fat -F 32 small.img >/dev/null",
                       &out),
            0)
      << out;
  test::CliResult r = test::RunCli("scan " + ShellQuote(dir / "big.img"));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find(kMore), std::string::npos) << r.out;

  r = test::RunCli("scan " + ShellQuote(dir / "small.img"));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.find(kMore), std::string::npos) << r.out;

  // The deep scan reads every free sector: it has nothing of the kind to say.
  r = test::RunCli("scan --deep --fresh " + ShellQuote(dir / "small.img"));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.find(kMore), std::string::npos) << r.out;
}

}  // namespace
}  // namespace dunmere
