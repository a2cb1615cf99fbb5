#include "storage/disk_table.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>

namespace fs = std::filesystem;

namespace dunmere {

namespace {
std::mutex g_mutex;
std::vector<std::string> g_override;

uint64_t ReadNumberFile(const fs::path& p) {
  std::ifstream in(p);
  uint64_t v = 0;
  in >> v;
  return in ? v : 0;
}
}  // namespace

bool NaturalNameLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (isdigit(uint8_t(a[i])) && isdigit(uint8_t(b[j]))) {
      size_t i2 = i, j2 = j;
      while (i2 < a.size() && isdigit(uint8_t(a[i2]))) ++i2;
      while (j2 < b.size() && isdigit(uint8_t(b[j2]))) ++j2;
      std::string na = a.substr(i, i2 - i), nb = b.substr(j, j2 - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = i2;
      j = j2;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::vector<std::string> DiskTable::ScanSysfs(const std::string& sysBlock, const std::string& devDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& de : fs::directory_iterator(sysBlock, ec)) {
    std::string n = de.path().filename().string();
    if (n.rfind("ram", 0) == 0 || n.rfind("zram", 0) == 0) continue;
    if (ReadNumberFile(de.path() / "size") == 0) continue;  // unattached loop, empty card reader
    names.push_back(n);
  }
  std::sort(names.begin(), names.end(), NaturalNameLess);
  for (auto& n : names) n = (fs::path(devDir) / n).string();
  return names;
}

std::vector<std::string> DiskTable::Devices() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_override.empty()) return g_override;
  }
  return ScanSysfs();
}

std::string DiskTable::DevicePath(uint32_t index) {
  std::vector<std::string> d = Devices();
  return index < d.size() ? d[index] : std::string();
}

int DiskTable::IndexOf(const std::string& path) {
  std::vector<std::string> d = Devices();
  auto it = std::find(d.begin(), d.end(), path);
  return it == d.end() ? -1 : int(it - d.begin());
}

void DiskTable::SetOverride(std::vector<std::string> paths) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_override = std::move(paths);
}

}  // namespace dunmere
