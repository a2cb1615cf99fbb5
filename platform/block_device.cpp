#include "platform/block_device.h"

#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dunmere {

Status QueryBlockGeometry(int fd, BlockGeometry& g) {
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

void FlushSystemCaches() { ::sync(); }

}  // namespace dunmere
