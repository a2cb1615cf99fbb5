// The "_Relation" text of a record log: parsed as it stands on disk, and
// what parsed must come back the same through a second format and parse.
#include <cstdint>
#include <string_view>

#include "engine/relation_text.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RelationMap map = ParseRelationText(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string text = FormatRelationText(map);
  if (ParseRelationText(text) != map) __builtin_trap();
  return 0;
}
