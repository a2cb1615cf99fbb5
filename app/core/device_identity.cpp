#include "app/core/device_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "platform/sysfs.h"

namespace fs = std::filesystem;

namespace dunmere {

namespace {

std::string DevKey(dev_t d) { return std::to_string(major(d)) + ":" + std::to_string(minor(d)); }

bool ReadDevFile(const fs::path& p, dev_t& out) {
  unsigned ma = 0, mi = 0;
  if (!ReadSysfsDevNumber(p.string(), ma, mi)) return false;
  out = makedev(ma, mi);
  return true;
}

// The sysfs folder of a block device number; empty when the kernel knows none.
fs::path SysDir(dev_t d, const std::string& sysRoot) {
  std::error_code ec;
  fs::path link = fs::path(sysRoot) / "dev/block" / DevKey(d);
  fs::path real = fs::canonical(link, ec);
  return ec ? fs::path() : real;
}

// d and, recursively, the devices it is built on ("slaves").
void AddWithLowerDevices(dev_t d, const std::string& sysRoot, DeviceSet& out, int depth = 0) {
  if (!out.insert(d).second || depth > 16) return;
  fs::path dir = SysDir(d, sysRoot);
  if (dir.empty()) return;
  std::error_code ec;
  for (const auto& de : fs::directory_iterator(dir / "slaves", ec)) {
    dev_t lower;
    if (ReadDevFile(de.path() / "dev", lower)) AddWithLowerDevices(lower, sysRoot, out, depth + 1);
  }
  // A partition's writes land on its disk too, but only the disk as a whole
  // is affected, not its other partitions: record the disk itself.
  if (fs::exists(dir / "partition")) {
    dev_t disk;
    if (ReadDevFile(dir.parent_path() / "dev", disk)) out.insert(disk);
  }
}

}  // namespace

DeviceSet PartitionsOfDisk(dev_t disk, const std::string& sysRoot) {
  DeviceSet out;
  fs::path dir = SysDir(disk, sysRoot);
  if (dir.empty()) return out;
  std::error_code ec;
  for (const auto& de : fs::directory_iterator(dir, ec)) {
    dev_t part;
    if (fs::exists(de.path() / "partition") && ReadDevFile(de.path() / "dev", part)) out.insert(part);
  }
  return out;
}

DeviceSet SourceDevices(const std::string& sourcePath, const std::string& sysRoot) {
  DeviceSet out;
  struct stat st;
  if (::stat(sourcePath.c_str(), &st) != 0) return out;
  if (S_ISBLK(st.st_mode)) {
    out.insert(st.st_rdev);
    fs::path dir = SysDir(st.st_rdev, sysRoot);
    bool isPartition = !dir.empty() && fs::exists(dir / "partition");
    if (!isPartition)
      for (dev_t p : PartitionsOfDisk(st.st_rdev, sysRoot)) out.insert(p);
    return out;
  }
  // An image file: the device its bytes live on.
  out.insert(st.st_dev);
  return out;
}

DeviceSet DestinationDevices(const std::string& destination, const std::string& sysRoot) {
  DeviceSet out;
  std::error_code ec;
  fs::path p = fs::absolute(destination, ec);
  if (ec) return out;
  struct stat st;
  while (::stat(p.c_str(), &st) != 0) {
    if (!p.has_parent_path() || p.parent_path() == p) return out;
    p = p.parent_path();
  }
  AddWithLowerDevices(st.st_dev, sysRoot, out);
  return out;
}

bool DestinationOnSource(const std::string& destination, const std::string& sourcePath, const std::string& sysRoot) {
  DeviceSet src = SourceDevices(sourcePath, sysRoot);
  DeviceSet dst = DestinationDevices(destination, sysRoot);
  // The disk of a destination partition must not count against a partition
  // source: only shared members that the source itself names matter.
  for (dev_t d : dst)
    if (src.count(d)) return true;
  return false;
}

}  // namespace dunmere

