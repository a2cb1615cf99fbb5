#pragma once
// Hands each sector of a chunk of the deep pass to exactly one deep engine:
// NTFS file records to the deep NTFS engine, FAT boot sectors, "."/".." pairs
// and directory sectors to the deep FAT engine, everything else to carving, which may claim
// the sectors its file covers.
#include <cstdint>

#include "carving/file_type_recovery.h"
#include "engine/recovery_parse.h"
#include "fat/professional_fat_recovery.h"
#include "ntfs/professional_ntfs_recovery.h"
#include "storage/sector_source.h"

namespace dunmere {

class SectorDispatcher {
 public:
  SectorDispatcher(const SectorSource& source, uint32_t sectorSize, CProfessionalFatRecovery& fat,
                   CProfessionalNtfsRecovery& ntfs, CFileTypeRecovery& carve)
      : source_(source), sectorSize_(sectorSize), fat_(fat), ntfs_(ntfs), carve_(carve) {}

  // Directory sectors the quick pass already walked (deleted folders it
  // listed with their paths) are not given to the deep FAT engine, which
  // would list their files a second time under lost folders.
  void SkipDirectoriesWalkedBy(const IFileRecoveryParse* quick) { quick_ = quick; }

  // Returns the sectors consumed from the chunk's start, beyond its end when a
  // carved file runs on; on a stop, the sector whose file was being sized.
  uint64_t DispatchChunk(const uint8_t* chunk, uint32_t sectors, uint64_t firstSector, CarveScanProgress& progress,
                         bool& stopped);

 private:
  bool IsFileRecordSector(const uint8_t* sector) const;
  bool WalkedByQuickPass(uint64_t sector) const {
    return quick_ && quick_->WalkedDeletedDirectoryAt(sector * sectorSize_);
  }
  // Gives a FILE record at `sector` (index `i` of a chunk of `sectors`) to the
  // deep NTFS engine, reading past the chunk when the record runs over it.
  void OnFileRecordSector(const uint8_t* chunk, uint64_t i, uint32_t sectors, uint64_t sector);

  const SectorSource& source_;
  uint32_t sectorSize_;
  CProfessionalFatRecovery& fat_;
  CProfessionalNtfsRecovery& ntfs_;
  CFileTypeRecovery& carve_;
  const IFileRecoveryParse* quick_ = nullptr;
};

}  // namespace dunmere
