#include "app/core/recover/recovery_paths.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "app/core/results/file_categories.h"
#include "base/text.h"
#include "platform/file.h"
#include "platform/native_path.h"

namespace dunmere {

std::string StripTrailingSeparator(std::string p) {
  if (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

namespace {

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

std::string CategoryDestination(const std::string& root, std::string_view name, NameRule rule, NameOf kind) {
  return Join(Join(StripTrailingSeparator(root), CategoryOfName(name)), DestinationName(name, rule, kind));
}

std::string TreeDestination(const std::string& root, std::string_view folderPath, std::string_view name,
                            NameRule rule, NameOf kind) {
  std::string out = StripTrailingSeparator(root);
  size_t start = 0;
  while (start < folderPath.size()) {
    size_t slash = folderPath.find('/', start);
    if (slash == std::string_view::npos) slash = folderPath.size();
    if (slash > start)
      out = Join(out, DestinationName(folderPath.substr(start, slash - start), rule, NameOf::kFolder));
    start = slash + 1;
  }
  return Join(out, DestinationName(name, rule, kind));
}

bool PathExistsOnDisk(const std::string& path) { return PathKindOf(path, Links::kNoFollow) != PathKind::kNone; }

std::string MakeUniquePath(const std::string& path, const PathExists& exists) {
  if (!exists(path)) return path;
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string_view stem, ext;
  SplitName(name, stem, ext);
  for (uint32_t n = 1; n < 1000000; ++n) {
    std::string candidate = folder + FitName(stem, "(" + std::to_string(n) + ")", ext);
    if (!exists(candidate)) return candidate;
  }
  return {};
}

int SeparatorCount(std::string_view p) {
  int n = 0;
  for (size_t i = 0; i < p.size(); ++i)
    if (p[i] == '/' && i + 1 != p.size()) ++n;
  return n;
}

uint32_t FolderDepth(std::string_view folderPath) {
  uint32_t n = 0;
  for (char c : folderPath)
    if (c == '/') ++n;
  return n;
}

int LevelBaseFor(const std::string& destination, uint32_t folderLevel) {
  // The engine lists a queued folder's children at
  // separators(folder destination) - levelBase; for the chosen folder that
  // must be its level + 1.
  return SeparatorCount(destination) - int(folderLevel) - 1;
}

Status MakeFoldersBelow(const std::string& rootIn, const std::string& folderIn) {
  const std::string root = StripTrailingSeparator(rootIn);
  const std::string folder = StripTrailingSeparator(folderIn);
  if (folder != root && (folder.size() <= root.size() || folder.compare(0, root.size(), root) != 0 ||
                         (root != "/" && folder[root.size()] != '/')))
    return kAccessDenied;
  // The root is the user's choice and may be reached through links; below it
  // every step is checked.
  std::error_code why;
  PathKind rootKind = PathKindOf(root, Links::kFollow);
  if (rootKind == PathKind::kNone) {
    if (Status s = MakeFolder(root); s && s != kAlreadyExists) return s;
    rootKind = PathKindOf(root, Links::kFollow, why);
    if (rootKind == PathKind::kNone) return StatusFromErrno(why.value());
  }
  if (rootKind != PathKind::kFolder) return kPathNotFound;
  std::vector<std::string> parts;
  size_t pos = root.size();
  while (pos < folder.size()) {
    size_t start = folder[pos] == '/' ? pos + 1 : pos;
    size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    std::string part = folder.substr(start, end - start);
    pos = end;
    if (part.empty()) continue;
    if (part == "." || part == "..") return kAccessDenied;
    parts.push_back(std::move(part));
  }
  // One folder at a time from the root, no link followed (also one swapped
  // in after an earlier check).
  return MakeFolderChain(root, parts);
}

bool CanWriteInto(const std::string& folder, std::string& why) {
  static std::atomic<uint64_t> serial{0};
  const uint64_t tag = (uint64_t(std::random_device{}()) << 20) ^ ++serial;
  // A folder not made yet is made by copy-out inside the nearest one that is there.
  std::filesystem::path at = NativePath(StripTrailingSeparator(folder));
  std::error_code ec;
  while (!std::filesystem::exists(at, ec) && at.has_parent_path() && at.parent_path() != at) at = at.parent_path();
  const std::string probe = (at / (".dunmere-write-test-" + std::to_string(tag))).string();
  // "x": never opens (and so never removes) a file someone else has there.
  std::FILE* f = std::fopen(probe.c_str(), "wbx");
  if (!f) {
    why = std::generic_category().message(errno);
    return false;
  }
  const bool written = std::fputc('x', f) != EOF;
  const bool closed = std::fclose(f) == 0;
  const int err = errno;
  std::remove(probe.c_str());
  if (!written || !closed) {
    why = std::generic_category().message(err ? err : EIO);
    return false;
  }
  return true;
}

}  // namespace dunmere
