#include "storage/disk_table.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>

#include "platform/sysfs.h"
#include "platform/system_disks.h"

namespace fs = std::filesystem;

namespace dunmere {

namespace {
std::mutex g_mutex;
std::vector<std::string> g_override;

}  // namespace

namespace {
// Disk families that number their disks with letters after a fixed prefix:
// sda .. sdz, sdaa .. (the kernel's own order, like a number in base 26).
size_t LetterNumberedPrefix(std::string_view run) {
  for (std::string_view p : {"xvd", "sd", "hd", "vd"})
    if (run.size() > p.size() && run.substr(0, p.size()) == p) return p.size();
  return std::string_view::npos;
}

int CompareLetters(std::string_view a, std::string_view b, bool first) {
  if (first) {
    size_t pa = LetterNumberedPrefix(a), pb = LetterNumberedPrefix(b);
    if (pa != std::string_view::npos && pa == pb && a.substr(0, pa) == b.substr(0, pb)) {
      a.remove_prefix(pa);
      b.remove_prefix(pb);
      if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    }
  }
  return a.compare(b);
}

int CompareDigits(std::string_view a, std::string_view b) {
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

// The next run of digits or of other characters.
std::string_view NextRun(std::string_view s, size_t& i) {
  size_t start = i;
  bool digits = isdigit(uint8_t(s[i]));
  while (i < s.size() && bool(isdigit(uint8_t(s[i]))) == digits) ++i;
  return s.substr(start, i - start);
}
}  // namespace

bool NaturalNameLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  bool first = true;
  while (i < a.size() && j < b.size()) {
    bool da = isdigit(uint8_t(a[i])), db = isdigit(uint8_t(b[j]));
    std::string_view ra = NextRun(a, i), rb = NextRun(b, j);
    int c = da && db ? CompareDigits(ra, rb) : da != db ? (da ? -1 : 1) : CompareLetters(ra, rb, first);
    if (c != 0) return c < 0;
    first = false;
  }
  return a.size() - i < b.size() - j;
}

std::vector<std::string> DiskTable::ScanSysfs(const std::string& sysBlock, const std::string& devDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& de : fs::directory_iterator(sysBlock, ec)) {
    std::string n = de.path().filename().string();
    if (n.rfind("ram", 0) == 0 || n.rfind("zram", 0) == 0) continue;
    if (ReadSysfsNumber((de.path() / "size").string()) == 0) continue;  // unattached loop, empty card reader
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
  // A system that numbers its disks itself is taken at its word, so that
  // disk N is the system's disk N.
  if (SystemDescribesDisks()) return SystemDiskPaths();
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
