// The results page on a deep scan of a big disk: a million found records
// (half of them JPEG pictures, the rest spread over sixty other types, from
// three engines of two sources, named and sized the way deep scans name and
// size them), shown in the type tree, the 500,000 pictures listed, sorted by
// size and by name, all checked, in the window made of the results page.
// Each figure is set against std::sort of the same rows by the same key in
// the same run, and the list's held-row mode fills the same rows for
// comparison. Run: build/bench/ui/bench_ui_results [records]
//
// With --image IMAGE the records come from a real scan instead: the image is
// scanned and searched for every type the file-type page offers, through the
// jobs the scan and search windows run, and the found records go to the page
// the way the main window hands them over; the biggest type node is listed.
// --image again adds another source (the main window's several rows; a second
// name of the same image doubles what is found). Each run is a process of its
// own (its peak memory is its own), followed by a run of as many made records;
// the medians of RUNS runs are printed with the ratio of each figure to the
// made one.
//   bench_ui_results --image IMAGE [--image IMAGE2 ...] [--deep] [--runs N]
// Scan logs go to $DUNMERE_DATA_DIR, or a temporary folder removed at the end.
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTreeWidgetItem>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/core/results/file_categories.h"
#include "app/core/sessions/scan_job.h"
#include "app/gui/file_type_page.h"
#include "app/gui/recover_process_wnd.h"
#include "app/core/results/result_sort.h"
#include "app/core/results/text_formats.h"
#include "tests/gui/results_host.h"
#include "ui/file_tree.h"
#include "ui/list_ui.h"

namespace {

using dunmere::FoundItemRecord;

long RssKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}

std::vector<FoundItemRecord> MakeRecords(size_t n) {
  static const char* kOther[] = {"mp3", "wav",  "m4a", "ogg", "wma", "mid",  "avi",  "mp4", "mov", "mkv",
                                 "wmv", "3gp",  "doc", "docx", "xls", "xlsx", "ppt", "pdf", "txt", "xml",
                                 "htm", "html", "zip", "rar", "7z",  "gz",   "cab",  "iso", "png", "gif",
                                 "bmp", "tif",  "psd", "cr2", "nef", "dll",  "exe",  "sys", "dat", "log",
                                 "ini", "tmp",  "cfg", "db",  "lnk", "js",   "css",  "json", "py", "c",
                                 "h",   "cpp",  "bak", "msi", "cat", "inf",  "mui",  "ttf", "ico", "bin"};
  std::mt19937_64 rng(42);
  std::vector<FoundItemRecord> v(n);
  uint32_t index[2][5] = {};
  for (size_t i = 0; i < n; ++i) {
    FoundItemRecord& r = v[i];
    std::memset(&r, 0, sizeof r);
    const uint64_t x = rng();
    const int source = int(x & 1);
    const uint32_t kind = (x >> 1) % 3 == 0 ? dunmere::kSourceCarving
                          : (x >> 1) % 3 == 1 ? dunmere::kSourceQuickNtfs
                                              : dunmere::kSourceDeepNtfs;
    r.sourceTag = uint16_t(source ? 'E' : 'D');
    r.sourceKind = kind;
    r.recordIndex = ++index[source][kind];
    r.contentOk = 1;
    r.itemId = kind == dunmere::kSourceCarving ? 0 : uint32_t(x >> 20);
    r.clusterBytes = kind == dunmere::kSourceCarving ? dunmere::kNoClusterSize : 4096;
    // Log-uniform sizes from 100 bytes to about 100 MB.
    r.size = uint64_t(std::exp(4.6 + double((x >> 8) % 10000) / 10000.0 * 13.8));
    r.modified = kind == dunmere::kSourceCarving ? 0 : 130000000000000000ull + (x >> 4) % 3000000000000000ull;
    r.created = r.modified ? r.modified - (x >> 30) % 1000000000000ull : 0;
    char name[128];
    const bool picture = i % 2 == 0;
    const char* ext = picture ? ((x >> 40) % 4 ? "jpg" : "JPG") : kOther[(x >> 40) % 60];
    if (kind == dunmere::kSourceCarving)
      std::snprintf(name, sizeof name, "%08u.%s", r.recordIndex, picture ? "jpg" : ext);
    else if (picture)
      std::snprintf(name, sizeof name, "%s%05u.%s", (x >> 50) % 2 ? "IMG_" : "DSC", unsigned((x >> 16) % 100000), ext);
    else
      std::snprintf(name, sizeof name, "Document %u of the %s folder.%s", unsigned((x >> 16) % 100000),
                    (x >> 50) % 2 ? "Backup" : "Projects", ext);
    dunmere::SetRecordName(r, name);
  }
  return v;
}

