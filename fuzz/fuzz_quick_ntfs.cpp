// The quick NTFS scan and copy-out over an image built from the fuzz bytes
// (seeds: images made by mkntfs and ntfs-3g, zeros padded back to 2 MiB).
#include <cstdint>

#include "carving/content_check_factory.h"
#include "fuzz/fuzz_engine.h"
#include "ntfs/quick/quick_ntfs_engine.h"

using namespace dunmere;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  (void)fuzz::ScratchRoot();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::MemoryImage image(data, size, 2u << 20);
  QuickNtfsEngine engine;
  engine.SetContentCheck(MakeSignatureContentCheck());
  fuzz::ScanAndCopyOut(engine, image.path());
  return 0;
}
