#pragma once
// Reading the bytes of a non-resident attribute from its layout: plain runs,
// sparse runs and never-written tails as zeros, and LZNT1-compressed units.
// Shared by the engines that find a file's layout in different ways.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/status.h"
#include "ntfs/data_layout.h"

namespace dunmere {

// Reads `length` bytes at byte `volumeByte` from the start of the volume.
using VolumeReader = std::function<Status(uint64_t volumeByte, size_t length, uint8_t* dst)>;

// Streams the attribute's real size to `sink` in pieces of at most 64 KiB; a
// non-zero answer of the sink stops the read and becomes its result.
Status StreamDataLayout(const DataLayout& layout, uint32_t clusterBytes, const VolumeReader& read,
                        const std::function<int(const uint8_t*, size_t)>& sink);

}  // namespace dunmere
