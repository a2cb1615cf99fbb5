#include "ui/list_ui.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "ui/skin.h"

namespace dunmere::ui {

const char* const kDefaultCheckImages[3] = {
    "file='Controls.png' source='0,106,15,121'",
    "file='Controls.png' source='15,106,30,121'",
    "file='Controls.png' source='30,106,45,121'",
};

static QStringList DefaultCheckImages() {
  return {QString::fromLatin1(kDefaultCheckImages[0]), QString::fromLatin1(kDefaultCheckImages[1]),
          QString::fromLatin1(kDefaultCheckImages[2])};
}

// ---- model ----

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const int c = index.column();
  if (source_) {
    switch (role) {
      case Qt::DisplayRole:
        if (c == checkColumn) return {};
        return source_->Cell(index.row(), c);
      case Qt::DecorationRole:
        if (c == iconColumn) {
          const QString icon = source_->Icon(index.row());
          if (!icon.isEmpty()) return Icon(icon);
        }
        return {};
      case Qt::SizeHintRole:
        return QSize(-1, rowHeight);
      case Qt::ToolTipRole:
        if (c == checkColumn) return {};
        return source_->ToolTip(index.row(), c);
      default:
        return {};
    }
  }
  const ListRow& r = rows_[size_t(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      if (c == checkColumn) return {};
      return c < r.cells.size() ? r.cells[c] : QString();
    case Qt::DecorationRole:
      if (c == iconColumn && !r.icon.isEmpty()) return Icon(r.icon);
      return {};
    case Qt::ForegroundRole:
      if (r.color) return QColor::fromRgba(r.color);
      return {};
    case Qt::FontRole:
      if (r.header) {
        QFont f;
        f.setBold(true);
        return f;
      }
      return {};
    case Qt::SizeHintRole:
      return QSize(-1, rowHeight);
    case Qt::ToolTipRole:
      if (c == checkColumn) return {};
      return c < r.cells.size() ? r.cells[c] : QString();
    default:
      return {};
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return captions_.value(section);
}

QPixmap ListModel::Icon(const QString& attr) const {
  auto it = icons_.constFind(attr);
  if (it != icons_.constEnd()) return *it;
  QPixmap pm = Skin::Instance().Picture(attr, QSize(16, 16));
  icons_.insert(attr, pm);
  return pm;
}

void ListModel::SetColumns(QStringList names, QStringList captions) {
  beginResetModel();
  columns_ = std::move(names);
  captions_ = std::move(captions);
  while (captions_.size() < columns_.size()) captions_ << QString();
  endResetModel();
}

bool ListModel::SetCaption(int column, const QString& text) {
  if (column < 0 || column >= captions_.size()) return false;
  captions_[column] = text;
  emit headerDataChanged(Qt::Horizontal, column, column);
  return true;
}

void ListModel::Append(std::vector<ListRow>&& rows) {
  if (rows.empty() || source_) return;
  beginInsertRows({}, int(rows_.size()), int(rows_.size() + rows.size() - 1));
  rows_.insert(rows_.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
  endInsertRows();
}

void ListModel::Insert(int at, ListRow row) {
  if (source_) return;
  at = std::clamp(at, 0, int(rows_.size()));
  beginInsertRows({}, at, at);
  rows_.insert(rows_.begin() + at, std::move(row));
  endInsertRows();
}

void ListModel::Remove(int first, int count) {
  if (source_) return;
  if (first < 0 || count <= 0 || first >= int(rows_.size())) return;
  count = std::min(count, int(rows_.size()) - first);
  beginRemoveRows({}, first, first + count - 1);
  rows_.erase(rows_.begin() + first, rows_.begin() + first + count);
  endRemoveRows();
}

void ListModel::Clear() {
  beginResetModel();
  source_ = nullptr;  // an emptied list holds rows again
  rows_.clear();
  rows_.shrink_to_fit();
  endResetModel();
}

void ListModel::RowChanged(int row) {
  emit dataChanged(index(row, 0), index(row, std::max(0, columnCount() - 1)));
}

void ListModel::Sort(const std::function<bool(const ListRow&, const ListRow&)>& less) {
  if (source_) return;  // the source orders its own rows
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::stable_sort(rows_.begin(), rows_.end(), less);
  // Rows are plain values; the view only keeps its current index, which is reset.
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ListModel::SetRowSource(IListRowSource* source) {
  beginResetModel();
  rows_.clear();
  rows_.shrink_to_fit();
  source_ = source;
  endResetModel();
}

void ListModel::SourceReset() {
  beginResetModel();
  endResetModel();
}

void ListModel::SourceChanged() {
  // dataChanged over every row makes the view walk them all (600 ms for half a
  // million); the rows on screen are all that can look different.
  emit sourceChanged();
}

void ListModel::SourceReordered() {
  // The same number of rows in another order: the view only has to draw
  // them again. A layout change would make it rebuild its row items (half a
  // million) for nothing. Selections stay on their row numbers; the owner
  // moves them where it wants them.
  emit sourceChanged();
}

int ListModel::CheckOf(int row) const {
  if (row < 0 || row >= rowCount()) return -1;
  return source_ ? source_->Check(row) : rows_[size_t(row)].check;
}

int ListModel::UsageOf(int row) const {
  if (row < 0 || row >= rowCount()) return -1;
  return source_ ? -1 : rows_[size_t(row)].usage;
}

quint64 ListModel::TagOf(int row) const {
  if (row < 0 || row >= rowCount()) return 0;
  return source_ ? source_->Tag(row) : rows_[size_t(row)].tag;
}

const ListRow& ListModel::RowAt(int row) const {
  if (!source_) return rows_[size_t(row)];
  scratch_ = ListRow();
  if (row < 0 || row >= rowCount()) return scratch_;
  for (int c = 0; c < columns_.size(); ++c) scratch_.cells << (c == checkColumn ? QString() : source_->Cell(row, c));
  scratch_.check = source_->Check(row);
  scratch_.icon = source_->Icon(row);
  scratch_.tag = source_->Tag(row);
  return scratch_;
}

// ---- header ----

ListHeader::ListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setSectionsClickable(true);
  setHighlightSections(false);
  setStretchLastSection(true);
  setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  checkImages = DefaultCheckImages();
}

void ListHeader::SetPicture(int section, const QString& attr) {
  pictures_[section] = attr;
  viewport()->update();
}

void ListHeader::SetAllPictures(const QString& attr) {
  pictures_.clear();
  allPicture_ = attr;
  viewport()->update();
}

void ListHeader::SetCheckState(Qt::CheckState s) {
  check_ = s;
  viewport()->update();
}

namespace {
// A skinned section's caption: from 6 px in, 16 px kept at the right for the
// sort arrow.
constexpr int kCaptionLeft = 6, kCaptionRight = 16;
}  // namespace

int ListHeader::CaptionWidth(int section) const {
  const QString caption = model() ? model()->headerData(section, Qt::Horizontal).toString() : QString();
  // The style's own section (no picture) has its margins on both sides.
  const int styled = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this) +
                     style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, this);
  return fontMetrics().horizontalAdvance(caption) + std::max(kCaptionLeft + kCaptionRight, styled) + 2;
}

void ListHeader::paintSection(QPainter* p, const QRect& rect, int logicalIndex) const {
  const QString pic = pictures_.value(logicalIndex, allPicture_);
  if (pic.isEmpty()) {
    p->save();
    QHeaderView::paintSection(p, rect, logicalIndex);
    p->restore();
  } else {
    Skin::Instance().Draw(*p, rect, pic);
  }
  if (logicalIndex == checkSection) {
    const QRect box(rect.left() + (rect.width() - 15) / 2, rect.top() + (rect.height() - 15) / 2, 15, 15);
    Skin::Instance().Draw(*p, box, checkImages.value(int(check_)));
    return;
  }
  if (!pic.isEmpty()) {
    p->save();
    p->setPen(palette().color(QPalette::ButtonText));
    p->drawText(rect.adjusted(kCaptionLeft, 0, -kCaptionRight, 0), Qt::AlignLeft | Qt::AlignVCenter,
                model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString());
    p->restore();
  }
}

// ---- delegate ----

void ListDelegate::DrawBackground(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const {
  // The cell's background and selection only; the delegate draws the content.
  QStyleOptionViewItem o(opt);
  initStyleOption(&o, index);
  o.text.clear();
  o.icon = QIcon();
  o.features &= ~(QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration);
  const QWidget* w = o.widget;
  QStyle* style = w ? w->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &o, p, w);
}

void ListDelegate::paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const {
  auto* model = list_->Model();
  if (index.column() == model->checkColumn) {
    DrawBackground(p, opt, index);
    const int check = model->CheckOf(index.row());
    if (check >= 0) {
      const QRect box(opt.rect.left() + (opt.rect.width() - 15) / 2,
                      opt.rect.top() + (opt.rect.height() - 15) / 2, 15, 15);
      Skin::Instance().Draw(*p, box, checkImages.value(check));
    }
    return;
  }
  const int usage = index.column() == usageColumn ? model->UsageOf(index.row()) : -1;
  if (usage >= 0) {
    QStyleOptionViewItem o(opt);
    initStyleOption(&o, index);
    const QString text = o.text;
    DrawBackground(p, opt, index);
    const QRect textRect = opt.rect.adjusted(4, 1, -4, -opt.rect.height() / 2);
    const QRect bar = QRect(opt.rect.left() + 4, opt.rect.center().y() + 2, opt.rect.width() - 8,
                            std::max(4, opt.rect.height() / 2 - 5));
    p->save();
    p->setPen(o.palette.color((opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text));
    p->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
    p->setPen(QColor(0x9a, 0xa5, 0xb1));
    p->setBrush(QColor(0xee, 0xf1, 0xf4));
    p->drawRect(bar.adjusted(0, 0, -1, -1));
    QRect fill = bar.adjusted(1, 1, -1, -1);
    fill.setWidth(fill.width() * std::clamp(usage, 0, 100) / 100);
    p->fillRect(fill, usage >= 90 ? QColor(0xd9, 0x4b, 0x3b) : QColor(0x2f, 0x8f, 0xd8));
    p->restore();
    return;
  }
  QStyledItemDelegate::paint(p, opt, index);
}

QSize ListDelegate::sizeHint(const QStyleOptionViewItem& opt, const QModelIndex& index) const {
  QSize s = QStyledItemDelegate::sizeHint(opt, index);
  s.setHeight(list_->Model()->rowHeight);
  return s;
}

// ---- view ----

ListBox::ListBox(QWidget* parent) : QTreeView(parent) {
  model_ = new ListModel(this);
  header_ = new ListHeader(this);
  setHeader(header_);
  setModel(model_);
  setItemDelegate(new ListDelegate(this));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setIconSize(QSize(16, 16));
  header_->setSectionsClickable(true);

  connect(model_, &ListModel::sourceChanged, viewport(), qOverload<>(&QWidget::update));
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& cur, const QModelIndex&) {
            if (cur.isValid()) Raise("itemselect", objectName(), cur.row());
          });
  connect(this, &QTreeView::activated, this, [this](const QModelIndex& i) { OnActivated(i.row()); });
  connect(this, &QTreeView::doubleClicked, this,
          [this](const QModelIndex& i) { Raise("list_item_dbclick", objectName(), i.row()); });
  connect(header_, &QHeaderView::sectionClicked, this, [this](int section) {
    if (section == header_->checkSection) {
      const Qt::CheckState s = header_->CheckState() == Qt::Checked ? Qt::Unchecked : Qt::Checked;
      header_->SetCheckState(s);
      Raise("selectchanged", model_->ColumnNames().value(section), s);
      return;
    }
    Raise("headerclick", model_->ColumnNames().value(section), section);
  });
}

