// The ".kept_records" file of a scan folder, read on resume to cut the logs
// back: the fuzz bytes are the file (up to the first NUL) and a record log
// named "fat.log" beside it, in a scratch folder. Nothing outside the folder
// may change.
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "engine/kept_records.h"
#include "fuzz/fuzz_support.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t keptLen = nul ? size_t(nul - data) : size;
  const uint8_t* log = nul ? nul + 1 : data + size;
  fuzz::ScratchDir root("kept_records");
  std::filesystem::create_directories(root / "scan");
  fuzz::WriteFile(root / "scan/.kept_records", data, keptLen);
  fuzz::WriteFile(root / "scan/fat.log", log, size_t(data + size - log));
  // A log of the same name one folder up, which no line may reach.
  const uint8_t outside[346 * 2] = {1};
  fuzz::WriteFile(root / "fat.log", outside, sizeof outside);
  (void)CutBackToKeptRecords(root / "scan");
  std::error_code ec;
  if (std::filesystem::file_size(root / "fat.log", ec) != sizeof outside) __builtin_trap();
  return 0;
}
