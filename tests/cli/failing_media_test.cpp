// dunmere-cli on a medium that fails: FAT32 and NTFS images served by nbdkit
// (ddrescue filter: chosen pages answer EIO; delay filter: every read stalls)
// and shown as a file by nbdfuse. Skips when nbdkit, nbdfuse or FUSE is
// missing. Unreadable stretches are whole 4 KiB pages, the kernel's unit for
// a FUSE file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
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

std::string Script() { return test::SourcePath("tests/fixtures/failing_medium.sh"); }
std::string Q(const std::string& s) { return test::ShellQuote(s); }
using Result = test::CliResult;
Result Cli(const std::string& args) { return test::RunCli(args); }

struct BadRange {
  uint64_t first, count;
  std::string where;
};
struct DeletedFile {
  std::string sha, path, state;
  uint64_t size;
  std::string Base() const { return path.substr(path.rfind('/') + 1); }
};

std::vector<BadRange> ReadBad(const std::string& path) {
  std::vector<BadRange> out;
  std::ifstream in(path);
  BadRange b;
  while (in >> b.first >> b.count >> b.where) out.push_back(b);
  return out;
}

std::vector<DeletedFile> ReadFiles(const std::string& path) {
  std::vector<DeletedFile> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    // "<sha>  <size>  <path>  <state>"
    size_t a = line.find("  "), b = line.find("  ", a + 2), c = line.rfind("  ");
    if (a == std::string::npos || b == std::string::npos || c <= b) continue;
    out.push_back({line.substr(0, a), line.substr(b + 2, c - b - 2), line.substr(c + 2),
                   std::stoull(line.substr(a + 2, b - a - 2))});
  }
  return out;
}

// "N sectors of ... could not be read": N, or -1 when not said.
long long UnreadableSaid(const std::string& out) {
  std::smatch m;
  static const std::regex re("([0-9]+) sectors? of .* could not be read");
  return std::regex_search(out, m, re) ? std::stoll(m[1]) : -1;
}

uint64_t Total(const std::vector<BadRange>& bad, const std::set<std::string>& where = {}) {
  uint64_t n = 0;
  for (const BadRange& b : bad)
    if (where.empty() || where.count(b.where)) n += b.count;
  return n;
}

class FailingMedium : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::UsePrivateDataFolder();
    dir_ = new TempDir;
    for (const char* fs : {"fat", "ntfs"}) {
      std::string log;
      int rc = RunCommand("bash " + Q(Script()) + " make " + Q(dir_->path()) + " " + fs, &log);
      status_[fs] = rc == 0 ? 0 : (log.find("missing tool") != std::string::npos || log.find("FUSE") != std::string::npos ? 77 : rc);
      log_[fs] = log;
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void TearDown() override {
    if (!mount_.empty()) (void)RunCommand("bash " + Q(Script()) + " stop " + Q(mount_));
    mount_.clear();
  }

  // Serves the image with its bad pages (and a stall per read); the file to read.
  std::string Serve(const std::string& fs, const std::string& delay = "") {
    if (status_[fs] == 77) {
      skip_ = "fixture tools missing: " + log_[fs];
      return "";
    }
    EXPECT_EQ(status_[fs], 0) << log_[fs];
    if (status_[fs]) return "";
    for (const char* tool : {"nbdkit", "nbdfuse", "fusermount3"})
      if (!test::HaveTool(tool)) {
        skip_ = std::string("needs ") + tool + " (apt-get install nbdkit libnbd-bin fuse3)";
        return "";
      }
    mount_ = mnt_.path() + "/m";
    std::string log;
    requests_ = mnt_.path() + "/requests.log";
    int rc = RunCommand("FAILING_MEDIUM_LOG=" + Q(requests_) + " bash " + Q(Script()) + " serve " + Q(dir_->path()) +
                            " " + fs + " " + Q(mount_) + " " + delay,
                        &log);
    if (rc != 0) {
      skip_ = "nbdfuse cannot serve a file here (FUSE not usable?): " + log;
      mount_.clear();
      return "";
    }
    return mount_ + "/medium.img";
  }
  static std::string Fixture(const std::string& name) { return dir_->path() + "/" + name; }

  static TempDir* dir_;
  static std::map<std::string, int> status_;
  static std::map<std::string, std::string> log_;
  // Shell words: the reads the medium was asked for so far.
  std::string ReadsAsked() const { return "$(grep -c ' Read id=' " + Q(requests_) + ")"; }
  int ReadsAskedNow() const {
    std::string out;
    RunCommand("grep -c ' Read id=' " + Q(requests_), &out);
    return std::atoi(out.c_str());
  }

  TempDir mnt_;
  std::string mount_, skip_;
  std::string requests_;  // the medium's request log (see failing_medium.sh)
};
TempDir* FailingMedium::dir_ = nullptr;
std::map<std::string, int> FailingMedium::status_;
std::map<std::string, std::string> FailingMedium::log_;