void ListBox::OnActivated(int row) { Raise("itemactivate", objectName(), row); }

void ListBox::Raise(const char* type, const QString& sender, qint64 wParam, qint64 lParam) {
  if (quiet_) return;
  emit skinNotify(QString::fromLatin1(type), sender, wParam, lParam);
}

void ListBox::AdoptLayout() {
  const QString headerName = property("headername").toString();
  header_->setObjectName(headerName.isEmpty() ? objectName() + QStringLiteral("Header") : headerName);
  const QString spec = property("columns").toString();
  if (!spec.isEmpty()) {
    QStringList names;
    QList<int> widths;
    for (const QString& part : spec.split(u';', Qt::SkipEmptyParts)) {
      const QStringList nw = part.split(u':');
      names << nw.value(0).trimmed();
      widths << nw.value(1).toInt();
    }
    SetColumns(names, widths);
  }
  if (property("checkcolumn").toBool()) {
    model_->checkColumn = 0;
    model_->iconColumn = 1;
    header_->checkSection = 0;
  }
  const int h = property("rowheight").toInt();
  if (h > 0) model_->rowHeight = h;
  const QString headerImage = property("headerimage").toString();
  if (!headerImage.isEmpty()) header_->SetAllPictures(headerImage);
  const QStringList checks = property("checkimages").toString().split(u'|', Qt::SkipEmptyParts);
  auto* d = static_cast<ListDelegate*>(itemDelegate());
  d->checkImages = checks.size() == 3 ? checks : DefaultCheckImages();
  header_->checkImages = d->checkImages;
  if (property("headerhidden").toBool()) setHeaderHidden(true);
  const int stretch = ColumnIndex(property("stretchcolumn").toString());
  if (stretch >= 0) {
    header_->setStretchLastSection(false);
    header_->setSectionResizeMode(stretch, QHeaderView::Stretch);
  }
}

