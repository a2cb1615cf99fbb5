#pragma once
// The "_Relation" companion of a record log: " | key - [i,j,...]" per key in
// ascending key order, no line breaks.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/found_item.h"

namespace dunmere {

using RelationMap = std::map<RelationKey, std::vector<uint32_t>>;

std::string FormatRelationText(const RelationMap& map);
// Tolerates damage: a piece that does not parse ends the parse, keeping what came before.
RelationMap ParseRelationText(std::string_view text);

}  // namespace dunmere
