#include "app/core/results/result_sort.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/core/results/result_groups.h"

namespace dunmere {

bool ParseResultColumn(std::string_view name, ResultColumn& out) {
  static constexpr std::pair<std::string_view, ResultColumn> kNames[] = {
      {"FileName", ResultColumn::kName},      {"Size", ResultColumn::kSize},
      {"ModifiedTime", ResultColumn::kModified}, {"CreatedTime", ResultColumn::kCreated},
      {"Path", ResultColumn::kPath},          {"Type", ResultColumn::kType},
  };
  for (const auto& [n, c] : kNames)
    if (n == name) {
      out = c;
      return true;
    }
  return false;
}

int SortDirections::Click(ResultColumn c) {
  int& d = dir_[int(c)];
  switch (c) {
    case ResultColumn::kName:
    case ResultColumn::kType:
      d = d == 1 ? -1 : 1;
      break;
    case ResultColumn::kSize:
    case ResultColumn::kModified:
    case ResultColumn::kCreated:
      d = d == -1 ? 1 : -1;
      break;
    case ResultColumn::kPath:
      break;
  }
  return d;
}

void SortDirections::Reset() { std::fill(std::begin(dir_), std::end(dir_), 0); }

std::string_view TypeText(const FoundItemRecord& r) {
  if (r.isFolder) return "folder";
  const std::string_view name = RecordNameView(r);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return "file";
  return name.substr(dot + 1);
}

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

struct Item {
  uint64_t key;       // the value, or the first 8 bytes of the lower-cased text
  uint64_t key2 = 0;  // text: the next 8 bytes
  uint32_t pos;       // position before the sort: equal keys keep it
  uint32_t row;
  uint32_t textAt = 0, textLen = 0;  // text columns: the lower-cased text in the arena
};

uint64_t Prefix(const char* s, size_t n) {
  uint64_t k = 0;
  for (size_t i = 0; i < 8; ++i) k = (k << 8) | (i < n ? uint8_t(s[i]) : 0);
  return k;
}

}  // namespace

void SortRows(std::vector<uint32_t>& rows, const std::vector<FoundItemRecord>& results, ResultColumn c,
              int direction) {
  if (c == ResultColumn::kPath || rows.size() < 2) return;  // every row shows the same placeholder
  const bool text = c == ResultColumn::kName || c == ResultColumn::kType;
  std::vector<Item> items(rows.size());
  std::string arena;
  if (text) arena.reserve(rows.size() * 24);
  for (size_t i = 0; i < rows.size(); ++i) {
    // The records lie far apart in a list of a million: ask for the ones
    // ahead before they are read, so the waits for memory overlap.
    if (i + 16 < rows.size()) {
      const FoundItemRecord& ahead = results[rows[i + 16]];
      __builtin_prefetch(text ? static_cast<const void*>(ahead.name) : static_cast<const void*>(&ahead.size));
    }
    Item& it = items[i];
    it.pos = uint32_t(i);
    it.row = rows[i];
    const FoundItemRecord& r = results[rows[i]];
    switch (c) {
      case ResultColumn::kSize: it.key = r.size; break;
      case ResultColumn::kModified: it.key = r.modified; break;
      case ResultColumn::kCreated: it.key = r.created; break;
      default: {
        const std::string_view t = c == ResultColumn::kName ? RecordNameView(r) : TypeText(r);
        it.textAt = uint32_t(arena.size());
        it.textLen = uint32_t(t.size());
        arena.append(t);
        char* p = arena.data() + it.textAt;
        for (size_t k = 0; k < t.size(); ++k) p[k] = Lower(p[k]);
        it.key = Prefix(p, t.size());
        it.key2 = t.size() > 8 ? Prefix(p + 8, t.size() - 8) : 0;
      }
    }
  }
  const char* base = arena.data();
  // Three-way comparison of the keys alone.
  auto compare = [&](const Item& a, const Item& b) -> int {
    if (a.key != b.key) return a.key < b.key ? -1 : 1;
    if (!text) return 0;
    if (a.key2 != b.key2) return a.key2 < b.key2 ? -1 : 1;
    if (a.textLen <= 16 && b.textLen <= 16) return a.textLen == b.textLen ? 0 : (a.textLen < b.textLen ? -1 : 1);
    const size_t n = std::min(a.textLen, b.textLen);
    const int m = std::memcmp(base + a.textAt, base + b.textAt, n);
    if (m != 0) return m;
    return a.textLen == b.textLen ? 0 : (a.textLen < b.textLen ? -1 : 1);
  };
  // Descending swaps the two rows of each comparison; ties keep their order.
  const int sign = direction == -1 ? -1 : 1;
  std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
    const int k = compare(a, b) * sign;
    return k != 0 ? k < 0 : a.pos < b.pos;
  });
  for (size_t i = 0; i < items.size(); ++i) rows[i] = items[i].row;
}

}  // namespace dunmere
