// The scan job with a second card of the same size in the reader where a
// deep scan of the first was stopped: the person is asked before anything is
// scanned, and the first card's scan is kept either way.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/core/sessions/scan_job.h"
#include "engine/scan_log_folder.h"
#include "storage/disk_table.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

int StopAtOnce(void*, int, int share, int64_t, uint64_t, uint64_t, uint64_t, uint64_t) {
  return share == 90 ? kStopRequested : 0;
}

class OtherMedium : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UsePrivateDataFolder();
    DUNMERE_REQUIRE_TOOL("mkfs.fat");
    ASSERT_EQ(test::RunCommand("mkfs.fat -F 16 -i 11111111 -C '" + std::string(dir_ / "first.img") +
                               "' 20000 >/dev/null && mkfs.fat -F 16 -i 22222222 -C '" +
                               std::string(dir_ / "second.img") + "' 20000 >/dev/null"),
              0);
    DiskTable::SetOverride({dir_ / "reader"});
    Insert("first.img");
    item_.tag = 1;
    VolumeInfo v;
    v.diskNumber = 0;
    v.startSector = 0;
    v.sectorCount = fs::file_size(dir_ / "first.img") / 512;
    item_.volume = v;
  }
  void TearDown() override { DiskTable::SetOverride({}); }
  void Insert(const std::string& card) {
    fs::remove(dir_ / "reader");
    fs::create_symlink(dir_ / card, dir_ / "reader");
  }
  // A deep scan of the card in the reader, stopped at its first report.
  void StoppedScan() {
    std::string error;
    auto e = OpenEngineForItem(item_, true, error);
    ASSERT_NE(e, nullptr) << error;
    e->DeclineResume();
    ScanLogFolder::Instance().BeginNewScanFolder();
    (void)e->SetCallbacks(StopAtOnce, nullptr, nullptr, 100);
    ASSERT_EQ(e->Scan(nullptr), kStopRequested);
  }

  TempDir dir_;
  ScanSourceItem item_;
};

TEST_F(OtherMedium, ThePersonIsAskedAndNoScansNothingAndKeepsTheFirstCardsScan) {
  StoppedScan();
  Insert("second.img");
  std::vector<ScanSourceItem*> sources{&item_};
  int asked = 0;
  bool resumeAsked = false;
  ScanJobHooks hooks;
  hooks.askResume = [&](size_t, bool) {
    resumeAsked = true;
    return ResumeAnswer::kTakeUp;
  };
  hooks.askOtherMedium = [&](size_t) {
    ++asked;
    return false;
  };
  WorkerLink link;
  ScanJobResult r = RunScanJob(sources, true, link, hooks);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(resumeAsked) << "the first card's scan is not offered for the second";
  EXPECT_EQ(r.end, ScanJobResult::End::kNotNow);
  EXPECT_FALSE(item_.engine);
  // The first card back: its scan is there to take up.
  Insert("first.img");
  hooks.askOtherMedium = [&](size_t) {
    ++asked;
    return true;
  };
  WorkerLink again;
  r = RunScanJob(sources, true, again, hooks);
  EXPECT_TRUE(resumeAsked);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(r.end, ScanJobResult::End::kDone);
}

TEST_F(OtherMedium, YesScansTheCardThereFromTheStart) {
  StoppedScan();
  Insert("second.img");
  std::vector<ScanSourceItem*> sources{&item_};
  ScanJobHooks hooks;
  hooks.askOtherMedium = [](size_t) { return true; };
  WorkerLink link;
  ScanJobResult r = RunScanJob(sources, true, link, hooks);
  EXPECT_EQ(r.end, ScanJobResult::End::kDone);
  ASSERT_TRUE(item_.engine);
  EXPECT_EQ(r.scanned, 1u);
}

}  // namespace
}  // namespace dunmere
