#pragma once
// Disk numbering. Disk n is the n-th whole-disk block device of /sys/block in
// natural name order (sda < sdb < sdaa, nvme0n1 < nvme0n2 < nvme1n1, ...),
// leaving out ram and zram disks, loop devices with nothing attached, and
// devices of size 0. Tests and the image substitution put files in its place.
// Where the system numbers its disks itself (Windows: \\.\PhysicalDriveN),
// disk n is the system's disk n; a number no disk has now has an empty path.
#include <cstdint>
#include <string>
#include <vector>

namespace dunmere {

class DiskTable {
 public:
  // Device path of disk `index` ("/dev/sda", or a substituted file); empty when none.
  static std::string DevicePath(uint32_t index);
  static std::vector<std::string> Devices();
  // Index of a device path in the table; -1 when absent.
  static int IndexOf(const std::string& devicePath);
  // Replaces the table (tests); an empty list goes back to sysfs.
  static void SetOverride(std::vector<std::string> paths);
  // The sysfs order, from a sysfs block folder (a fake tree in tests).
  static std::vector<std::string> ScanSysfs(const std::string& sysBlock = "/sys/block",
                                            const std::string& devDir = "/dev");
};

// The kernel's order of disk names: digit runs compare by value (nvme0n2 <
// nvme0n10 < nvme1n1), and the letters that number sd/hd/vd/xvd disks by
// count first (sda < sdb < sdz < sdaa).
bool NaturalNameLess(const std::string& a, const std::string& b);

}  // namespace dunmere
