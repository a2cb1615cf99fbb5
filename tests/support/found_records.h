#pragma once
// Made-up result records for the tests of the results page and its model:
// zeroed, with a name, an index, a size and where the record came from.
#include <cstdint>

#include "engine/found_item.h"

namespace dunmere::test {

FoundItemRecord MakeRecord(const char* name, uint32_t index, uint64_t size = 0, uint16_t tag = 'E',
                           uint32_t kind = kSourceQuickFat, bool contentOk = false);

}  // namespace dunmere::test
