// The list's virtual mode: rows served by their owner, checked by the user
// through the owner, and the held-row operations that must not touch them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <set>

#include "tests/ui/ui_test_app.h"
#include "ui/list_ui.h"

namespace dunmere::ui {
namespace {

class Numbers : public IListRowSource {
 public:
  int RowCount() const override { return count; }
  QString Cell(int row, int column) const override { return QStringLiteral("%1:%2").arg(row).arg(column); }
  int Check(int row) const override { return checked.count(row) ? Qt::Checked : Qt::Unchecked; }
  QString Icon(int) const override { return QStringLiteral("file='FileIcon/jpg.png'"); }
  quint64 Tag(int row) const override { return quint64(row) * 10; }
  void CheckToggled(int row, int state) override { toggles.push_back({row, state}); }
  int count = 500000;
  std::set<int> checked;
  std::vector<std::pair<int, int>> toggles;
};

TEST(ListRowSource, RowsComeFromTheOwnerAndChecksGoBackToIt) {
  test::UiApp();
  ListBox list;
  list.setProperty("columns", "ChkSelAll:30;FileName:200;Size:80");
  list.setProperty("checkcolumn", true);
  list.AdoptLayout();
  list.resize(400, 300);
  list.show();
  Numbers rows;
  list.SetRowSource(&rows);
  EXPECT_EQ(list.RowCount(), 500000);
  EXPECT_EQ(list.Model()->data(list.Model()->index(7, 1), Qt::DisplayRole).toString(), "7:1");
  EXPECT_FALSE(list.Model()->data(list.Model()->index(7, 0), Qt::DisplayRole).isValid());
  EXPECT_EQ(list.RowTag(499999), 4999990u);
  EXPECT_EQ(list.Row(3).cells.value(2), "3:2");
  EXPECT_EQ(list.Row(3).icon, "file='FileIcon/jpg.png'");

  std::vector<std::pair<qint64, qint64>> clicks;
  QObject::connect(&list, &ListBox::skinNotify, [&](const QString& type, const QString&, qint64 w, qint64 l) {
    if (type == u"list_check_click") clicks.push_back({w, l});
  });
  const QPoint at = list.visualRect(list.Model()->index(1, 0)).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, list.viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(list.viewport(), &press);
  ASSERT_EQ(rows.toggles.size(), 1u);
  EXPECT_EQ(rows.toggles[0], std::make_pair(1, int(Qt::Checked)));
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0], std::make_pair(qint64(1), qint64(Qt::Checked)));
  // The owner decides: it did not take the check, so the box stays empty.
  EXPECT_EQ(list.Model()->CheckOf(1), Qt::Unchecked);
  rows.checked.insert(1);
  EXPECT_EQ(list.Model()->CheckOf(1), Qt::Checked);

  // Held-row changes leave the owner's rows alone.
  list.AddRow(ListRow{});
  list.RemoveRows(0, 10);
  list.SetRowCheck(2, Qt::Checked);
  list.Sort([](const ListRow&, const ListRow&) { return false; });
  EXPECT_EQ(list.RowCount(), 500000);
  EXPECT_EQ(list.Model()->CheckOf(2), Qt::Unchecked);
  // Fewer rows after a reset.
  rows.count = 2;
  list.Model()->SourceReset();
  EXPECT_EQ(list.RowCount(), 2);
  EXPECT_EQ(list.Model()->CheckOf(5), -1);
  // Clearing returns to held rows.
  list.Clear();
  EXPECT_EQ(list.Model()->RowSource(), nullptr);
  ListRow held;
  held.cells = {"", "x"};
  list.AddRow(held);
  EXPECT_EQ(list.RowCount(), 1);
}

}  // namespace
}  // namespace dunmere::ui
