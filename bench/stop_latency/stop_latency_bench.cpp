// The time from a stop request to the end of a scan: the scan runs on a
// thread as the windows and the command line run it (the factory's engine,
// RunScan with a progress observer that answers kStopRequested once the flag
// is up); the flag goes up at fractions of the time a full scan took, so
// each phase (the quick pass, the deep pass, the folders built at the end)
// gets its turn. Prints the milliseconds from the flag to the scan's end.
//   bench_stop_latency IMAGE quick|deep [FRACTION...]   (default 0.1 0.5 0.9 0.97 0.995)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/core/sessions/scan_job.h"
#include "app/core/sessions/scan_session.h"
#include "engine/scan_log_folder.h"

using namespace dunmere;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
  Status status = kOk;
  double seconds = 0;        // the whole scan
  double afterStop = -1;     // from the flag to the end; -1 when it ended first
  int lastPercent = 0, lastShare = 0;
};

Run ScanOnce(const std::string& image, bool deep, double stopAfter) {
  ScanSourceItem item;
  item.imagePath = image;
  item.tag = 'I';
  ScanLogFolder::Instance().BeginNewScanFolder();
  std::string error;
  item.engine = OpenEngineForItem(item, deep, error);
  Run run;
  if (!item.engine) {
    std::fprintf(stderr, "no engine for %s: %s\n", image.c_str(), error.c_str());
    std::exit(1);
  }
  if (deep) item.engine->DeclineResume();
  std::atomic<bool> stop{false}, done{false};
  std::atomic<int64_t> flagAt{0};
  const auto t0 = Clock::now();
  std::thread scanner([&] {
    run.status = RunScan(*item.engine, [&](const ScanProgress& p) {
      run.lastPercent = p.percent;
      run.lastShare = p.share;
      return stop.load() ? int(kStopRequested) : 0;
    });
    done = true;
  });
  if (stopAfter > 0) {
    while (!done && Clock::now() - t0 < std::chrono::duration<double>(stopAfter))
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    flagAt = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
    stop = !done;
  }
  scanner.join();
  const double end = std::chrono::duration<double>(Clock::now() - t0).count();
  run.seconds = end;
  if (stop) run.afterStop = end - double(flagAt) / 1e9;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_stop_latency IMAGE quick|deep [FRACTION...]\n");
    return 2;
  }
  const std::string image = argv[1];
  const bool deep = std::string(argv[2]) == "deep";
  std::vector<double> fractions;
  for (int i = 3; i < argc; ++i) fractions.push_back(std::atof(argv[i]));
  if (fractions.empty()) fractions = {0.1, 0.5, 0.9, 0.97, 0.995};
  (void)ScanOnce(image, deep, 0);  // the page cache warm, as in the timed runs
  const Run full = ScanOnce(image, deep, 0);
  std::printf("%s %s: full scan %.3f s (status %d)\n", image.c_str(), deep ? "deep" : "quick", full.seconds,
              int(full.status));
  double worst = 0;
  for (double f : fractions) {
    const Run r = ScanOnce(image, deep, f * full.seconds);
    if (r.afterStop < 0) {
      std::printf("  stop at %5.1f%%: the scan ended first\n", f * 100);
      continue;
    }
    worst = std::max(worst, r.afterStop);
    std::printf("  stop at %5.1f%% (last report %d%% of share %d): ended %.0f ms later, status %d\n", f * 100,
                r.lastPercent, r.lastShare, r.afterStop * 1000, int(r.status));
  }
  std::printf("  worst: %.0f ms (target about 200)\n", worst * 1000);
  return 0;
}
