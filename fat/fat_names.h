#pragma once
// Names of FAT directory entries: the 8.3 short name and the long name
// assembled from its parts, both as UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/bytes.h"

namespace dunmere {

// The short name, lowered; a directory's extension is ignored. A deleted
// entry's lost first character becomes '!'. OEM (code page 437) characters
// become UTF-8; '/' and '\' become '_'.
std::string FormatShortName(ByteView entry, bool isDirectory);

// The name of a folder whose own entry is gone, found by its first cluster
// alone: "LostFolder<cluster>" (the 28 bits FAT32 uses).
std::string LostFolderName(uint32_t cluster);

// Collects long-name parts, stored last part first, into reading order.
class LongNameAssembler {
 public:
  static constexpr size_t kPartUnits = 13;
  static constexpr size_t kUnits = 260;

  LongNameAssembler() { Reset(); }
  void Reset();
  bool Empty() const { return pos_ == kUnits; }
  // Adds one part; false when a twentieth part would not fit.
  bool Add(ByteView lfnEntry);
  // The name so far as UTF-8 (empty when none), then starts over.
  std::string Take();

 private:
  char16_t units_[kUnits + 1] = {};
  size_t pos_ = kUnits;
};

}  // namespace dunmere
