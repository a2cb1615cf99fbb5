// One carving pass over an image the way the deep scan makes it (64 KiB
// chunks, every sector offered, carved bodies skipped), then copy-out of
// every carved file. Prints a summary line to stdout.
//   carve_bench IMAGE OUTDIR
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "carving/carving_engine.h"
#include "engine/scan_log_folder.h"
#include "base/text.h"

using namespace dunmere;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: carve_bench IMAGE OUTDIR\n");
    return 2;
  }
  std::string image = argv[1], outDir = argv[2];
  if (!std::getenv("DUNMERE_DATA_DIR")) {
    std::string data = outDir + ".data";
    std::filesystem::create_directories(data);
    setenv("DUNMERE_DATA_DIR", data.c_str(), 1);
  }
  auto t0 = std::chrono::steady_clock::now();
  ScanLogFolder::Instance().BeginNewScanFolder();
  CarvingEngine engine;
  Medium medium;
  Status s = OpenImageMedium(image, medium);
  if (s == kOk) s = engine.Open(medium, 'B');
  if (s) {
    std::fprintf(stderr, "cannot open %s: %d\n", image.c_str(), int(s));
    return 1;
  }
  const SectorSource& src = engine.Source();
  const uint32_t ss = 512;
  uint64_t total = src.LengthBytes() / ss, offset = 0, found = 0, calls = 0;
  std::vector<uint8_t> chunk(65536);
  while (offset < total) {
    uint32_t n = uint32_t(std::min<uint64_t>(65536 / ss, total - offset));
    uint32_t got = 0;
    (void)src.ReadSectors(n, chunk.data(), offset, ss, got);
    uint64_t i = 0;
    while (i < got) {
      uint64_t skip = 1;
      CarveScanProgress p{offset + i, total, -1, found};
      ++calls;
      (void)engine.CarveAtSector(ss, ByteView(chunk.data() + i * ss, ss), offset + i, p, &src, skip, found);
      i += skip;
    }
    offset += std::max<uint64_t>(n, i);
  }
  auto t1 = std::chrono::steady_clock::now();
  std::vector<FoundItemRecord> all;
  (void)engine.ListChildren(nullptr, 0, all);
  std::filesystem::create_directories(outDir);
  size_t failed = 0, partial = 0;
  uint64_t bytes = 0;
  for (const auto& r : all) {
    if (engine.RecoverItem(r, outDir + "/" + SafePathComponent(RecordName(r)), 0)) ++failed;
    if (r.contentOk == kContentPartial) ++partial;
    bytes += r.size;
  }
  auto t2 = std::chrono::steady_clock::now();
  auto ms = [](auto a, auto b) { return std::chrono::duration<double, std::milli>(b - a).count(); };
  std::printf("files %zu failed %zu partial %zu bytes %llu sectors %llu offered %llu pass_ms %.1f copy_ms %.1f\n",
              all.size(), failed, partial, (unsigned long long)bytes, (unsigned long long)total, (unsigned long long)calls, ms(t0, t1),
              ms(t1, t2));
  return 0;
}
