#include "platform/sysfs.h"

#include <fstream>

namespace dunmere {

uint64_t ReadSysfsNumber(const std::string& path, uint64_t fallback) {
  std::ifstream in(path);
  uint64_t v = 0;
  return (in >> v) ? v : fallback;
}

std::string ReadSysfsLine(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  return s;
}

bool ReadSysfsDevNumber(const std::string& path, unsigned& major, unsigned& minor) {
  std::ifstream in(path);
  char colon = 0;
  return (in >> major >> colon >> minor) && colon == ':';
}

}  // namespace dunmere
