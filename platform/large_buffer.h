#pragma once
// A buffer that data streams through at memory speed (the deep pass's
// read-ahead ring). Where the system allows, it is backed by large pages:
// the copy into it and the reads from it then go without a page-table walk
// every 4 KiB, which on a scan of an image in the page cache is worth about
// a tenth of the pass.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace dunmere {

struct LargeBufferFree {
  void operator()(uint8_t* p) const;
};
using LargeBuffer = std::unique_ptr<uint8_t[], LargeBufferFree>;

// At least `bytes`, not cleared; empty when there is no memory for it.
LargeBuffer AllocateLargeBuffer(size_t bytes);

}  // namespace dunmere
