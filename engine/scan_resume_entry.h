#pragma once
// One remembered deep scan in the scan-log folder's "config" file (1,120 bytes).
#include <cstddef>
#include <cstdint>
#include <string>

namespace dunmere {

inline constexpr size_t kResumePathUnits = 260;

#pragma pack(push, 1)
struct ScanResumeEntry {
  uint32_t diskIndex;
  uint32_t mediumFingerprint;  // of a disk's area when saved; 0 in entries of older versions
  uint64_t partitionStart;
  uint64_t partitionSectors;
  uint64_t rangeStart;      // free range being scanned, relative to the partition
  uint64_t rangeLength;     // in sectors
  uint64_t rangeOffset;     // sectors reached within the range
  uint64_t sectorsDone;     // over the whole pass
  uint64_t filesFound;
  uint64_t freeBytes;       // of the volume when written (partitions)
  uint64_t imageWriteTime;  // FILETIME of the image file (images)
  char16_t imagePath[kResumePathUnits];
  char16_t scanFolder[kResumePathUnits];
};
#pragma pack(pop)

static_assert(sizeof(ScanResumeEntry) == 1120);
static_assert(offsetof(ScanResumeEntry, partitionStart) == 8);
static_assert(offsetof(ScanResumeEntry, rangeStart) == 24);
static_assert(offsetof(ScanResumeEntry, filesFound) == 56);
static_assert(offsetof(ScanResumeEntry, freeBytes) == 64);
static_assert(offsetof(ScanResumeEntry, imageWriteTime) == 72);
static_assert(offsetof(ScanResumeEntry, imagePath) == 80);
static_assert(offsetof(ScanResumeEntry, scanFolder) == 600);

// The five progress values a deep scan saves (offsets 24 to 63).
struct ResumeProgress {
  uint64_t rangeStart = 0, rangeLength = 0, rangeOffset = 0, sectorsDone = 0, filesFound = 0;
};

// True when the saved position is the end of the pass: that scan ran to its
// end (taking it up again only lists its results); false for one stopped on
// the way.
bool EntryScanEnded(const ScanResumeEntry& e);

std::string EntryImagePath(const ScanResumeEntry& e);
std::string EntryScanFolder(const ScanResumeEntry& e);
// False when the path does not fit the 260-unit field (it is then not stored).
bool SetEntryImagePath(ScanResumeEntry& e, const std::string& utf8);
bool SetEntryScanFolder(ScanResumeEntry& e, const std::string& utf8);

}  // namespace dunmere
