#include "platform/native_path.h"

namespace dunmere {

std::filesystem::path NativePath(const std::string& utf8) { return std::filesystem::path(utf8); }
std::string PathText(const std::filesystem::path& path) { return path.string(); }
std::string ProgramPath(const std::string& typed) { return typed; }

namespace {
bool IsSeparator(char c) { return c == '/'; }
}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return IsSeparator(folder.back()) ? folder + name : folder + "/" + name;
}

std::string FileNameOf(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && IsSeparator(path[end - 1])) --end;
  size_t start = end;
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
  return path.substr(start, end - start);
}

}  // namespace dunmere
