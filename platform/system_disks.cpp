#include "platform/system_disks.h"

namespace dunmere {

// Linux numbers no disks itself: storage/ reads them from sysfs.
bool SystemDescribesDisks() { return false; }
std::vector<SystemDisk> DescribeSystemDisks() { return {}; }
std::vector<std::string> SystemDiskPaths() { return {}; }

}  // namespace dunmere