#define SERVE_OR_SKIP(var, ...)                  \
  std::string var = Serve(__VA_ARGS__);          \
  if (!skip_.empty()) GTEST_SKIP() << skip_;     \
  ASSERT_FALSE(var.empty())

TEST_F(FailingMedium, FatQuickScanGoesOnPastUnreadableFatAndDirectory) {
  SERVE_OR_SKIP(medium, "fat");
  const auto bad = ReadBad(Fixture("fat.bad"));
  Result r = Cli("scan --json " + Q(medium));
  ASSERT_EQ(r.code, 0) << r.out;
  // The quick scan reads the whole FAT (one bad page) and the folders (the
  // lost folder's one sector of its page), not the data.
  long long said = UnreadableSaid(r.out);
  EXPECT_GE(said, (long long)Total(bad, {"fat"}) + 1) << r.out;
  EXPECT_LE(said, (long long)Total(bad, {"fat", "directory"})) << r.out;
  for (const DeletedFile& f : ReadFiles(Fixture("fat.files")))
    if (f.state != "dir-bad") {
      EXPECT_NE(r.out.find("\"name\":\"" + f.Base() + "\""), std::string::npos) << f.path << " not found\n" << r.out;
    }
}

TEST_F(FailingMedium, FatDeepScanCountsEveryUnreadableSectorOnce) {
  SERVE_OR_SKIP(medium, "fat");
  const auto bad = ReadBad(Fixture("fat.bad"));
  Result r = Cli("scan --deep --fresh " + Q(medium));
  ASSERT_EQ(r.code, 0) << r.out;
  long long said = UnreadableSaid(r.out);
  // Every page the pass or the quick pass before it read; pages the pass
  // skips as allocated (the FAT) are counted when the quick pass read them.
  EXPECT_EQ(said, (long long)Total(bad)) << r.out;
  EXPECT_NE(r.out.find(std::to_string(said) + " unreadable sectors"), std::string::npos) << r.out;
}

TEST_F(FailingMedium, FatCopyOutFailsOnlyFilesWithUnreadableData) {
  SERVE_OR_SKIP(medium, "fat");
  TempDir out;
  Result r = Cli("recover " + Q(medium) + " --to " + Q(out / "rec") + " --force");
  EXPECT_EQ(r.code, 1) << r.out;  // some files failed
  std::map<std::string, std::string> written;  // sha -> path
  for (const auto& de : fs::recursive_directory_iterator(out / "rec"))
    if (de.is_regular_file()) written[Sha256OfFile(de.path())] = de.path().string();
  int failed = 0;
  for (const DeletedFile& f : ReadFiles(Fixture("fat.files"))) {
    std::string dest = out / ("rec/others/" + f.Base());
    if (f.state == "ok") {
      EXPECT_TRUE(written.count(f.sha)) << f.path << " not recovered byte-exact\n" << r.out;
    } else if (f.state == "data-bad") {
      ++failed;
      EXPECT_FALSE(fs::exists(dest)) << "half-written " << dest << " left behind";
      EXPECT_NE(r.out.find(dest + ": Read error on the source"), std::string::npos) << f.path << "\n" << r.out;
    }
  }
  EXPECT_GT(failed, 0);
  EXPECT_NE(r.out.find("failed " + std::to_string(failed)), std::string::npos) << r.out;
}

TEST_F(FailingMedium, NtfsQuickScanGoesOnPastUnreadableMftPage) {
  SERVE_OR_SKIP(medium, "ntfs");
  const auto bad = ReadBad(Fixture("ntfs.bad"));
  TempDir out;
  Result r = Cli("recover " + Q(medium) + " --to " + Q(out / "rec") + " --force");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(UnreadableSaid(r.out), (long long)Total(bad, {"mft"})) << r.out;
  // Four records share the bad page; every other deleted file comes back whole.
  std::set<std::string> written;
  for (const auto& de : fs::recursive_directory_iterator(out / "rec"))
    if (de.is_regular_file()) written.insert(Sha256OfFile(de.path()));
  int lost = 0;
  for (const DeletedFile& f : ReadFiles(Fixture("ntfs.files"))) lost += written.count(f.sha) ? 0 : 1;
  EXPECT_LE(lost, 4) << r.out;
  EXPECT_GT(lost, 0) << "the bad MFT page should cost its records";
}

