#include "app/core/results/text_formats.h"

#include <cstdio>

namespace dunmere {

std::string FormatSize(int64_t n) {
  char buf[64];
  constexpr double kKB = 1024.0, kMB = kKB * 1024, kGB = kMB * 1024, kTB = kGB * 1024;
  if (n >= (int64_t(1) << 40))
    std::snprintf(buf, sizeof buf, "%.2f TB", double(n) / kTB);
  else if (n >= (int64_t(1) << 30))
    std::snprintf(buf, sizeof buf, "%.2f GB", double(n) / kGB);
  else if (n >= (int64_t(1) << 20))
    std::snprintf(buf, sizeof buf, "%.2f MB", double(n) / kMB);
  else if (n >= 1024)
    std::snprintf(buf, sizeof buf, "%.2f KB", double(n) / kKB);
  else
    std::snprintf(buf, sizeof buf, "%lld Bytes", (long long)n);
  return buf;
}

bool FileTimeToCivil(uint64_t ft, CivilTime& out) {
  if (ft >> 63) return false;
  int64_t secs = int64_t(ft / 10000000ULL);
  out.ticks = uint32_t(ft % 10000000ULL);
  int64_t days = secs / 86400;
  int64_t rem = secs % 86400;
  out.hour = int(rem / 3600);
  out.minute = int(rem % 3600 / 60);
  out.second = int(rem % 60);
  // Days since 1601-01-01 become days since 0000-03-01 (1970-01-01 is day
  // 719,468 of that count and 134,774 days after 1601-01-01); then the
  // civil-from-days algorithm over 400-year eras.
  int64_t z = days + 719468 - 134774;
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  out.day = int(doy - (153 * mp + 2) / 5 + 1);
  out.month = int(mp < 10 ? mp + 3 : mp - 9);
  out.year = y + (out.month <= 2 ? 1 : 0);
  return true;
}

std::string FormatFileTime(uint64_t ft) {
  CivilTime c;
  if (!FileTimeToCivil(ft, c)) return {};
  // Three of these per listed file: digits are put down by hand, which costs
  // a tenth of what snprintf does. "<year>-<m>-<d> hh:mm:ss".
  std::string out = std::to_string(c.year);
  auto unpadded = [&out](int v) {
    if (v >= 10) out += char('0' + v / 10);
    out += char('0' + v % 10);
  };
  auto two = [&out](int v) {
    out += char('0' + v / 10);
    out += char('0' + v % 10);
  };
  out += '-';
  unpadded(c.month);
  out += '-';
  unpadded(c.day);
  out += ' ';
  two(c.hour);
  out += ':';
  two(c.minute);
  out += ':';
  two(c.second);
  return out;
}

std::string FormatIso8601(uint64_t ft) {
  CivilTime c;
  if (ft == 0 || !FileTimeToCivil(ft, c)) return {};
  char buf[96];
  int n = std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02d", (long long)c.year, c.month, c.day, c.hour,
                        c.minute, c.second);
  if (c.ticks) n += std::snprintf(buf + n, sizeof buf - size_t(n), ".%07u", c.ticks);
  std::snprintf(buf + n, sizeof buf - size_t(n), "Z");
  return buf;
}

std::string FormatDuration(int64_t s) {
  char buf[64];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%lld Hour %lld Min", (long long)(s / 3600), (long long)(s % 3600 / 60));
  else if (s >= 60)
    std::snprintf(buf, sizeof buf, "%lld Min %lld Sec", (long long)(s / 60), (long long)(s % 60));
  else
    std::snprintf(buf, sizeof buf, "%lld Sec", (long long)s);
  return buf;
}

}  // namespace dunmere
