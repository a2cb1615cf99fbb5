#include "platform/large_buffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace dunmere {

void LargeBufferFree::operator()(uint8_t* p) const { std::free(p); }

LargeBuffer AllocateLargeBuffer(size_t bytes) {
  constexpr size_t kLargePage = size_t(2) << 20;
  const size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
  void* p = std::aligned_alloc(kLargePage, rounded ? rounded : kLargePage);
  if (!p) return nullptr;
  // A hint: where large pages are off or short, the buffer keeps small ones.
  (void)madvise(p, rounded, MADV_HUGEPAGE);
  return LargeBuffer(static_cast<uint8_t*>(p));
}

}  // namespace dunmere
