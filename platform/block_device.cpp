#include "platform/block_device.h"

#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "platform/sysfs.h"

namespace dunmere {

namespace {

Status QueryDescriptor(int fd, BlockGeometry& g) {
  g = BlockGeometry{};
  struct stat st;
  if (::fstat(fd, &st) != 0) return LastSystemStatus();
  if (S_ISREG(st.st_mode)) {
    g.lengthBytes = uint64_t(st.st_size);
    return kOk;
  }
  if (!S_ISBLK(st.st_mode)) return kInvalidArg;
  g.isBlockDevice = true;
  int ssz = 0;
  if (::ioctl(fd, BLKSSZGET, &ssz) == 0 && ssz >= 512) g.bytesPerSector = uint32_t(ssz);
  uint64_t len = 0;
  if (::ioctl(fd, BLKGETSIZE64, &len) == 0) g.lengthBytes = len;
  hd_geometry geo{};
  if (::ioctl(fd, HDIO_GETGEO, &geo) == 0) {
    g.tracksPerCylinder = geo.heads;
    g.sectorsPerTrack = geo.sectors;
    g.cylinders = geo.cylinders;
    // The 16-bit cylinder field overflows on large disks; derive it from the length.
    if (geo.heads && geo.sectors && g.lengthBytes)
      g.cylinders = g.lengthBytes / g.bytesPerSector / (uint64_t(geo.heads) * geo.sectors);
  }
  if (g.lengthBytes == 0 && g.cylinders == 0) return LastSystemStatus() ? LastSystemStatus() : kNotReady;
  return kOk;
}

}  // namespace

Status QueryBlockGeometry(const File& file, BlockGeometry& g) { return QueryDescriptor(int(file.NativeHandle()), g); }

Status QueryBlockGeometry(const std::string& path, BlockGeometry& g) {
  g = BlockGeometry{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return LastSystemStatus();
  Status s = QueryDescriptor(fd, g);
  ::close(fd);
  return s;
}

std::string DeviceIdentity(const std::string& path, const std::string& sysRoot) {
  const std::string number = BlockDeviceNumber(path);
  return number.empty() ? std::string() : DeviceIdentityOfNumber(number, sysRoot);
}

std::string DeviceIdentityOfNumber(const std::string& number, const std::string& sysRoot) {
  const std::string dev = sysRoot + "/dev/block/" + number;
  std::error_code ec;
  // A partition's identity is its disk's.
  std::filesystem::path node = std::filesystem::canonical(dev, ec);
  if (ec) return {};
  if (std::filesystem::exists(node / "partition", ec)) node = node.parent_path();
  std::string id;
  for (const char* name : {"wwid", "device/wwid", "device/cid", "device/serial", "serial", "loop/backing_file"}) {
    id = ReadSysfsLine((node / name).string());
    if (!id.empty()) return std::string(name) + "=" + id;
  }
  // A USB disk's serial number sits on the USB device a few levels up.
  std::filesystem::path up = std::filesystem::canonical(node / "device", ec);
  for (int i = 0; !ec && i < 8 && up.has_parent_path() && up != up.parent_path(); ++i, up = up.parent_path()) {
    id = ReadSysfsLine((up / "serial").string());
    if (!id.empty()) return "usb-serial=" + id + " " + ReadSysfsLine((up / "idVendor").string()) + ":" +
                            ReadSysfsLine((up / "idProduct").string());
  }
  return {};
}

namespace {

std::string NumberText(dev_t d) { return std::to_string(major(d)) + ":" + std::to_string(minor(d)); }

}  // namespace

std::string BlockDeviceNumber(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  return NumberText(st.st_rdev);
}

Status FileSystemDeviceNumber(const std::string& path, std::string& number) {
  number.clear();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastSystemStatus();
  number = NumberText(st.st_dev);
  return kOk;
}

void FlushSystemCaches() { ::sync(); }

std::string VolumeDeviceOf(const std::string& text) { return text; }

}  // namespace dunmere
