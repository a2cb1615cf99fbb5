// The built dunmere-cli on a volume made ext2 over an NTFS whose boot sector
// and table are still there: `sources` names both file systems, for the bare
// volume and for the partition of a disk holding it; `scan` reads the
// current ext volume, `scan --deep` lists every file of the old NTFS at its
// folder path, in use there or not.
#include <gtest/gtest.h>

#include "tests/cli/cli_run.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::ShellQuote;

TEST(CliExtOverNtfs, SourcesNamesBothAndTheDeepScanListsTheOldFiles) {
  const test::CachedFixture fx = test::MakeCachedFixture("make_ext_over_ntfs_images.sh", "ext-over-ntfs-images");
  if (fx.missingTool) GTEST_SKIP() << fx.message;
  ASSERT_FALSE(fx.dir.empty()) << fx.message;
  test::UsePrivateDataFolder();  // the program inherits the private data folder
  const std::string volume = ShellQuote(fx.dir + "/ext-over-ntfs.img");
  const std::string disk = ShellQuote(fx.dir + "/disk.img");

  test::CliResult r = test::RunCli("sources " + volume);
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("whole image  ext over NTFS  "), std::string::npos) << r.out;
  r = test::RunCli("sources " + disk);
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("partition 1  ext2 over NTFS  'newext'"), std::string::npos) << r.out;
  r = test::RunCli("sources --json " + disk);
  EXPECT_NE(r.out.find("\"fileSystem\":\"ext2\",\"olderFileSystem\":\"NTFS\""), std::string::npos) << r.out;

  // The deleted-file scan reads the current volume: ext, which lists nothing.
  r = test::RunCli("scan " + volume);
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("0 files found"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("holds ext over an older NTFS; this scan reads ext, scan --deep also gives back the files of "
                       "the NTFS"),
            std::string::npos)
      << r.out;

  r = test::RunCli("scan --deep --fresh " + disk + ":1");
  ASSERT_EQ(r.code, 0) << r.out;
  size_t rows = 0;
  for (const std::vector<std::string>& m : test::ReadTsvRows(fx.dir + "/manifest.tsv")) {
    ASSERT_EQ(m.size(), 6u);
    const std::string path = m[1].empty() ? m[2] : m[1] + "/" + m[2];
    // Listed lines are "    <folder>/<name>  <size> ...".
    EXPECT_NE(r.out.find("    " + path + "  "), std::string::npos) << path << "\n" << r.out;
    ++rows;
  }
  EXPECT_GE(rows, 17u);
}

}  // namespace
}  // namespace dunmere