TEST_F(FailingMedium, ImagingZeroesExactlyTheUnreadableSectorsAndMapsThem) {
  SERVE_OR_SKIP(medium, "fat");
  const auto bad = ReadBad(Fixture("fat.bad"));
  TempDir out;
  Result stop = Cli("image " + Q(medium) + " " + Q(out / "stop.img"));
  EXPECT_EQ(stop.code, 1) << stop.out;
  EXPECT_NE(stop.out.find("unreadable sector at byte " + std::to_string(bad[0].first * 512)), std::string::npos)
      << stop.out;

  Result r = Cli("image --continue-on-errors " + Q(medium) + " " + Q(out / "go.img"));
  ASSERT_EQ(r.code, 0) << r.out;
  auto image = test::ReadBytes(out / "go.img");
  auto clean = test::ReadBytes(Fixture("fat.img"));
  ASSERT_EQ(image.size(), clean.size());
  std::set<uint64_t> badSectors;
  for (const BadRange& b : bad)
    for (uint64_t s = b.first; s < b.first + b.count; ++s) badSectors.insert(s);
  uint64_t differing = 0;
  for (uint64_t s = 0; s < image.size() / 512; ++s) {
    bool same = std::equal(image.begin() + s * 512, image.begin() + (s + 1) * 512, clean.begin() + s * 512);
    bool zero = std::all_of(image.begin() + s * 512, image.begin() + (s + 1) * 512, [](uint8_t b) { return b == 0; });
    if (badSectors.count(s))
      EXPECT_TRUE(zero) << "sector " << s;
    else if (!same)
      ++differing;
  }
  EXPECT_EQ(differing, 0u);
  // The map lists exactly the bad ranges as '-'.
  std::ifstream map(out / "go.img.map");
  std::string line;
  std::vector<std::pair<uint64_t, uint64_t>> minus;
  while (std::getline(map, line)) {
    unsigned long long pos, size;
    char st;
    if (line[0] != '#' && std::sscanf(line.c_str(), "%llx %llx %c", &pos, &size, &st) == 3 && st == '-')
      minus.push_back({pos, size});
  }
  ASSERT_EQ(minus.size(), bad.size());
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(minus[i].first, bad[i].first * 512);
    EXPECT_EQ(minus[i].second, bad[i].count * 512);
  }
}

TEST_F(FailingMedium, StalledSourceStillStopsOnRequest) {
  // Every read waits 1 s (a FUSE read moves 4 KiB pages, so a 16 KiB read
  // takes 4 s). A deep scan asked to stop while it opens the medium (its
  // first read asked for), and again while it scans (its first progress
  // line), ends after the reads in flight instead of reading on to its next
  // progress report: the medium is asked for few reads after the signal.
  SERVE_OR_SKIP(medium, "fat", "1");
  const std::pair<const char*, std::string> stages[] = {
      {"opening", "[ " + ReadsAsked() + " -gt " + std::to_string(ReadsAskedNow()) + " ]"},
      {"scanning", "grep -q '^scanning:' \"$err\""},
  };
  for (const auto& [stage, ready] : stages) {
    const Result r = test::InterruptCliWhen("scan --deep --fresh " + Q(medium), mnt_ / (std::string(stage) + ".err"),
                                            ready, "before=" + ReadsAsked(),
                                            "echo \"after=$((" + ReadsAsked() + " - before))\"");
    EXPECT_EQ(r.code, 130) << stage << ": " << r.out;
    EXPECT_EQ(r.out.find("never ready"), std::string::npos) << stage << ": " << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("after=([0-9]+)"))) << r.out;
    // The reads in flight (at most 16 pages of one read, and what the kernel
    // reads ahead with them).
    EXPECT_LE(std::stoi(m[1]), 32) << stage << ": " << r.out;
  }
}

TEST_F(FailingMedium, ScanStoppedWhileStalledLeavesNothingHalfRead) {
  // Stopped while its quick pass crawls over a stalled medium (reads are
  // refused from then on), the deep scan saves nothing half-read: run again
  // on the same medium, now quick, it lists exactly what a scan that was
  // never stopped lists.
  std::string clean = Fixture("fat.img");
  Result ref = Cli("scan --deep --fresh --json " + Q(clean));
  ASSERT_EQ(ref.code, 0) << ref.out;
  auto sorted = [](const std::string& out) {
    std::multiset<std::string> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
      if (!line.empty() && line[0] == '{') lines.insert(line);
    return lines;
  };
  {
    SERVE_OR_SKIP(medium, "fat", "1");
    // Ten reads in: its quick pass is crawling over the medium.
    const Result r = test::InterruptCliWhen("scan --deep --fresh " + Q(medium), mnt_ / "stalled.err",
                                            "[ " + ReadsAsked() + " -ge " + std::to_string(ReadsAskedNow() + 10) + " ]");
    ASSERT_EQ(r.code, 130) << r.out;
    ASSERT_EQ(r.out.find("never ready"), std::string::npos) << r.out;
    TearDown();
  }
  // The same medium again (same name), without stalls and whole: the clean
  // image's own list is the reference.
  mount_ = mnt_.path() + "/m";
  std::string log;
  ASSERT_EQ(RunCommand("bash " + Q(Script()) + " serve " + Q(dir_->path()) + " fat " + Q(mount_) + " '' whole", &log), 0)
      << log;
  Result r = Cli("scan --deep --json " + Q(mount_ + "/medium.img"));
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(sorted(r.out), sorted(ref.out)) << r.out << "\n---- never stopped:\n" << ref.out;
}

}  // namespace
}  // namespace dunmere
