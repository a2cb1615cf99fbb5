#include "engine/relation_text.h"

namespace dunmere {

std::string FormatRelationText(const RelationMap& map) {
  std::string out;
  for (const auto& [key, list] : map) {
    out += " | ";
    out += std::to_string(key);
    out += " - [";
    for (size_t i = 0; i < list.size(); ++i) {
      if (i) out += ',';
      out += std::to_string(list[i]);
    }
    out += ']';
  }
  return out;
}

namespace {
// Reads an unsigned decimal at pos; false when there is no digit or it overflows.
bool ReadNumber(std::string_view t, size_t& pos, uint64_t& value) {
  size_t start = pos;
  value = 0;
  while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') {
    uint64_t d = uint64_t(t[pos] - '0');
    if (value > (UINT64_MAX - d) / 10) return false;
    value = value * 10 + d;
    ++pos;
  }
  return pos > start;
}
}  // namespace

RelationMap ParseRelationText(std::string_view t) {
  RelationMap map;
  size_t pos = 0;
  while ((pos = t.find(" | ", pos)) != std::string_view::npos) {
    pos += 3;
    uint64_t key = 0;
    if (!ReadNumber(t, pos, key)) break;
    size_t open = t.find("- [", pos);
    if (open == std::string_view::npos) break;
    pos = open + 3;
    std::vector<uint32_t> list;
    while (pos < t.size() && t[pos] != ']') {
      uint64_t v = 0;
      if (!ReadNumber(t, pos, v) || v > UINT32_MAX) return map;
      list.push_back(uint32_t(v));
      if (pos < t.size() && t[pos] == ',') ++pos;
    }
    if (pos >= t.size()) break;  // no closing "]": a cut-off piece
    map[key] = std::move(list);
    ++pos;
  }
  return map;
}

}  // namespace dunmere
