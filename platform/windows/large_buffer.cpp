#include "platform/large_buffer.h"

#include <cstdlib>

namespace dunmere {

// Large pages on Windows need a privilege a recovery tool should not ask
// for: plain memory.
void LargeBufferFree::operator()(uint8_t* p) const { std::free(p); }

LargeBuffer AllocateLargeBuffer(size_t bytes) {
  return LargeBuffer(static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1)));
}

}  // namespace dunmere
