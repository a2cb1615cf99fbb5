#pragma once
// "DiskList": a list of disk header rows, each followed by its source rows.
// Activating a header row (double click, Enter) collapses or expands the rows
// below it; the usage column (layout property "usagecolumn", default 2) draws
// a usage bar under its text for rows with a usage value.
#include "ui/list_ui.h"

namespace dunmere::ui {

class DiskList : public ListBox {
  Q_OBJECT
 public:
  explicit DiskList(QWidget* parent = nullptr);
  void AdoptLayout() override;

  int AddHeaderRow(const QString& text, quint64 tag = 0);
  // The same at row `at` (the rows from there move down); at the end when
  // `at` is past it.
  int InsertHeaderRow(int at, const QString& text, quint64 tag = 0);
  // Adds a source row at the end of the header's group.
  int AddSourceRow(int headerRow, ListRow row);
  // The header row a row belongs to (itself for a header), -1 when none.
  int HeaderOf(int row) const;
  // The rows of a header's group, header excluded.
  QList<int> GroupRows(int headerRow) const;
  // Removes a header row and its group.
  void RemoveGroup(int headerRow);
  void SetCollapsed(int headerRow, bool collapsed);
  // Hides or shows one row (and its group, for a header row).
  void SetRowVisible(int row, bool visible);

 protected:
  void OnActivated(int row) override;

 private:
  void ApplyHidden();
  std::vector<bool> hiddenByProgram_;
};

}  // namespace dunmere::ui
