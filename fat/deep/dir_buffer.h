#pragma once
// A buffer of FAT directory entries the deep scan met, where it belongs, and
// what it holds. The parser reads the bytes it is given and nothing else: it
// hands each folder and file entry, with its long name when that is whole,
// to a sink, and answers whether the directory ended there and which long
// name the buffer's end cut.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "base/bytes.h"
#include "fat/deep/name_tails.h"
#include "fat/deep/volume_guesses.h"

namespace dunmere {

inline constexpr size_t kFatNoJoin = std::numeric_limits<size_t>::max();

// Where a directory buffer belongs. A buffer that is a tail joined to a
// sector has that sector's bytes from `joinAt` on.
struct FatBufferPlace {
  uint32_t cluster = 0;
  int guess = FatVolumeGuesses::kNone;
  uint64_t dirSector = 0;
  uint64_t firstSector = 0;
  size_t joinAt = kFatNoJoin;
  uint64_t joinSector = 0;
};

class FatDirEntrySink {
 public:
  virtual ~FatDirEntrySink() = default;
  // An end-of-directory entry was met in `dir`.
  virtual void OnDirEnd(uint32_t dir) = 0;
  // A folder's or a file's entry of directory `dir`, found at `sector`.
  virtual void OnFolderEntry(ByteView entry, const std::string& name, uint32_t dir, uint64_t sector) = 0;
  virtual void OnFileEntry(ByteView entry, const std::string& name, uint32_t dir, uint64_t sector) = 0;
};

struct FatDirParseOutcome {
  bool ended = false;  // an end-of-directory entry was met
  bool hasTail = false;
  FatNameTail tail;
};

// Parses the entries of `buf`, a buffer placed at `place`, in sectors of
// `sectorSize` bytes; cluster 0 stands for `rootCluster`.
FatDirParseOutcome ParseFatDirBuffer(ByteView buf, const FatBufferPlace& place, uint32_t sectorSize,
                                     uint32_t rootCluster, FatDirEntrySink& sink);

}  // namespace dunmere