void Click(QWidget* w, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
  QCoreApplication::sendEvent(w, &release);
}

// Until the window has drawn what changed.
void Settle(QWidget* w) {
  QCoreApplication::processEvents();
  w->repaint();
  QCoreApplication::processEvents();
}

double Ms(QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

// Every type the file-type page offers, checked, as the page hands them over
// (extension -> the option's extensions).
std::map<std::string, std::string> AllTypesSelected() {
  std::map<std::string, std::string> selected;
  for (const dunmere::FileTypeOption& o : dunmere::FileTypeOptions()) {
    std::string_view u = o.extensions;
    for (size_t s = 0;;) {
      const size_t bar = u.find('|', s);
      selected[std::string(u.substr(s, bar - s))] = std::string(u);
      if (bar == std::string_view::npos) break;
      s = bar + 1;
    }
  }
  selected["other"] = "other";
  return selected;
}

struct Figures {
  int ok = 0;
  char error[256] = {};
  char node[96] = {};
  size_t records = 0, checked = 0;
  int rows = 0, groups = 0;
  double scanMs = 0, searchMs = 0;
  double showMs = 0, fillMs = 0, sizeMs = 0, sizeAgainMs = 0, nameMs = 0, nameAgainMs = 0;
  double baseSizeMs = 0, baseNameMs = 0, modelSizeMs = 0, modelNameMs = 0;
  double checkAllMs = 0, uncheckAllMs = 0, heldMs = 0;
  long rssStart = 0, rssRecords = 0, peakRecords = 0, rssShown = 0, peakShown = 0, rssChecked = 0, peakChecked = 0;
  long rssJobs = 0, peak = 0;
  double jobsMs = 0;
};

// The count a type node's caption ends with: "JPG/JPEG (250000)".
long CaptionCount(const QString& caption) {
  const int open = int(caption.lastIndexOf(u'('));
  return open < 0 ? -1 : caption.mid(open + 1).chopped(1).toLong();
}

// The found records of a real scan of the images, through the scan and search
// jobs of the windows. False with `error` when a scan fails.
bool ScanImages(const std::vector<std::string>& images, bool deep, std::vector<FoundItemRecord>& out, Figures& f) {
  std::vector<dunmere::ScanSourceItem> items(images.size());
  std::vector<dunmere::ScanSourceItem*> sources;
  for (size_t i = 0; i < images.size(); ++i) {
    items[i].imagePath = images[i];
    items[i].tag = uint16_t('D' + i);
    sources.push_back(&items[i]);
  }
  dunmere::WorkerLink link;
  QElapsedTimer t;
  t.start();
  const dunmere::ScanJobResult scanned = dunmere::RunScanJob(sources, deep, link, {});
  f.scanMs = Ms(t);
  if (scanned.end != dunmere::ScanJobResult::End::kDone) {
    std::snprintf(f.error, sizeof f.error, "scan of %s: %s", images[scanned.failedIndex].c_str(),
                  scanned.error.empty() ? "stopped" : scanned.error.c_str());
    return false;
  }
  std::vector<std::string> extensions;
  for (const auto& [ext, option] : AllTypesSelected()) extensions.push_back(ext);
  t.restart();
  dunmere::RunSearchJob(sources, dunmere::gui::FileTypePage::FilterText(extensions), out, link, {});
  f.searchMs = Ms(t);
  return true;
}

// One measured run: the records (made, or found in `image`), the page shown,
// the biggest type node listed, sorted, checked.
Figures Measure(int argc, char** argv, size_t n, const std::vector<std::string>& images, bool deep) {
  Figures f;
  QApplication app(argc, argv);
  f.rssStart = RssKiB("VmRSS:");
  std::vector<FoundItemRecord> records;
  if (images.empty())
    records = MakeRecords(n);
  else if (!ScanImages(images, deep, records, f))
    return f;
  f.records = records.size();
  const std::map<std::string, std::string> selected = AllTypesSelected();
  f.rssRecords = RssKiB("VmRSS:");
  f.peakRecords = RssKiB("VmHWM:");

  dunmere::test::ResultsHostWnd w;
  w.Open(1000, 600);
  w.show();
  Settle(&w);
  auto* tree = w.Find<dunmere::ui::FileTree>("TypeTree");
  auto* list = w.Find<dunmere::ui::ListBox>("FileList");
  w.view->SetPreviewHandler([](const FoundItemRecord&) {});

  // The type tree (ShowResults also lists the first node).
  QElapsedTimer t;
  t.start();
  w.view->ShowResults(std::move(records), selected);
  Settle(&w);
  f.showMs = Ms(t);
  f.rssShown = RssKiB("VmRSS:");
  f.peakShown = RssKiB("VmHWM:");

  // The biggest type node (for the made records, the 500,000 pictures of a
  // million). Another node is listed first, so that this one is filled afresh.
  QTreeWidgetItem* biggest = nullptr;
  QTreeWidgetItem* other = nullptr;
  long most = -1;
  for (const char* cat : {"NodePhoto", "NodeAudio", "NodeVideo", "NodeOffice", "NodeZip", "NodeOther"}) {
    QTreeWidgetItem* c = tree->Node(cat);
    f.groups += c->childCount();
    for (int i = 0; i < c->childCount(); ++i) {
      const long count = CaptionCount(c->child(i)->text(0));
      if (count > most) {
        if (biggest) other = biggest;
        most = count;
        biggest = c->child(i);
      } else if (!other) {
        other = c->child(i);
      }
    }
  }
  if (!biggest) {
    std::snprintf(f.error, sizeof f.error, "no type node in the tree (%zu records)", f.records);
    return f;
  }
  std::snprintf(f.node, sizeof f.node, "%s", biggest->text(0).toUtf8().constData());
  // With one type node, its category (which lists nothing) goes first.
  tree->setCurrentItem(other ? other : biggest->parent());
  Settle(&w);
  t.restart();
  tree->setCurrentItem(biggest);
  Settle(&w);
  f.fillMs = Ms(t);
  const int rows = list->RowCount();
  f.rows = rows;
  // The rows in the order the first click finds them, for the baselines.
  std::vector<uint32_t> idx(static_cast<size_t>(rows));
  for (int r = 0; r < rows; ++r) idx[size_t(r)] = uint32_t(list->RowTag(r));

  auto clickHeader = [&](const char* item) {
    auto* h = list->Header();
    const int c = list->ColumnIndex(item);
    QElapsedTimer c0;
    c0.start();
    Click(h->viewport(), QPoint(h->sectionViewportPosition(c) + h->sectionSize(c) / 2, h->height() / 2));
    Settle(&w);
    return Ms(c0);
  };
  f.sizeMs = clickHeader("Size");
  f.sizeAgainMs = clickHeader("Size");
  f.nameMs = clickHeader("FileName");
  f.nameAgainMs = clickHeader("FileName");

  // DUNMERE_SHOT_DIR=<folder>: a picture of the page sorted by name.
  if (const char* dir = std::getenv("DUNMERE_SHOT_DIR")) {
    list->SelectRow(3);
    Settle(&w);
    w.grab().save(QString::fromLocal8Bit(dir) + (images.empty() ? "/results_bench.png" : "/results_bench_real.png"));
  }

  // Baselines: std::sort of the same rows by the same keys, nothing else.
  const auto& all = w.view->Results();
  std::vector<uint32_t> a = idx;
  t.restart();
  std::sort(a.begin(), a.end(), [&](uint32_t x, uint32_t y) { return all[x].size > all[y].size; });
  f.baseSizeMs = Ms(t);
  a = idx;
  t.restart();
  std::sort(a.begin(), a.end(),
            [&](uint32_t x, uint32_t y) { return strncasecmp(all[x].name, all[y].name, sizeof all[x].name) < 0; });
  f.baseNameMs = Ms(t);

  // The model's share of a first click: the rows alone, from the listed order.
  a = idx;
  t.restart();
  dunmere::SortRows(a, all, dunmere::ResultColumn::kName, 1);
  f.modelNameMs = Ms(t);
  a = idx;
  t.restart();
  dunmere::SortRows(a, all, dunmere::ResultColumn::kSize, -1);
  f.modelSizeMs = Ms(t);

  // Checking every listed file with "ChkSelAll", then none.
  auto* h = list->Header();
  t.restart();
  Click(h->viewport(), QPoint(h->sectionSize(0) / 2, h->height() / 2));
  Settle(&w);
  f.checkAllMs = Ms(t);
  f.rssChecked = RssKiB("VmRSS:");
  f.peakChecked = RssKiB("VmHWM:");
  {
    // What "BtnRecover" makes of them: the copy-out window's jobs.
    t.restart();
    const std::vector<const FoundItemRecord*> checked = w.view->CheckedRecords();
    const std::vector<dunmere::gui::RecoverJob> jobs = dunmere::gui::JobsForChecked(checked, {});
    f.jobsMs = Ms(t);
    f.checked = checked.size();
    f.rssJobs = RssKiB("VmRSS:");
  }
  t.restart();
  Click(h->viewport(), QPoint(h->sectionSize(0) / 2, h->height() / 2));
  Settle(&w);
  f.uncheckAllMs = Ms(t);
  f.peak = RssKiB("VmHWM:");

  // The list's held rows (one struct with seven texts per row), the same rows.
  {
    dunmere::ui::ListBox held;
    held.setProperty("columns", "ChkSelAll:30;FileName:240;Size:80;ModifiedTime:140;CreatedTime:140;Path:90;Type:60");
    held.setProperty("checkcolumn", true);
    held.AdoptLayout();
    held.resize(800, 500);
    held.show();
    t.restart();
    std::vector<dunmere::ui::ListRow> batch;
    batch.reserve(idx.size());
    for (uint32_t i : idx) {
      const FoundItemRecord& r = all[i];
      dunmere::ui::ListRow row;
      row.cells = {QString(), QString::fromUtf8(r.name), QString::fromStdString(dunmere::FormatSize(int64_t(r.size))),
                   QString::fromStdString(dunmere::FormatFileTime(r.modified)),
                   QString::fromStdString(dunmere::FormatFileTime(r.created)), "    ----    ", "jpg"};
      row.check = Qt::Unchecked;
      row.icon = "file='FileIcon/jpg.png'";
      row.tag = i;
      batch.push_back(std::move(row));
    }
    held.AddRows(std::move(batch));
    Settle(&held);
    f.heldMs = Ms(t);
  }
  f.ok = 1;
  return f;
}

// Measure() in a child process, so that each run's peak memory is its own.
Figures MeasureApart(int argc, char** argv, size_t n, const std::vector<std::string>& images, bool deep) {
  Figures f;
  int fds[2];
  if (pipe(fds) != 0) {
    std::snprintf(f.error, sizeof f.error, "pipe: %s", std::strerror(errno));
    return f;
  }
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) {
    std::snprintf(f.error, sizeof f.error, "fork: %s", std::strerror(errno));
    return f;
  }
  if (pid == 0) {
    close(fds[0]);
    const Figures got = Measure(argc, argv, n, images, deep);
    const ssize_t w = write(fds[1], &got, sizeof got);
    _exit(w == ssize_t(sizeof got) ? 0 : 1);  // a million records need no freeing
  }
  close(fds[1]);
  size_t have = 0;
  auto* p = reinterpret_cast<char*>(&f);
  while (have < sizeof f) {
    const ssize_t r = read(fds[0], p + have, sizeof f - have);
    if (r <= 0) break;
    have += size_t(r);
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (have != sizeof f) {
    f = Figures();
    std::snprintf(f.error, sizeof f.error, "the measuring process ended early (status %d)", status);
  }
  return f;
}

void Print(const Figures& f) {
  std::printf("%zu records, %d in the listed node %s (%d type nodes)\n", f.records, f.rows, f.node, f.groups);
  std::printf("type tree shown (and first node listed) %8.1f ms   target < 2000\n", f.showMs);
  std::printf("node of %d files listed               %8.1f ms   target < 1000\n", f.rows, f.fillMs);
  std::printf("sort by size: first click %8.1f ms, second %8.1f ms   target < 1000;"
              " std::sort by size %6.1f ms (ratio %.2f)\n",
              f.sizeMs, f.sizeAgainMs, f.baseSizeMs, f.sizeMs / f.baseSizeMs);
  std::printf("sort by name: first click %8.1f ms, second %8.1f ms   target < 1000;"
              " std::sort by name %6.1f ms (ratio %.2f)\n",
              f.nameMs, f.nameAgainMs, f.baseNameMs, f.nameMs / f.baseNameMs);
  std::printf("of which the rows alone (SortRows): by size %6.1f ms, by name %6.1f ms\n", f.modelSizeMs,
              f.modelNameMs);
  std::printf("ChkSelAll: check %zu files %8.1f ms, uncheck %8.1f ms; copy-out's jobs for them made %8.1f ms\n",
              f.checked, f.checkAllMs, f.uncheckAllMs, f.jobsMs);
  std::printf("held-row list filled with the same rows %8.1f ms (ratio to the view %.1f)\n", f.heldMs,
              f.heldMs / f.fillMs);
  std::printf("memory: start %ld MiB, records %s %ld MiB, all listed checked %ld MiB (peak %ld MiB),"
              " with copy-out's jobs %ld MiB, peak %ld MiB   target < 1024\n",
              f.rssStart / 1024, f.scanMs > 0 ? "found" : "made", f.rssRecords / 1024, f.rssChecked / 1024,
              f.peakChecked / 1024, f.rssJobs / 1024, f.peak / 1024);
}

template <typename T>
T Median(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int RunReal(int argc, char** argv, const std::vector<std::string>& images, bool deep, int runs) {
  // The scan logs of a million records are large: a folder of their own.
  std::string tempData;
  if (!std::getenv("DUNMERE_DATA_DIR")) {
    char dir[] = "/tmp/dunmere-results-bench-XXXXXX";
    if (!mkdtemp(dir)) {
      std::fprintf(stderr, "no temporary folder: %s\n", std::strerror(errno));
      return 1;
    }
    tempData = dir;
    setenv("DUNMERE_DATA_DIR", dir, 1);
  }
  std::vector<Figures> real, made;
  int rc = 0;
  for (int i = 0; i < runs && rc == 0; ++i) {
    // Each scan starts afresh (a deep scan would otherwise take up the last one).
    if (!tempData.empty()) {
      std::error_code ec;
      for (const auto& e : std::filesystem::directory_iterator(tempData, ec)) std::filesystem::remove_all(e.path(), ec);
    }
    const Figures r = MeasureApart(argc, argv, 0, images, deep);
    if (!r.ok) {
      std::fprintf(stderr, "%s\n", r.error);
      rc = 1;
      break;
    }
    const Figures m = MeasureApart(argc, argv, r.records, {}, false);
    if (!m.ok) {
      std::fprintf(stderr, "%s\n", m.error);
      rc = 1;
      break;
    }
    std::printf("run %d: %s scan %.0f ms, search %.0f ms, %zu records; tree %.0f ms, node of %d listed %.0f ms,"
                " size %.0f ms, name %.0f ms, peak %ld MiB | made: tree %.0f ms, node of %d listed %.0f ms,"
                " size %.0f ms, name %.0f ms, peak %ld MiB\n",
                i + 1, deep ? "deep" : "quick", r.scanMs, r.searchMs, r.records, r.showMs, r.rows, r.fillMs, r.sizeMs,
                r.nameMs, r.peak / 1024, m.showMs, m.rows, m.fillMs, m.sizeMs, m.nameMs, m.peak / 1024);
    real.push_back(r);
    made.push_back(m);
  }
  if (!tempData.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(tempData, ec);
  }
  if (rc) return rc;
  auto med = [](const std::vector<Figures>& v, auto field) {
    std::vector<double> x;
    for (const Figures& f : v) x.push_back(double(f.*field));
    return Median(x);
  };
  std::string names;
  for (const std::string& i : images) names += (names.empty() ? "" : " + ") + i;
  std::printf("\n%s, %s scan, median of %d runs (found | made, ratio found / made):\n", names.c_str(),
              deep ? "deep" : "quick", runs);
  std::printf("records %zu | %zu, listed node %s with %d files | %s with %d files\n", real.back().records,
              made.back().records, real.back().node, real.back().rows, made.back().node, made.back().rows);
  struct Line {
    const char* what;
    double Figures::*field;
    const char* target;
  } lines[] = {{"type tree shown          ", &Figures::showMs, "< 2000 ms"},
               {"biggest node listed      ", &Figures::fillMs, "< 1000 ms"},
               {"sort by size (1st click) ", &Figures::sizeMs, "< 1000 ms"},
               {"sort by size (2nd click) ", &Figures::sizeAgainMs, "< 1000 ms"},
               {"sort by name (1st click) ", &Figures::nameMs, "< 1000 ms"},
               {"sort by name (2nd click) ", &Figures::nameAgainMs, "< 1000 ms"},
               {"ChkSelAll check          ", &Figures::checkAllMs, ""},
               {"scan                     ", &Figures::scanMs, ""},
               {"search                   ", &Figures::searchMs, ""}};
  for (const Line& l : lines) {
    const double a = med(real, l.field), b = med(made, l.field);
    std::printf("%s %9.1f ms | %9.1f ms  ratio %5.2f  %s\n", l.what, a, b, b > 0 ? a / b : 0.0, l.target);
  }
  const double pa = med(real, &Figures::peak) / 1024, pb = med(made, &Figures::peak) / 1024;
  std::printf("peak memory (VmHWM)       %9.0f MiB | %8.0f MiB  ratio %5.2f  < 1024 MiB\n", pa, pb, pa / pb);
  std::printf("memory with the records   %9.0f MiB | %8.0f MiB  (peak so far %.0f | %.0f MiB)\n",
              med(real, &Figures::rssRecords) / 1024, med(made, &Figures::rssRecords) / 1024,
              med(real, &Figures::peakRecords) / 1024, med(made, &Figures::peakRecords) / 1024);
  std::printf("memory with the tree shown%8.0f MiB | %8.0f MiB  (peak so far %.0f | %.0f MiB)\n",
              med(real, &Figures::rssShown) / 1024, med(made, &Figures::rssShown) / 1024,
              med(real, &Figures::peakShown) / 1024, med(made, &Figures::peakShown) / 1024);
  std::printf("memory with all listed checked %3.0f MiB | %8.0f MiB  (peak so far %.0f | %.0f MiB)\n",
              med(real, &Figures::rssChecked) / 1024, med(made, &Figures::rssChecked) / 1024,
              med(real, &Figures::peakChecked) / 1024, med(made, &Figures::peakChecked) / 1024);
  std::printf("and copy-out's jobs for them %5.0f MiB | %8.0f MiB  (made in %.0f | %.0f ms)\n",
              med(real, &Figures::rssJobs) / 1024, med(made, &Figures::rssJobs) / 1024, med(real, &Figures::jobsMs),
              med(made, &Figures::jobsMs));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::vector<std::string> images;
  bool deep = false;
  int runs = 3;
  size_t n = 1000000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--image" && i + 1 < argc) images.push_back(argv[++i]);
    else if (a == "--deep") deep = true;
    else if (a == "--runs" && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (!a.empty() && a[0] != '-') n = size_t(std::atoll(a.c_str()));
    else {
      std::fprintf(stderr, "usage: bench_ui_results [records] | --image IMAGE [--image IMAGE2 ...] [--deep] [--runs N]\n");
      return 2;
    }
  }
  int qtArgc = 1;
  if (!images.empty()) return RunReal(qtArgc, argv, images, deep, runs);
  const Figures f = Measure(qtArgc, argv, n, {}, false);
  if (!f.ok) {
    std::fprintf(stderr, "%s\n", f.error);
    return 1;
  }
  Print(f);
  return 0;
}
