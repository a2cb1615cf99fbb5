#pragma once
// A whole engine over an image made from the fuzz bytes: open, scan, list
// everything found and copy every file out to a scratch folder, as the
// command line's "recover" does; then the scan's logs and copies go again.
#include <cstdint>
#include <string>
#include <vector>

#include "app/core/sessions/scan_session.h"
#include "engine/scan_engine.h"
#include "engine/scan_log_folder.h"
#include "fuzz/fuzz_support.h"

namespace dunmere::fuzz {

// Files larger than this are listed but not copied: a damaged size of
// gigabytes would only fill the scratch folder with zeros.
inline constexpr uint64_t kMaxCopyBytes = 4u << 20;

inline void ScanAndCopyOut(ScanEngine& engine, const std::string& imagePath) {
  if (engine.OpenImage(imagePath, 'F') != kOk) return;
  if (engine.CanResume()) engine.DeclineResume();
  (void)RunScan(engine, [](const ScanProgress&) { return 0; });
  std::vector<FoundEntry> files, folders;
  if (CollectFoundItems(engine, TypeFilter{}, files, &folders) == kOk) {
    std::vector<FoundEntry> copy;
    for (const FoundEntry& f : files)
      if (uint64_t(f.record.size) <= kMaxCopyBytes && copy.size() < 500) copy.push_back(f);
    ScratchDir out("copy");
    const std::string root = out.path() + "/";
    (void)RecoverFound(engine, copy, out.path(), Layout::kTree, [] { return false; },
                       [&](const RecoverOutcome& o) {
                         // Names from the medium never lead out of the destination.
                         if (!o.path.empty() && o.path.compare(0, root.size(), root) != 0) __builtin_trap();
                       });
  }
  ScanLogFolder& logs = ScanLogFolder::Instance();
  (void)logs.RemoveScanFolder(logs.CurrentScanFolder());
  (void)logs.Save();
}

}  // namespace dunmere::fuzz
