#include "platform/device_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/sysfs.h"

namespace fs = std::filesystem;

namespace dunmere {

namespace {

std::string DevKey(dev_t d) { return std::to_string(major(d)) + ":" + std::to_string(minor(d)); }

bool ParseDev(const std::string& text, dev_t& out) {
  unsigned ma = 0, mi = 0;
  char colon = 0;
  std::istringstream in(text);
  if (!(in >> ma >> colon >> mi) || colon != ':') return false;
  out = makedev(ma, mi);
  return true;
}

bool ReadDevFile(const fs::path& p, dev_t& out) {
  unsigned ma = 0, mi = 0;
  if (!ReadSysfsDevNumber(p.string(), ma, mi)) return false;
  out = makedev(ma, mi);
  return true;
}

// The sysfs folder of a block device number; empty when the kernel knows none.
fs::path SysDir(dev_t d, const std::string& sysRoot) {
  std::error_code ec;
  fs::path real = fs::canonical(fs::path(sysRoot) / "dev/block" / DevKey(d), ec);
  return ec ? fs::path() : real;
}

// mountinfo escapes blanks and the like as octal.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(uint8_t(s[i + 1]))) {
      out += char(std::stoi(s.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool Below(const std::string& path, const std::string& mountPoint) {
  if (mountPoint == "/") return true;
  return path == mountPoint || (path.size() > mountPoint.size() && path.compare(0, mountPoint.size(), mountPoint) == 0 &&
                                path[mountPoint.size()] == '/');
}

// The devices of the mount that holds `path`: its device number (for btrfs or
// FUSE a number of no block device) and the block device it was mounted from.
bool MountDevices(const std::string& path, const IdentityRoots& roots, DeviceSet& out) {
  std::ifstream in(roots.mountInfo);
  std::string line, bestPoint;
  dev_t bestDev = 0;
  std::string bestSource;
  bool found = false;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string id, parent, devno, root, point, field;
    if (!(ls >> id >> parent >> devno >> root >> point)) continue;
    point = Unescape(point);
    while (ls >> field && field != "-") {
    }
    std::string fsType, source;
    ls >> fsType >> source;
    // The deepest mount wins; a later line for the same point mounted over it.
    if (!Below(path, point) || (found && point.size() < bestPoint.size())) continue;
    dev_t d;
    if (!ParseDev(devno, d)) continue;
    found = true;
    bestPoint = point;
    bestDev = d;
    bestSource = Unescape(source);
  }
  if (!found) return false;
  out.insert(bestDev);
  if (bestSource.rfind("/dev/", 0) == 0) {
    // By name through sysfs: /dev may not hold the node (or be another tree).
    dev_t d;
    if (ReadDevFile(fs::path(roots.sys) / "class/block" / fs::path(bestSource).filename() / "dev", d)) out.insert(d);
  }
  return true;
}

void AddChain(const std::string& path, const IdentityRoots& roots, StorageChain& out, int depth);

// d and, recursively, what it is built on: the devices below a stacked device
// ("slaves"), a partition's disk, the file a loop device reads.
void AddWithLowerDevices(dev_t d, const IdentityRoots& roots, StorageChain& out, int depth) {
  if (!out.devices.insert(d).second || depth > 16) return;
  fs::path dir = SysDir(d, roots.sys);
  if (dir.empty()) return;
  std::error_code ec;
  for (const auto& de : fs::directory_iterator(dir / "slaves", ec)) {
    dev_t lower;
    if (ReadDevFile(de.path() / "dev", lower)) AddWithLowerDevices(lower, roots, out, depth + 1);
  }
  if (fs::exists(dir / "partition")) {
    dev_t disk;
    if (ReadDevFile(dir.parent_path() / "dev", disk)) AddWithLowerDevices(disk, roots, out, depth + 1);
  }
  std::ifstream backing(dir / "loop/backing_file");
  std::string file;
  if (std::getline(backing, file) && !file.empty()) {
    struct stat st;
    if (::stat(file.c_str(), &st) == 0) {
      out.backingFiles.insert({st.st_dev, st.st_ino});
      AddChain(file, roots, out, depth + 1);
    }
  }
}

void AddChain(const std::string& path, const IdentityRoots& roots, StorageChain& out, int depth) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) return;
  struct stat st;
  while (::stat(p.c_str(), &st) != 0) {
    if (!p.has_parent_path() || p.parent_path() == p) return;
    p = p.parent_path();
  }
  fs::path real = fs::canonical(p, ec);
  DeviceSet mounted;
  if (ec || !MountDevices(real.string(), roots, mounted)) mounted.insert(st.st_dev);
  for (dev_t d : mounted) AddWithLowerDevices(d, roots, out, depth);
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

DeviceSet MediumOfDevice(dev_t device, const IdentityRoots& roots) {
  DeviceSet out;
  dev_t disk = device;
  fs::path dir = SysDir(device, roots.sys);
  if (!dir.empty() && fs::exists(dir / "partition")) ReadDevFile(dir.parent_path() / "dev", disk);
  // Writing anywhere on the disk can land on the sectors being read: a
  // partition table may be wrong, the scan may run over its neighbours.
  out.insert(device);
  out.insert(disk);
  for (dev_t p : PartitionsOfDisk(disk, roots.sys)) out.insert(p);
  return out;
}

DeviceSet SourceDevices(const std::string& sourcePath, const IdentityRoots& roots) {
  struct stat st;
  if (::stat(sourcePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  return MediumOfDevice(st.st_rdev, roots);
}

StorageChain DestinationChain(const std::string& destination, const IdentityRoots& roots) {
  StorageChain out;
  AddChain(destination, roots, out, 0);
  return out;
}

bool DestinationOnSource(const std::string& destination, const std::string& sourcePath, const IdentityRoots& roots) {
  struct stat st;
  if (::stat(sourcePath.c_str(), &st) != 0) return false;
  StorageChain chain = DestinationChain(destination, roots);
  if (S_ISREG(st.st_mode)) return chain.backingFiles.count({st.st_dev, st.st_ino}) != 0;
  return ChainTouches(chain, SourceDevices(sourcePath, roots));
}

}  // namespace dunmere
