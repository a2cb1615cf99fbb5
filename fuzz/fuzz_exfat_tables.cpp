// The exFAT tables read from the cluster heap and before it: the up-case
// table (stored compressed), the FAT's chains and the allocation bitmap. The
// first 8 bytes choose a chain's start and length; the rest is the table.
#include <cstdint>
#include <vector>

#include "exfat/exfat_bitmap.h"
#include "exfat/exfat_fat.h"
#include "exfat/exfat_upcase.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const uint32_t first = Le32(data);
  const uint64_t want = Le32(data + 4);
  ByteView table(data + 8, size - 8);

  ExfatUpcaseTable up;
  if (up.Load(table)) (void)ExfatNameHash(u"Name.TXT", up);
  (void)ExfatTableChecksum(table);

  const uint32_t maxCluster = uint32_t(table.size() / 4);
  std::vector<uint32_t> chain;
  (void)FollowExfatChain(first, want, maxCluster,
                         [&](uint32_t c, uint32_t& v) { return DecodeExfatFatEntry(table, 0, c, v); }, chain);
  // Never longer than asked for, never a cluster outside the heap.
  if (chain.size() > want) __builtin_trap();
  for (uint32_t c : chain)
    if (c < 2 || c > maxCluster) __builtin_trap();

  ExfatAllocationBitmap bitmap(table, uint32_t(table.size() * 8 + (first & 7)));
  const uint64_t c = first % (bitmap.MaxCluster() + 2);
  const uint32_t free = bitmap.NextFree(c);
  if (free && (bitmap.InUse(free) || free < c)) __builtin_trap();
  const uint64_t end = bitmap.RunEnd(c);
  if (end <= c && c >= 2 && c <= bitmap.MaxCluster()) __builtin_trap();
  (void)bitmap.AnyInUse(c, want);
  return 0;
}
