// The built dunmere-cli on an NTFS volume whose deleted files had named data
// streams: `scan` lists each stream as "file:stream" under the category of
// what it holds, `recover` writes it byte-exact as "file [stream]" beside
// its file, in both layouts.
#include <gtest/gtest.h>

#include "base/text.h"
#include "tests/cli/cli_run.h"
#include "tests/ntfs/ntfs_streams_fixture.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::ShellQuote;

// The category heading ("photo (2 files)") a listed line stands under.
std::string CategoryAbove(const std::string& listing, size_t at) {
  size_t line = listing.rfind('\n', at);
  while (line != std::string::npos && line > 0) {
    size_t start = listing.rfind('\n', line - 1);
    start = start == std::string::npos ? 0 : start + 1;
    if (listing[start] != ' ') return listing.substr(start, listing.find(' ', start) - start);
    line = start - 1;
  }
  return {};
}

TEST(CliNtfsStreams, ScanListsStreamsByTheirContentAndRecoverWritesThemBesideTheirFiles) {
  const test::StreamImages& im = test::NtfsStreamImages();
  if (im.missingTool) GTEST_SKIP() << im.why;
  ASSERT_FALSE(im.rows.empty()) << im.why;
  test::UsePrivateDataFolder();  // the program inherits the private data folder
  const std::string image = ShellQuote(im.Image());
  test::CliResult scan = test::RunCli("scan " + image);
  ASSERT_EQ(scan.code, 0) << scan.out;
  test::TempDir out;
  test::CliResult tree = test::RunCli("recover " + image + " --to " + ShellQuote(out / "tree") + " --layout tree");
  ASSERT_EQ(tree.code, 0) << tree.out;
  test::CliResult byType = test::RunCli("recover " + image + " --to " + ShellQuote(out / "type"));
  ASSERT_EQ(byType.code, 0) << byType.out;
  for (const test::StreamRow& row : im.rows) {
    SCOPED_TRACE(row.Path());
    // Listed lines are "    <folder>/<name>  <size> ...".
    const size_t at = scan.out.find("    " + row.Path() + "  ");
    ASSERT_NE(at, std::string::npos) << scan.out;
    const std::string file = StreamDestinationForm(row.Listed());
    EXPECT_EQ(file.find(':'), std::string::npos);
    EXPECT_EQ(test::Sha256OfFile(out / ("tree/" + (row.folder.empty() ? "" : row.folder + "/") + file)), row.sha256);
    if (row.stream.empty()) continue;
    const std::string category = row.format == "jpg" ? "photo" : row.format == "-" ? "others" : "?";
    EXPECT_EQ(CategoryAbove(scan.out, at), category);
    EXPECT_EQ(test::Sha256OfFile(out / ("type/" + category + "/" + file)), row.sha256);
  }
  EXPECT_NE(test::Sha256OfFile(out / "tree/notes.txt [photo].jpg"), "");
  for (const std::vector<std::string>& u : im.unlisted)
    EXPECT_EQ(scan.out.find(u.at(1) + ":" + u.at(2)), std::string::npos) << scan.out;
}

}  // namespace
}  // namespace dunmere
