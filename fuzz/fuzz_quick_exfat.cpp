// The quick exFAT scan and copy-out over an image built from the fuzz bytes
// (seeds: a 1 MiB volume made by mkfs.exfat and written by exfat-fuse, zeros
// padded back).
#include <cstdint>

#include "carving/content_check_factory.h"
#include "exfat/quick/quick_exfat_engine.h"
#include "fuzz/fuzz_engine.h"

using namespace dunmere;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  (void)fuzz::ScratchRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::MemoryImage image(data, size, 1u << 20);
  QuickExfatEngine engine;
  engine.SetContentCheck(MakeSignatureContentCheck());
  fuzz::ScanAndCopyOut(engine, image.path());
  // What the deep pass asks of it: the free stretches, each within the area.
  if (engine.LoadAllocationBitmap() == kOk) {
    uint64_t start = 0, length = 0;
    for (int i = 0; i < 4096; ++i, start += length) {
      (void)engine.NextFreeExtent(start, length);
      if (length == 0) break;
      if (start + length > engine.Geometry().areaSectors) __builtin_trap();
    }
  }
  return 0;
}
