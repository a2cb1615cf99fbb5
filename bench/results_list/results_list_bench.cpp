// Times what stands between the end of a scan and the results list being
// ready: RunSearchJob over the scanned engine (as the search window runs it
// with the type page's filter), then ResultGroups::Build (as the results page
// loads the list). The scan itself is timed too, for scale; a second search
// of the same engine shows what is left once the log is in the page cache.
//   bench_results_list IMAGE [quick|deep] [FILTER]
// FILTER is what the type page makes of its ticked extensions ("*.txt" ->
// "..txt", joined by "|"); the default ticks a handful of common ones.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/core/results/result_groups.h"
#include "app/core/sessions/scan_job.h"
#include "app/core/sessions/scan_session.h"
#include "app/core/sessions/worker_link.h"
#include "engine/scan_log_folder.h"

using namespace dunmere;

namespace {
double Since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_results_list IMAGE [quick|deep] [FILTER]\n");
    return 2;
  }
  const std::string image = argv[1];
  const bool deep = argc > 2 && std::string(argv[2]) == "deep";
  const std::string filter = argc > 3 ? argv[3] : "..txt|..jpg|..doc|..pdf|..bin";

  ScanSourceItem item;
  item.imagePath = image;
  item.tag = 'I';
  std::vector<ScanSourceItem*> sources{&item};
  ScanLogFolder::Instance().BeginNewScanFolder();
  std::string error;
  item.engine = OpenEngineForItem(item, deep, error);
  if (!item.engine) {
    std::fprintf(stderr, "no engine for %s: %s\n", image.c_str(), error.c_str());
    return 1;
  }
  auto t0 = std::chrono::steady_clock::now();
  Status s = RunScan(*item.engine, [](const ScanProgress&) { return 0; });
  const double scan = Since(t0);
  if (s != kOk) {
    std::fprintf(stderr, "scan failed: %d\n", int(s));
    return 1;
  }
  for (int round = 1; round <= 2; ++round) {
    WorkerLink link;
    std::vector<FoundItemRecord> results;
    t0 = std::chrono::steady_clock::now();
    SearchJobResult r = RunSearchJob(sources, filter, results, link, [](size_t) {});
    const double search = Since(t0);
    t0 = std::chrono::steady_clock::now();
    ResultGroups groups;
    groups.Build(results);
    const double group = Since(t0);
    if (r.stopped || r.missingEngine) {
      std::fprintf(stderr, "search did not run to its end\n");
      return 1;
    }
    std::printf("%s: scan %.3f s; search %d: %zu results in %.3f s, grouped (%zu groups) in %.3f s, "
                "list ready %.3f s after the scan\n",
                image.c_str(), scan, round, results.size(), search, groups.size(), group, search + group);
  }
  return 0;
}
