// The committed exFAT images hold what their manifests claim, seen by an
// independent reader: The Sleuth Kit's tsk_recover -e gets every live and
// deleted file back byte-exact at its folder path, none of the overwritten
// ones, and every file of the formatted-over volume by name. Its counts, printed per image, are the peer baseline the
// exFAT engines are measured against; on the formatted image that includes
// the old files it finds by name among its orphans.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "tests/exfat/exfat_images.h"
#include "tests/support/test_support.h"

namespace dunmere::test {
namespace {

// tsk_recover writes no file for an empty one.
constexpr char kEmptySha[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Name without its folders.
std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Relative path -> sha256 of every file below `root`, in one sha256sum run.
std::map<std::string, std::string> HashTree(const std::string& root) {
  std::string out;
  RunCommand("cd " + ShellQuote(root) + " && find . -type f -print0 | xargs -0 -r sha256sum", &out);
  std::map<std::string, std::string> tree;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (line.size() > 68 && line.compare(64, 4, "  ./") == 0) tree[line.substr(68)] = line.substr(0, 64);
  return tree;
}

TEST(ExfatFixtures, TskRecoverGetsEveryDeletedFileAtItsPathAndNoOverwrittenOne) {
  DUNMERE_REQUIRE_TOOL("tsk_recover");
  DUNMERE_REQUIRE_EXFAT_IMAGES();
  for (const ExfatImage& image : CommittedExfatImages()) {
    SCOPED_TRACE(image.name);
    TempDir out;
    std::string offset = image.volumeOffset ? " -o " + std::to_string(image.volumeOffset / 512) : "";
    std::string log;
    ASSERT_EQ(RunCommand("tsk_recover -e" + offset + " " + ShellQuote(image.path) + " " + ShellQuote(out.path()), &log), 0)
        << log;
    const std::map<std::string, std::string> got = HashTree(out.path());
    std::map<std::string, int> total, exact;
    int empty = 0, formattedByName = 0;
    for (const ManifestEntry& m : image.manifest) {
      const std::string path = m.folder + m.name;
      auto it = got.find(path);
      const bool atPath = it != got.end() && it->second == m.sha256;
      if (m.sha256 == kEmptySha) {
        ++empty;
        continue;
      }
      ++total[m.state];
      exact[m.state] += atPath;
      if (m.state == "live" || m.state == "deleted") {
        EXPECT_TRUE(atPath) << m.state << " file not back byte-exact at " << path;
      } else if (m.state == "overwritten") {
        EXPECT_FALSE(atPath) << "overwritten file came back intact, so it was not overwritten: " << path;
      } else if (m.state == "formatted") {
        EXPECT_FALSE(atPath) << "the old volume's tree is still reachable after the format: " << path;
        for (const auto& entry : got) formattedByName += entry.second == m.sha256 && BaseName(entry.first) == m.name;
      } else {
        ADD_FAILURE() << "unknown state " << m.state << " for " << path;
      }
    }
    EXPECT_GT(total["deleted"] + total["formatted"], 0) << "an image without deleted or formatted files";
    // Their data and entry sets outlived the format: the peer finds each one
    // by name among the orphan entry sets it reads from the old folders.
    EXPECT_EQ(formattedByName, total["formatted"]) << "formatted files not found intact by name";
    std::printf("%-17s tsk_recover -e: deleted %d/%d, live %d/%d, overwritten %d/%d byte-exact at their paths; "
                "formatted %d/%d by name anywhere (%d empty files it does not write)\n",
                image.name.c_str(), exact["deleted"], total["deleted"], exact["live"], total["live"],
                exact["overwritten"], total["overwritten"], formattedByName, total["formatted"], empty);
  }
}

}  // namespace
}  // namespace dunmere::test
