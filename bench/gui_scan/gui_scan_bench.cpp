// Times one source scanned through the scan window (offscreen) and through the
// command line's path (OpenEngine + RunScan, as `dunmere-cli scan` does),
// alternating, in one process; prints the medians and their ratio.
//   bench_gui_scan IMAGE quick|deep [RUNS]
//   bench_gui_scan IMAGE quick|deep --window-only   (one window scan, for timing whole processes)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/core/sessions/scan_job.h"
#include "app/core/sessions/scan_session.h"
#include "app/gui/scan_process_wnd.h"

using namespace dunmere;

namespace {

// CPU time of the whole process (all threads: the worker and the UI thread
// drawing its progress), in seconds.
double ProcessCpu() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Timing {
  double wall = 0, cpu = 0;
};

// A deep scan always starts afresh, as `scan --deep --fresh` does.
std::unique_ptr<ScanEngine> FreshEngine(const ScanSourceItem& item, bool deep, std::string& error) {
  auto e = OpenEngineForItem(item, deep, error);
  if (e && deep) SettleResume(*e, true);
  return e;
}

Timing WindowScan(const std::string& image, bool deep, QWidget& owner, int64_t& found) {
  ScanSourceItem item;
  item.imagePath = image;
  item.tag = 1;
  gui::ScanProcessWnd w;
  w.SetSources({&item}, deep ? 1 : 0);
  w.SetEngineOpener(&FreshEngine);
  w.CreatePopup(&owner, 350, 250);
  // DUNMERE_SHOT=file.png: a picture of the window a moment into the scan.
  if (!qEnvironmentVariableIsEmpty("DUNMERE_SHOT"))
    QTimer::singleShot(qEnvironmentVariableIntValue("DUNMERE_SHOT_MS") + 1, &w,
                       [&w] { w.grab().save(qEnvironmentVariable("DUNMERE_SHOT")); });
  QElapsedTimer t;
  const double cpu0 = ProcessCpu();
  t.start();
  const int result = w.RunModal();
  const Timing s{t.nsecsElapsed() / 1e9, ProcessCpu() - cpu0};
  found = item.engine ? item.engine->GetFoundCount() : -1;
  if (result != 1) std::fprintf(stderr, "window scan ended with %d\n", result);
  return s;
}

Timing CliScan(const std::string& image, bool deep, int64_t& found) {
  QElapsedTimer t;
  const double cpu0 = ProcessCpu();
  t.start();
  SourceSpec s;
  s.path = s.text = image;
  OpenedEngine opened;
  std::string error;
  if (OpenEngine(s, deep, opened, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return {};
  }
  if (deep) SettleResume(*opened.engine, true);
  ScanFolderLock lock;
  // The command line's observer: a stop check and a display that draws now and then.
  std::atomic<bool> stop{false};
  if (Status r = RunScan(*opened.engine, [&](const ScanProgress&) { return stop.load() ? kStopRequested : 0; }))
    std::fprintf(stderr, "scan ended with %d\n", int(r));
  const Timing sec{t.nsecsElapsed() / 1e9, ProcessCpu() - cpu0};
  found = opened.engine->GetFoundCount();
  return sec;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_gui_scan IMAGE quick|deep [RUNS|--window-only]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string image = argv[1];
  const bool deep = std::strcmp(argv[2], "deep") == 0;
  QWidget owner;
  owner.resize(800, 600);
  owner.show();
  int64_t found = 0;
  if (argc > 3 && std::strcmp(argv[3], "--window-only") == 0) {
    Timing s = WindowScan(image, deep, owner, found);
    std::printf("window %.4f s, %lld found\n", s.wall, (long long)found);
    return 0;
  }
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  std::vector<Timing> win, cli;
  int64_t foundWin = 0, foundCli = 0;
  // One untimed scan of each warms the page cache and the skin.
  WindowScan(image, deep, owner, foundWin);
  CliScan(image, deep, foundCli);
  for (int i = 0; i < runs; ++i) {
    // Alternating, so drift of the machine hits both alike.
    if (i % 2) {
      cli.push_back(CliScan(image, deep, foundCli));
      win.push_back(WindowScan(image, deep, owner, foundWin));
    } else {
      win.push_back(WindowScan(image, deep, owner, foundWin));
      cli.push_back(CliScan(image, deep, foundCli));
    }
  }
  auto median = [](const std::vector<Timing>& v, double Timing::*f) {
    std::vector<double> x;
    for (const Timing& t : v) x.push_back(t.*f);
    return Median(x);
  };
  const double w = median(win, &Timing::wall), c = median(cli, &Timing::wall);
  const double wc = median(win, &Timing::cpu), cc = median(cli, &Timing::cpu);
  std::printf("%s %s: window %.4f s, cli path %.4f s, ratio %.3f; cpu window %.4f s, cli path %.4f s, ratio %.3f "
              "(found %lld / %lld, median of %d)\n",
              deep ? "deep" : "quick", image.c_str(), w, c, w / c, wc, cc, wc / cc, (long long)foundWin,
              (long long)foundCli, runs);
  return foundWin == foundCli ? 0 : 1;
}