void ListBox::SetColumns(const QStringList& names, const QList<int>& widths) {
  model_->SetColumns(names, QStringList());
  header_->setSectionsClickable(true);  // the view resets it with the model
  for (int i = 0; i < widths.size() && i < names.size(); ++i)
    if (widths[i] > 0) header_->resizeSection(i, widths[i]);
}

int ListBox::AddRow(ListRow row) {
  std::vector<ListRow> one;
  one.push_back(std::move(row));
  model_->Append(std::move(one));
  return RowCount() - 1;
}

void ListBox::AddRows(std::vector<ListRow>&& rows) { model_->Append(std::move(rows)); }

void ListBox::SetRowSource(IListRowSource* source) {
  ++quiet_;
  model_->SetRowSource(source);
  --quiet_;
}

void ListBox::InsertRow(int at, ListRow row) { model_->Insert(at, std::move(row)); }

void ListBox::RemoveRows(int first, int count) {
  ++quiet_;
  model_->Remove(first, count);
  --quiet_;
}

void ListBox::Clear() {
  ++quiet_;
  model_->Clear();
  --quiet_;
}

void ListBox::SetRowCheck(int row, Qt::CheckState s) {
  if (row < 0 || row >= RowCount()) return;
  if (model_->RowSource()) return;  // the source owns the rows
  model_->Rows()[size_t(row)].check = int(s);
  model_->RowChanged(row);
}

