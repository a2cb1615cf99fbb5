// Identification speed of the signature table, one thread.
//  - RandomSectors: 1 GiB of random sectors (a 64 MiB buffer walked 16 times)
//    through the first-byte dispatch, against the plain walk over every row
//    (the reference the dispatch must agree with) and with the metadata test
//    that the look-ahead adds per sector.
//  - RealFiles: every sector of a medium holding the sample files of
//    tests/fixtures/make_media_samples.sh, identified; and the carving walk
//    over it (identify, size, skip the carved file), as a deep scan does.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "carving/identify_and_size.h"
#include "carving/metadata_sector.h"
#include "carving/signature_table.h"
#include "storage/sector_source.h"

namespace {

using namespace dunmere;
namespace fs = std::filesystem;
constexpr size_t kSector = 512;
constexpr size_t kRandomBytes = 64u << 20;
constexpr size_t kPasses = 16;  // 1 GiB in all

const std::vector<uint8_t>& RandomData() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> v(kRandomBytes);
    std::mt19937_64 rng(2024);
    for (size_t i = 0; i < v.size(); i += 8) {
      uint64_t x = rng();
      for (int k = 0; k < 8; ++k) v[i + k] = uint8_t(x >> (8 * k));
    }
    return v;
  }();
  return data;
}

template <typename F>
void WalkRandom(benchmark::State& state, F&& identify) {
  const auto& data = RandomData();
  CarveContext ctx;
  for (auto _ : state) {
    size_t hits = 0;
    for (size_t pass = 0; pass < kPasses; ++pass)
      for (size_t off = 0; off < data.size(); off += kSector) {
        ctx.currentSector = off / kSector;
        hits += identify(ctx, ByteView(data.data() + off, kSector)) != kNoMatch;
      }
    benchmark::DoNotOptimize(hits);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kPasses * data.size()));
}

void RandomSectors_Dispatch(benchmark::State& state) {
  WalkRandom(state, [](CarveContext& c, ByteView s) { return IdentifySector(c, s); });
}
void RandomSectors_TableWalk(benchmark::State& state) {
  WalkRandom(state, [](CarveContext& c, ByteView s) { return IdentifyByTableWalk(c, s); });
}
void RandomSectors_DispatchAndMetadata(benchmark::State& state) {
  WalkRandom(state, [](CarveContext& c, ByteView s) {
    FileTypeCode code = IdentifySector(c, s);
    return code != kNoMatch || IsMetadataSector(s) ? kJpg : kNoMatch;
  });
}

// The sample medium: every file the fixture script makes, sector-aligned.
struct SampleMedium {
  std::string path;
  std::vector<uint8_t> bytes;
  SectorSource source;
  bool ok = false;
  SampleMedium() {
    std::string dir = (fs::temp_directory_path() / ("dunmere-bench-" + std::to_string(getpid()))).string();
    std::string cmd = "bash '" DUNMERE_SOURCE_DIR "/tests/fixtures/make_media_samples.sh' '" + dir + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return;
    std::vector<fs::path> files;
    for (auto& e : fs::directory_iterator(dir)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), {});
      bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, 0);
    }
    path = dir + "/medium.img";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    ok = source.OpenImageFile(path) == kOk;
  }
  ~SampleMedium() {
    if (!path.empty()) fs::remove_all(fs::path(path).parent_path());
  }
};

SampleMedium& Samples() {
  static SampleMedium m;
  return m;
}

void RealFiles_IdentifyEverySector(benchmark::State& state) {
  auto& m = Samples();
  if (!m.ok) return state.SkipWithError("sample tools missing");
  CarveContext ctx;
  ctx.source = &m.source;
  for (auto _ : state) {
    size_t hits = 0;
    for (size_t off = 0; off < m.bytes.size(); off += kSector) {
      ctx.candidateStart = ctx.currentSector = off / kSector;
      hits += IdentifySector(ctx, ByteView(m.bytes.data() + off, kSector)) != kNoMatch;
    }
    state.counters["headers"] = double(hits);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * m.bytes.size()));
}

void RealFiles_CarvingWalk(benchmark::State& state) {
  auto& m = Samples();
  if (!m.ok) return state.SkipWithError("sample tools missing");
  for (auto _ : state) {
    CarveContext ctx;
    ctx.source = &m.source;
    size_t carved = 0;
    uint64_t sectors = m.bytes.size() / kSector;
    for (uint64_t s = 0; s < sectors;) {
      Identification id = IdentifyAndSize(ctx, ByteView(m.bytes.data() + s * kSector, kSector), s);
      uint64_t skip = 1;
      if (id.status == kOk) {
        ++carved;
        skip = CarvedSkipSectors(id.code, id.size, kSector);
      }
      s += skip ? skip : 1;
    }
    state.counters["carved"] = double(carved);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * m.bytes.size()));
}

BENCHMARK(RandomSectors_Dispatch)->Unit(benchmark::kMillisecond);
BENCHMARK(RandomSectors_TableWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(RandomSectors_DispatchAndMetadata)->Unit(benchmark::kMillisecond);
BENCHMARK(RealFiles_IdentifyEverySector)->Unit(benchmark::kMillisecond);
BENCHMARK(RealFiles_CarvingWalk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
