// dunmere-cli writing into destinations that fight back: a folder that fills
// up (a small tmpfs, and a FAT volume through fusefat) and symbolic links
// planted where copy-out will put a category folder, a recovered folder or a
// file. The source is the FAT32 image of failing_medium.sh (mkfs.fat+mtools),
// read directly: seven deleted files, two of them in the folder "Lost".
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/cli/cli_run.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace dunmere {
namespace {

using test::RunCommand;
using test::Sha256OfFile;
using test::TempDir;

std::string Q(const std::string& s) { return test::ShellQuote(s); }
using Result = test::CliResult;
Result Cli(const std::string& args) { return test::RunCli(args); }

struct Deleted {
  std::string sha, path;
  uint64_t size;
  std::string Base() const { return path.substr(path.rfind('/') + 1); }
};

class Destination : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::UsePrivateDataFolder();
    dir_ = new TempDir;
    status_ = RunCommand("bash " + Q(test::SourcePath("tests/fixtures/failing_medium.sh")) + " make " +
                             Q(dir_->path()) + " fat",
                         &log_);
    std::ifstream in(dir_->path() + "/fat.files");
    std::string line;
    while (std::getline(in, line)) {
      size_t a = line.find("  "), b = line.find("  ", a + 2), c = line.rfind("  ");
      if (c <= b) continue;
      files_.push_back({line.substr(0, a), line.substr(b + 2, c - b - 2), std::stoull(line.substr(a + 2, b - a - 2))});
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (status_ != 0 && log_.find("missing tool") != std::string::npos) GTEST_SKIP() << log_;
    ASSERT_EQ(status_, 0) << log_;
    ASSERT_EQ(files_.size(), 7u);
  }
  void TearDown() override {
    for (const std::string& m : mounts_)
      if (::umount2(m.c_str(), MNT_DETACH) != 0) (void)RunCommand("fusermount -u " + Q(m));
  }
  static std::string Image() { return dir_->path() + "/fat.img"; }
  static std::map<std::string, std::string> HashTree(const std::string& root) {
    std::map<std::string, std::string> out;  // relative path -> sha
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it)
      if (it->is_regular_file() && !it->is_symlink())
        out[fs::relative(it->path(), root).string()] = Sha256OfFile(it->path().string());
    return out;
  }
  // Recovers into a folder that holds `bytes` at most; checks what a full
  // destination must leave behind.
  void CheckFillsUp(const std::string& mnt) {
    Result r = Cli("recover " + Q(Image()) + " --to " + Q(mnt) + " --force");
    EXPECT_NE(r.code, 0) << r.out;
    std::map<std::string, const Deleted*> bySha;
    for (const Deleted& d : files_) bySha[d.sha] = &d;
    // Every file there is whole and reported a success; nothing else is.
    size_t whole = 0;
    for (const auto& [rel, sha] : HashTree(mnt)) {
      ASSERT_TRUE(bySha.count(sha)) << "half-written or foreign file left: " << rel << "\n" << r.out;
      EXPECT_NE(r.out.find(mnt + "/" + rel + ": Success"), std::string::npos) << rel << "\n" << r.out;
      ++whole;
    }
    EXPECT_GT(whole, 0u) << r.out;
    EXPECT_LT(whole, files_.size()) << "the folder was meant to fill up\n" << r.out;
    // The file being written when it filled up failed with a status that says so.
    size_t failedLines = 0;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line))
      if (line.rfind(mnt + "/", 0) == 0 && line.find(": Success") == std::string::npos) {
        ++failedLines;
        std::string path = line.substr(0, line.find(": "));
        EXPECT_FALSE(fs::exists(path)) << "failed file left behind: " << path;
        EXPECT_NE(line.find("The destination is full"), std::string::npos) << line;
      }
    // The flow stops at a full destination: one file failed, none after it was tried.
    EXPECT_EQ(failedLines, 1u) << r.out;
    EXPECT_NE(r.out.find("destination full: " + mnt + "; recovery stopped"), std::string::npos) << r.out;
  }

  static TempDir* dir_;
  static int status_;
  static std::string log_;
  static std::vector<Deleted> files_;
  std::vector<std::string> mounts_;
};
TempDir* Destination::dir_ = nullptr;
int Destination::status_ = 0;
std::string Destination::log_;
std::vector<Deleted> Destination::files_;

