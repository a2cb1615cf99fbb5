#pragma once
// Sorting the file list of the results page: the columns, the direction each
// header item keeps (1 ascending, -1 descending, 0 before its first click) and
// the order of rows, which are indices into the result list.
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/found_item.h"

namespace dunmere {

enum class ResultColumn { kName, kSize, kModified, kCreated, kPath, kType };
inline constexpr int kResultColumnCount = 6;

// "FileName", "Size", "ModifiedTime", "CreatedTime", "Path", "Type"; false for
// anything else (the check-box item among them).
bool ParseResultColumn(std::string_view headerName, ResultColumn& out);

class SortDirections {
 public:
  // A click on the column's header item: names and types sort A to Z first,
  // sizes and times largest or newest first; each further click reverses.
  // "Path" keeps its direction. Returns the column's new direction.
  int Click(ResultColumn c);
  int Direction(ResultColumn c) const { return dir_[int(c)]; }
  void Reset();

 private:
  int dir_[kResultColumnCount] = {};
};

// Orders rows by the column, ascending unless direction is -1. Rows with equal
// keys keep the order they had, so an earlier sort decides among them.
// Names and types compare case-insensitively (ASCII letters), a row without
// text first; sizes and times by value, a missing time (0) as the oldest.
void SortRows(std::vector<uint32_t>& rows, const std::vector<FoundItemRecord>& results, ResultColumn c,
              int direction);

// The text of the "Type" column: "folder", the text after the last "." of the
// name, or "file" when there is none.
std::string_view TypeText(const FoundItemRecord& r);

}  // namespace dunmere
