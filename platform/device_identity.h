#pragma once
// Whether a destination lies on the medium being read, so that writing there
// could overwrite what is being recovered.
//
// The medium of a block device is its whole disk: the disk itself and every
// partition of it (a partition source makes its disk and sibling partitions
// part of the medium too). A destination lies on it when the file system that
// would hold it sits on one of those devices, directly or through devices
// stacked on them (device mapper, md, a partition, a loop device whose backing
// file is stored there). An image file is a copy: writing beside it cannot
// change it, so only a file system mounted from a loop device backed by that
// very file lies on it.
//
// On Windows a device of a set is a disk number: a source disk
// (\\.\PhysicalDriveN) or volume (\\.\X:, by its extents) against the disks
// of the destination's volume, or the same volume; the mountinfo and sysfs
// roots mean nothing there.
#include <sys/types.h>

#include <set>
#include <string>
#include <utility>

namespace dunmere {

using DeviceSet = std::set<dev_t>;
using FileId = std::pair<dev_t, ino_t>;

// Where the kernel's views are read; tests point them at a fake tree.
struct IdentityRoots {
  std::string sys = "/sys";
  std::string mountInfo = "/proc/self/mountinfo";
};

// The medium of a block device: the device, its whole disk and all the
// disk's partitions.
DeviceSet MediumOfDevice(dev_t device, const IdentityRoots& roots = {});
// The medium of a block device source; empty for an image file or a source
// that cannot be examined.
DeviceSet SourceDevices(const std::string& sourcePath, const IdentityRoots& roots = {});

// What holds `destination` (its nearest existing ancestor): the device of its
// file system and every device below it, and the backing files of loop
// devices among them.
struct StorageChain {
  DeviceSet devices;
  std::set<FileId> backingFiles;
};
StorageChain DestinationChain(const std::string& destination, const IdentityRoots& roots = {});

// True when the chain holds a device of the medium.
inline bool ChainTouches(const StorageChain& chain, const DeviceSet& medium) {
  for (dev_t d : medium)
    if (chain.devices.count(d)) return true;
  return false;
}
// The one check of recovery and imaging destinations: true when writing to
// `destination` could change what reading `sourcePath` gives.
bool DestinationOnSource(const std::string& destination, const std::string& sourcePath,
                         const IdentityRoots& roots = {});

// The partitions of a whole disk, by device number (from sysfs).
DeviceSet PartitionsOfDisk(dev_t disk, const std::string& sysRoot = "/sys");

}  // namespace dunmere
