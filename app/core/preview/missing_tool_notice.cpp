#include "app/core/preview/missing_tool_notice.h"

#include <mutex>

#include "app/core/language/language_table.h"
#include "app/core/language/message_format.h"
#include <set>

namespace dunmere {
namespace {
std::mutex g_mutex;
std::set<std::string> g_told;
}  // namespace

std::string TakeMissingToolNotice(const std::string& tool, const std::string& debianPackage,
                                  MissingToolFallback fallback) {
  {
    std::lock_guard lock(g_mutex);
    if (!g_told.insert(tool).second) return {};
  }
  const char* id = fallback == MissingToolFallback::kBytes ? "MSG0908" : "MSG0907";
  return FormatMessage(app::LanguageTable::Instance().Text("Messages", id), {tool, debianPackage});
}

void ResetMissingToolNotices() {
  std::lock_guard lock(g_mutex);
  g_told.clear();
}

}  // namespace dunmere
