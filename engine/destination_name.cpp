#include "engine/destination_name.h"

#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "platform/file.h"
#include "platform/native_path.h"
#include "storage/disk_list.h"

namespace dunmere {

namespace {

std::string WithoutFinalSeparator(std::string p) {
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

}  // namespace

void SplitName(std::string_view name, std::string_view& stem, std::string_view& ext) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) {
    stem = name;
    ext = {};
  } else {
    stem = name.substr(0, dot);
    ext = name.substr(dot);
  }
}

std::string FitName(std::string_view stem, std::string_view suffix, std::string_view ext) {
  if (ext.size() + suffix.size() >= kMaxNameBytes) ext = ext.substr(0, Utf8CutLength(ext, kMaxNameBytes / 2));
  size_t room = kMaxNameBytes - suffix.size() - ext.size();
  std::string out(stem.substr(0, Utf8CutLength(stem, room)));
  out += suffix;
  out += ext;
  return out;
}

NameRule NameRuleOf(const std::string& destination) {
  if (SystemRefusesWindowsNames()) return NameRule::kWindows;
  // The folder may not be made yet: its file system is that of the nearest
  // one that is.
  std::filesystem::path at = NativePath(WithoutFinalSeparator(destination));
  std::error_code ec;
  while (!std::filesystem::exists(at, ec) && at.has_parent_path() && at.parent_path() != at) at = at.parent_path();
  std::string fsName;
  if (GetVolumeFsName(PathText(at), fsName) != kOk) return NameRule::kAsIs;
  for (const char* windows : {"NTFS", "FAT32", "FAT", "vfat", "exFAT"})
    if (fsName == windows) return NameRule::kWindows;
  return NameRule::kAsIs;
}

std::string DestinationName(std::string_view name, NameRule rule, NameOf kind) {
  std::string safe = kind == NameOf::kFolder ? SafeFolderComponent(name) : SafePathComponent(name);
  if (rule == NameRule::kWindows) safe = WindowsSafeComponent(safe);
  if (safe.size() <= kMaxNameBytes) return safe;
  std::string_view stem, ext;
  SplitName(safe, stem, ext);
  return FitName(stem, "", ext);
}

}  // namespace dunmere
