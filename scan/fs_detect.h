#pragma once
// Which file system the first 16 KiB of a partition or image hold.
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

namespace dunmere {

enum class FsKind : int { kFat = 2, kNtfs = 3, kExt = 4, kOther = 5 };

inline constexpr size_t kDetectBytes = 16384;

// The ext2/3/4 superblock at offset 1024.
bool IsExtSuperblock(ByteView b);
FsKind DetectFileSystem(ByteView first16k);

}  // namespace dunmere
