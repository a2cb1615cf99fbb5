#include "tests/support/manifest.h"

#include <fstream>
#include <sstream>

namespace dunmere::test {

std::vector<ManifestEntry> ReadManifest(const std::string& imagePath) {
  std::vector<ManifestEntry> out;
  std::ifstream in(imagePath + ".manifest");
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream ss(line);
    ManifestEntry e;
    std::getline(ss, e.state, '\t');
    std::getline(ss, e.folder, '\t');
    std::getline(ss, e.name, '\t');
    std::getline(ss, e.sha256, '\t');
    if (!e.state.empty()) out.push_back(e);
  }
  return out;
}

}  // namespace dunmere::test
