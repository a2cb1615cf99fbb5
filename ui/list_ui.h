#pragma once
// "List": a list of rows with a header whose items have names, an optional
// check-box column (column 0, header item three-state), fixed-height rows and
// a model that holds plain row structs, so hundreds of thousands of rows fill
// and sort quickly. A list can also show rows it does not hold: with a row
// source (`SetRowSource`) it asks for the texts of the rows it draws only, so
// a million rows cost the owner's data and nothing more.
//
// Layout properties: columns = "Name:width;Name:width;..." (header item names
// and widths), stretchcolumn (the item that takes the width the others leave;
// the last one by default), checkcolumn (bool), rowheight (default 20), headerimage
// (picture of every header item), checkimages = "unchecked|partial|checked"
// picture attributes (defaults from Controls.png).
//
// Notifications (senderName is the list's name unless stated):
//   "itemselect"        current row changed (wParam row)
//   "itemactivate"      Enter or double click on a row (wParam row)
//   "list_item_dbclick" double click on a row (wParam row)
//   "list_check_click"  the user toggled a row's check box (wParam row, lParam new state 0/2)
//   "headerclick"       senderName = the header item's name, wParam column
//   "selectchanged"     the user toggled the check-box header item; senderName
//                       its name, wParam new state (0 unchecked, 2 checked)
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <functional>
#include <vector>

#include "ui/named_items.h"

namespace dunmere::ui {

struct ListRow {
  QStringList cells;       // one per column (the check column's cell is unused)
  int check = -1;          // -1 no check box, else Qt::CheckState
  QString icon;            // picture attribute shown before the first text cell
  QRgb color = 0;          // text colour (0: default)
  quint64 tag = 0;         // the owner's reference (record index, item pointer...)
  bool header = false;     // a group header row (DiskList)
  bool collapsed = false;  // header rows: children hidden
  int usage = -1;          // 0..100: a usage bar under the usage column's text
};

// Rows supplied on demand (the list's virtual mode). The owner keeps the data;
// the list asks for what it draws. Row numbers are the list's.
class IListRowSource {
 public:
  virtual ~IListRowSource() = default;
  virtual int RowCount() const = 0;
  virtual QString Cell(int row, int column) const = 0;
  virtual int Check(int row) const { return -1; }  // -1 no check box, else Qt::CheckState
  virtual QString Icon(int row) const { return {}; }
  virtual quint64 Tag(int row) const { return quint64(row); }
  // Shown when the pointer rests on a cell; by default the cell's whole text
  // (a cell is cut at its column's edge).
  virtual QString ToolTip(int row, int column) const { return Cell(row, column); }
  // The user toggled the row's check box; the new state follows in
  // "list_check_click". The owner decides what the box shows from then on.
  virtual void CheckToggled(int row, int newState) {}
};

class ListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;
  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : source_ ? source_->RowCount() : int(rows_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(columns_.size()); }
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;

  void SetColumns(QStringList names, QStringList captions);
  const QStringList& ColumnNames() const { return columns_; }
  bool SetCaption(int column, const QString& text);
  QString Caption(int column) const { return captions_.value(column); }

  std::vector<ListRow>& Rows() { return rows_; }
  const std::vector<ListRow>& Rows() const { return rows_; }
  void Append(std::vector<ListRow>&& rows);
  void Insert(int at, ListRow row);
  void Remove(int first, int count);
  void Clear();  // also leaves virtual mode
  void RowChanged(int row);
  void Sort(const std::function<bool(const ListRow&, const ListRow&)>& less);

  // Virtual mode: rows come from the source (null: back to held rows, which
  // are dropped either way). The source must outlive its use here. Adding,
  // inserting and removing rows does nothing while a source is set.
  void SetRowSource(IListRowSource* source);
  IListRowSource* RowSource() const { return source_; }
  // The source's rows were replaced, changed in place, or reordered (the
  // current row keeps its number; the owner selects the row it wants).
  void SourceReset();
  void SourceChanged();
  void SourceReordered();
  // Per-row state in either mode.
  int CheckOf(int row) const;
  int UsageOf(int row) const;
  quint64 TagOf(int row) const;
  // A row as a struct; in virtual mode it is built on demand and stays valid
  // until the next call.
  const ListRow& RowAt(int row) const;

