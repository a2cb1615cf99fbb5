// The link between a progress window and its worker: coalesced progress,
// the pause while a question is open, cancel, questions put to the UI.
#include "app/core/sessions/worker_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/core/sessions/scan_job.h"
#include "tests/app/fake_engine.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

using namespace std::chrono_literals;

ScanProgress At(int percent) {
  ScanProgress p;
  p.percent = percent;
  return p;
}

TEST(WorkerLink, ProgressIsCoalescedAndTheLatestIsTaken) {
  std::atomic<int> wakes{0};
  // The interval runs on the test's own clock: no verdict depends on how
  // fast this thread happens to run.
  auto now = std::chrono::steady_clock::time_point{} + 1h;
  WorkerLink link([&] { ++wakes; }, 50ms, [&] { return now; });
  // A burst: one wake, whatever the number of reports, until the UI takes it.
  for (int i = 0; i <= 100; ++i) EXPECT_EQ(link.Report(At(i)), 0);
  EXPECT_EQ(wakes, 1);
  ScanProgress p;
  ASSERT_TRUE(link.Take(p));
  EXPECT_EQ(p.percent, 100) << "the UI draws the latest, not the first";
  EXPECT_FALSE(link.Take(p));
  // Taken, but within the interval: no wake until it has passed...
  link.Report(At(5));
  EXPECT_EQ(wakes, 1);
  // ...unless the worker flushes the last report of a source.
  link.Flush();
  EXPECT_EQ(wakes, 2);
  link.Flush();
  EXPECT_EQ(wakes, 2) << "nothing new to hand over";
  ASSERT_TRUE(link.Take(p));
  now += 49ms;
  link.Report(At(6));
  EXPECT_EQ(wakes, 2) << "the interval has not passed";
  now += 1ms;
  link.Report(At(7));
  EXPECT_EQ(wakes, 3);
  ASSERT_TRUE(link.Take(p));
  EXPECT_EQ(p.percent, 7);
}

TEST(WorkerLink, APausedWorkerWaitsAtItsNextReportAndCancelReleasesIt) {
  WorkerLink link;
  link.Pause();
  std::atomic<int> answer{1};
  std::thread worker([&] { answer = link.Report(At(1)); });
  while (!link.WorkerHeld()) std::this_thread::yield();
  EXPECT_EQ(answer, 1) << "still waiting";
  link.Cancel();
  worker.join();
  EXPECT_EQ(answer, kStopRequested);
  EXPECT_EQ(link.Report(At(2)), kStopRequested) << "every later report stops";

  WorkerLink goOn;
  goOn.Pause();
  std::thread w2([&] { answer = goOn.Report(At(1)); });
  while (!goOn.WorkerHeld()) std::this_thread::yield();
  goOn.Resume();
  w2.join();
  EXPECT_EQ(answer, 0);
}

TEST(WorkerLink, QuestionsAreAnsweredOrCancelled) {
  WorkerLink link;
  std::thread ui;
  int got = link.Ask([&] { ui = std::thread([&] { link.Answer(2); }); }, -1);
  ui.join();
  EXPECT_EQ(got, 2);
  // A window going away cancels: the worker gets the cancel answer.
  std::thread closer;
  got = link.Ask([&] { closer = std::thread([&] { link.Cancel(); }); }, -1);
  closer.join();
  EXPECT_EQ(got, -1);
  EXPECT_EQ(link.Ask([] {}, -7), -7) << "asked after the cancel";
  link.Answer(5);  // nobody asking: ignored
}

TEST(ScanJob, StopsAtTheFirstSourceWithoutAnEngineOrAfterAStop) {
  test::UsePrivateDataFolder();
  std::vector<ScanSourceItem> items(3);
  for (auto& i : items) i.imagePath = "/nowhere.img";
  std::vector<ScanSourceItem*> ptrs{&items[0], &items[1], &items[2]};
  std::vector<size_t> stages;
  int opened = 0;
  ScanJobHooks hooks;
  hooks.stage = [&](size_t i) { stages.push_back(i); };
  hooks.openEngine = [&](const ScanSourceItem&, bool, std::string& error) -> std::unique_ptr<ScanEngine> {
    if (++opened == 2) {
      error = "unreadable";
      return nullptr;
    }
    return std::make_unique<test::FakeEngine>(test::SampleItems());
  };
  WorkerLink link;
  ScanJobResult r = RunScanJob(ptrs, false, link, hooks);
  EXPECT_EQ(r.end, ScanJobResult::End::kNoEngine);
  EXPECT_EQ(r.failedIndex, 1u);
  EXPECT_EQ(r.error, "unreadable");
  EXPECT_EQ(stages, (std::vector<size_t>{0, 1}));
  EXPECT_TRUE(items[0].engine);

  // Every source is scanned again from a fresh engine; a stop ends the run.
  opened = 10;
  items[0].engine.reset();
  WorkerLink stopper;
  stopper.Cancel();
  r = RunScanJob(ptrs, false, stopper, hooks);
  EXPECT_EQ(r.end, ScanJobResult::End::kStopped);
  EXPECT_EQ(r.scanned, 0u);

  WorkerLink fine;
  r = RunScanJob(ptrs, false, fine, hooks);
  EXPECT_EQ(r.end, ScanJobResult::End::kDone);
  EXPECT_EQ(r.scanned, 3u);
  for (auto& i : items) EXPECT_EQ(i.engine->GetFoundCount(), int64_t(test::SampleItems().size()));
}

}  // namespace
}  // namespace dunmere
