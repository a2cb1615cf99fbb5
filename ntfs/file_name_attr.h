#pragma once
// The value of a $FILE_NAME attribute: parent folder, times, size and name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/bytes.h"

namespace dunmere {

#pragma pack(push, 1)
struct FileNameValue {
  uint64_t parentReference;  // record number (48 bits) and sequence (16 bits)
  uint64_t created;
  uint64_t modified;
  uint64_t recordChanged;
  uint64_t accessed;
  uint64_t allocatedSize;
  uint64_t realSize;
  uint32_t fileAttributes;
  uint32_t reparseTag;
  uint8_t nameLength;  // UTF-16 units
  uint8_t nameSpace;   // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
  // followed by the name
};
#pragma pack(pop)
static_assert(sizeof(FileNameValue) == 66);
static_assert(offsetof(FileNameValue, created) == 8);
static_assert(offsetof(FileNameValue, modified) == 16);
static_assert(offsetof(FileNameValue, accessed) == 32);
static_assert(offsetof(FileNameValue, realSize) == 48);
static_assert(offsetof(FileNameValue, nameLength) == 64);
static_assert(offsetof(FileNameValue, nameSpace) == 65);

inline constexpr uint8_t kNameSpaceDos = 2;

struct FileNameInfo {
  uint64_t parentRecord = 0;  // 48-bit record number
  uint16_t parentSequence = 0;
  uint64_t created = 0, modified = 0, accessed = 0;
  uint64_t realSize = 0;
  uint8_t nameSpace = 0;
  std::string name;  // UTF-8
};

// False when the value is too short for its header or its name.
bool ParseFileName(ByteView value, FileNameInfo& out);

}  // namespace dunmere
