#pragma once
// The check the file-system engines make on a found file: do its first bytes
// still hold the format its extension promises? The answer sets contentOk.
#include <cstdint>
#include <functional>
#include <string_view>

#include "base/bytes.h"

namespace dunmere {

class SectorSource;

struct ContentSample {
  std::string_view extension;  // lower case, no dot
  ByteView firstBytes;         // the first sector of the data, or resident data
  // Where the data lies, for formats whose check reads further; source may be null.
  const SectorSource* source = nullptr;
  uint32_t sectorSize = 512;
  uint64_t absoluteSector = 0;
};

// Empty: every file is accepted.
using ContentCheck = std::function<bool(const ContentSample&)>;

}  // namespace dunmere
