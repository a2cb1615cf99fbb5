#pragma once
// The work of the scan and search windows without a window: each chosen source
// in turn gets a fresh engine from the factory (kept in its source item) and is
// scanned; afterwards each scanned engine is searched for the chosen types.
// Runs on the window's worker thread and talks to the window only through the
// WorkerLink and the hooks, which must post, never wait for the UI thread.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/sessions/scan_session.h"
#include "app/core/sessions/scan_source_item.h"
#include "app/core/sessions/worker_link.h"
#include "engine/found_item.h"

namespace dunmere {

// The place an item reads: a range of its disk, or its image file.
SourceSpec SourceOfItem(const ScanSourceItem& item);
// True when opening `path` for reading is refused for want of rights.
bool NeedsAdminRights(const std::string& path);

// Makes the engine of an item; the factory by default. Tests hand in their own.
using EngineOpener = std::function<std::unique_ptr<ScanEngine>(const ScanSourceItem&, bool deep,
                                                                       std::string& error)>;
std::unique_ptr<ScanEngine> OpenEngineForItem(const ScanSourceItem& item, bool deep, std::string& error);

// What the user chose for an earlier deep scan of a source: take it up again
// (resume a stopped one, list an ended one's results), scan afresh (the earlier
// scan is deleted), or not scan now (nothing changes).
enum class ResumeAnswer { kTakeUp, kAfresh, kNotNow };

struct ScanJobHooks {
  // Source `index` starts (before its engine is made).
  std::function<void(size_t index)> stage;
  // A deep scan may take up an earlier one of this source; ended: that scan
  // ran to its end. Asked through the link, so a cancel answers it (not now).
  std::function<ResumeAnswer(size_t index, bool ended)> askResume;
  // The earlier deep scan of this area was of another medium (kept for it):
  // true scans the one there now afresh, false scans nothing now.
  std::function<bool(size_t index)> askOtherMedium;
  EngineOpener openEngine;  // empty: OpenEngineForItem
};

struct ScanJobResult {
  // kNotNow: the user chose not to scan after all; nothing was scanned or deleted.
  enum class End { kDone, kStopped, kNoEngine, kNotNow };
  End end = End::kDone;
  size_t scanned = 0;        // sources whose scan ran (to the end or stopped)
  size_t failedIndex = 0;    // kNoEngine: the source without an engine
  bool needsRights = false;  // kNoEngine: the device may not be opened by this user
  std::string error;         // kNoEngine: why, in one line (else the first skipped source's)
  std::vector<size_t> skipped;  // quick scan of several sources: those without an engine
  uint64_t unreadableSectors = 0;  // over every source scanned: sectors the scans went on past
  bool moreForDeepScan = false;     // a scan left part of its look undone to stay quick
};

// Scans the sources in order. Stops at a source without an engine (a quick scan
// of several sources skips it, and fails only when none had one), and after a
// scan that was stopped (the later sources are not scanned; what was found is
// kept in the items).
ScanJobResult RunScanJob(const std::vector<ScanSourceItem*>& sources, bool deep, WorkerLink& link,
                         const ScanJobHooks& hooks);

struct SearchJobResult {
  bool stopped = false;        // cancelled: the remaining sources were not searched
  bool missingEngine = false;  // a source had no engine: the search ended there
};
// Appends the matches of each source's engine to `results`, source after
// source; `stage` is told of each source as it starts.
SearchJobResult RunSearchJob(const std::vector<ScanSourceItem*>& sources, const std::string& filter,
                             std::vector<FoundItemRecord>& results, WorkerLink& link,
                             const std::function<void(size_t index)>& stage);

}  // namespace dunmere
