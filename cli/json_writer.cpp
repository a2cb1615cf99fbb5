#include "cli/json_writer.h"

#include <cstdio>

namespace dunmere::cli {

namespace {
// Length of the valid UTF-8 sequence at s[i], 0 when invalid.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  uint8_t c = uint8_t(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return 0;
  if (n == 2 && c < 0xC2) return 0;  // overlong
  return n;
}
}  // namespace

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (size_t i = 0; i < s.size();) {
    uint8_t c = uint8_t(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
      ++i;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
      ++i;
    } else if (c < 0x80) {
      out += char(c);
      ++i;
    } else if (size_t n = Utf8SequenceLength(s, i)) {
      out.append(s.substr(i, n));
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out + "\"";
}

void JsonObject::Key(std::string_view key) {
  if (!first_) text_ += ",";
  first_ = false;
  text_ += JsonString(key) + ":";
}

JsonObject& JsonObject::Str(std::string_view key, std::string_view value) {
  Key(key);
  text_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::StrOrNull(std::string_view key, std::string_view value) {
  Key(key);
  text_ += value.empty() ? std::string("null") : JsonString(value);
  return *this;
}

JsonObject& JsonObject::Num(std::string_view key, int64_t v) {
  Key(key);
  text_ += std::to_string(v);
  return *this;
}

JsonObject& JsonObject::UNum(std::string_view key, uint64_t v) {
  Key(key);
  text_ += std::to_string(v);
  return *this;
}

JsonObject& JsonObject::Bool(std::string_view key, bool v) {
  Key(key);
  text_ += v ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view json) {
  Key(key);
  text_ += json;
  return *this;
}

}  // namespace dunmere::cli
