#pragma once
// One scan of one source without a window: naming the source, opening the
// engine the factory makes for it, running the scan with a progress observer,
// collecting what was found with its folder paths, and copying it out under
// the destination rules. The command line drives it; anything that hands it an
// engine (tests, a window) can too.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/core/results/file_categories.h"
#include "engine/found_item.h"
#include "engine/scan_engine.h"
#include "base/status.h"
#include "platform/file.h"
#include "scan/file_systems.h"

namespace dunmere {

// A place to scan: an image file (or a device read like one), a range of
// an image file's sectors (a partition of a whole-disk image), or a range of
// sectors of a disk of the disk table.
struct SourceSpec {
  enum class Kind { kFile, kDiskRange, kFileRange };
  Kind kind = Kind::kFile;
  std::string text;  // as the user gave it
  std::string path;  // the file or device node read
  int32_t diskIndex = -1;
  uint64_t start = 0, count = 0;  // disk sectors (kDiskRange), 512-byte file sectors (kFileRange)
  uint32_t bytesPerSector = 512;
  uint16_t tag = 1;
};

// "disk:N", "disk:N:START:COUNT", a path, or a part of an image file of a
// whole disk: "IMAGE:N" (its partition N) or "IMAGE:START:COUNT" (512-byte
// sectors). A path that names a file as it is stays that file, colons and
// all. A partition's device node becomes its disk's range when the disk is
// in the disk table. On failure `error` says
// why in one line (missing source, no rights, not a disk or file, ...).
Status ResolveSource(const std::string& text, SourceSpec& out, std::string& error);

// Engine for a source, or a one-line reason why there is none.
struct OpenedEngine {
  std::unique_ptr<ScanEngine> engine;
  FsKind kind = FsKind::kOther;
  FsKind under = FsKind::kOther;  // an older file system still under it (FileSystemUnder)
};
Status OpenEngine(const SourceSpec& source, bool deep, OpenedEngine& out, std::string& error);
// A deep scan may take up an earlier, interrupted scan of the same area (the
// question the scan window asks). Returns true when it will resume; `fresh`
// discards the earlier scan instead.
bool SettleResume(ScanEngine& engine, bool fresh);

// Serialises scans of separate processes over the shared scan-log folder.
class ScanFolderLock {
 public:
  // Waits for the lock; `waiting` is called once if another scan holds it.
  // `giveUp`, polled while waiting, ends the wait without the lock.
  explicit ScanFolderLock(const std::function<void()>& waiting = {}, const std::function<bool()>& giveUp = {});
  ~ScanFolderLock();
  ScanFolderLock(const ScanFolderLock&) = delete;
  ScanFolderLock& operator=(const ScanFolderLock&) = delete;

 private:
  FileLock lock_;
};

struct ScanProgress {
  int percent = 0;
  int share = 100;  // the bar shows percent x share / 100 (a deep scan's parts)
  int64_t secondsLeft = -1;
  uint64_t done = 0, total = 0, found = 0;  // 0 when the engine does not count
  uint64_t unreadable = 0;  // sectors the scan could not read and went on past, so far
  uint64_t stage = kStageUnnamed;  // ScanStage: reading sectors, building folders
};
// Non-zero asks the engine to stop (kStopRequested).
using ScanObserver = std::function<int(const ScanProgress&)>;
// A new scan in a new scan folder; the observer's non-zero answer comes back
// as the result.
Status RunScan(ScanEngine& engine, const ScanObserver& observer);
// After RunScan: how many sectors of the medium could not be read (the scan
// went on past them; what they held is missing from the results).
inline uint64_t UnreadableAfterScan(const ScanEngine& engine) { return CountUnreadableSectors(engine); }

// Which found files a command takes. Empty: all.
struct TypeFilter {
  std::set<std::string> extensions;  // lower case; a group name covers its aliases; "other" = uncategorised
  std::set<Category> categories;
  bool Empty() const { return extensions.empty() && categories.empty(); }
  // A file is taken when its extension or group is listed or its category is.
  bool Matches(const std::string& name) const;
  // The pattern list for the engine's type search covering at least the matches.
  std::string SearchPatterns() const;
};
// "jpg,png" and "photo,document"; false with `error` for an unknown category.
bool ParseTypeFilter(const std::string& types, const std::string& categories, TypeFilter& out, std::string& error);

struct FoundEntry {
  FoundItemRecord record;
  std::string folderPath;  // "a/b/", empty for the root
  uint32_t level = 0;      // folders between the item and the root
  std::string Name() const { return RecordName(record); }
  bool IsFolder() const { return record.isFolder != 0; }
};
// Files matching the filter (the engine's type search, then the exact filter)
// and every folder of the result tree, each with its folder path. `stop`
// (if set) is asked as the work goes on; true ends it with kStopRequested.
Status CollectFoundItems(ScanEngine& engine, const TypeFilter& filter, std::vector<FoundEntry>& files,
                         std::vector<FoundEntry>* folders, const std::function<bool()>& stop = {});

enum class Layout { kCategory, kTree };
struct RecoverOutcome {
  std::string path;
  Status status;
  // Written as found, but the file's own structure does not close (a carved
  // file cut short, or whose end is a guess): recovered, yet partial.
  bool partial = false;
};
struct RecoverSummary {
  uint32_t total = 0, processed = 0, failed = 0;
  uint32_t partial = 0;  // of the succeeded
  bool stopped = false;
  uint32_t succeeded() const { return processed - failed; }
};
using RecoverObserver = std::function<void(const RecoverOutcome&)>;
// Progress inside the file being written: its percent, and the bytes of all
// files written so far including that part.
struct RecoverProgress {
  std::string path;
  int percent = 0;
  uint64_t bytesDone = 0;
};
// May wait (a window holding the worker while it asks the user).
using RecoverProgressObserver = std::function<void(const RecoverProgress&)>;
// Copies each item to `root`: a file to root/<category>/<name> (kCategory) or
// root/<its folder path>/<name> (kTree), a folder with its whole tree, never
// over anything already there ("(n)" names). Each file's outcome goes to the
// observer; `stop` returning true stops at the next piece written, and the
// file cut short is removed and reported with kStopRequested. Folders below
// root are made one by one and a symbolic link found there is never followed
// (that file fails with kAccessDenied).
RecoverSummary RecoverFound(ScanEngine& engine, const std::vector<FoundEntry>& items, const std::string& root,
                            Layout layout, const std::function<bool()>& stop, const RecoverObserver& observer,
                            const RecoverProgressObserver& progress = {});

}  // namespace dunmere
