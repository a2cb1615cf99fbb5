#pragma once
// Recognises the file system of a partition or image from its first 16 KiB and
// creates the engine for it, already opened on that area.
#include <cstdint>
#include <memory>
#include <string>

#include "engine/scan_engine.h"
#include "scan/file_systems.h"
#include "storage/medium.h"

namespace dunmere {

// The engine for a detected kind; none for a quick scan of an unknown file system.
std::unique_ptr<ScanEngine> CreateEngineForKind(FsKind kind, bool deep);
// The engine for the file system at the start of the medium's area, opened
// on it; null when the first 16 KiB cannot be read, or for a quick scan of
// an unknown file system.
std::unique_ptr<ScanEngine> CreateEngineFor(const Medium& medium, uint16_t sourceTag, bool deep);
// The same, opening the medium first.
std::unique_ptr<ScanEngine> CreateEngineForPartition(uint32_t diskIndex, uint64_t startSector,
                                                     uint64_t sectorCount, uint16_t sourceTag, bool deep);
std::unique_ptr<ScanEngine> CreateEngineForImage(const std::string& imagePath, uint16_t sourceTag, bool deep);
// Reads the first 16 KiB of the medium's area; false when fewer arrive.
bool ReadDetectionArea(const Medium& medium, uint8_t* out16k);

}  // namespace dunmere
