#pragma once
// The scan logs of a deep scan's engines: opened anew, or the earlier scan's
// logs reopened for a resume, and the position saved when the pass ends.
#include <cstdint>
#include <string>
#include <vector>

#include <span>

#include "carving/carving_engine.h"
#include "engine/deep_engine.h"
#include "engine/result_store.h"
#include "engine/scan_resume_entry.h"
#include "storage/medium.h"

namespace dunmere {

// The area a deep scan reads: a range of a disk, or an image file.
struct DeepArea {
  uint16_t tag = 0;
  uint32_t sectorSize = 512;
  int32_t disk = 0;
  uint64_t start = 0, length = 0;
  std::string imagePath;  // empty for a disk
  const Medium* medium = nullptr;  // the opened disk or image the area lies on
  uint32_t fingerprint = 0;        // of a disk's area (MediumFingerprint)
};

// Opens the carving log and begins each file-system engine's pass, on the
// logs of `folder` when resuming. All are tried; the first failure is returned.
Status OpenDeepLogs(const DeepArea& area, bool resuming, const std::string& folder, CarvingEngine& carve,
                    std::span<DeepFileSystemEngine* const> engines);

// Saves the stores' record counts, then the position. In that order: dying
// between the two writes gives records twice at worst, never loses them.
void SaveDeepScanState(const DeepArea& area, const std::string& folder, const std::vector<ResultStore*>& stores,
                       const ResumeProgress& pos);

}  // namespace dunmere
