#pragma once
// File-system metadata inside a carved file's look-ahead ends that file: NTFS
// records and pages, boot sectors and FAT directory sectors are never file data.
// The sector is judged over its own length (a sector size of at least 32).
#include "base/bytes.h"
#include "engine/sector_test.h"

namespace dunmere {

// Needs at least 32 bytes (shorter sectors are never metadata).
// directorySector: the directory test of file systems carving does not know.
bool IsMetadataSector(ByteView sector, SectorTest directorySector = nullptr);

}  // namespace dunmere
