#include "scan/engine_factory.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "scan/professional_recovery.h"
#include "platform/block_device.h"
#include "storage/read_stop.h"
#include "storage/disk_table.h"

namespace dunmere {

std::unique_ptr<IFileRecoveryParse> CreateEngineForKind(FsKind kind, bool deep) {
  if (deep) return std::make_unique<CProfessionalRecovery>();
  const FileSystemRow* row = FileSystemOf(kind);
  return row && row->makeQuick ? row->makeQuick() : nullptr;
}

bool ReadDetectionArea(const std::string& path, uint64_t offset, uint8_t* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t got = 0;
  while (got < kDetectBytes && !ReadStopRequested()) {
    ssize_t n = ::pread(fd, out + got, kDetectBytes - got, off_t(offset + got));
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fd);
  return got == kDetectBytes;
}

std::unique_ptr<IFileRecoveryParse> CreateEngineForPartition(uint32_t diskIndex, uint64_t start, uint64_t count,
                                                             uint16_t tag, bool deep) {
  std::string path = DiskTable::DevicePath(diskIndex);
  if (path.empty()) return nullptr;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  BlockGeometry g;
  uint32_t bps = QueryBlockGeometry(fd, g) == kOk ? g.bytesPerSector : 512;
  bool isDevice = g.isBlockDevice;
  ::close(fd);
  // Cached writes of a mounted volume reach the disk before the raw read.
  if (isDevice) FlushSystemCaches();
  std::vector<uint8_t> buf(kDetectBytes);
  if (!ReadDetectionArea(path, start * bps, buf.data())) return nullptr;
  auto engine = CreateEngineForKind(DetectFileSystem(ByteView(buf.data(), buf.size())), deep);
  if (engine) (void)engine->OpenPartition(diskIndex, start, count, tag);
  return engine;
}

std::unique_ptr<IFileRecoveryParse> CreateEngineForImage(const std::string& imagePath, uint16_t tag, bool deep) {
  std::vector<uint8_t> buf(kDetectBytes);
  if (!ReadDetectionArea(imagePath, 0, buf.data())) return nullptr;
  auto engine = CreateEngineForKind(DetectFileSystem(ByteView(buf.data(), buf.size())), deep);
  if (engine) (void)engine->OpenImage(imagePath, tag);
  return engine;
}

}  // namespace dunmere
