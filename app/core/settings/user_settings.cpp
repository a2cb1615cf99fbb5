#include "app/core/settings/user_settings.h"

#include <filesystem>
#include <optional>

#include "app/core/language/language_ini.h"
#include "app/core/language/language_table.h"
#include "platform/native_path.h"

namespace dunmere::app {

std::string UserSetting(const std::string& section, const std::string& key) {
  const std::string path = LanguageTable::Instance().UserConfigPath();
  if (path.empty()) return {};
  const std::optional<IniFile> file = IniFile::Load(path);
  return file ? file->GetString(section, key, "", LanguageTable::kTextLineMax + 1) : std::string();
}

bool SetUserSetting(const std::string& section, const std::string& key, const std::string& value) {
  const std::string path = LanguageTable::Instance().UserConfigPath();
  if (path.empty()) return false;
  std::error_code ec;
  const std::filesystem::path parent = NativePath(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  return WriteIniString(path, section, key, value);
}

}  // namespace dunmere::app
