// The built dunmere-cli on FAT32 and NTFS images made by mkfs.fat/mtools and
// mkntfs/ntfs-3g, with deleted photos, documents and a deleted folder. The
// recovery tests need the quick engine of each file system and skip without it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "app/core/results/file_categories.h"
#include "storage/disk_table.h"
#include "scan/engine_factory.h"
#include "tests/cli/cli_run.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::RunCommand;
using test::Sha256OfFile;
using test::TempDir;

std::string Binary() { return test::CliBinary(); }
std::string Q(const std::string& s) { return test::ShellQuote(s); }
using Result = test::CliResult;
Result Cli(const std::string& args) { return test::RunCli(args); }

struct ManifestEntry {
  std::string sha, path;
  uint64_t size;
  std::string Base() const { return path.substr(path.rfind('/') + 1); }
};

std::vector<ManifestEntry> ReadManifest(const std::string& path) {
  std::vector<ManifestEntry> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    // "<sha>  <size>  <path with spaces>"
    size_t a = line.find("  "), b = line.find("  ", a + 2);
    if (a == std::string::npos || b == std::string::npos) continue;
    out.push_back({line.substr(0, a), line.substr(b + 2), std::stoull(line.substr(a + 2, b - a - 2))});
  }
  return out;
}

// sha256 -> paths (relative to root) of every file below root.
std::multimap<std::string, std::string> HashTree(const std::string& root) {
  std::multimap<std::string, std::string> out;
  std::error_code ec;
  for (const auto& de : fs::recursive_directory_iterator(root, ec))
    if (de.is_regular_file()) out.emplace(Sha256OfFile(de.path()), fs::relative(de.path(), root).string());
  return out;
}

class CliImages : public ::testing::Test {
 protected:
  // ctest runs every test in a process of its own: the images are made once
  // per build (and per version of the script) and shared, under a lock.
  static void SetUpTestSuite() {
    test::UsePrivateDataFolder();  // the program inherits the private data folder
    std::string script = test::SourcePath("tests/fixtures/make_cli_images.sh");
    dir_ = std::string(DUNMERE_BINARY_DIR) + "/test-fixtures/cli-images-" + Sha256OfFile(script).substr(0, 16);
    std::string cmd = "mkdir -p " + Q(dir_) + " && exec 9>" + Q(dir_ + ".lock") + " && flock 9 && " +
                      "{ [ -f " + Q(dir_ + "/done") + " ] || { bash " + Q(script) + " " + Q(dir_) +
                      " both && touch " + Q(dir_ + "/done") + "; }; }";
    status_ = RunCommand("bash -c " + Q(cmd), &log_);
    if (status_ != 0 && log_.find("missing tool") != std::string::npos) status_ = 77;
  }
  void RequireImages() {
    if (status_ == 77) GTEST_SKIP() << "image tools missing: " << log_;
    ASSERT_EQ(status_, 0) << log_;
  }
  // The images, and a quick engine for the image's file system.
  void RequireEngine(const std::string& image, const std::string& fs) {
    RequireImages();
    if (IsSkipped()) return;
    ASSERT_TRUE(CreateEngineForImage(image, 1, false)) << "no quick engine for " << fs;
  }
  static std::string Img(const std::string& name) { return dir_ + "/" + name; }

  // Recovers every deleted file byte-exact into the category folders.
  void CheckFullRecovery(const std::string& image, const std::string& manifest) {
    TempDir out;
    Result r = Cli("recover " + Q(image) + " --to " + Q(out / "rec") + " --force");
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("failed 0"), std::string::npos) << r.out;
    auto tree = HashTree(out / "rec");
    std::map<std::string, int> dupNames;
    for (const ManifestEntry& m : ReadManifest(manifest)) {
      auto range = tree.equal_range(m.sha);
      ASSERT_NE(range.first, range.second) << m.path << " was not recovered byte-exact\n" << r.out;
      std::string cat = CategoryOfName(m.Base());
      bool inCategory = false;
      for (auto it = range.first; it != range.second; ++it)
        if (it->second.rfind(cat + "/", 0) == 0) inCategory = true;
      EXPECT_TRUE(inCategory) << m.path << " not in " << cat;
      ++dupNames[m.Base()];
    }
    // The two deleted files named alike both survive, one with "(1)".
    EXPECT_EQ(dupNames["Dup Note.txt"], 2);
    EXPECT_TRUE(fs::exists(out / "rec/document/Dup Note.txt"));
    EXPECT_TRUE(fs::exists(out / "rec/document/Dup Note(1).txt"));
    EXPECT_TRUE(fs::exists(out / "rec/photo/Beach Day.jpg"));
    EXPECT_TRUE(fs::exists(out / "rec/photo/holiday.JPEG"));
    EXPECT_TRUE(fs::exists(out / "rec/archive/Photo Archive.zip"));
    EXPECT_TRUE(fs::exists(out / "rec/others/Random Blob.dat"));

