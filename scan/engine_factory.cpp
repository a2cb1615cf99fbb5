#include "scan/engine_factory.h"

#include <vector>

#include "scan/deep_scan_engine.h"
#include "platform/block_device.h"
#include "platform/file.h"
#include "storage/read_stop.h"
#include "storage/disk_table.h"

namespace dunmere {

std::unique_ptr<ScanEngine> CreateEngineForKind(FsKind kind, bool deep) {
  if (deep) return std::make_unique<DeepScanEngine>();
  const FileSystemRow* row = FileSystemOf(kind);
  return row && row->makeQuick ? row->makeQuick() : nullptr;
}

bool ReadDetectionArea(const std::string& path, uint64_t offset, uint8_t* out) {
  File f;
  if (f.Open(path, File::Mode::kRead) != kOk) return false;
  size_t got = 0;
  while (got < kDetectBytes && !ReadStopRequested()) {
    size_t n = 0;
    if (f.ReadAt(offset + got, out + got, kDetectBytes - got, n) != kOk || n == 0) break;
    got += n;
  }
  return got == kDetectBytes;
}

std::unique_ptr<ScanEngine> CreateEngineForPartition(uint32_t diskIndex, uint64_t start, uint64_t count,
                                                             uint16_t tag, bool deep) {
  std::string path = DiskTable::DevicePath(diskIndex);
  if (path.empty()) return nullptr;
  BlockGeometry g;
  uint32_t bps = 512;
  {
    File device;
    if (device.Open(path, File::Mode::kRead) != kOk) return nullptr;
    if (QueryBlockGeometry(device.fd(), g) == kOk) bps = g.bytesPerSector;
  }
  const bool isDevice = g.isBlockDevice;
  // Cached writes of a mounted volume reach the disk before the raw read.
  if (isDevice) FlushSystemCaches();
  std::vector<uint8_t> buf(kDetectBytes);
  if (!ReadDetectionArea(path, start * bps, buf.data())) return nullptr;
  auto engine = CreateEngineForKind(DetectFileSystem(ByteView(buf.data(), buf.size())), deep);
  if (engine) (void)engine->OpenPartition(diskIndex, start, count, tag);
  return engine;
}

std::unique_ptr<ScanEngine> CreateEngineForImage(const std::string& imagePath, uint16_t tag, bool deep) {
  std::vector<uint8_t> buf(kDetectBytes);
  if (!ReadDetectionArea(imagePath, 0, buf.data())) return nullptr;
  auto engine = CreateEngineForKind(DetectFileSystem(ByteView(buf.data(), buf.size())), deep);
  if (engine) (void)engine->OpenImage(imagePath, tag);
  return engine;
}

}  // namespace dunmere
