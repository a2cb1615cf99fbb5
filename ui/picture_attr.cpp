#include "ui/picture_attr.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace dunmere::ui {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::optional<uint32_t> ParseColour(std::string_view s) {
  s = Trim(s);
  if (!s.empty() && s.front() == '#') s.remove_prefix(1);
  uint32_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
  if (ec != std::errc() || p != s.data() + s.size() || s.empty()) return std::nullopt;
  if (s.size() <= 6) v |= 0xFF000000u;
  return v;
}

}  // namespace

std::optional<PicRect> ParsePicRect(std::string_view text) {
  int v[4];
  size_t n = 0;
  while (n < 4) {
    text = Trim(text);
    int x = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), x);
    if (ec != std::errc()) return std::nullopt;
    v[n++] = x;
    text.remove_prefix(size_t(p - text.data()));
    text = Trim(text);
    if (n < 4) {
      if (text.empty() || text.front() != ',') return std::nullopt;
      text.remove_prefix(1);
    }
  }
  if (!Trim(text).empty()) return std::nullopt;
  return PicRect{v[0], v[1], v[2], v[3]};
}

PictureAttr ParsePictureAttr(std::string_view text) {
  PictureAttr a;
  text = Trim(text);
  if (text.find('=') == std::string_view::npos) {
    a.file = std::string(text);
    return a;
  }
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    const size_t keyStart = i;
    while (i < text.size() && text[i] != '=' && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    std::string_view key = text.substr(keyStart, i - keyStart);
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i >= text.size() || text[i] != '=') break;
    ++i;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    std::string_view value;
    if (i < text.size() && (text[i] == '\'' || text[i] == '"')) {
      const char q = text[i++];
      const size_t end = text.find(q, i);
      value = text.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
      i = end == std::string_view::npos ? text.size() : end + 1;
    } else {
      const size_t start = i;
      while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
      value = text.substr(start, i - start);
    }
    if (key == "file" || key == "res") a.file = std::string(value);
    else if (key == "source") a.source = ParsePicRect(value);
    else if (key == "dest") a.dest = ParsePicRect(value);
    else if (key == "corner") a.corner = ParsePicRect(value).value_or(PicRect{});
    else if (key == "mask") a.mask = ParseColour(value);
    else if (key == "fade") {
      int f = 255;
      std::from_chars(value.data(), value.data() + value.size(), f);
      a.fade = f < 0 ? 0 : f > 255 ? 255 : f;
    }
  }
  return a;
}

std::string FirstPictureToken(std::string_view text) {
  text = Trim(text);
  const size_t blank = text.find(' ');
  return std::string(blank == std::string_view::npos ? text : text.substr(0, blank));
}

}  // namespace dunmere::ui
