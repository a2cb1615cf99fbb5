#include "storage/volume_space.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/block_device.h"
#include "platform/system_disks.h"
#include "platform/volume_probe.h"
#include "storage/disk_table.h"

namespace fs = std::filesystem;

namespace dunmere {

std::string PartitionDevicePath(uint32_t diskIndex, uint64_t startSector) {
  std::string disk = DiskTable::DevicePath(diskIndex);
  if (disk.empty()) return {};
  std::string name = fs::path(disk).filename().string();
  std::error_code ec;
  for (const auto& de : fs::directory_iterator("/sys/class/block/" + name, ec)) {
    std::ifstream in(de.path() / "start");
    uint64_t start = 0;
    if (in >> start && start == startSector && fs::exists(de.path() / "partition"))
      return "/dev/" + de.path().filename().string();
  }
  return startSector == 0 ? disk : std::string();
}

std::string MountPointOf(const std::string& devicePath) {
  const std::string want = BlockDeviceNumber(devicePath);
  if (want.empty()) return {};
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string id, parent, devno, root, mountPoint;
    ls >> id >> parent >> devno >> root >> mountPoint;
    if (devno == want && root == "/") {
      // mountinfo escapes blanks as octal.
      std::string out;
      for (size_t i = 0; i < mountPoint.size(); ++i) {
        if (mountPoint[i] == '\\' && i + 3 < mountPoint.size()) {
          out += char(std::stoi(mountPoint.substr(i + 1, 3), nullptr, 8));
          i += 3;
        } else {
          out += mountPoint[i];
        }
      }
      return out;
    }
  }
  return {};
}

uint64_t VolumeFreeBytes(uint32_t diskIndex, uint64_t startSector, uint64_t, uint16_t) {
  if (SystemDescribesDisks()) {
    for (const SystemDisk& disk : DescribeSystemDisks()) {
      if (disk.number != diskIndex) continue;
      if (disk.hasVolume && startSector == 0) return disk.volume.freeBytes;
      for (const SystemPartition& p : disk.partitions)
        if (p.hasVolume && p.startByte == startSector * 512) return p.volume.freeBytes;
    }
    return 0;
  }
  std::string mp = MountPointOf(PartitionDevicePath(diskIndex, startSector));
  VolumeSpace space;
  if (mp.empty() || QueryVolumeSpace(mp, space)) return 0;
  return space.freeBytes;
}

}  // namespace dunmere
