// Quick FAT scan of an image, then copy-out of every file it found, keeping
// the folder paths. Prints one line per recovered file ("path<TAB>size") to
// the list file and a summary to stdout. With --deep the deep scan runs
// instead (the quick pass, then every free sector), and each list line also
// names the kind of engine that found the file.
//   fat_bench IMAGE OUTDIR LISTFILE [--partition START COUNT | --deep]
//   fat_bench IMAGE OUTDIR LISTFILE --lost-limit BYTES [--scan-only]
// --lost-limit sets how much the quick scan's look for lost folders may read
// (0: no look); --scan-only copies nothing. Both for the large-card figures.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "storage/disk_table.h"
#include "fat/quick/quick_fat_engine.h"
#include "scan/engine_factory.h"

using namespace dunmere;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: fat_bench IMAGE OUTDIR LISTFILE [--partition START COUNT | --deep]\n");
    return 2;
  }
  std::string image = argv[1], outDir = argv[2], listFile = argv[3];
  if (!std::getenv("DUNMERE_DATA_DIR")) {
    std::string data = outDir + ".data";
    std::filesystem::create_directories(data);
    setenv("DUNMERE_DATA_DIR", data.c_str(), 1);
  }
  auto t0 = std::chrono::steady_clock::now();
  ScanLogFolder::Instance().BeginNewScanFolder();
  std::unique_ptr<ScanEngine> engine;
  const bool deep = argc >= 5 && std::string(argv[4]) == "--deep";
  if (deep) {
    engine = CreateEngineForImage(image, 'Z', true);
    if (engine) engine->DeclineResume();
  } else if (argc >= 7 && std::string(argv[4]) == "--partition") {
    DiskTable::SetOverride({image});
    engine = CreateEngineForPartition(0, std::strtoull(argv[5], nullptr, 10), std::strtoull(argv[6], nullptr, 10),
                                      'C', false);
  } else {
    engine = CreateEngineForImage(image, 'Z', false);
  }
  if (!engine) {
    std::fprintf(stderr, "no FAT engine for %s\n", image.c_str());
    return 1;
  }
  auto* quickFat = dynamic_cast<QuickFatEngine*>(engine.get());
  bool scanOnly = false;
  for (int i = 4; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--scan-only") scanOnly = true;
    if (a == "--lost-limit" && i + 1 < argc && quickFat) quickFat->SetLostFolderReadLimit(std::strtoull(argv[++i], nullptr, 10));
  }
  if (Status s = engine->Scan(nullptr)) {
    std::fprintf(stderr, "scan failed: %d\n", int(s));
    return 1;
  }
  auto t1 = std::chrono::steady_clock::now();
  std::ofstream list(listFile);
  std::deque<std::pair<std::string, std::pair<FoundItemRecord, uint32_t>>> queue;
  std::vector<FoundItemRecord> kids;
  (void)engine->ListChildren(nullptr, 0, kids);
  for (auto& k : kids) queue.push_back({"", {k, 0}});
  size_t files = 0, failed = 0, folders = 0;
  if (scanOnly) queue.clear();
  while (!queue.empty()) {
    auto [prefix, item] = queue.front();
    queue.pop_front();
    std::string rel = prefix + SafePathComponent(RecordName(item.first));
    if (item.first.isFolder) {
      ++folders;
      (void)engine->ListChildren(&item.first, item.second + 1, kids);
      for (auto& k : kids) queue.push_back({rel + "/", {k, item.second + 1}});
      continue;
    }
    ++files;
    Status s = engine->RecoverItem(item.first, outDir + "/" + rel, 0);
    if (s) ++failed;
    list << rel << '\t' << item.first.size << '\t' << s;
    if (deep) list << '\t' << item.first.sourceKind;
    list << '\n';
  }
  auto t2 = std::chrono::steady_clock::now();
  auto ms = [](auto a, auto b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
  std::printf("records %lld folders %zu files %zu failed %zu scan_ms %.1f copy_ms %.1f\n",
              (long long)engine->GetFoundCount(), folders, files, failed, ms(t0, t1), ms(t1, t2));
  if (quickFat)
    std::printf("lost-folder look read %.1f MiB%s\n", double(quickFat->LostFolderBytesRead()) / (1 << 20),
                quickFat->LeftMoreForDeepScan() ? " (stopped at its limit)" : "");
  return 0;
}
