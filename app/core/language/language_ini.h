#pragma once
// INI files as the language table reads them: "config.ini" and the language
// files. Reading follows the profile functions of the platform the program
// came from: section and key names match without regard to case, blanks
// around keys and values are dropped, comment lines (";") and blank lines are
// skipped, a line without "=" is returned as it stands, and every result is
// cut to the caller's buffer size (in UTF-16 units, as those functions count).
// Files may be UTF-8 (with or without a byte-order mark) or UTF-16LE with one.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dunmere::app {

class IniFile {
 public:
  struct Line {
    std::string text;  // trimmed; "key=value" lines with blanks around "=" removed
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };

  // nullopt when the file cannot be read.
  static std::optional<IniFile> Load(const std::string& path);
  static IniFile Parse(std::string_view text);

  // Section names in file order, as a buffer of `bufferUnits` would hold them.
  std::vector<std::string> SectionNames(size_t bufferUnits) const;
  // A section's lines ("key=value", or the line itself without "="), as a
  // buffer of `bufferUnits` would hold them. Empty for an unknown section.
  std::vector<std::string> SectionLines(std::string_view section, size_t bufferUnits) const;
  // A key's value (surrounding quotes removed), cut to bufferUnits - 1 units;
  // `fallback` when the section or key is missing.
  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback,
                        size_t bufferUnits) const;

  const std::vector<Section>& Sections() const { return sections_; }

 private:
  const Section* Find(std::string_view section) const;
  std::vector<Section> sections_;
};

// Splits a line at its first "=": (before, after). A line without "=" is both.
std::pair<std::string, std::string> SplitIniLine(std::string_view line);

// Length in UTF-16 units of UTF-8 text, and the longest prefix within a limit
// (cut at a character boundary).
size_t Utf16Units(std::string_view utf8);
std::string CutToUtf16Units(std::string_view utf8, size_t units);

// Sets one key in an INI file, leaving every other byte of the file as it was:
// the key's line is replaced, or added at the end of its section, or the
// section is added at the end. The file is written to a temporary file beside
// it and renamed over it, so a crash leaves the old or the new file, never a
// half-written one. Returns false (file untouched) on any failure, or when
// section, key or value hold a line break (which would forge other lines).
bool WriteIniString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value);

// Decodes file bytes (UTF-8, UTF-8 with BOM, UTF-16LE/BE with BOM) into UTF-8.
std::string DecodeIniBytes(std::string_view bytes, bool* wasUtf16 = nullptr);

}  // namespace dunmere::app
