#pragma once
// Whether a destination lies on the medium being read. Block devices are
// compared by device number: a whole disk stands for itself and all its
// partitions, a partition for itself; a destination on a stacked device
// (device mapper, md) counts as lying on every device below it. An image file
// stands for the device that holds it.
#include <sys/types.h>

#include <set>
#include <string>

namespace dunmere {

using DeviceSet = std::set<dev_t>;

// The devices writing to which could change what `sourcePath` reads. Empty when
// the source cannot be examined.
DeviceSet SourceDevices(const std::string& sourcePath, const std::string& sysRoot = "/sys");
// The device of the file system that would hold `destination` (its nearest
// existing ancestor) and every device below it; empty when none exists.
DeviceSet DestinationDevices(const std::string& destination, const std::string& sysRoot = "/sys");
bool DestinationOnSource(const std::string& destination, const std::string& sourcePath,
                         const std::string& sysRoot = "/sys");

// The partitions of a whole disk, by device number (from sysfs).
DeviceSet PartitionsOfDisk(dev_t disk, const std::string& sysRoot = "/sys");

}  // namespace dunmere