    // Again into the same folder: nothing is overwritten, names count up.
    Result again = Cli("recover " + Q(image) + " --to " + Q(out / "rec") + " --force --types jpg");
    ASSERT_EQ(again.code, 0) << again.out;
    EXPECT_EQ(Sha256OfFile(out / "rec/photo/Beach Day(1).jpg"), Sha256OfFile(out / "rec/photo/Beach Day.jpg"));
    EXPECT_FALSE(fs::exists(out / "rec/document/Dup Note(2).txt"));  // filtered out
  }

  void CheckTreeAndFolder(const std::string& image, const std::string& manifest) {
    TempDir out;
    Result r = Cli("recover " + Q(image) + " --to " + Q(out / "tree") + " --layout tree --force");
    ASSERT_EQ(r.code, 0) << r.out;
    for (const ManifestEntry& m : ReadManifest(manifest))
      EXPECT_EQ(Sha256OfFile(out / ("tree/" + m.path)), m.sha) << m.path << "\n" << r.out;
    r = Cli("recover " + Q(image) + " --to " + Q(out / "one") + " --item 'Summer Trip' --force");
    ASSERT_EQ(r.code, 0) << r.out;
    for (const ManifestEntry& m : ReadManifest(manifest)) {
      if (m.path.rfind("Summer Trip/", 0) == 0) {
        EXPECT_EQ(Sha256OfFile(out / ("one/others/" + m.path)), m.sha) << m.path << "\n" << r.out;
      }
    }
  }

  void CheckJson(const std::string& image) {
    TempDir out;
    std::string path = out / "scan.jsonl";
    // Only standard output goes to the file; progress stays on standard error.
    int code = RunCommand("(" + Q(Binary()) + " scan --json " + Q(image) + " > " + Q(path) + " 2>/dev/null)");
    ASSERT_EQ(code, 0);
    std::string check;
    ASSERT_EQ(RunCommand("python3 -m json.tool --json-lines " + Q(path) + " >/dev/null", &check), 0) << check;
    std::string text;
    std::ifstream in(path);
    std::getline(in, text, '\0');
    EXPECT_NE(text.find("\"name\":\"Beach Day.jpg\",\"folder\":\"Summer Trip/\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"name\":\"Summer Trip\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"isFolder\":true"), std::string::npos);
  }

  static std::string dir_;
  static int status_;
  static std::string log_;
};
std::string CliImages::dir_;
int CliImages::status_ = -1;
std::string CliImages::log_;

TEST_F(CliImages, Fat32RecoversEveryDeletedFile) {
  RequireEngine(Img("fat32.img"), "FAT");
  if (IsSkipped()) return;
  CheckFullRecovery(Img("fat32.img"), Img("fat32.deleted"));
}

TEST_F(CliImages, NtfsRecoversEveryDeletedFile) {
  RequireEngine(Img("ntfs.img"), "NTFS");
  if (IsSkipped()) return;
  CheckFullRecovery(Img("ntfs.img"), Img("ntfs.deleted"));
}

TEST_F(CliImages, Fat32TreeLayoutAndOneFolder) {
  RequireEngine(Img("fat32.img"), "FAT");
  if (IsSkipped()) return;
  CheckTreeAndFolder(Img("fat32.img"), Img("fat32.deleted"));
}

TEST_F(CliImages, NtfsTreeLayoutAndOneFolder) {
  RequireEngine(Img("ntfs.img"), "NTFS");
  if (IsSkipped()) return;
  CheckTreeAndFolder(Img("ntfs.img"), Img("ntfs.deleted"));
}

TEST_F(CliImages, Fat32ScanJsonParses) {
  RequireEngine(Img("fat32.img"), "FAT");
  if (IsSkipped()) return;
  CheckJson(Img("fat32.img"));
}

