#pragma once
// LZNT1, the compression of NTFS compressed files: a compression unit is a
// series of chunks of up to 4 KiB of output, each stored plain or compressed.
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"
#include "base/status.h"

namespace dunmere {

// Decompresses `in` into out[0, capacity). `produced` is the output length.
// 13 when a chunk refers back before its start or overruns its input.
// Output that would pass `capacity` is cut there.
Status Lznt1Decompress(ByteView in, uint8_t* out, size_t capacity, size_t& produced);

}  // namespace dunmere
