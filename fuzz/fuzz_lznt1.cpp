// LZNT1 compression units of compressed NTFS files.
#include <cstdint>
#include <vector>

#include "ntfs/lznt1.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the output room: a whole 64 KiB unit, or less.
  static const size_t kRooms[] = {65536, 4096, 4095, 1, 0, 16384, 8192, 100};
  size_t capacity = kRooms[data[0] & 7];
  std::vector<uint8_t> out(capacity);
  size_t produced = 0;
  (void)Lznt1Decompress(ByteView(data + 1, size - 1), out.data(), capacity, produced);
  if (produced > capacity) __builtin_trap();
  return 0;
}
