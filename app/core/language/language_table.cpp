#include "app/core/language/language_table.h"


#include <cstdlib>
#include <filesystem>

#include "app/core/language/language_ini.h"
#include "platform/native_path.h"
#include "platform/this_process.h"

namespace dunmere::app {

namespace fs = std::filesystem;

std::string ProgramFolderFor(const std::string& programDir) {
  std::error_code ec;
  const fs::path exeDir = NativePath(programDir);
  fs::path found = exeDir;
  // Beside the program first; else <prefix>/share/dunmere for a program in
  // <prefix>/bin, or in a folder of the build tree a few levels down.
  if (!fs::exists(exeDir / "config.ini", ec)) {
    fs::path up = exeDir;
    for (int level = 0; level < 4 && up.has_parent_path() && up != up.parent_path(); ++level) {
      up = up.parent_path();
      if (fs::exists(up / "share" / "dunmere" / "config.ini", ec)) {
        found = up / "share" / "dunmere";
        break;
      }
    }
  }
  std::string dir = PathText(found.lexically_normal());
  for (char& c : dir)
    if (c == '\\') c = '/';
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string ProgramFolder() {
  static const std::string folder = [] {
    if (const char* env = std::getenv("DUNMERE_PROGRAM_DIR"); env && *env) {
      std::string dir = env;
      if (dir.back() != '/') dir += '/';
      return dir;
    }
    const std::string exe = ProgramFilePath();
    std::error_code ec;
    return ProgramFolderFor(exe.empty() ? PathText(fs::current_path(ec)) : PathText(NativePath(exe).parent_path()));
  }();
  return folder;
}

LanguageTable& LanguageTable::Instance() {
  static LanguageTable table(ProgramFolder());
  return table;
}

LanguageTable::LanguageTable(std::string programFolder) {
  if (!programFolder.empty() && programFolder.back() != '/') programFolder += '/';
  configPath_ = programFolder + "config.ini";
  languagesFolder_ = programFolder + "Languages/";
  ReadConfig();
  LoadTexts();
}

bool LanguageTable::IsSafeLanguageName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 64) return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == '/' || c == '\\' || c == ':' || c == '=' || c == '[' || c == ']') return false;
  return true;
}

void LanguageTable::ReadConfig() {
  const std::optional<IniFile> config = IniFile::Load(configPath_);
  current_ = config ? config->GetString("DefaultLanguage", "Default", "English", kDefaultBuffer) : "English";
  languages_.clear();
  if (!config) return;
  for (const std::string& line : config->SectionLines("Languages", kLanguagesBuffer)) {
    auto [name, display] = SplitIniLine(CutToUtf16Units(line, kLanguageLineMax));
    languages_.emplace_back(std::move(name), std::move(display));
  }
  if (userConfigPath_.empty()) return;
  if (const std::optional<IniFile> user = IniFile::Load(userConfigPath_)) {
    const std::string chosen = user->GetString("DefaultLanguage", "Default", "", kDefaultBuffer);
    if (!chosen.empty()) current_ = chosen;
  }
}

void LanguageTable::LoadTexts() {
  sections_.clear();
  // A name that could leave the languages folder ("../x") is never read; it,
  // or a language whose file is gone, gives English rather than a window
  // without a word on it.
  std::optional<IniFile> file;
  if (IsSafeLanguageName(current_)) file = IniFile::Load(languagesFolder_ + current_ + ".ini");
  if (!file) file = IniFile::Load(languagesFolder_ + "English.ini");
  if (!file) return;
  for (const std::string& rawName : file->SectionNames(kSectionNamesBuffer)) {
    const std::string name = CutToUtf16Units(rawName, kSectionNameMax);
    SectionMap& map = sections_[name];
    for (const std::string& line : file->SectionLines(name, kSectionBuffer)) {
      auto [key, text] = SplitIniLine(CutToUtf16Units(line, kTextLineMax));
      map[key] = std::move(text);
    }
  }
}

LanguageTable::SectionMap LanguageTable::Section(const std::string& name) {
  std::lock_guard lock(mutex_);
  return sections_[name];
}

std::string LanguageTable::Text(SectionMap& section, const std::string& key) { return section[key]; }

std::string LanguageTable::Text(const std::string& section, const std::string& key) {
  std::lock_guard lock(mutex_);
  auto s = sections_.find(section);
  if (s == sections_.end()) return {};
  auto t = s->second.find(key);
  return t == s->second.end() ? std::string() : t->second;
}

std::string LanguageTable::CurrentLanguage() const {
  std::lock_guard lock(mutex_);
  return current_;
}

LanguageTable::LanguageList LanguageTable::Languages() const {
  std::lock_guard lock(mutex_);
  return languages_;
}

bool LanguageTable::SetLanguage(const std::string& name) {
  if (!IsSafeLanguageName(name)) return false;
  std::lock_guard lock(mutex_);
  if (!userConfigPath_.empty()) {
    std::error_code ec;
    const fs::path parent = NativePath(userConfigPath_).parent_path();
    if (!parent.empty()) fs::create_directories(parent, ec);
  }
  if (!WriteIniString(userConfigPath_.empty() ? configPath_ : userConfigPath_, "DefaultLanguage", "Default", name))
    return false;
  ReadConfig();
  LoadTexts();
  return true;
}

std::string LanguageTable::UserConfigPath() const {
  std::lock_guard lock(mutex_);
  return userConfigPath_;
}

void LanguageTable::SetUserConfigPath(std::string path) {
  std::lock_guard lock(mutex_);
  userConfigPath_ = std::move(path);
  ReadConfig();
  LoadTexts();
}

}  // namespace dunmere::app
