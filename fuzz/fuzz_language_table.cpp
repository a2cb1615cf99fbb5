// The language table over a program folder whose "config.ini" and language
// file are the fuzz bytes (split at the first NUL), written to a scratch
// folder and read through the real code.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "app/core/language/language_table.h"
#include "fuzz/fuzz_support.h"

using namespace dunmere;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t configLen = nul ? size_t(nul - data) : size;
  const uint8_t* lang = nul ? nul + 1 : data + size;
  const size_t langLen = size_t(data + size - lang);
  fuzz::ScratchDir dir("language");
  fuzz::WriteFile(dir / "config.ini", data, configLen);
  std::filesystem::create_directories(dir / "Languages");
  fuzz::WriteFile(dir / "Languages/English.ini", lang, langLen);
  auto table = std::make_unique<app::LanguageTable>(dir.path());
  // The file the chosen language names, when it is a plain name, holds the same texts.
  const std::string current = table->CurrentLanguage();
  if (current != "English" && app::LanguageTable::IsSafeLanguageName(current) && current.size() < 100) {
    fuzz::WriteFile(dir / ("Languages/" + current + ".ini"), lang, langLen);
    table = std::make_unique<app::LanguageTable>(dir.path());
  }
  for (const auto& [name, display] : table->Languages()) (void)app::LanguageTable::IsSafeLanguageName(name);
  auto section = table->Section("MainWnd");
  (void)app::LanguageTable::Text(section, "Caption");
  (void)table->Text("Messages", "MSG0101");
  return 0;
}
