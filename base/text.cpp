#include "base/text.h"

#include <cstring>

namespace dunmere {

size_t Utf8CutLength(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  size_t n = maxBytes;
  // Step back over continuation bytes so the cut never splits a character.
  while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

void CopyToField(char* field, size_t fieldSize, std::string_view text) {
  if (fieldSize == 0) return;
  std::memset(field, 0, fieldSize);
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  size_t n = Utf8CutLength(text, fieldSize - 1);
  std::memcpy(field, text.data(), n);
}

std::string FieldText(const char* field, size_t fieldSize) {
  const void* end = std::memchr(field, 0, fieldSize);
  size_t n = end ? size_t(static_cast<const char*>(end) - field) : fieldSize;
  return std::string(field, n);
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

int CompareNamesAsciiNoCase(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = uint8_t(a[i]), y = uint8_t(b[i]);
    if (x >= 'A' && x <= 'Z') x = uint8_t(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = uint8_t(y - 'A' + 'a');
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string ExtensionOf(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  // "notes.txt:comment" (a file's stream) has no extension: the file's is not the stream's.
  if (name.find(':', dot) != std::string_view::npos) return {};
  return AsciiLower(name.substr(dot + 1));
}

std::string StreamDestinationForm(std::string_view name) {
  const size_t colon = name.find(':');
  if (colon == std::string_view::npos || name.find(':', colon + 1) != std::string_view::npos)
    return std::string(name);
  const std::string_view file = name.substr(0, colon), stream = name.substr(colon + 1);
  size_t dot = stream.rfind('.');
  if (dot == 0 || dot == std::string_view::npos) dot = stream.size();
  return std::string(file) + " [" + std::string(stream.substr(0, dot)) + "]" + std::string(stream.substr(dot));
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

std::string Utf16ToUtf8(const char16_t* u, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = u[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    uint8_t b = uint8_t(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0 && i + 1 < s.size()) {
      cp = ((b & 0x1F) << 6) | (uint8_t(s[i + 1]) & 0x3F);
      len = 2;
    } else if ((b & 0xF0) == 0xE0 && i + 2 < s.size()) {
      cp = ((b & 0x0F) << 12) | ((uint8_t(s[i + 1]) & 0x3F) << 6) | (uint8_t(s[i + 2]) & 0x3F);
      len = 3;
    } else if ((b & 0xF8) == 0xF0 && i + 3 < s.size()) {
      cp = ((b & 0x07) << 18) | ((uint8_t(s[i + 1]) & 0x3F) << 12) | ((uint8_t(s[i + 2]) & 0x3F) << 6) |
           (uint8_t(s[i + 3]) & 0x3F);
      len = 4;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += char16_t(0xD800 + (cp >> 10));
      out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out += char16_t(cp);
    }
    i += len;
  }
  return out;
}

std::string JoinPathText(const std::string& folder, const std::string& name, std::string_view separators) {
  if (folder.empty()) return name;
  return separators.find(folder.back()) != std::string_view::npos ? folder + name : folder + "/" + name;
}

std::string LastPathName(const std::string& path, std::string_view separators) {
  auto separator = [&](char c) { return separators.find(c) != std::string_view::npos; };
  size_t end = path.size();
  while (end > 1 && separator(path[end - 1])) --end;
  size_t start = end;
  while (start > 0 && !separator(path[start - 1])) --start;
  return path.substr(start, end - start);
}

namespace {

std::string WithoutSeparators(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    if (c == '/' || c == '\\' || c == '\0')
      out += '_';
    else
      out += c;
  }
  if (out.empty() || out == "." || out == "..") out = "_" + out;
  return out;
}

}  // namespace

std::string SafePathComponent(std::string_view name) { return WithoutSeparators(StreamDestinationForm(name)); }

std::string SafeFolderComponent(std::string_view name) { return WithoutSeparators(name); }

namespace {

// A character Windows refuses in names (a '\\' too: SafePathComponent
// leaves none, but a caller may pass a name it did not clean).
bool RefusedByWindows(char c) { return std::string_view(":*?\"<>|\\").find(c) != std::string_view::npos; }

void AppendPercent(std::string& out, uint8_t c) {
  static const char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

// The name before its first dot, without the blanks Windows drops there,
// names a device of the system.
bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  const std::string lower = AsciiLower(stem);
  if (lower == "con" || lower == "prn" || lower == "aux" || lower == "nul" || lower == "conin$" || lower == "conout$")
    return true;
  if (lower.size() == 4 && (lower.compare(0, 3, "com") == 0 || lower.compare(0, 3, "lpt") == 0) &&
      lower[3] >= '0' && lower[3] <= '9')
    return true;
  // COM and LPT with a superscript digit one, two or three are devices too.
  return lower.size() == 5 && (lower.compare(0, 3, "com") == 0 || lower.compare(0, 3, "lpt") == 0) &&
         uint8_t(lower[3]) == 0xC2 && (uint8_t(lower[4]) == 0xB9 || uint8_t(lower[4]) == 0xB2 || uint8_t(lower[4]) == 0xB3);
}

}  // namespace

std::string WindowsSafeComponent(std::string_view name) {
  // Trailing dots and spaces are dropped by the Windows calls: the whole run
  // is spelled out.
  size_t tail = name.size();
  while (tail > 0 && (name[tail - 1] == '.' || name[tail - 1] == ' ')) --tail;
  std::string out;
  out.reserve(name.size() + 8);
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (i >= tail || RefusedByWindows(c) || uint8_t(c) < 0x20) AppendPercent(out, uint8_t(c));
    else out += c;
  }
  if (IsDeviceName(out)) {
    const size_t dot = out.find('.');
    out.insert(dot == std::string::npos ? out.size() : dot, "_");
  }
  return out;
}

}  // namespace dunmere
