#pragma once
// A deleted folder has no cluster chain: once its walked clusters are full
// without an end-of-directory entry, its entries may go on in a later free
// cluster that nothing links to. These say what a folder's end and a
// candidate cluster show, and whether the candidate's content ties it to
// that folder (rather than to another deleted folder left open at the same
// time).
#include <cstdint>
#include <functional>

#include "base/bytes.h"
#include "fat/fat_names.h"

namespace dunmere {

// Where a deleted folder's walk stopped with its last cluster full.
struct OpenFolderEnd {
  uint32_t folder = 0;  // its first cluster
  uint32_t last = 0;    // the last cluster walked as its entries
  uint32_t depth = 0;
  bool deleted = true;
  bool hasData = false;
  uint32_t dataEnd = 0;    // the cluster after its last entry's data
  uint32_t clusters = 1;   // clusters walked as its entries
  bool inLongName = false;   // the cluster ended inside a long name
  uint8_t lfnChecksum = 0;
  LongNameAssembler lfn;     // the parts collected so far
};

// What a free cluster that reads as directory entries shows of itself.
struct FolderCandidate {
  uint32_t cluster = 0;
  bool hasData = false;
  uint32_t firstData = 0;  // first cluster of its first entry that owns data
  bool opensWithLongName = false;
  uint8_t lfnChecksum = 0;
};

FolderCandidate DescribeCandidate(uint32_t cluster, ByteView entries, bool fat32);

// The data allocator hands out clusters in order, so a folder's next cluster
// usually lists first a file whose data starts where the folder's previous
// entries' data ended, give or take a few free clusters; a long name cut at
// the cluster's end goes on with parts of the same checksum.
// Only a short run of free clusters may lie between: a cluster in use there
// means other files were written in between, and then the adjacency says
// nothing. `allFree(a, b)`: every cluster in [a, b) is free.
bool ContinuesFolder(const OpenFolderEnd& end, const FolderCandidate& c,
                     const std::function<bool(uint32_t, uint32_t)>& allFree);

}  // namespace dunmere
