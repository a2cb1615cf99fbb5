#pragma once
// Plausibility tests on FAT directory entries, shared by the quick scan, the
// deep scan and the sector classifier. All are pure functions on bytes.
#include <cstdint>

#include "base/bytes.h"

namespace dunmere {

// The "." and ".." pair that opens a subdirectory: `entries` begins at the
// first entry and must hold both (64 bytes); fewer bytes give false.
bool IsDotPair(ByteView entries);

// Whether 32 bytes can be a directory entry. `entry` begins at the entry; any
// bytes after the first 32 are the next entry, which only the "."/".." pair
// test looks at.
bool IsPlausibleDirEntry(ByteView entry);

// Whether a buffer holds directory entries (a subdirectory's first cluster,
// opening with "." and "..", does not pass: test it with IsDotPair).
bool IsDirectoryCluster(ByteView buffer);

// A file entry whose only fault is a missing archive attribute (the bit is
// cleared by backup programs and some devices): still a file.
bool IsPlausibleFileWithoutArchive(ByteView entry);

// Checksum of the 11-byte short name that long-name entries carry; a view of
// fewer than 11 bytes reads the missing bytes as 0.
uint8_t LfnChecksum(ByteView shortName11);

}  // namespace dunmere