TEST_F(Destination, FullTmpfsFailsTheFileBeingWrittenAndLeavesNoPart) {
  TempDir t;
  std::string mnt = t / "small";
  fs::create_directories(mnt);
  // 64 KiB: a few of the files fit (9000, 30000, 5000 ... bytes), Echo (70000) never does.
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno) << ")";
  mounts_.push_back(mnt);
  CheckFillsUp(mnt);
  Result r = Cli("recover " + Q(Image()) + " --to " + Q(mnt + "/again") + " --force");
  EXPECT_NE(r.out.find("destination full"), std::string::npos) << r.out;
}

TEST_F(Destination, FullFatVolumeFailsTheFileBeingWrittenAndLeavesNoPart) {
  DUNMERE_REQUIRE_TOOL("fusefat");
  DUNMERE_REQUIRE_TOOL("mkfs.fat");
  TempDir t;
  std::string vol = t / "dest.fat", mnt = t / "fat";
  fs::create_directories(mnt);
  ASSERT_EQ(RunCommand("truncate -s 160K " + Q(vol) + " && mkfs.fat " + Q(vol) + " >/dev/null"), 0);
  std::string log;
  if (RunCommand("fusefat -o rw+ " + Q(vol) + " " + Q(mnt), &log) != 0)
    GTEST_SKIP() << "cannot mount a FAT volume with fusefat here: " << log;
  mounts_.push_back(mnt);
  CheckFillsUp(mnt);
}

TEST_F(Destination, LinkWhereACategoryFolderGoesIsNotWrittenThrough) {
  TempDir t, elsewhere;
  std::string dest = t / "rec";
  fs::create_directories(dest);
  fs::create_directory_symlink(elsewhere.path(), dest + "/others");
  Result r = Cli("recover " + Q(Image()) + " --to " + Q(dest) + " --force");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_TRUE(fs::is_empty(elsewhere.path())) << r.out;
  EXPECT_NE(r.out.find("Access denied"), std::string::npos) << r.out;
}

TEST_F(Destination, LinkWhereARecoveredFileGoesIsNotWrittenThrough) {
  TempDir t, elsewhere;
  std::string dest = t / "rec";
  fs::create_directories(dest + "/others");
  // One link to a file that exists, one dangling.
  std::string victim = elsewhere / "precious.txt";
  { std::ofstream(victim) << "keep me\n"; }
  fs::create_symlink(victim, dest + "/others/Alpha.bin");
  fs::create_symlink(elsewhere / "made-through-link", dest + "/others/Delta.bin");
  Result r = Cli("recover " + Q(Image()) + " --to " + Q(dest) + " --force");
  EXPECT_EQ(r.code, 0) << r.out;
  std::ifstream in(victim);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "keep me");
  EXPECT_FALSE(fs::exists(elsewhere / "made-through-link")) << r.out;
  EXPECT_TRUE(fs::is_symlink(dest + "/others/Alpha.bin"));
  // The files themselves went beside the links, under names of their own.
  for (const Deleted& d : files_)
    if (d.Base() == "Alpha.bin" || d.Base() == "Delta.bin") {
      std::string stem = d.Base().substr(0, d.Base().size() - 4);
      EXPECT_EQ(Sha256OfFile(dest + "/others/" + stem + "(1).bin"), d.sha) << r.out;
    }
}

TEST_F(Destination, LinkWhereARecoveredFolderGoesIsNotWrittenThrough) {
  TempDir t, elsewhere;
  std::string dest = t / "rec";
  fs::create_directories(dest);
  // The tree layout puts Lost's files under dest/Lost.
  fs::create_directory_symlink(elsewhere.path(), dest + "/Lost");
  Result r = Cli("recover " + Q(Image()) + " --to " + Q(dest) + " --layout tree --force");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_TRUE(fs::is_empty(elsewhere.path())) << r.out;
  // Everything outside that folder came out whole.
  for (const Deleted& d : files_)
    if (d.path.rfind("Lost/", 0) != 0) {
      EXPECT_EQ(Sha256OfFile(dest + "/" + d.path), d.sha) << d.path << "\n" << r.out;
    }
  // A folder recovered by name next to a link of that name gets a name of its own.
  TempDir t2;
  std::string dest2 = t2 / "rec";
  fs::create_directories(dest2 + "/others");
  fs::create_directory_symlink(elsewhere.path(), dest2 + "/others/Lost");
  r = Cli("recover " + Q(Image()) + " --to " + Q(dest2) + " --item Lost --force");
  EXPECT_TRUE(fs::is_empty(elsewhere.path())) << r.out;
}

}  // namespace
}  // namespace dunmere
