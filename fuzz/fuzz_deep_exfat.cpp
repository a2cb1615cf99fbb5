// The deep scan over an exFAT volume whose cluster heap is the fuzz bytes:
// the sector test, the entry sets, their placement in volumes and folders,
// then copy-out of what was found. The first byte gives the cluster size
// (512 bytes << 0..7), the second the root's cluster; the rest is the heap
// from cluster 2 on (seeds: the first clusters of volumes exfat-fuse wrote).
// The volume starts at sector 64 behind an empty first sector, so the area
// holds no file system a quick pass would take and every sector is read.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/bytes.h"
#include "exfat/exfat_boot_sector.h"
#include "fuzz/fuzz_engine.h"
#include "scan/deep_scan_engine.h"

using namespace dunmere;

namespace {
constexpr uint32_t kVolumeSector = 64;
constexpr uint32_t kFatOffset = 24;
constexpr uint32_t kHeapBytes = 4u << 20;

std::vector<uint8_t> MakeImage(const uint8_t* data, size_t size) {
  const uint32_t spcShift = size > 0 ? data[0] % 8 : 3;
  const uint32_t clusterBytes = 512u << spcShift;
  const uint32_t clusters = kHeapBytes / clusterBytes;
  const uint32_t root = 2 + (size > 1 ? data[1] % 32 : 2);
  const uint32_t fatSectors = (clusters + 2) * 4 / 512 + 1;
  const uint32_t heap = kFatOffset + fatSectors;
  const uint64_t volumeSectors = heap + uint64_t(clusters) * (clusterBytes / 512);
  std::vector<uint8_t> image(size_t(kVolumeSector + volumeSectors) * 512, 0);
  uint8_t* b = image.data() + kVolumeSector * 512;
  b[0] = 0xEB;
  b[1] = 0x76;
  b[2] = 0x90;
  std::memcpy(b + 3, "EXFAT   ", 8);
  PutLe64(b + 72, volumeSectors);
  PutLe32(b + 80, kFatOffset);
  PutLe32(b + 84, fatSectors);
  PutLe32(b + 88, heap);
  PutLe32(b + 92, clusters);
  PutLe32(b + 96, root);
  PutLe16(b + 104, 0x0100);
  b[108] = 9;
  b[109] = uint8_t(spcShift);
  b[110] = 1;
  b[510] = 0x55;
  b[511] = 0xAA;
  const uint32_t sum = ExfatBootChecksum(ByteView(b, 11 * 512));
  for (size_t i = 0; i < 512; i += 4) PutLe32(b + 11 * 512 + i, sum);
  std::memcpy(b + 12 * 512, b, 12 * 512);  // the backup region
  uint8_t* fat = b + kFatOffset * 512;
  PutLe32(fat, 0xFFFFFFF8u);
  PutLe32(fat + 4, 0xFFFFFFFFu);
  PutLe32(fat + 4 * root, 0xFFFFFFFFu);
  if (size > 2) std::memcpy(b + size_t(heap) * 512, data + 2, std::min<size_t>(size - 2, kHeapBytes));
  return image;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  (void)fuzz::ScratchRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes = MakeImage(data, size);
  fuzz::MemoryImage image(bytes.data(), bytes.size());
  DeepScanEngine engine;
  fuzz::ScanAndCopyOut(engine, image.path());
  return 0;
}
