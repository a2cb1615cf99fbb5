#include "ui/disk_list.h"

namespace dunmere::ui {

DiskList::DiskList(QWidget* parent) : ListBox(parent) { setRootIsDecorated(false); }

void DiskList::AdoptLayout() {
  ListBox::AdoptLayout();
  const QVariant uc = property("usagecolumn");
  static_cast<ListDelegate*>(itemDelegate())->usageColumn = uc.isValid() ? uc.toInt() : 2;
  if (!property("rowheight").isValid()) model_->rowHeight = 36;
}

int DiskList::AddHeaderRow(const QString& text, quint64 tag) { return InsertHeaderRow(RowCount(), text, tag); }

int DiskList::InsertHeaderRow(int at, const QString& text, quint64 tag) {
  ListRow r;
  r.cells << text;
  r.header = true;
  r.tag = tag;
  r.icon = property("diskicon").toString();
  if (at < 0 || at >= RowCount()) {
    const int row = AddRow(std::move(r));
    setFirstColumnSpanned(row, {}, true);
    ApplyHidden();
    return row;
  }
  hiddenByProgram_.resize(size_t(RowCount()), false);
  hiddenByProgram_.insert(hiddenByProgram_.begin() + at, false);
  InsertRow(at, std::move(r));
  for (int i = 0; i < RowCount(); ++i) setFirstColumnSpanned(i, {}, Row(i).header);
  ApplyHidden();
  return at;
}

int DiskList::AddSourceRow(int headerRow, ListRow row) {
  int at = headerRow + 1;
  while (at < RowCount() && !Row(at).header) ++at;
  hiddenByProgram_.resize(size_t(RowCount()), false);
  hiddenByProgram_.insert(hiddenByProgram_.begin() + at, false);
  InsertRow(at, std::move(row));
  // Insertion moves the rows below; spans follow the header flags again.
  for (int i = 0; i < RowCount(); ++i) setFirstColumnSpanned(i, {}, Row(i).header);
  ApplyHidden();
  return at;
}

int DiskList::HeaderOf(int row) const {
  for (int i = row; i >= 0 && i < RowCount(); --i)
    if (Row(i).header) return i;
  return -1;
}

QList<int> DiskList::GroupRows(int headerRow) const {
  QList<int> rows;
  for (int i = headerRow + 1; i < RowCount() && !Row(i).header; ++i) rows << i;
  return rows;
}

void DiskList::RemoveGroup(int headerRow) {
  if (headerRow < 0 || headerRow >= RowCount()) return;
  const int count = 1 + int(GroupRows(headerRow).size());
  RemoveRows(headerRow, count);
  if (size_t(headerRow) < hiddenByProgram_.size())
    hiddenByProgram_.erase(hiddenByProgram_.begin() + headerRow,
                           hiddenByProgram_.begin() + std::min(hiddenByProgram_.size(), size_t(headerRow + count)));
  for (int i = 0; i < RowCount(); ++i) setFirstColumnSpanned(i, {}, Row(i).header);
  ApplyHidden();
}

void DiskList::SetCollapsed(int headerRow, bool collapsed) {
  if (headerRow < 0 || headerRow >= RowCount() || !Row(headerRow).header) return;
  model_->Rows()[size_t(headerRow)].collapsed = collapsed;
  ApplyHidden();
}

void DiskList::SetRowVisible(int row, bool visible) {
  if (row < 0 || row >= RowCount()) return;
  hiddenByProgram_.resize(size_t(RowCount()), false);
  hiddenByProgram_[size_t(row)] = !visible;
  if (Row(row).header)
    for (int r : GroupRows(row)) hiddenByProgram_[size_t(r)] = !visible;
  ApplyHidden();
}

void DiskList::ApplyHidden() {
  hiddenByProgram_.resize(size_t(RowCount()), false);
  bool collapsed = false;
  for (int i = 0; i < RowCount(); ++i) {
    if (Row(i).header) collapsed = Row(i).collapsed;
    setRowHidden(i, {}, hiddenByProgram_[size_t(i)] || (!Row(i).header && collapsed));
  }
}

void DiskList::OnActivated(int row) {
  if (row >= 0 && row < RowCount() && Row(row).header) SetCollapsed(row, !Row(row).collapsed);
  ListBox::OnActivated(row);
}

}  // namespace dunmere::ui
