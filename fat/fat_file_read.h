#pragma once
// Reading a found file's data as its volume's FAT tells, for both engines: a
// live chain link by link; deleted data (its first cluster free) from cluster
// to cluster over those the FAT marks free. What another file holds now is
// never copied as the found one's: a deleted file whose first cluster is in
// use again, or whose data runs out of free clusters before its size, is no
// longer on the medium (kDataOverwritten).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/bytes.h"
#include "base/status.h"
#include "fat/fat_boot_sector.h"
#include "fat/fat_entry_cache.h"

namespace dunmere {

struct FatFileReading {
  FatEntryCache& fat;
  const FatVolumeGeometry& geometry;
  // Reads whole 512-byte sectors at an absolute byte offset; `got`: the bytes that arrived.
  std::function<Status(uint64_t offset, uint32_t length, uint8_t* out, uint32_t& got)> read;
  uint64_t mediumEnd = 0;  // byte offset where what may be read ends
  std::vector<uint8_t>& buffer;  // grown to the largest run once, reused between files
};

// Streams the `size` bytes (more than 0) of the file whose data starts at
// cluster `first` to `sink`, in pieces of at most 64 KiB; a non-zero answer
// of the sink stops the read and becomes its result. `entryDeleted` is asked
// only when the first cluster is in use: whether the file's directory entry
// is marked deleted (files below a deleted folder may keep live entries and
// live chains).
Status ReadFatFile(const FatFileReading& how, uint32_t first, uint64_t size, const std::function<bool()>& entryDeleted,
                   const std::function<int(const uint8_t*, size_t)>& sink);

// Whether a directory sector holds a deleted entry of `size` bytes whose
// first cluster's low word is `clusterLow`: the entry a found file was made
// from, still marked deleted.
bool HoldsDeletedEntry(ByteView sector, uint64_t size, uint16_t clusterLow);

}  // namespace dunmere
