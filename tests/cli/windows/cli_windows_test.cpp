// dunmere-cli.exe as a person runs it on Windows, over the NTFS and FAT32
// images make_cli_images.sh made on Linux: the quick scans and the deep scan
// copy every deleted file out byte for byte, carving finds a picture on a
// medium without a file system, and a destination typed with backslashes
// is the folder a person means.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/native_path.h"
#include "tests/cli/cli_run.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::Sha256OfFile;
using test::TempDir;

std::string Q(const std::string& s) { return test::ShellQuote(s); }

struct Deleted {
  std::string sha, path;
};

// "<sha>  <size>  <path>" lines of the script's manifests.
std::vector<Deleted> ReadDeleted(const std::string& path) {
  std::vector<Deleted> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t a = line.find("  "), b = line.find("  ", a + 2);
    if (a != std::string::npos && b != std::string::npos) out.push_back({line.substr(0, a), line.substr(b + 2)});
  }
  return out;
}

// sha256 -> paths below root of every file there.
std::multimap<std::string, std::string> HashTree(const std::string& root) {
  std::multimap<std::string, std::string> out;
  std::error_code ec;
  for (const auto& de : fs::recursive_directory_iterator(NativePath(root), ec))
    if (de.is_regular_file()) out.emplace(Sha256OfFile(PathText(de.path())), PathText(de.path()));
  return out;
}

// The images as the Linux side left them: the folder the Linux tests use,
// named by the script's hash, complete once "done" is there.
std::string ImageFolder(std::string& why) {
  const char* base = std::getenv("DUNMERE_FIXTURE_DIR");
  if (!base || !*base) {
    why = "the images are made on Linux: set DUNMERE_FIXTURE_DIR";
    return {};
  }
  const std::string dir = std::string(base) + "/cli-images-" +
                          Sha256OfFile(test::SourcePath("tests/fixtures/make_cli_images.sh")).substr(0, 16);
  if (!fs::exists(dir + "/done")) {
    why = "no images in " + dir + " (make_cli_images.sh has not run on Linux)";
    return {};
  }
  return dir;
}

class CliOnWindows : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() { test::UsePrivateDataFolder(); }
  void SetUp() override {
    dir_ = ImageFolder(why_);
    if (dir_.empty()) {
      if (std::getenv("DUNMERE_FIXTURES_REQUIRED")) FAIL() << why_;
      GTEST_SKIP() << why_;
    }
  }
  std::string Image() const { return dir_ + "/" + GetParam() + ".img"; }
  std::vector<Deleted> Manifest() const { return ReadDeleted(dir_ + "/" + GetParam() + ".deleted"); }
  std::string dir_, why_;
};

TEST_P(CliOnWindows, QuickScanRecoversEveryDeletedFileByteForByte) {
  TempDir out;
  // Typed as a Windows user types it.
  std::string typed = out.path() + "\\tree";
  for (char& c : typed)
    if (c == '/') c = '\\';
  test::CliResult r = test::RunCli("recover " + Q(Image()) + " --to " + Q(typed) + " --layout tree --force");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("failed 0"), std::string::npos) << r.out;
  const std::vector<Deleted> deleted = Manifest();
  ASSERT_FALSE(deleted.empty());
  for (const Deleted& d : deleted) EXPECT_EQ(Sha256OfFile(out / ("tree/" + d.path)), d.sha) << d.path << "\n" << r.out;
}

TEST_P(CliOnWindows, DeepScanRecoversEveryDeletedFileToo) {
  TempDir out;
  test::CliResult r = test::RunCli("recover " + Q(Image()) + " --deep --fresh --to " + Q(out / "deep") + " --force");
  ASSERT_EQ(r.code, 0) << r.out;
  const auto tree = HashTree(out / "deep");
  ASSERT_FALSE(Manifest().empty());
  for (const Deleted& d : Manifest()) EXPECT_EQ(tree.count(d.sha) > 0, true) << d.path << " not found\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(Images, CliOnWindows, ::testing::Values("ntfs", "fat32"));

TEST(CliOnWindowsCarving, APictureOnAMediumWithoutFileSystemIsCarvedWhole) {
  std::string why;
  const std::string dir = ImageFolder(why);
  if (dir.empty()) {
    if (std::getenv("DUNMERE_FIXTURES_REQUIRED")) FAIL() << why;
    GTEST_SKIP() << why;
  }
  test::UsePrivateDataFolder();
  TempDir out;
  // The picture as the quick scan gives it back, then alone on a blank medium.
  test::CliResult r =
      test::RunCli("recover " + Q(dir + "/fat32.img") + " --to " + Q(out / "quick") + " --types jpg --force");
  ASSERT_EQ(r.code, 0) << r.out;
  const std::vector<uint8_t> picture = test::ReadBytes(out / "quick/photo/Beach Day.jpg");
  ASSERT_GT(picture.size(), 1000u) << r.out;
  std::vector<uint8_t> medium(4u << 20, 0);
  std::copy(picture.begin(), picture.end(), medium.begin() + (256u << 10));
  test::WriteBytes(out / "blank.img", medium);
  r = test::RunCli("recover " + Q(out / "blank.img") + " --deep --fresh --to " + Q(out / "carved") + " --force");
  ASSERT_EQ(r.code, 0) << r.out;
  const auto tree = HashTree(out / "carved");
  EXPECT_EQ(tree.count(Sha256OfFile(out / "quick/photo/Beach Day.jpg")), 1u) << r.out;
}

TEST(CliOnWindowsSources, AnImageOfAWholeDiskListsItsPartitions) {
  std::string why;
  const test::CachedFixture disk = test::MakeCachedFixture("make_logical_partitions_image.sh", "logical-disk");
  if (disk.dir.empty()) {
    if (std::getenv("DUNMERE_FIXTURES_REQUIRED")) FAIL() << disk.message;
    GTEST_SKIP() << disk.message;
  }
  // Read from its MBR and the chain of logical tables by the program's own
  // reader, where Linux asks libblkid.
  test::CliResult r = test::RunCli("sources " + Q(disk.dir + "/logical-disk.img"));
  ASSERT_EQ(r.code, 0) << r.out;
  for (const char* part : {"partition 1", "partition 5", "partition 6"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  EXPECT_EQ(r.out.find("partition 2 "), std::string::npos) << "the extended container is listed\n" << r.out;
}

}  // namespace
}  // namespace dunmere
