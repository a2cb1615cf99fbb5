#pragma once
// The language table: the offered languages and the chosen one from
// "config.ini", and the texts of the chosen language from
// "Languages/<name>.ini", both in the program folder. Window captions come
// from a section named after the window, messages from "Messages" by id
// ("MSG0101" ...). A missing file, section or key gives empty texts; nothing
// is reported.
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace dunmere::app {

// The folder the program's data files ship in, with "/" separators and a
// trailing "/". $DUNMERE_PROGRAM_DIR overrides it. Otherwise it is the
// program's own folder when that holds "config.ini" (the layout of the
// original platform), else the nearest <ancestor>/share/dunmere/ holding one
// (installed: <prefix>/bin/x -> <prefix>/share/dunmere; build tree:
// build/app/gui/x -> build/share/dunmere), else the program's own folder.
std::string ProgramFolder();
// The same search from a given program folder (no override).
std::string ProgramFolderFor(const std::string& programDir);

class LanguageTable {
 public:
  using SectionMap = std::map<std::string, std::string>;
  using LanguageList = std::vector<std::pair<std::string, std::string>>;  // name, display text

  // Buffer sizes of the profile reads (UTF-16 units).
  static constexpr size_t kSectionNamesBuffer = 1024;
  static constexpr size_t kSectionBuffer = 10240;
  static constexpr size_t kLanguagesBuffer = 10240;
  static constexpr size_t kDefaultBuffer = 64;
  // Longest line kept: of "Languages", section names, language-file lines.
  static constexpr size_t kLanguageLineMax = 127;
  static constexpr size_t kSectionNameMax = 255;
  static constexpr size_t kTextLineMax = 1023;

  // The process-wide table, built from ProgramFolder() on first use.
  static LanguageTable& Instance();
  // A table of another folder (ends in "/" or not); built at once.
  explicit LanguageTable(std::string programFolder);

  // A copy of the section's map: windows keep what they looked up even when
  // the language changes later. An unknown section is added, empty.
  SectionMap Section(const std::string& name);
  // The text of key; an unknown key is added to the map with the empty text.
  static std::string Text(SectionMap& section, const std::string& key);
  // Looks up one text of one section.
  std::string Text(const std::string& section, const std::string& key);

  std::string CurrentLanguage() const;
  LanguageList Languages() const;
  // Writes name as the "Default" of "DefaultLanguage" in "config.ini", reads it
  // back as the current language and reloads the texts. False when the name is
  // not a plain file name or the file could not be written (nothing changes).
  bool SetLanguage(const std::string& name);

  // Keeps the user's choice in a file of the user's own (installed, the
  // program folder is not writable by users): its "DefaultLanguage"/"Default"
  // overrides that of "config.ini", and SetLanguage writes there, creating the
  // file and its folder. An empty path goes back to "config.ini" alone.
  void SetUserConfigPath(std::string path);

  // The user's own file; empty when none was set.
  std::string UserConfigPath() const;
  const std::string& ConfigPath() const { return configPath_; }
  const std::string& LanguagesFolder() const { return languagesFolder_; }
  // True when a language name can name a file in the languages folder.
  static bool IsSafeLanguageName(const std::string& name);

 private:
  void ReadConfig();
  void LoadTexts();

  mutable std::mutex mutex_;
  std::string configPath_;
  std::string userConfigPath_;
  std::string languagesFolder_;
  std::string current_;
  LanguageList languages_;
  std::map<std::string, SectionMap> sections_;
};

}  // namespace dunmere::app
