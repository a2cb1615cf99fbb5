#pragma once
// Whether a sector met by the deep pass is exFAT directory data, and the
// entry sets that start in it. Pure: the caller hands the sector with the
// bytes of the chunk that follow it, and a reader for a set that runs on past
// them.
//
// A sector is taken only when it is plainly a directory's: most of its
// 32-byte slots hold an entry type exFAT directories use (in use or deleted,
// or the end mark), and an entry set that starts in it checks out with its
// checksum, or it holds the root's bitmap and up-case entries, or it lies
// inside a set that checked out in the sector before. Anything else stays
// with carving.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/bytes.h"
#include "exfat/exfat_dir_entry.h"

namespace dunmere {

// Whether a type byte is one a directory holds: the end mark, a primary or
// secondary entry of the kinds exFAT defines (also vendor entries), in use
// or deleted.
bool IsExfatEntryType(uint8_t type);
// The slots' type bytes in one pass: whether most (three quarters or more)
// hold entry types, and whether any can start a set (a file entry,
// in use or deleted) or be the root's bitmap or up-case entry. Zeroed
// sectors, a good part of most media, have most and none.
struct ExfatSlotTypes {
  bool mostAreEntries = false;
  bool anyStart = false;
};
ExfatSlotTypes ReadExfatSlotTypes(ByteView sector);

// Reads `bytes` bytes from absolute medium byte `at`; the bytes that arrived
// (fewer at the medium's end or on a read error).
using ExfatByteReader = std::function<size_t(uint64_t at, uint8_t* out, size_t bytes)>;

// What the scan of one sector met.
class ExfatSectorSink {
 public:
  virtual ~ExfatSectorSink() = default;
  // A set that checks out: its bytes, the file entry at absolute byte `at`.
  virtual void OnSet(uint64_t at, ByteView set) = 0;
  // A set whose entries hold together up to the end of the sector but not
  // when read on: a folder's set cut by a cluster boundary, whose rest may
  // lie in the folder's next cluster elsewhere.
  virtual void OnCutSet(uint64_t at) = 0;
  // The sector holds a root directory's bitmap and up-case entries.
  virtual void OnRootSector(uint64_t at, ByteView sector) = 0;
};

struct ExfatSectorScan {
  bool taken = false;
  uint32_t sets = 0;           // sets that start here and check out
  bool root = false;           // bitmap and up-case entries
  uint64_t setsEnd = 0;        // absolute byte where the last of them ends (0: none)
};

// Scans the sector that starts at absolute byte `at`: `run` holds it and the
// bytes after it that are at hand (at least `sectorBytes`). `coveredUntil`:
// where a set that checked out in an earlier sector ends. `sink` may be null
// (the sector is only judged).
ExfatSectorScan ScanExfatSector(ByteView run, size_t sectorBytes, uint64_t at, uint64_t coveredUntil,
                                const ExfatByteReader& readMore, ExfatSectorSink* sink);

// The sector alone is plainly exFAT directory data: a set that lies wholly
// in it checks out, or it holds the root's entries. Carving ends a file there.
bool IsExfatDirectorySector(ByteView sector);

// The root's bitmap (0x81) and up-case (0x82) entries of a sector; false
// when it holds not both.
bool FindRootEntries(ByteView sector, ExfatDataEntry& bitmap, ExfatDataEntry& upcase);

}  // namespace dunmere