void ListBox::SetHeaderPicture(const QString& itemName, const QString& attr) {
  const int c = ColumnIndex(itemName);
  if (c >= 0) header_->SetPicture(c, attr);
}

void ListBox::Sort(const std::function<bool(const ListRow&, const ListRow&)>& less) {
  ++quiet_;
  setCurrentIndex({});
  model_->Sort(less);
  --quiet_;
}

int ListBox::CurrentRow() const {
  const QModelIndex i = currentIndex();
  return i.isValid() ? i.row() : -1;
}

void ListBox::SelectRow(int row, bool notify) {
  if (!notify) ++quiet_;
  if (row < 0 || row >= RowCount()) setCurrentIndex({});
  else {
    setCurrentIndex(model_->index(row, 0));
    scrollTo(model_->index(row, 0));
  }
  if (!notify) --quiet_;
}

bool ListBox::SetItemText(const QString& name, const QString& text) {
  return model_->SetCaption(ColumnIndex(name), text);
}

QString ListBox::ItemText(const QString& name) const { return model_->Caption(ColumnIndex(name)); }

void ListBox::mousePressEvent(QMouseEvent* e) {
  const QModelIndex i = indexAt(e->position().toPoint());
  if (i.isValid() && i.column() == model_->checkColumn && e->button() == Qt::LeftButton) ToggleCheck(i.row());
  QTreeView::mousePressEvent(e);
}

bool ListBox::ToggleCheck(int row) {
  const int check = model_->CheckOf(row);
  if (check < 0) return false;
  const int now = check == Qt::Checked ? Qt::Unchecked : Qt::Checked;
  if (IListRowSource* source = model_->RowSource()) source->CheckToggled(row, now);
  else model_->Rows()[size_t(row)].check = now;
  model_->RowChanged(row);
  Raise("list_check_click", objectName(), row, now);
  return true;
}

void ListBox::keyPressEvent(QKeyEvent* e) {
  // Space toggles the check box of the current row, like a click on it.
  if (e->key() == Qt::Key_Space && model_->checkColumn >= 0 && CurrentRow() >= 0 && ToggleCheck(CurrentRow()))
    return;
  QTreeView::keyPressEvent(e);
}

}  // namespace dunmere::ui
