#include "platform/sysfs.h"

namespace dunmere {

// Windows has no kernel device tree of files: every question gets the
// fallback. Disks and volumes are described by platform/system_disks.
uint64_t ReadSysfsNumber(const std::string&, uint64_t fallback) { return fallback; }
std::string ReadSysfsLine(const std::string&) { return {}; }
bool ReadSysfsDevNumber(const std::string&, unsigned&, unsigned&) { return false; }

}  // namespace dunmere