TEST_F(CliImages, NtfsScanJsonParses) {
  RequireEngine(Img("ntfs.img"), "NTFS");
  if (IsSkipped()) return;
  CheckJson(Img("ntfs.img"));
}

TEST_F(CliImages, DestinationBesideTheImageIsAllowed) {
  RequireImages();
  // An image file is a copy: a destination on the file system that holds it
  // cannot overwrite what it holds (devices are checked in the app tests).
  Result r = Cli("recover " + Q(Img("fat32.img")) + " --to " + Q(Img("beside")));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(fs::is_directory(Img("beside")));
  r = Cli("image " + Q(Img("fat32.img")) + " " + Q(Img("copy.img")));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(fs::file_size(Img("copy.img")), fs::file_size(Img("fat32.img")));
  fs::remove_all(Img("beside"));
  fs::remove(Img("copy.img"));
}

TEST_F(CliImages, ErrorsAreOneLineWithNonZeroStatus) {
  RequireImages();
  TempDir dir;
  Result r = Cli("scan " + Q(dir / "nothing.img"));
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "dunmere-cli: source not found: " + dir / "nothing.img" + "\n");
  test::WriteBytes(dir / "zeros.img", std::vector<uint8_t>(1 << 20, 0));
  r = Cli("scan " + Q(dir / "zeros.img"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("no file system to quick-scan"), std::string::npos) << r.out;
  r = Cli("recover " + Q(dir / "nothing.img") + " --to " + Q(dir / "out"));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("source not found"), std::string::npos) << r.out;
  r = Cli("scan disk:4096");
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("no disk 4096"), std::string::npos) << r.out;
  if (!CreateEngineForKind(FsKind::kNtfs, false)) {
    r = Cli("scan " + Q(Img("ntfs.img")));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "dunmere-cli: no quick engine for NTFS in this build\n");
  }
  EXPECT_EQ(Cli("").code, 2);
  EXPECT_EQ(Cli("scan --help").code, 0);
}

TEST_F(CliImages, DeepScanRecoversTheDeletedFilesAndResumesOnRequest) {
  RequireEngine(Img("fat32.img"), "FAT");
  if (IsSkipped()) return;
  TempDir out;
  Result r = Cli("recover --deep --fresh " + Q(Img("fat32.img")) + " --to " + Q(out / "deep") + " --force");
  ASSERT_EQ(r.code, 0) << r.out;
  auto tree = HashTree(out / "deep");
  for (const ManifestEntry& m : ReadManifest(Img("fat32.deleted")))
    EXPECT_NE(tree.find(m.sha), tree.end()) << m.path << " was not recovered byte-exact\n" << r.out;
  // The finished scan is remembered: the next deep scan takes it up unless told otherwise.
  r = Cli("scan --deep " + Q(Img("fat32.img")));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("resuming the earlier deep scan"), std::string::npos) << r.out;
  // Resuming a finished scan reloads what it found.
  EXPECT_NE(r.out.find("Beach Day.jpg"), std::string::npos) << r.out;
  r = Cli("scan --deep --fresh " + Q(Img("fat32.img")));
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.find("resuming"), std::string::npos) << r.out;
  // Every engine numbers its records from 1: carved files must not take the
  // folder places of the file system's files.
  r = Cli("recover --deep --fresh " + Q(Img("fat32.img")) + " --to " + Q(out / "tree") + " --layout tree --force");
  ASSERT_EQ(r.code, 0) << r.out;
  for (const ManifestEntry& m : ReadManifest(Img("fat32.deleted")))
    EXPECT_EQ(Sha256OfFile(out / ("tree/" + m.path)), m.sha) << m.path << "\n" << r.out;
}

TEST(CliDevices, RawDeviceWithoutRightsIsOneClearLine) {
  DUNMERE_REQUIRE_TOOL("setpriv");
  std::string disk = DiskTable::DevicePath(0);
  struct stat st;
  if (getuid() != 0 || disk.empty() || ::stat(disk.c_str(), &st) != 0 || (st.st_mode & S_IROTH))
    GTEST_SKIP() << "needs root and a disk that others cannot read";
  Result r;
  r.code = RunCommand("setpriv --reuid=65534 --regid=65534 --clear-groups " + Q(Binary()) + " scan " + Q(disk) +
                          " </dev/null",
                      &r.out);
  if (r.code == 126 || r.code == 127) GTEST_SKIP() << "the program cannot be run as nobody here: " << r.out;
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "dunmere-cli: permission denied: reading the device " + disk + " needs root (try sudo)\n");
}

