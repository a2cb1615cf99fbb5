#pragma once
// The manifests the file-system fixture scripts write beside each image
// (IMAGE.manifest): one line a file, state<TAB>folder<TAB>name<TAB>sha256.
#include <string>
#include <vector>

namespace dunmere::test {

struct ManifestEntry {
  std::string state;   // live, deleted, overwritten, formatted
  std::string folder;  // "a/b/" or empty
  std::string name;
  std::string sha256;
};

// The entries of imagePath + ".manifest"; none when it cannot be read.
std::vector<ManifestEntry> ReadManifest(const std::string& imagePath);

}  // namespace dunmere::test
