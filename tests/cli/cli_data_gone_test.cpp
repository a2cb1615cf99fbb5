// The command line's per-file lines say why a deleted file could not be
// copied when the reason is known (its data overwritten, or past the end of
// a cut-off image) instead of calling it a read error.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::RunCommand;

std::string Q(const std::string& s) { return test::ShellQuote(s); }

TEST(CliDataGone, PerFileLinesNameOverwrittenAndPastTheEndData) {
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  DUNMERE_REQUIRE_TOOL("mcopy");
  test::UsePrivateDataFolder();
  test::TempDir dir;
  const std::string image = dir / "fat16.img";
  // gone.bin's clusters are taken by sub/new.bin; big.bin, after a kept
  // file, runs past the cut.
  std::string make = "cd " + Q(dir.path()) +
                     " && export MTOOLS_SKIP_CHECK=1 && mkfs.fat -F 16 -s 4 -C fat16.img 16384 >/dev/null && "
                     "head -c 3000 /dev/urandom > a.bin && head -c 1000 /dev/urandom > b.bin && "
                     "head -c 2900000 /dev/urandom > big.bin && head -c 260000 /dev/urandom > first.bin && "
                     "mmd -i fat16.img ::/sub && mcopy -i fat16.img a.bin ::/gone.bin && "
                     "mcopy -i fat16.img first.bin ::/keep.bin && mcopy -i fat16.img big.bin ::/big.bin && "
                     "mdel -i fat16.img ::/gone.bin ::/big.bin && mcopy -i fat16.img b.bin ::/sub/new.bin";
  std::string out;
  ASSERT_EQ(RunCommand(make, &out), 0) << out;
  fs::resize_file(image, 3u << 20);

  const std::string cli = std::string(DUNMERE_BINARY_DIR) + "/cli/dunmere-cli";
  int rc = RunCommand(Q(cli) + " recover " + Q(image) + " --to " + Q(dir / "rec") + " --force </dev/null", &out);
  EXPECT_EQ(rc, 1) << "a failed file makes the exit status 1\n" << out;
  EXPECT_NE(out.find("one.bin: The file's data is no longer on the medium (overwritten)"), std::string::npos) << out;
  EXPECT_NE(out.find("ig.bin: The file's data lies past the end of the volume or image"), std::string::npos) << out;
  EXPECT_EQ(out.find("Read error"), std::string::npos) << out;

  EXPECT_EQ(RunCommand(Q(cli) + " recover --json " + Q(image) + " --to " + Q(dir / "json") + " --force </dev/null",
                       &out),
            1);
  EXPECT_NE(out.find("\"status\":\"The file's data is no longer on the medium (overwritten)\""), std::string::npos)
      << out;
}

}  // namespace
}  // namespace dunmere
