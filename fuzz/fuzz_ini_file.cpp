// The INI reader of "config.ini" and the language files: the bytes decoded
// (UTF-8, UTF-16 with a byte-order mark), parsed, and looked up the way the
// language table looks them up.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/core/language/language_ini.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bool utf16 = false;
  const std::string text = app::DecodeIniBytes(bytes, &utf16);
  app::IniFile ini = app::IniFile::Parse(text);
  for (const std::string& section : ini.SectionNames(1024)) {
    for (const std::string& line : ini.SectionLines(section, 10240)) {
      auto [key, value] = app::SplitIniLine(line);
      (void)ini.GetString(section, key, "", 64);
      (void)app::CutToUtf16Units(value, 7);
    }
  }
  (void)ini.GetString("DefaultLanguage", "Default", "English", 64);
  (void)app::Utf16Units(text);
  return 0;
}
