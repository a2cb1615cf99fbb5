#pragma once
// Just enough JSON for the command line's output: escaped strings and flat
// objects written in order.
#include <cstdint>
#include <string>
#include <string_view>

namespace dunmere::cli {

// A JSON string literal with quotes. Bytes that are not valid UTF-8 become U+FFFD.
std::string JsonString(std::string_view s);

// Builds one object: {"a":1,"b":"x"}.
class JsonObject {
 public:
  JsonObject& Str(std::string_view key, std::string_view value);
  // null when the value is empty.
  JsonObject& StrOrNull(std::string_view key, std::string_view value);
  JsonObject& Num(std::string_view key, int64_t value);
  JsonObject& UNum(std::string_view key, uint64_t value);
  JsonObject& Bool(std::string_view key, bool value);
  JsonObject& Raw(std::string_view key, std::string_view json);
  std::string Text() const { return text_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string text_ = "{";
  bool first_ = true;
};

}  // namespace dunmere::cli
