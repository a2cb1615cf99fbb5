#include "scan/deep_scan_logs.h"

#include "engine/kept_records.h"
#include "engine/scan_log_folder.h"

namespace dunmere {

Status OpenDeepLogs(const DeepArea& a, bool resuming, const std::string& folder, CarvingEngine& carve,
                    std::span<DeepFileSystemEngine* const> engines) {
  ScanLogFolder& logs = ScanLogFolder::Instance();
  // An earlier log is looked for only when resuming; `found` says whether it is there.
  auto earlier = [&](const char* prefix, std::string& name) {
    return resuming && logs.FindLogFile(prefix, name, folder) == kOk;
  };
  Status result = kOk;
  std::string name;
  if (!a.medium) return kInvalidArg;
  result = earlier("File_Type_", name) ? carve.Resume(*a.medium, a.sectorSize, name, a.tag)
                                       : carve.Open(*a.medium, a.tag);
  for (DeepFileSystemEngine* e : engines) {
    std::string log;
    const std::string prefix(e->LogPrefix());
    Status s = earlier(prefix.c_str(), log) ? e->BeginPass(&log) : e->BeginPass(nullptr);
    if (s != kOk && result == kOk) result = s;
  }
  return result;
}

void SaveDeepScanState(const DeepArea& a, const std::string& folder, const std::vector<ResultStore*>& stores,
                       const ResumeProgress& pos) {
  // A failed save leaves the earlier position: a resume then reads a stretch
  // again and the kept counts cut its records back, so nothing is lost.
  (void)SaveKeptRecords(folder, stores);
  (void)ScanLogFolder::Instance().SaveScanState(a.tag, a.imagePath.empty() ? uint32_t(a.disk) : 0, a.start, a.length,
                                                pos, folder, a.imagePath, a.fingerprint);
}

}  // namespace dunmere
