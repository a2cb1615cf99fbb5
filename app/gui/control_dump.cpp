#include "app/gui/control_dump.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QListView>
#include <QMenu>
#include <QSaveFile>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <QTreeView>

#include "ui/list_ui.h"
#include "ui/window_base.h"

namespace dunmere::gui {
namespace {

QString Field(QString text) {
  text.replace(QLatin1Char('\t'), QLatin1Char(' '));
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return text;
}

void Line(QString& out, const char* kind, const QString& window, const QString& name, QRect r) {
  out += QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\n")
             .arg(QLatin1String(kind), window, Field(name))
             .arg(r.x())
             .arg(r.y())
             .arg(r.width())
             .arg(r.height());
}

QString WindowClass(const QWidget* top) {
  if (auto* w = qobject_cast<const ui::WindowImplBase*>(top)) return w->ClassName();
  return QString::fromLatin1(top->metaObject()->className());
}

QRect OnScreen(const QWidget* w, QRect local) { return QRect(w->mapToGlobal(local.topLeft()), local.size()); }

// One row of a view: the first cell with text names it, the first cell with
// a check state is its check box.
void Row(QString& out, const QString& window, const QAbstractItemView* view, const QModelIndex& index) {
  const QAbstractItemModel* model = view->model();
  const auto* tree = qobject_cast<const QTreeView*>(view);
  const QRect room = view->viewport()->rect();
  QModelIndex named, checked;
  for (int c = 0; c < model->columnCount(index.parent()); ++c) {
    if (tree && tree->isColumnHidden(c)) continue;
    const QModelIndex cell = index.siblingAtColumn(c);
    if (!named.isValid() && !cell.data(Qt::DisplayRole).toString().isEmpty()) named = cell;
    if (!checked.isValid() && cell.data(Qt::CheckStateRole).isValid()) checked = cell;
  }
  // The skin's lists draw their boxes themselves, in a column of their own.
  if (const auto* box = qobject_cast<const ui::ListBox*>(view);
      box && box->Model()->checkColumn >= 0 && box->Model()->CheckOf(index.row()) >= 0)
    checked = index.siblingAtColumn(box->Model()->checkColumn);
  if (!named.isValid()) return;
  const QRect cell = view->visualRect(named) & room;
  if (cell.isEmpty()) return;
  Line(out, "row", window, named.data(Qt::DisplayRole).toString(), OnScreen(view->viewport(), cell));
  if (!checked.isValid()) return;
  QRect box = view->visualRect(checked);
  if (checked == named) {
    // The box shares its cell with the text: where the style puts it.
    QStyleOptionViewItem option;
    option.initFrom(view->viewport());
    option.rect = box;
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.text = named.data(Qt::DisplayRole).toString();
    box = view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
  }
  box &= room;
  if (!box.isEmpty()) Line(out, "check", window, named.data(Qt::DisplayRole).toString(), OnScreen(view->viewport(), box));
}

void Rows(QString& out, const QString& window, const QAbstractItemView* view) {
  if (!view->model()) return;
  if (const auto* tree = qobject_cast<const QTreeView*>(view)) {
    // The rows shown, top to bottom, opened nodes included.
    QModelIndex i = tree->indexAt(QPoint(1, 1));
    if (i.isValid()) i = i.siblingAtColumn(0);
    for (; i.isValid() && tree->visualRect(i).top() < tree->viewport()->height(); i = tree->indexBelow(i))
      Row(out, window, view, i);
    if (const QHeaderView* header = tree->header(); header && header->isVisible()) {
      for (int s = 0; s < header->count(); ++s) {
        if (header->isSectionHidden(s)) continue;
        const QRect r(header->sectionViewportPosition(s), 0, header->sectionSize(s), header->height());
        const QRect shown = r & header->viewport()->rect();
        if (shown.isEmpty()) continue;
        Line(out, "header", window, view->model()->headerData(s, Qt::Horizontal).toString(),
             OnScreen(header->viewport(), shown));
      }
    }
    return;
  }
  const QModelIndex root = view->rootIndex();
  for (int r = 0; r < view->model()->rowCount(root); ++r) {
    const int column = qobject_cast<const QListView*>(view) ? qobject_cast<const QListView*>(view)->modelColumn() : 0;
    Row(out, window, view, view->model()->index(r, column, root));
  }
}

class DumpKeeper : public QObject {
 public:
  explicit DumpKeeper(QString path) : QObject(qApp), path_(std::move(path)) {
    // Changes come in bursts (a page fills, a list lays out): one dump
    // shortly after the first of them, again after any later one.
    timer_.setSingleShot(true);
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, [this] { WriteControlDump(path_); });
    qApp->installEventFilter(this);
    timer_.start();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    switch (e->type()) {
      case QEvent::Paint:
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::WindowTitleChange:
        if (!timer_.isActive() && watched->isWidgetType()) timer_.start();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  QString path_;
  QTimer timer_;
};

}  // namespace

QString DescribeControls() {
  QString out;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (!top->isVisible()) continue;
    const QString window = WindowClass(top);
    Line(out, "window", window, top->windowTitle(), OnScreen(top, top->rect()));
    if (auto* menu = qobject_cast<QMenu*>(top)) {
      for (QAction* a : menu->actions())
        if (!a->isSeparator() && a->isVisible())
          Line(out, "action", window, a->text().remove(QLatin1Char('&')), OnScreen(menu, menu->actionGeometry(a)));
      continue;
    }
    for (QWidget* w : top->findChildren<QWidget*>()) {
      if (!w->isVisible()) continue;
      const QString name = w->objectName();
      if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
        Line(out, "control", window, name, OnScreen(w, w->rect()));
      if (auto* view = qobject_cast<QAbstractItemView*>(w)) Rows(out, window, view);
    }
  }
  return out;
}

bool WriteControlDump(const QString& path) {
  // Renamed into place whole: a script never reads half of it.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(DescribeControls().toUtf8());
  return file.commit();
}

bool StartControlDumpFromEnvironment() {
  const QString path = qEnvironmentVariable("DUNMERE_DUMP_CONTROLS");
  if (path.isEmpty() || !qApp) return false;
  new DumpKeeper(path);  // the application owns it
  return true;
}

}  // namespace dunmere::gui
