#pragma once
// Hands each sector of a chunk of the deep pass to exactly one deep engine:
// the first file-system engine that takes it as its metadata, else carving,
// which may claim the sectors its file covers.
#include <cstdint>
#include <span>

#include "carving/carving_engine.h"
#include "engine/deep_engine.h"
#include "engine/scan_engine.h"
#include "storage/sector_source.h"

namespace dunmere {

class SectorDispatcher {
 public:
  // `engines` are asked in order, the strictest test first.
  SectorDispatcher(const SectorSource& source, uint32_t sectorSize, std::span<DeepFileSystemEngine* const> engines,
                   CarvingEngine& carve)
      : source_(source), sectorSize_(sectorSize), engines_(engines), carve_(carve) {}

  // Directory sectors the quick pass already walked (deleted folders it
  // listed with their paths) are not read again by the deep engines.
  void SkipDirectoriesWalkedBy(const ScanEngine* quick) { quick_ = quick; }

  // Carving's size rules take the sectors after a chunk from `feed` when it
  // holds them (null: from the source only).
  void FeedCarvingFrom(SectorFeed* feed) { carve_.Context().feed = feed; }
  // The directory test carving's forward scans apply (for judging sectors ahead).
  SectorTest CarvingDirectoryTest() const { return carve_.Context().directorySector; }

  // Returns the sectors consumed from the chunk's start, beyond its end when a
  // carved file runs on; on a stop, the sector whose file was being sized.
  // `plain`: a flag per sector of the chunk judged plain already, or null.
  uint64_t DispatchChunk(const uint8_t* chunk, uint32_t sectors, uint64_t firstSector, CarveScanProgress& progress,
                         bool& stopped, const uint8_t* plain = nullptr);

 private:
  const SectorSource& source_;
  uint32_t sectorSize_;
  std::span<DeepFileSystemEngine* const> engines_;
  CarvingEngine& carve_;
  const ScanEngine* quick_ = nullptr;
};

}  // namespace dunmere
