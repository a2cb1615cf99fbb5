#pragma once
// Walks everything an engine found, as the windows do: folders level by level.
#include <map>
#include <string>

#include "engine/recovery_parse.h"

namespace dunmere::test {

// Copies every file below the top level into `dir` (numbered names) and maps
// the sha256 of each copy to its record.
std::multimap<std::string, FoundItemRecord> CopyOutEverything(IFileRecoveryParse& engine, const std::string& dir);

}  // namespace dunmere::test
