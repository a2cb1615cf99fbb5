#include "app/core/sessions/scan_job.h"

#include "platform/file.h"
#include "scan/deep_scan_engine.h"
#include "storage/disk_table.h"
#include "storage/read_stop.h"

namespace dunmere {

SourceSpec SourceOfItem(const ScanSourceItem& item) {
  SourceSpec s;
  s.tag = item.tag;
  if (item.IsPartition()) {
    const VolumeInfo& v = *item.volume;
    s.kind = SourceSpec::Kind::kDiskRange;
    s.diskIndex = v.diskNumber;
    s.path = DiskTable::DevicePath(uint32_t(v.diskNumber));
    s.text = v.volumePath.empty() ? s.path : v.volumePath;
    s.start = v.startSector;
    s.count = v.sectorCount;
    s.bytesPerSector = v.bytesPerSector ? v.bytesPerSector : 512;
  } else if (item.volume) {
    // A partition or free stretch of a whole-disk image.
    const VolumeInfo& v = *item.volume;
    s.kind = SourceSpec::Kind::kFileRange;
    s.path = item.imagePath;
    s.text = item.imagePath + ":" +
             (v.kind == EntryKind::kVolume ? std::to_string(v.partitionNumber)
                                           : std::to_string(v.startSector) + ":" + std::to_string(v.sectorCount));
    s.start = v.startSector;
    s.count = v.sectorCount;
  } else {
    s.kind = SourceSpec::Kind::kFile;
    s.path = s.text = item.imagePath;
  }
  return s;
}

bool NeedsAdminRights(const std::string& path) {
  if (path.empty()) return false;
  std::error_code why;
  if (CanOpenForReading(path, why)) return false;
  return why == std::errc::permission_denied || why == std::errc::operation_not_permitted;
}

std::unique_ptr<ScanEngine> OpenEngineForItem(const ScanSourceItem& item, bool deep, std::string& error) {
  OpenedEngine opened;
  if (OpenEngine(SourceOfItem(item), deep, opened, error)) return nullptr;
  return std::move(opened.engine);
}

ScanJobResult RunScanJob(const std::vector<ScanSourceItem*>& sources, bool deep, WorkerLink& link,
                         const ScanJobHooks& hooks) {
  ScanJobResult result;
  // Another program's scan would reuse the scan folders under our feet; a
  // cancel (or the window going away) ends the wait.
  ScanFolderLock lock({}, [&] { return link.Cancelled(); });
  // A stalled source: the cancel ends the reads not yet started, while the
  // engine is made (the file system is recognised) as while it scans.
  ReadStopScope readStop([&link] { return link.Cancelled(); });
  for (size_t i = 0; i < sources.size(); ++i) {
    if (link.Cancelled()) {
      result.end = ScanJobResult::End::kStopped;
      break;
    }
    ScanSourceItem& item = *sources[i];
    if (hooks.stage) hooks.stage(i);
    item.engine.reset();
    std::string error;
    const std::string path = SourceOfItem(item).path;
    if (NeedsAdminRights(path)) {
      result.end = ScanJobResult::End::kNoEngine;
      result.failedIndex = i;
      result.needsRights = true;
      result.error = "permission denied: " + path;
      return result;
    }
    item.engine = hooks.openEngine ? hooks.openEngine(item, deep, error) : OpenEngineForItem(item, deep, error);
    // Cancelled while the medium was being opened: its reads were refused,
    // which is no fault of the source.
    if (link.Cancelled()) {
      result.end = ScanJobResult::End::kStopped;
      break;
    }
    // A whole disk's quick scan reads the volumes it can; its free stretches
    // and volumes of other file systems have nothing a quick scan reads, and
    // must not cost the user the volumes that do.
    if (!item.engine && !deep && sources.size() > 1 && item.IsPartition()) {
      result.skipped.push_back(i);
      if (result.error.empty()) result.error = error;
      continue;
    }
    if (!item.engine) {
      result.end = ScanJobResult::End::kNoEngine;
      result.failedIndex = i;
      result.error = error;
      return result;
    }
    if (deep) {
      auto* pro = dynamic_cast<DeepScanEngine*>(item.engine.get());
      if (pro && pro->CanResume()) {
        const ResumeAnswer answer =
            hooks.askResume ? hooks.askResume(i, EntryScanEnded(pro->ResumeEntry())) : ResumeAnswer::kTakeUp;
        if (link.Cancelled()) {
          result.end = ScanJobResult::End::kStopped;
          break;
        }
        if (answer == ResumeAnswer::kNotNow) {
          // The engine holds nothing yet; the earlier scan stays as it was.
          item.engine.reset();
          result.end = ScanJobResult::End::kNotNow;
          break;
        }
        SettleResume(*item.engine, answer == ResumeAnswer::kAfresh);
      } else if (pro && pro->EarlierScanWasOfAnotherMedium() && hooks.askOtherMedium) {
        const bool goOn = hooks.askOtherMedium(i);
        if (link.Cancelled()) {
          result.end = ScanJobResult::End::kStopped;
          break;
        }
        if (!goOn) {
          item.engine.reset();
          result.end = ScanJobResult::End::kNotNow;
          break;
        }
      }
    }
    Status s = RunScan(*item.engine, [&](const ScanProgress& p) { return link.Report(p); });
    link.Flush();
    ++result.scanned;
    result.unreadableSectors += UnreadableAfterScan(*item.engine);
    if (s == kOk && item.engine->LeftMoreForDeepScan()) result.moreForDeepScan = true;
    // An engine's own error goes on with the next source; a stop ends the run.
    if (s == kStopRequested || link.Cancelled()) {
      result.end = ScanJobResult::End::kStopped;
      break;
    }
  }
  // Not one of the volumes had anything to quick-scan.
  if (result.end == ScanJobResult::End::kDone && result.scanned == 0 && !result.skipped.empty()) {
    result.end = ScanJobResult::End::kNoEngine;
    result.failedIndex = result.skipped.front();
  }
  return result;
}

namespace {
int SearchThunk(void* user, int percent, int) {
  ScanProgress p;
  p.percent = percent;
  return static_cast<WorkerLink*>(user)->Report(p);
}
}  // namespace

SearchJobResult RunSearchJob(const std::vector<ScanSourceItem*>& sources, const std::string& filter,
                             std::vector<FoundItemRecord>& results, WorkerLink& link,
                             const std::function<void(size_t index)>& stage) {
  SearchJobResult r;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (link.Cancelled()) {
      r.stopped = true;
      break;
    }
    ScanSourceItem& item = *sources[i];
    if (!item.engine) {
      r.missingEngine = true;
      break;
    }
    if (stage) stage(i);
    std::vector<FoundItemRecord> found;
    (void)item.engine->SetSearchCallback(&SearchThunk, &link);
    // 0 only when the engine's log cannot be read: that source adds nothing.
    (void)item.engine->SearchByType(filter, found);
    (void)item.engine->SetSearchCallback(nullptr, nullptr);
    link.Flush();
    // A cancelled search of a source gives what it found before the stop.
    // The first source's list is taken as it is: a million records are
    // hundreds of MiB, not worth copying.
    if (results.empty())
      results = std::move(found);
    else
      results.insert(results.end(), found.begin(), found.end());
  }
  if (link.Cancelled()) r.stopped = true;
  return r;
}

}  // namespace dunmere
