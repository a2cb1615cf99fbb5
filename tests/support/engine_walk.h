#pragma once
// Walks everything an engine found, as the windows do: folders level by level.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "engine/found_items.h"

namespace dunmere::test {

// Copies every file below the top level into `dir` (numbered names) and maps
// the sha256 of each copy to its record.
std::multimap<std::string, FoundItemRecord> CopyOutEverything(FoundItems& engine, const std::string& dir);

struct ListedFile {
  std::string path;  // folders as listed, "/"-separated, with the name
  FoundItemRecord record;
};
// Every file listed (not the folders), folder by folder from the top, at most `limit`.
std::vector<ListedFile> ListEveryFile(FoundItems& engine, size_t limit = 100000);
// Every listed file copied into `dir` (numbered names), keyed by the sha256 of
// its copy; files that could not be copied are left out.
std::multimap<std::string, ListedFile> CopyOutWithPaths(FoundItems& engine, const std::string& dir);

}  // namespace dunmere::test
