#include "app/core/preview/missing_tool_notice.h"

#include <mutex>
#include <set>

namespace dunmere {
namespace {
std::mutex g_mutex;
std::set<std::string> g_told;
}  // namespace

std::string TakeMissingToolNotice(const std::string& tool, const std::string& debianPackage) {
  std::lock_guard lock(g_mutex);
  if (!g_told.insert(tool).second) return {};
  return "This preview needs \"" + tool + "\", which is not installed (Debian package " + debianPackage +
         "); the file's bytes are shown instead.";
}

void ResetMissingToolNotices() {
  std::lock_guard lock(g_mutex);
  g_told.clear();
}

}  // namespace dunmere
