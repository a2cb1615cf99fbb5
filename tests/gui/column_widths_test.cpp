// The results list's column widths: what the person sets by dragging a
// header divider is kept in that person's settings and comes back at the next
// start and after every later search; someone with nothing stored gets the
// widths fitted to the texts; the installed files are never written.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QMouseEvent>

#include "app/core/language/language_table.h"
#include "app/gui/file_type_page.h"
#include "app/gui/result_view.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/found_records.h"
#include "ui/list_ui.h"

namespace dunmere::test {
namespace {

class ColumnWidthsTest : public MainWndFixture {
 protected:
  ui::ListBox* List(gui::MainWnd& w) { return w.Find<ui::ListBox>(QStringLiteral("FileList")); }
  gui::MainWnd& OpenWithResults() {
    gui::MainWnd& w = Open();
    w.resize(1020, 670);
    w.Results().ShowResults({MakeRecord("a.jpg", 1, 100), MakeRecord("b.jpg", 2, 200)},
                            w.FileTypes().SelectedUserData());
    Pump(30);
    return w;
  }
  std::map<QString, int> Widths(gui::MainWnd& w) {
    std::map<QString, int> out;
    ui::ListBox* l = List(w);
    for (const char* c : {"Size", "ModifiedTime", "CreatedTime", "Path", "Type"})
      out[QLatin1String(c)] = l->Header()->sectionSize(l->ColumnIndex(QLatin1String(c)));
    return out;
  }
  // Drags the divider at the right end of the column by dx, as the mouse does.
  void DragDivider(gui::MainWnd& w, const char* column, int dx) {
    ui::ListBox* l = List(w);
    QHeaderView* h = l->Header();
    const int c = l->ColumnIndex(QLatin1String(column));
    const QPoint from(h->sectionViewportPosition(c) + h->sectionSize(c) - 1, h->height() / 2);
    const QPoint to = from + QPoint(dx, 0);
    QWidget* v = h->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, from, v->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, to, v->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, to, v->mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(v, &press);
    QCoreApplication::sendEvent(v, &move);
    QCoreApplication::sendEvent(v, &release);
    Pump(10);
  }
};

TEST_F(ColumnWidthsTest, DraggedWidthsComeBackAtTheNextStartForThatPersonOnly) {
  const std::vector<uint8_t> installedConfig = ReadBytes(SourcePath("languages/config.ini"));
  gui::MainWnd& first = OpenWithResults();
  const std::map<QString, int> fitted = Widths(first);
  DragDivider(first, "Size", 40);
  DragDivider(first, "Path", 25);
  std::map<QString, int> dragged = fitted;
  dragged[QStringLiteral("Size")] += 40;
  dragged[QStringLiteral("Path")] += 25;
  ASSERT_EQ(Widths(first), dragged) << "the drag did not reach the header";
  // A later search in the same run keeps them too.
  first.Results().ShowResults({MakeRecord("c.jpg", 3, 300)}, first.FileTypes().SelectedUserData());
  Pump(30);
  EXPECT_EQ(Widths(first), dragged);

  // The next start: before any search, and after one.
  wnd_.reset();
  gui::MainWnd& again = Open();
  again.resize(1020, 670);
  Pump(30);
  EXPECT_EQ(Widths(again), dragged);
  again.Results().ShowResults({MakeRecord("a.jpg", 1, 100)}, again.FileTypes().SelectedUserData());
  Pump(30);
  EXPECT_EQ(Widths(again), dragged);

  // Another person, with nothing stored, gets the fitted widths.
  wnd_.reset();
  TempDir other;
  app::LanguageTable::Instance().SetUserConfigPath(other / "config.ini");
  EXPECT_EQ(Widths(OpenWithResults()), fitted);
  EXPECT_EQ(ReadBytes(SourcePath("languages/config.ini")), installedConfig) << "the installed config.ini was written";
}

}  // namespace
}  // namespace dunmere::test
