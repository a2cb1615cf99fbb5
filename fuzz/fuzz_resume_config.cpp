// The scan-log folder's "config" list of resumable deep scans, loaded from the
// fuzz bytes and used as a resume uses it: looked up for an image and a
// partition, a new scan folder begun, saved and loaded again. Only folders
// directly below the scan-log folder may be deleted or resumed into.
#include <cstdint>
#include <filesystem>

#include "engine/scan_log_folder.h"
#include "fuzz/fuzz_support.h"

using namespace dunmere;
namespace fs = std::filesystem;

namespace {
bool Below(const std::string& folder, const std::string& base) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::path(folder) / ".", ec);
  std::string s = p.string();
  while (!s.empty() && s.back() == '/') s.pop_back();
  return fs::path(s).parent_path() == fs::weakly_canonical(base, ec);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ScratchDir root("resume_config");
  const std::string logs = root / "ScanLog";
  fs::create_directories(logs + "/1");
  fs::create_directories(root / "keep");
  fuzz::WriteFile(root / "keep/file", data, std::min<size_t>(size, 16));
  fuzz::WriteFile(logs + "/config", data, size);
  ScanLogFolder folder(logs, [](uint32_t, uint64_t, uint64_t, uint16_t) { return uint64_t(4096); });
  (void)folder.Load();
  std::vector<ScanResumeEntry> entries = folder.Entries();
  for (const ScanResumeEntry& e : entries) {
    (void)EntryImagePath(e);
    (void)EntryScanFolder(e);
    ScanResumeEntry found;
    if (folder.FindResumableImage(EntryImagePath(e), e.partitionStart, e.partitionSectors, &found) &&
        !Below(folder.CurrentScanFolder(), logs))
      __builtin_trap();
    if (folder.FindResumablePartition(e.diskIndex, e.partitionStart, e.partitionSectors, 1, &found) &&
        !Below(folder.CurrentScanFolder(), logs))
      __builtin_trap();
  }
  folder.BeginNewScanFolder();
  (void)folder.CurrentScanFolder();
  (void)folder.Save();
  (void)folder.Load();
  std::error_code ec;
  if (!fs::exists(root / "keep/file", ec)) __builtin_trap();
  return 0;
}
