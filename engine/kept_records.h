#pragma once
// How many records each log of a scan folder held when the scan's position
// was last saved. A run that resumes from that position and then dies leaves
// records past it in the logs (and, for engines that write folders at the
// end, files whose folders were never written); the next resume cuts the
// logs back to these counts before it scans that stretch again.
#include <string>
#include <vector>

#include "engine/result_store.h"
#include "base/status.h"

namespace dunmere {

// Writes the counts of `stores` (open ones, written out first) to the folder's
// hidden ".kept_records", replacing it whole.
Status SaveKeptRecords(const std::string& folder, const std::vector<ResultStore*>& stores);
// Cuts each log the folder's ".kept_records" names back to its count; a
// folder without one is left as it is. Returns the first failure.
Status CutBackToKeptRecords(const std::string& folder);

}  // namespace dunmere
