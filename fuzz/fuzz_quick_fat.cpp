// The quick FAT scan and copy-out over an image built from the fuzz bytes
// (seeds: images made by mkfs.fat and mtools, zeros padded back to 256 KiB).
#include <cstdint>

#include "carving/content_check_factory.h"
#include "fat/quick/quick_fat_engine.h"
#include "fuzz/fuzz_engine.h"

using namespace dunmere;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  (void)fuzz::ScratchRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::MemoryImage image(data, size, 256u << 10);
  QuickFatEngine engine;
  engine.SetContentCheck(MakeSignatureContentCheck());
  fuzz::ScanAndCopyOut(engine, image.path());
  return 0;
}
