// Fills, sorts and scrolls N rows in the toolkit's list (plain row structs in
// a table model) and in QTreeWidget (one item object per row, Qt's own
// sorting), the way the result list is used, and prints the ratio.
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTreeWidget>
#include <cstdio>

#include "ui/list_ui.h"

namespace {

QString SizeText(int i, int rows) { return QString::number((i * 7919LL) % rows); }

struct Times {
  double fill = 0, sort = 0, scroll = 0;
  double rowTexts = 0;  // of fill: making the row texts, the caller's share
  double Total() const { return fill + sort + scroll; }
};

void Scroll(QAbstractScrollArea* view) {
  QScrollBar* bar = view->verticalScrollBar();
  for (int step = 0; step <= 20; ++step) {
    bar->setValue(bar->maximum() * step / 20);
    view->viewport()->repaint();
  }
}

Times RunToolkit(int rows) {
  Times t;
  dunmere::ui::ListBox list;
  list.setProperty("columns", "ChkSelAll:30;FileName:240;Size:80;ModifiedTime:140;CreatedTime:140;Path:90;Type:60");
  list.setProperty("checkcolumn", true);
  list.AdoptLayout();
  list.resize(800, 600);
  list.show();
  QElapsedTimer clock;
  clock.start();
  std::vector<dunmere::ui::ListRow> batch;
  batch.reserve(size_t(rows));
  for (int i = 0; i < rows; ++i) {
    dunmere::ui::ListRow r;
    r.cells = {QString(), QStringLiteral("file%1.jpg").arg(i), SizeText(i, rows), "2021-3-5 08:04:09",
               "2021-3-5 08:04:09", "    ----    ", "jpg"};
    r.check = Qt::Unchecked;
    r.tag = quint64(i);
    batch.push_back(std::move(r));
  }
  const double build = clock.nsecsElapsed() / 1e6;
  list.AddRows(std::move(batch));
  const double add = clock.nsecsElapsed() / 1e6;
  QCoreApplication::processEvents();
  t.rowTexts = build;
  (void)add;
  t.fill = clock.nsecsElapsed() / 1e6;
  clock.restart();
  list.Sort([](const dunmere::ui::ListRow& a, const dunmere::ui::ListRow& b) { return a.tag % 1000 > b.tag % 1000; });
  QCoreApplication::processEvents();
  t.sort = clock.nsecsElapsed() / 1e6;
  clock.restart();
  Scroll(&list);
  t.scroll = clock.nsecsElapsed() / 1e6;
  return t;
}

Times RunTreeWidget(int rows) {
  Times t;
  QTreeWidget tree;
  tree.setColumnCount(7);
  tree.setUniformRowHeights(true);
  tree.setRootIsDecorated(false);
  tree.resize(800, 600);
  tree.show();
  QElapsedTimer clock;
  clock.start();
  QList<QTreeWidgetItem*> items;
  items.reserve(rows);
  for (int i = 0; i < rows; ++i) {
    auto* item = new QTreeWidgetItem(QStringList{QString(), QStringLiteral("file%1.jpg").arg(i), SizeText(i, rows),
                                                 "2021-3-5 08:04:09", "2021-3-5 08:04:09", "    ----    ", "jpg"});
    item->setCheckState(0, Qt::Unchecked);
    item->setData(0, Qt::UserRole, i % 1000);
    items << item;
  }
  tree.addTopLevelItems(items);
  QCoreApplication::processEvents();
  t.fill = clock.nsecsElapsed() / 1e6;
  clock.restart();
  tree.sortItems(0, Qt::DescendingOrder);  // on column 0 (the same work: one key per row)
  QCoreApplication::processEvents();
  t.sort = clock.nsecsElapsed() / 1e6;
  clock.restart();
  Scroll(&tree);
  t.scroll = clock.nsecsElapsed() / 1e6;
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 300000;
  const Times ours = RunToolkit(rows);
  const Times peer = RunTreeWidget(rows);
  std::printf("%d rows         fill ms   sort ms  scroll ms   total ms\n", rows);
  std::printf("ListBox      %9.1f %9.1f %10.1f %10.1f\n", ours.fill, ours.sort, ours.scroll, ours.Total());
  std::printf("QTreeWidget  %9.1f %9.1f %10.1f %10.1f\n", peer.fill, peer.sort, peer.scroll, peer.Total());
  std::printf("(of ListBox's fill, %.1f ms make the row texts before they reach the list)\n", ours.rowTexts);
  std::printf("ratio QTreeWidget / ListBox: fill %.2f  sort %.2f  total %.2f\n", peer.fill / ours.fill,
              peer.sort / ours.sort, peer.Total() / ours.Total());
  return 0;
}
