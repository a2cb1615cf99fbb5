// Deep FAT scan of an image the way the deep-scan pass drives it (64 KiB
// chunks, each sector classified and handed over), then copy-out of every
// file found, keeping the folder paths. Prints a summary to stdout.
//   deepfat_bench IMAGE OUTDIR
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/scan_log_folder.h"
#include "base/text.h"
#include "fat/dir_entry_tests.h"
#include "fat/deep/deep_fat_engine.h"

using namespace dunmere;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: deepfat_bench IMAGE OUTDIR\n");
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
  DeepFatEngine engine;
  Medium medium;
  Status s = OpenImageMedium(image, medium);
  if (s == kOk) s = engine.Open(medium, 'Z');
  if (s) {
    std::fprintf(stderr, "cannot open %s: %d\n", image.c_str(), int(s));
    return 1;
  }
  (void)engine.BeginFatLog("");
  (void)engine.SeedFromBootSector();
  std::ifstream in(image, std::ios::binary);
  std::vector<uint8_t> chunk(65536);
  uint64_t sector = 0, dots = 0, dirs = 0;
  while (in) {
    in.read(reinterpret_cast<char*>(chunk.data()), std::streamsize(chunk.size()));
    size_t got = size_t(in.gcount());
    for (size_t off = 0; off + 512 <= got; off += 512, ++sector) {
      ByteView v(chunk.data() + off, 512);
      if (IsDotPair(v)) {
        engine.OnDotPairSector(v, sector);
        ++dots;
      } else if (IsDirectoryCluster(v)) {
        engine.OnDirectorySector(v, sector);
        ++dirs;
      }
    }
  }
  (void)engine.FinishFatScan();
  auto t1 = std::chrono::steady_clock::now();
  std::deque<std::pair<std::string, std::pair<FoundItemRecord, uint32_t>>> queue;
  std::vector<FoundItemRecord> kids;
  (void)engine.ListChildren(nullptr, 0, kids);
  for (auto& k : kids) queue.push_back({"", {k, 0}});
  size_t files = 0, failed = 0, folders = 0;
  while (!queue.empty()) {
    auto [prefix, item] = queue.front();
    queue.pop_front();
    std::string rel = prefix + SafePathComponent(RecordName(item.first));
    if (item.first.isFolder) {
      ++folders;
      std::filesystem::create_directories(outDir + "/" + rel);
      (void)engine.ListChildren(&item.first, item.second + 1, kids);
      for (auto& k : kids) queue.push_back({rel + "/", {k, item.second + 1}});
    } else if (engine.RecoverItem(item.first, outDir + "/" + rel, 0) == 0) {
      ++files;
    } else {
      ++failed;
    }
  }
  auto t2 = std::chrono::steady_clock::now();
  auto ms = [](auto a, auto b) { return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count(); };
  const auto& st = engine.GetStats();
  std::printf("scan %lld ms, copy-out %lld ms; sectors %llu (dot pairs %llu, directory %llu); files %zu (failed %zu), "
              "folders %zu (lost %llu); kept sectors %llu, waiting files %llu; resident %zu bytes\n",
              (long long)ms(t0, t1), (long long)ms(t1, t2), (unsigned long long)sector, (unsigned long long)dots,
              (unsigned long long)dirs, files, failed, folders, (unsigned long long)st.lostFolders,
              (unsigned long long)st.unclaimed, (unsigned long long)st.pending, engine.ResidentBytes());
  return 0;
}
