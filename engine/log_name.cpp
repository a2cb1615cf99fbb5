#include "engine/log_name.h"

#include <cstdio>

namespace dunmere {

std::string FormatLogName(const char* prefix, uint64_t start, const struct tm& t) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%s%llu_%d%d%d%d%2d", prefix, (unsigned long long)start, t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
  return buf;
}

}  // namespace dunmere