  int checkColumn = -1;
  int iconColumn = 0;
  int rowHeight = 20;

 signals:
  // The source's rows changed in place (SourceChanged): views repaint.
  void sourceChanged();

 public:

 private:
  QPixmap Icon(const QString& attr) const;
  std::vector<ListRow> rows_;
  IListRowSource* source_ = nullptr;
  mutable ListRow scratch_;
  QStringList columns_, captions_;
  mutable QHash<QString, QPixmap> icons_;
};

class ListHeader : public QHeaderView {
  Q_OBJECT
 public:
  explicit ListHeader(QWidget* parent);
  void SetPicture(int section, const QString& attr);
  void SetAllPictures(const QString& attr);
  void SetCheckState(Qt::CheckState s);
  Qt::CheckState CheckState() const { return check_; }
  // The width a section needs to show its caption whole, with the margins
  // the section is painted with (the sort arrow's place kept).
  int CaptionWidth(int section) const;
  int checkSection = -1;
  QStringList checkImages;

 protected:
  void paintSection(QPainter* p, const QRect& rect, int logicalIndex) const override;

 private:
  QHash<int, QString> pictures_;
  QString allPicture_;
  Qt::CheckState check_ = Qt::Unchecked;
};

class ListBox : public QTreeView, public INamedItems {
  Q_OBJECT
 public:
  explicit ListBox(QWidget* parent = nullptr);

  // Reads the layout properties; called once the layout is read.
  virtual void AdoptLayout();

  ListModel* Model() const { return model_; }
  ListHeader* Header() const { return header_; }
  int ColumnIndex(const QString& name) const { return model_->ColumnNames().indexOf(name); }
  void SetColumns(const QStringList& names, const QList<int>& widths = {});

  int RowCount() const { return model_->rowCount(); }
  // In virtual mode the row is built from the source and valid until the next call.
  const ListRow& Row(int i) const { return model_->RowAt(i); }
  quint64 RowTag(int i) const { return model_->TagOf(i); }
  // Virtual mode (see IListRowSource); null returns to held rows.
  void SetRowSource(IListRowSource* source);
  int AddRow(ListRow row);
  void AddRows(std::vector<ListRow>&& rows);
  void InsertRow(int at, ListRow row);
  void RemoveRows(int first, int count = 1);
  void Clear();
  // Program changes raise no notification.
  void SetRowCheck(int row, Qt::CheckState s);
  void SetHeaderCheck(Qt::CheckState s) { header_->SetCheckState(s); }
  Qt::CheckState HeaderCheck() const { return header_->CheckState(); }
  void SetHeaderPicture(const QString& itemName, const QString& attr);
  void SetAllHeaderPictures(const QString& attr) { header_->SetAllPictures(attr); }
  void Sort(const std::function<bool(const ListRow&, const ListRow&)>& less);

  int CurrentRow() const;
  void SelectRow(int row, bool notify = true);

  bool HasItem(const QString& name) const override { return ColumnIndex(name) >= 0; }
  bool SetItemText(const QString& name, const QString& text) override;
  QString ItemText(const QString& name) const override;

 signals:
  void skinNotify(const QString& type, const QString& senderName, qint64 wParam, qint64 lParam);

 protected:
  void Raise(const char* type, const QString& sender, qint64 wParam, qint64 lParam = 0);
  void mousePressEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  virtual void OnActivated(int row);
  // Flips a row's check box as the user does; false when it has none.
  bool ToggleCheck(int row);
  int quiet_ = 0;
  ListModel* model_;
  ListHeader* header_;
};

// Draws check boxes from the skin and the usage bar of DiskList rows.
class ListDelegate : public QStyledItemDelegate {
 public:
  ListDelegate(ListBox* list) : QStyledItemDelegate(list), list_(list) {}
  void paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& opt, const QModelIndex& index) const override;
  int usageColumn = -1;
  QStringList checkImages;

 private:
  void DrawBackground(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const;
  ListBox* list_;
};

// The check-box cells of Controls.png.
extern const char* const kDefaultCheckImages[3];

}  // namespace dunmere::ui
