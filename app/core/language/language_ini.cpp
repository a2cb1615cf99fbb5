#include "app/core/language/language_ini.h"

#include <fstream>
#include <sstream>

#include "base/text.h"
#include "platform/file.h"
#include "platform/native_path.h"

namespace dunmere::app {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) { return CompareNamesAsciiNoCase(a, b) == 0; }

// What the profile functions hand back: strings each ended by a NUL, the list
// ended by one more. When that does not fit into the buffer, the text is cut
// so that it and two NULs fill it, which may cut the last string.
std::vector<std::string> FitStrings(const std::vector<std::string>& items, size_t bufferUnits) {
  std::vector<std::string> out;
  if (bufferUnits < 2) return out;
  size_t room = bufferUnits - 2;
  size_t total = 1;
  for (const std::string& s : items) total += Utf16Units(s) + 1;
  if (total <= bufferUnits) return items;
  for (const std::string& s : items) {
    if (room == 0) break;
    const size_t len = Utf16Units(s);
    if (len + 1 <= room) {
      out.push_back(s);
      room -= len + 1;
    } else {
      std::string cut = CutToUtf16Units(s, room);
      if (!cut.empty()) out.push_back(std::move(cut));
      break;
    }
  }
  return out;
}

}  // namespace

size_t Utf16Units(std::string_view s) {
  size_t units = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte
    units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::string CutToUtf16Units(std::string_view s, size_t limit) {
  size_t units = 0;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    const size_t need = c >= 0xF0 ? 2 : 1;
    if (units + need > limit) break;
    units += need;
    i += len;
  }
  return std::string(s.substr(0, std::min(i, s.size())));
}

std::pair<std::string, std::string> SplitIniLine(std::string_view line) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return {std::string(line), std::string(line)};
  return {std::string(line.substr(0, eq)), std::string(line.substr(eq + 1))};
}

std::string DecodeIniBytes(std::string_view bytes, bool* wasUtf16) {
  if (wasUtf16) *wasUtf16 = false;
  if (bytes.size() >= 2 && ((uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) ||
                            (uint8_t(bytes[0]) == 0xFE && uint8_t(bytes[1]) == 0xFF))) {
    const bool big = uint8_t(bytes[0]) == 0xFE;
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const uint8_t a = uint8_t(bytes[i]), b = uint8_t(bytes[i + 1]);
      units.push_back(char16_t(big ? (a << 8 | b) : (b << 8 | a)));
    }
    if (wasUtf16) *wasUtf16 = true;
    return Utf16ToUtf8(units.data(), units.size());
  }
  if (bytes.size() >= 3 && uint8_t(bytes[0]) == 0xEF && uint8_t(bytes[1]) == 0xBB && uint8_t(bytes[2]) == 0xBF)
    bytes.remove_prefix(3);
  return std::string(bytes);
}

std::optional<IniFile> IniFile::Load(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream ss;
  ss << in.rdbuf();
  return Parse(DecodeIniBytes(ss.str()));
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  Section* current = nullptr;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.rfind(']');
      std::string_view name = close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
      ini.sections_.push_back(Section{std::string(Trim(name)), {}});
      current = &ini.sections_.back();
      continue;
    }
    if (!current) continue;  // lines before the first section belong to none
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      current->lines.push_back(Line{std::string(line)});
    } else {
      std::string joined(Trim(line.substr(0, eq)));
      joined += '=';
      joined += Trim(line.substr(eq + 1));
      current->lines.push_back(Line{std::move(joined)});
    }
    if (end == text.size()) break;
  }
  return ini;
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  for (const Section& s : sections_)
    if (SameName(s.name, section)) return &s;
  return nullptr;
}

std::vector<std::string> IniFile::SectionNames(size_t bufferUnits) const {
  std::vector<std::string> names;
  for (const Section& s : sections_) names.push_back(s.name);
  return FitStrings(names, bufferUnits);
}

std::vector<std::string> IniFile::SectionLines(std::string_view section, size_t bufferUnits) const {
  const Section* s = Find(section);
  if (!s) return {};
  std::vector<std::string> lines;
  for (const Line& l : s->lines) lines.push_back(l.text);
  return FitStrings(lines, bufferUnits);
}

