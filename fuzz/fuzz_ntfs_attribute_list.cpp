// The entries of an $ATTRIBUTE_LIST value.
#include <cstdint>

#include "ntfs/attribute_list.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto entries = ParseAttributeList(ByteView(data, size));
  if (entries.size() > size / 26 + 1) __builtin_trap();  // no entry without its header's bytes
  (void)ParseAttributeList(ByteView(data, size), 3);
  return 0;
}