TEST_F(CliImages, ImageIsAByteExactCopyReplacingAnOldFile) {
  RequireImages();
  TempDir dir;
  std::string out = dir / "fat.img";
  test::WriteBytes(out, std::vector<uint8_t>(48 << 20, 0xAB));  // longer than the source
  Result r = Cli("image --force --continue-on-errors " + Q(Img("fat32.img")) + " " + Q(out));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(fs::file_size(out), fs::file_size(Img("fat32.img")));
  EXPECT_EQ(Sha256OfFile(out), Sha256OfFile(Img("fat32.img")));
  EXPECT_NE(r.out.find("no unreadable sectors"), std::string::npos) << r.out;
  std::string map;
  std::ifstream in(out + ".map");
  std::getline(in, map, '\0');
  char whole[64];
  snprintf(whole, sizeof whole, "0x00000000  0x%08llX  +", (unsigned long long)fs::file_size(out));
  EXPECT_NE(map.find(whole), std::string::npos) << map;
  r = Cli("image --force " + Q(Img("fat32.img")) + " " + Q(Img("fat32.img")));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("is the source itself"), std::string::npos) << r.out;
}

// The committed samples: what MANIFEST.txt promises comes back byte-exact.
class CliSamples : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(CliSamples, RecoverEveryDeletedFileOfTheManifest) {
  DUNMERE_REQUIRE_TOOL("xz");
  test::UsePrivateDataFolder();
  const std::string name = GetParam().first, fsName = GetParam().second;
  TempDir dir;
  std::string image = dir / (name + ".img"), out;
  ASSERT_EQ(RunCommand("xz -dc " + Q(test::SourcePath("samples/" + name + ".img.xz")) + " > " + Q(image), &out), 0)
      << out;
  ASSERT_TRUE(CreateEngineForImage(image, 1, false)) << "no quick engine for " << fsName;
  // The manifest's section for this image: "  <sha>  <size>  <path>" lines
  // under "deleted files".
  std::ifstream in(test::SourcePath("samples/MANIFEST.txt"));
  std::string line;
  bool inSection = false, inDeleted = false;
  std::vector<std::string> shas;
  while (std::getline(in, line)) {
    if (line.rfind("== ", 0) == 0) inSection = line == "== " + name + ".img.xz";
    if (!inSection) continue;
    if (line.rfind("deleted files", 0) == 0) {
      inDeleted = true;
      continue;
    }
    if (line.rfind("files left", 0) == 0) inDeleted = false;
    if (inDeleted && line.size() > 66 && line.rfind("  ", 0) == 0) shas.push_back(line.substr(2, 64));
  }
  ASSERT_GE(shas.size(), 10u);
  Result r = Cli("recover " + Q(image) + " --to " + Q(dir / "rec") + " --force");
  ASSERT_EQ(r.code, 0) << r.out;
  auto tree = HashTree(dir / "rec");
  for (const std::string& sha : shas) EXPECT_TRUE(tree.count(sha)) << sha << " missing\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(Samples, CliSamples,
                         ::testing::Values(std::make_pair(std::string("fat32-deleted"), std::string("FAT")),
                                           std::make_pair(std::string("ntfs-deleted"), std::string("NTFS"))));

// Ctrl-C on a scan far too long to end first: the program stops with status
// 130 and lists what it found, once its deep pass is reading. How fast it
// stops is measured by bench/stop_latency, not here.
TEST(CliStop, CtrlCEndsADeepScanWithStatus130) {
  if (!test::HaveTool("mkntfs")) GTEST_SKIP() << "needs mkntfs";
  test::UsePrivateDataFolder();
  TempDir dir;
  const std::string image = dir / "big.img";
  // 32 GiB, sparse: the deep pass would read it for many seconds.
  ASSERT_EQ(RunCommand("truncate -s 32G " + Q(image) + " && mkntfs -F -q -Q -s 512 -c 4096 " + Q(image) +
                       " >/dev/null 2>&1"),
            0);
  // The first progress line says the pass is reading.
  const test::CliResult r = test::InterruptCliWhen("scan --deep --fresh " + Q(image), dir / "err",
                                                   "grep -q '^scanning:' \"$err\"");
  EXPECT_EQ(r.code, 130) << r.out;
  EXPECT_EQ(r.out.find("never ready"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("scan stopped"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace dunmere
