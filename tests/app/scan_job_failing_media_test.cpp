// The scan job (the scan window's worker) on a failing medium served by
// nbdkit through nbdfuse (tests/fixtures/failing_medium.sh): it hands on how
// many sectors could not be read, and the window's cancel ends a scan of a
// stalled medium after the read in flight. Skips without nbdkit/nbdfuse/FUSE.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/core/sessions/scan_job.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using namespace std::chrono_literals;
using test::RunCommand;
using test::TempDir;

class ScanJobFailingMedium : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UsePrivateDataFolder();
    for (const char* tool : {"nbdkit", "nbdfuse", "fusermount3", "mkfs.fat", "mcopy", "mshowfat"})
      if (!test::HaveTool(tool)) GTEST_SKIP() << "needs " << tool;
    std::string log;
    int rc = RunCommand("bash '" + Script() + "' make '" + dir_.path() + "' fat", &log);
    if (rc != 0 && log.find("missing tool") != std::string::npos) GTEST_SKIP() << log;
    ASSERT_EQ(rc, 0) << log;
  }
  void TearDown() override {
    if (!mount_.empty()) (void)RunCommand("bash '" + Script() + "' stop '" + mount_ + "'");
  }
  static std::string Script() { return test::SourcePath("tests/fixtures/failing_medium.sh"); }
  // The served file, or empty (then the test is skipped).
  std::string Serve(const std::string& delay) {
    mount_ = dir_ / "m";
    requests_ = dir_ / "requests.log";
    std::string log;
    if (RunCommand("FAILING_MEDIUM_LOG='" + requests_ + "' bash '" + Script() + "' serve '" + dir_.path() + "' fat '" +
                       mount_ + "' " + delay,
                   &log) != 0) {
      mount_.clear();
      skip_ = "nbdfuse cannot serve a file here: " + log;
      return "";
    }
    return mount_ + "/medium.img";
  }

  // Reads the medium was asked for so far (its request log).
  int ReadsAsked() const {
    std::string out;
    RunCommand("grep -c ' Read id=' '" + requests_ + "'", &out);
    return std::atoi(out.c_str());
  }

  TempDir dir_;
  std::string mount_, skip_, requests_;
};

TEST_F(ScanJobFailingMedium, CountsWhatCouldNotBeRead) {
  std::string medium = Serve("");
  if (medium.empty()) GTEST_SKIP() << skip_;
  ScanSourceItem item;
  item.imagePath = medium;
  item.tag = 1;
  std::vector<ScanSourceItem*> sources{&item};
  WorkerLink link;
  ScanJobHooks hooks;
  ScanJobResult r = RunScanJob(sources, true, link, hooks);
  EXPECT_EQ(r.end, ScanJobResult::End::kDone);
  // Every injected page (4 of 8 sectors) is met once by the deep scan.
  EXPECT_EQ(r.unreadableSectors, 32u);
}

TEST_F(ScanJobFailingMedium, CancelEndsAScanOfAStalledMedium) {
  std::string medium = Serve("1");
  if (medium.empty()) GTEST_SKIP() << skip_;
  ScanSourceItem item;
  item.imagePath = medium;
  item.tag = 1;
  std::vector<ScanSourceItem*> sources{&item};
  WorkerLink link;
  ScanJobHooks hooks;
  ScanJobResult r;
  const int before = ReadsAsked();
  std::thread worker([&] { r = RunScanJob(sources, true, link, hooks); });
  // Ten reads in (every read takes a second), the scan is crawling; the guard
  // only bounds a hang.
  for (int i = 0; i < 6000 && ReadsAsked() < before + 10; ++i) std::this_thread::sleep_for(50ms);
  const int atCancel = ReadsAsked();
  link.Cancel();
  worker.join();
  EXPECT_EQ(r.end, ScanJobResult::End::kStopped);
  EXPECT_GE(atCancel, before + 10) << "the scan never got going";
  // The reads in flight and what the kernel reads ahead with them, not the
  // rest of the medium.
  EXPECT_LE(ReadsAsked() - atCancel, 32) << "the scan went on reading a stalled medium after the cancel";
}

}  // namespace
}  // namespace dunmere
