#include "ntfs/lznt1.h"

#include <cstring>

namespace dunmere {

namespace {
constexpr size_t kChunkBytes = 4096;

// One compressed chunk into out[0, cap); returns false on a bad back-reference.
bool DecompressChunk(ByteView c, uint8_t* out, size_t cap, size_t& produced) {
  size_t in = 0, pos = 0;
  while (in < c.size() && pos < cap) {
    uint8_t flags = c.U8(in++);
    for (int bit = 0; bit < 8 && in < c.size() && pos < cap; ++bit) {
      if (!(flags & (1 << bit))) {
        out[pos++] = c.U8(in++);
        continue;
      }
      if (!c.Has(in, 2)) return false;
      uint16_t token = c.U16(in);
      in += 2;
      unsigned lengthBits = 12;
      for (size_t p = pos - 1; p >= 0x10 && pos > 0; p >>= 1) --lengthBits;
      if (pos == 0) return false;
      size_t offset = (token >> lengthBits) + 1;
      size_t length = (token & ((1u << lengthBits) - 1)) + 3;
      if (offset > pos) return false;
      for (size_t i = 0; i < length && pos < cap; ++i, ++pos) out[pos] = out[pos - offset];
    }
  }
  produced = pos;
  return true;
}
}  // namespace

Status Lznt1Decompress(ByteView in, uint8_t* out, size_t capacity, size_t& produced) {
  produced = 0;
  size_t pos = 0;
  while (in.Has(pos, 2) && produced < capacity) {
    uint16_t header = in.U16(pos);
    if (header == 0) break;  // end of the unit's data
    size_t size = size_t(header & 0x0FFF) + 1;
    if (!in.Has(pos + 2, size)) return kInvalidData;
    ByteView chunk = in.Sub(pos + 2, size);
    size_t room = capacity - produced;
    size_t limit = room < kChunkBytes ? room : kChunkBytes;
    if (header & 0x8000) {
      size_t got = 0;
      if (!DecompressChunk(chunk, out + produced, limit, got)) return kInvalidData;
      // A chunk that ends early is followed by zeros up to the full chunk,
      // unless it is the last of the unit.
      produced += got;
      if (got < limit && in.Has(pos + 2 + size, 2) && in.U16(pos + 2 + size) != 0) {
        std::memset(out + produced, 0, limit - got);
        produced += limit - got;
      }
    } else {
      size_t take = size < limit ? size : limit;
      std::memcpy(out + produced, chunk.data(), take);
      produced += take;
    }
    pos += 2 + size;
  }
  return kOk;
}

}  // namespace dunmere
