#include "tests/support/found_records.h"

#include <cstring>

namespace dunmere::test {

FoundItemRecord MakeRecord(const char* name, uint32_t index, uint64_t size, uint16_t tag, uint32_t kind,
                           bool contentOk) {
  FoundItemRecord r;
  std::memset(&r, 0, sizeof r);  // the padding too: records are compared as bytes
  SetRecordName(r, name);
  r.recordIndex = index;
  r.size = size;
  r.sourceTag = tag;
  r.sourceKind = kind;
  r.contentOk = contentOk ? 1 : 0;
  return r;
}

}  // namespace dunmere::test
