// Quick-scans an NTFS image and recovers every found file below OUTDIR at
// its folder path. Prints the counts and the times of both phases.
//   ntfs_bench IMAGE OUTDIR
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/store_engine.h"
#include "base/text.h"
#include "ntfs/quick/quick_ntfs_engine.h"

using namespace dunmere;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IMAGE OUTDIR\n", argv[0]);
    return 2;
  }
  std::string out = std::filesystem::absolute(argv[2]).lexically_normal().string();
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  std::filesystem::create_directories(out);
  if (!std::getenv("DUNMERE_DATA_DIR")) setenv("DUNMERE_DATA_DIR", (out + ".data").c_str(), 1);

  auto t0 = std::chrono::steady_clock::now();
  QuickNtfsEngine engine;
  if (Status s = engine.OpenImage(argv[1], 0)) {
    std::fprintf(stderr, "open: %s\n", StatusMessage(s).c_str());
    return 1;
  }
  if (Status s = engine.Scan(nullptr)) {
    std::fprintf(stderr, "scan: %s\n", StatusMessage(s).c_str());
    return 1;
  }
  auto t1 = std::chrono::steady_clock::now();
  std::vector<FoundItemRecord> top;
  (void)engine.ListChildren(nullptr, 0, top);
  int base = CountSeparators(out);
  size_t failed = 0;
  for (const FoundItemRecord& r : top) {
    std::string dest = out + "/" + SafePathComponent(RecordName(r));
    if (engine.RecoverItem(r, dest, base) != kOk) ++failed;
  }
  auto t2 = std::chrono::steady_clock::now();
  uint32_t files = 0;
  (void)engine.CountFiles(nullptr, 0, files);
  auto ms = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
  std::printf("found %lld items, %u files; top-level items with failures: %zu\n",
              (long long)engine.GetFoundCount(), files, failed);
  std::printf("scan %.3f s, recovery %.3f s, total %.3f s\n", ms(t0, t1), ms(t1, t2), ms(t0, t2));
  return 0;
}
