// The built dunmere-cli on the committed exFAT images: `sources` names the
// card's exFAT partition with its label, `scan` lists every deleted file at
// its folder path and no live one, `recover --layout tree` writes them
// byte-exact, the card's partition spelled IMAGE:1.
#include <gtest/gtest.h>

#include "tests/cli/cli_run.h"
#include "tests/exfat/exfat_images.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using test::ShellQuote;

TEST(CliExfat, SourcesScanAndRecoverOfTheCommittedImages) {
  DUNMERE_REQUIRE_EXFAT_IMAGES();
  test::UsePrivateDataFolder();  // the program inherits the private data folder
  const test::ExfatImage& card = *test::CommittedExfatImage("exfat-card");
  test::CliResult r = test::RunCli("sources " + ShellQuote(card.path));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("partition 1  exFAT  'DUNMERECARD'"), std::string::npos) << r.out;

  for (const char* name : {"exfat-basic", "exfat-4k", "exfat-card"}) {
    SCOPED_TRACE(name);
    const test::ExfatImage& image = *test::CommittedExfatImage(name);
    const std::string source = ShellQuote(image.path + (image.volumeOffset ? ":1" : ""));
    r = test::RunCli("scan " + source);
    ASSERT_EQ(r.code, 0) << r.out;
    test::TempDir out;
    test::CliResult rec = test::RunCli("recover " + source + " --to " + ShellQuote(out / "tree") + " --layout tree");
    for (const test::ManifestEntry& m : image.manifest) {
      const std::string path = m.folder + m.name;
      // Listed lines are "    <folder><name>  <size> ...".
      const bool listed = r.out.find("    " + path + "  ") != std::string::npos;
      if (m.state == "live") {
        EXPECT_FALSE(listed) << "live file listed: " << path;
      } else if (m.state == "deleted") {
        EXPECT_TRUE(listed) << "not listed: " << path << "\n" << r.out;
        EXPECT_EQ(test::Sha256OfFile(out / ("tree/" + path)), m.sha256) << path << "\n" << rec.out;
      }
    }
  }
}

}  // namespace
}  // namespace dunmere
