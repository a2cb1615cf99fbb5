#include "scan/engine_factory.h"

#include <vector>

#include "scan/deep_scan_engine.h"

namespace dunmere {

std::unique_ptr<ScanEngine> CreateEngineForKind(FsKind kind, bool deep) {
  if (deep) return std::make_unique<DeepScanEngine>();
  const FileSystemRow* row = FileSystemOf(kind);
  return row && row->makeQuick ? row->makeQuick() : nullptr;
}

bool ReadDetectionArea(const Medium& medium, uint8_t* out) {
  const uint32_t unit = medium.source.UnitSize();
  if (!medium.source.IsOpen() || unit == 0 || kDetectBytes % unit) return false;
  const uint32_t sectors = uint32_t(kDetectBytes / unit);
  // A small area's head runs on into what follows it on the disk, as the
  // file system's own boot code would read it.
  uint32_t got = 0;
  return medium.source.ReadSectors(sectors, out, medium.start, unit, got) == kOk && got == sectors;
}

std::unique_ptr<ScanEngine> CreateEngineFor(const Medium& medium, uint16_t tag, bool deep) {
  std::vector<uint8_t> head(kDetectBytes);
  if (!ReadDetectionArea(medium, head.data())) return nullptr;
  auto engine = CreateEngineForKind(DetectFileSystem(ByteView(head.data(), head.size())), deep);
  if (engine) (void)engine->Open(medium, tag);
  return engine;
}

std::unique_ptr<ScanEngine> CreateEngineForPartition(uint32_t diskIndex, uint64_t start, uint64_t count,
                                                     uint16_t tag, bool deep) {
  Medium medium;
  if (OpenDiskMedium(diskIndex, start, count, medium)) return nullptr;
  return CreateEngineFor(medium, tag, deep);
}

std::unique_ptr<ScanEngine> CreateEngineForImage(const std::string& imagePath, uint16_t tag, bool deep) {
  Medium medium;
  if (OpenImageMedium(imagePath, medium)) return nullptr;
  return CreateEngineFor(medium, tag, deep);
}

}  // namespace dunmere