std::string IniFile::GetString(std::string_view section, std::string_view key, std::string_view fallback,
                               size_t bufferUnits) const {
  std::string value(fallback);
  if (const Section* s = Find(section)) {
    for (const Line& l : s->lines) {
      const size_t eq = l.text.find('=');
      if (eq == std::string::npos || !SameName(std::string_view(l.text).substr(0, eq), key)) continue;
      std::string_view v = std::string_view(l.text).substr(eq + 1);
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      value = std::string(v);
      break;
    }
  }
  return bufferUnits == 0 ? std::string() : CutToUtf16Units(value, bufferUnits - 1);
}

bool WriteIniString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value) {
  auto hasBreak = [](std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; };
  if (section.empty() || key.empty() || hasBreak(section) || hasBreak(key) || hasBreak(value) ||
      key.find('=') != std::string_view::npos || section.find(']') != std::string_view::npos)
    return false;

  std::string original;
  bool exists = false;
  {
    std::ifstream in(NativePath(path), std::ios::binary);
    if (in) {
      std::stringstream ss;
      ss << in.rdbuf();
      original = ss.str();
      exists = true;
    }
  }
  bool utf16 = false;
  const std::string text = exists ? DecodeIniBytes(original, &utf16) : std::string();
  const bool bom8 = !utf16 && original.size() >= 3 && original.compare(0, 3, "\xEF\xBB\xBF") == 0;
  const std::string eol = text.find("\r\n") != std::string::npos || !exists ? "\r\n" : "\n";

  // Walk the lines, keeping each line's exact bytes.
  struct Raw {
    size_t begin, end;  // [begin, end) without the line break
  };
  std::vector<Raw> lines;
  for (size_t pos = 0; pos < text.size();) {
    size_t nl = text.find('\n', pos);
    const size_t stop = nl == std::string::npos ? text.size() : nl;
    size_t end = stop;
    if (end > pos && text[end - 1] == '\r') --end;
    lines.push_back({pos, end});
    pos = nl == std::string::npos ? text.size() : nl + 1;
  }
  const std::string newLine = std::string(key) + "=" + std::string(value);
  std::string out;
  size_t replaceAt = SIZE_MAX, insertAfter = SIZE_MAX;
  bool inSection = false, sectionSeen = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view l = Trim(std::string_view(text).substr(lines[i].begin, lines[i].end - lines[i].begin));
    if (!l.empty() && l.front() == '[') {
      if (sectionSeen) inSection = false;
      const size_t close = l.rfind(']');
      std::string_view name = Trim(close == std::string_view::npos ? l.substr(1) : l.substr(1, close - 1));
      if (!sectionSeen && SameName(name, section)) {
        inSection = sectionSeen = true;
        insertAfter = i;
      }
      continue;
    }
    if (!inSection || l.empty() || l.front() == ';') continue;
    insertAfter = i;
    const size_t eq = l.find('=');
    if (eq != std::string_view::npos && SameName(Trim(l.substr(0, eq)), key)) {
      replaceAt = i;
      break;
    }
  }
  if (replaceAt != SIZE_MAX) {
    out = text.substr(0, lines[replaceAt].begin) + newLine + text.substr(lines[replaceAt].end);
  } else if (sectionSeen) {
    // After the section's last entry: at the end of that line, before its break.
    const size_t at = lines[insertAfter].end;
    out = text.substr(0, at) + eol + newLine + text.substr(at);
  } else {
    out = text;
    if (!out.empty() && out.back() != '\n') out += eol;
    out += "[" + std::string(section) + "]" + eol + newLine + eol;
  }

  std::string bytes;
  if (utf16) {
    const std::u16string units = Utf8ToUtf16(out);
    bytes = "\xFF\xFE";
    for (char16_t u : units) {
      bytes.push_back(char(u & 0xFF));
      bytes.push_back(char(u >> 8));
    }
  } else {
    bytes = (bom8 ? "\xEF\xBB\xBF" : "") + out;
  }

  // Another copy of the program may write the same file at once: each goes
  // through a temporary of its own.
  return WriteFileAtomically(path, bytes.data(), bytes.size(), TempName::kPerProcess) == kOk;
}

}  // namespace dunmere::app
