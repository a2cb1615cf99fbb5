#include "tests/gui/gui_test_support.h"

#include <QDialog>

#include "app/core/language/language_table.h"
#include "ui/disk_list.h"

namespace dunmere::test {

void AnswerNextBox(const QWidget* main, BoxSeen* seen) {
  seen->poll = std::make_unique<QTimer>();
  QTimer* poll = seen->poll.get();
  QObject::connect(poll, &QTimer::timeout, [main, seen, poll] {
    if (ui::WindowImplBase* box = OpenBox(main)) {
      poll->stop();
      seen->shown = true;
      seen->layout = box->SkinFile();
      seen->message = box->Text(QStringLiteral("message"));
      if (auto* ok = box->Find<QAbstractButton>(QStringLiteral("okbtn"))) ok->click();
      else box->Close(1);
    } else if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      poll->stop();
      seen->unexpected = QString::fromLatin1(dialog->metaObject()->className());
      dialog->reject();
    }
  });
  poll->start(20);
}

void MainWndFixture::SetUp() {
  UiApp();
  UsePrivateDataFolder();
  app::LanguageTable::Instance().SetUserConfigPath(user_ / "config.ini");
  tree_ = std::make_unique<SysfsTree>();
  if (tree_->status == 77) GTEST_SKIP() << "the fake sysfs tree needs sfdisk and mkfs.fat: " << tree_->output;
  ASSERT_EQ(tree_->status, 0) << tree_->output;
}

void MainWndFixture::TearDown() {
  wnd_.reset();
  app::LanguageTable::Instance().SetUserConfigPath({});
}

gui::MainWnd& MainWndFixture::Open(EnumerationRoots roots, int deviceSettleMs) {
  gui::MainWnd::Options o;
  o.roots = std::move(roots);
  o.monitor = [m = monitor_] { return std::make_unique<FakeMonitor>(m); };
  o.deviceSettleMs = deviceSettleMs;
  wnd_ = std::make_unique<gui::MainWnd>(std::move(o));
  EXPECT_TRUE(wnd_->Create(nullptr)) << wnd_->LoadError().toStdString();
  wnd_->show();
  return *wnd_;
}

void MainWndFixture::Click(const char* name) {
  auto* b = wnd_->Find<QAbstractButton>(QString::fromLatin1(name));
  ASSERT_NE(b, nullptr) << name;
  b->click();
}

bool MainWndFixture::Visible(const char* name) const { return wnd_->IsControlVisible(QString::fromLatin1(name)); }

QString MainWndFixture::Text(const char* name) const { return wnd_->Text(QString::fromLatin1(name)); }

ui::DiskList& MainWndFixture::List() const { return *wnd_->DiskList(); }

QStringList MainWndFixture::Names() const {
  QStringList out;
  for (int r = 0; r < List().RowCount(); ++r) out << List().Row(r).cells.value(0);
  return out;
}

}  // namespace dunmere::test
