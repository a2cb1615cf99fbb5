#include "platform/native_path.h"

#include "base/text.h"

namespace dunmere {

std::filesystem::path NativePath(const std::string& utf8) { return std::filesystem::path(utf8); }
std::string PathText(const std::filesystem::path& path) { return path.string(); }
std::string ProgramPath(const std::string& typed) { return typed; }

namespace {
constexpr std::string_view kSeparators = "/";
}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  return JoinPathText(folder, name, kSeparators);
}

std::string FileNameOf(const std::string& path) { return LastPathName(path, kSeparators); }

}  // namespace dunmere
