// The deep scan (file-system passes and carving) over 4 MiB of sectors made
// from the fuzz bytes, then copy-out of what it found.
#include <cstdint>

#include "fuzz/fuzz_engine.h"
#include "scan/deep_scan_engine.h"

using namespace dunmere;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  (void)fuzz::ScratchRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::MemoryImage image(data, size, 4u << 20);
  DeepScanEngine engine;
  fuzz::ScanAndCopyOut(engine, image.path());
  return 0;
}
