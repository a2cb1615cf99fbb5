#pragma once
// exFAT directory entries (32 bytes each) and the entry sets files and
// folders are made of: a file entry, its stream extension, then the
// file-name entries of 15 UTF-16 units each (and perhaps entries of other
// vendors, which are skipped). Deleting clears bit 7 of every entry's type
// and nothing else: the set keeps the checksum it had while in use.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/bytes.h"

namespace dunmere {

inline constexpr size_t kExfatEntrySize = 32;
inline constexpr uint8_t kExfatInUse = 0x80;
inline constexpr uint8_t kExfatEndOfDirectory = 0x00;
inline constexpr uint8_t kExfatBitmapEntry = 0x81;
inline constexpr uint8_t kExfatUpcaseEntry = 0x82;
inline constexpr uint8_t kExfatLabelEntry = 0x83;
inline constexpr uint8_t kExfatFileEntry = 0x85;
inline constexpr uint8_t kExfatStreamEntry = 0xC0;
inline constexpr uint8_t kExfatNameEntry = 0xC1;
// Stream extension flags.
inline constexpr uint8_t kExfatAllocationPossible = 0x01;
inline constexpr uint8_t kExfatNoFatChain = 0x02;
inline constexpr uint16_t kExfatAttrDirectory = 0x10;
inline constexpr size_t kExfatNameUnitsPerEntry = 15;
inline constexpr size_t kExfatMaxNameUnits = 255;
// A set is a file entry and at most 255 secondary entries.
inline constexpr size_t kExfatMaxSetBytes = 256 * kExfatEntrySize;

// The root directory's entry of the allocation bitmap (0x81) and of the
// up-case table (0x82): where their data lies.
struct ExfatDataEntry {
  uint8_t flags = 0;         // bitmap: bit 0 set for the second FAT's bitmap
  uint32_t checksum = 0;     // up-case table: checksum of the stored table
  uint32_t firstCluster = 0;
  uint64_t dataLength = 0;
};
// False when the entry is not of that type (in use).
bool ParseBitmapEntry(ByteView entry, ExfatDataEntry& out);
bool ParseUpcaseEntry(ByteView entry, ExfatDataEntry& out);
// The label of a volume label entry (0x83) as UTF-8; false when the entry
// is not one or its length is more than 11 units.
bool ParseVolumeLabel(ByteView entry, std::string& label);

// One file or folder: what its set says.
struct ExfatFileSet {
  bool deleted = false;        // the file entry's type has bit 7 clear
  uint32_t entryCount = 0;     // the file entry and its secondaries
  uint16_t checksum = 0;
  uint16_t attributes = 0;
  uint8_t streamFlags = 0;
  uint8_t nameLength = 0;      // UTF-16 units
  uint16_t nameHash = 0;
  uint64_t validDataLength = 0;
  uint32_t firstCluster = 0;
  uint64_t dataLength = 0;
  std::u16string name;         // cut at a NUL unit
  // Where the set's stream extension lies, in entries from the file entry.
  static constexpr size_t kStreamIndex = 1;

  bool IsDirectory() const { return (attributes & kExfatAttrDirectory) != 0; }
  bool NoFatChain() const { return (streamFlags & kExfatNoFatChain) != 0; }
  bool AllocationPossible() const { return (streamFlags & kExfatAllocationPossible) != 0; }
  size_t Bytes() const { return size_t(entryCount) * kExfatEntrySize; }
};

enum class ExfatSetState {
  kValid,        // the structure holds and the checksum agrees
  kBadChecksum,  // the structure holds (`out` is filled), the checksum does not agree
  kMalformed,    // not the entries of one set
  kTruncated,    // the set runs past the bytes given
};

// The checksum of a set's bytes, leaving out the checksum field itself.
// `asInUse`: as computed when the set was written, with bit 7 of every
// entry's type set (what a deleted set was summed with).
uint16_t ExfatSetChecksum(ByteView set, bool asInUse);

// Reads the set starting at `from` (a file entry, in use or deleted; the
// bytes may go on past the set). An in-use file entry needs in-use
// secondaries; a deleted one's checksum is taken as written, or as stored
// for writers that sum it again on deleting.
ExfatSetState ParseExfatFileSet(ByteView from, ExfatFileSet& out);

// The name as UTF-8; unpaired surrogates become U+FFFD, and the separators
// '/' and '\' (which no writer should put there) become '_'.
std::string ExfatNameToUtf8(const std::u16string& name);

}  // namespace dunmere
