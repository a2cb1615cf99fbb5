#pragma once
// The model behind the results page: the result list, its extension groups,
// the checked set, the type tree's layout, the rows of the listed node in
// their current order and the header items' sort directions. It also serves
// the file list its rows on demand, so a node of half a million files costs
// one index per row and the texts of the rows on screen.
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/recover/checked_set.h"
#include "app/core/results/folder_tree.h"
#include "app/core/results/result_groups.h"
#include "app/core/results/result_sort.h"
#include "app/core/results/result_type_tree.h"
#include "engine/found_item.h"
#include "ui/list_ui.h"

namespace dunmere::gui {

// File-list columns by their header items' names.
struct ResultListColumns {
  int check = -1, name = -1, size = -1, modified = -1, created = -1, path = -1, type = -1;
};

class ResultViewState : public ui::IListRowSource {
 public:
  static constexpr int kNone = -1;

  std::vector<FoundItemRecord> results;
  ResultGroups groups;
  ::dunmere::CheckedSet checked;
  TypeTreeLayout layout;
  SortDirections directions;
  // The folder view's model; built the first time that view is shown.
  FolderTree folders;

  // The listed node: an extension group, or a category (the list then is
  // empty), or a node of the folder view, or nothing.
  int listedGroup = kNone;
  int listedCategory = kNone;
  int listedFolder = kNone;
  std::vector<uint32_t> rows;  // result indices in list order
  QString rowIcon;             // the listed node's picture
  // Each extension group's picture: a folder lists files of many types.
  std::vector<QString> groupIcons;
  ResultListColumns columns;
  // The folder a record lies in on its volume ("Pictures/Holiday/", "" at the
  // root); false when its engine knows no folder (a carved file).
  std::function<bool(const FoundItemRecord&, std::string&)> folderOf;

  // Replaces the results; keeps checked entries that name one of them.
  void Load(std::vector<FoundItemRecord> found);
  void Reset();

  const FoundItemRecord& RecordOfRow(int row) const { return results[rows[size_t(row)]]; }
  // The listed node's state: an extension group's or a category's; for a
  // folder, that of the files it lists.
  CheckState ListedState() const;
  // Checked rows of the list shown.
  uint64_t ListedChecked() const;
  // Category of an extension group in the tree, kNone when it is not shown.
  int CategoryOfGroup(size_t group) const;

  // ---- rows for the file list ----
  int RowCount() const override { return int(rows.size()); }
  QString Cell(int row, int column) const override;
  int Check(int row) const override;
  QString Icon(int row) const override;
  quint64 Tag(int row) const override { return rows[size_t(row)]; }
  // The name's tip is the whole path, so two files of one name can be told apart.
  QString ToolTip(int row, int column) const override;
  // "/Pictures/Holiday/", "/" at the root; the placeholder when unknown.
  QString FolderText(uint32_t resultIndex) const;

 private:
  // Asked once per record shown, not once per paint.
  mutable std::vector<std::optional<QString>> folders_;
};

// The placeholder of the "Path" column and of missing times.
inline constexpr const char* kNoText = "    ----    ";

}  // namespace dunmere::gui
