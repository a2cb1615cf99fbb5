#pragma once
// Callback types of the engine interface: plain functions taking the caller's
// user data first; a non-zero answer asks the engine to stop and travels back
// as the operation's result.
#include <cstdint>
#include <string>

#include "base/status.h"

namespace dunmere {

// The last value says which stage of the scan reports (ScanStage).
using ScanProgressCallback = int (*)(void* user, int percent, int share, int64_t secondsLeft, uint64_t done,
                                     uint64_t total, uint64_t found, uint64_t stage);
// Reading free sectors: the pass reads only the stretches the file system
// marks free, and its counts are of those.
enum ScanStage : uint64_t {
  kStageUnnamed = 0,
  kStageReadingSectors = 1,
  kStageBuildingFolders = 2,
  kStageReadingFreeSectors = 3
};
// percent so far, always 100 as the second value, the error of a failed file (0 otherwise).
using DataCallback = int (*)(void* user, int percent, int hundred, Status error, const std::string& destination);
using SearchProgressCallback = int (*)(void* user, int percent, int zero);
using PreviewProgressCallback = int (*)(void* user, int percent, Status error);

}  // namespace dunmere
