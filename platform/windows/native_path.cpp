#include "platform/native_path.h"

#include "base/text.h"

#include "platform/windows/win_util.h"

namespace dunmere {

std::filesystem::path NativePath(const std::string& utf8) {
  if (utf8.empty()) return {};
  std::wstring full = win::LongPath(utf8);
  // The library's canonical forms do not understand the \\?\ prefix: a path
  // short enough for the plain form goes without it (the long form is only
  // needed past MAX_PATH, and for names ending in dots or blanks, which
  // copy-out never writes).
  if (full.size() < MAX_PATH - 12) {
    if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) full = L"\\\\" + full.substr(8);
    else if (full.rfind(L"\\\\?\\", 0) == 0) full = full.substr(4);
  }
  return std::filesystem::path(full);
}

std::string PathText(const std::filesystem::path& path) {
  std::wstring w = path.native();
  if (w.rfind(L"\\\\?\\UNC\\", 0) == 0) w = L"\\\\" + w.substr(8);
  else if (w.rfind(L"\\\\?\\", 0) == 0) w = w.substr(4);
  std::string out = win::Narrow(w);
  // Device names keep their own spelling (\\.\E:).
  if (!win::IsDevicePath(out))
    for (char& c : out)
      if (c == '\\') c = '/';
  return out;
}

std::string ProgramPath(const std::string& typed) {
  if (win::IsDevicePath(typed)) return typed;
  std::string out = typed;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

namespace {
constexpr std::string_view kSeparators = "/\\";
}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  return JoinPathText(folder, name, kSeparators);
}

std::string FileNameOf(const std::string& path) { return LastPathName(path, kSeparators); }

}  // namespace dunmere
