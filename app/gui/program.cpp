#include "app/gui/program.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <filesystem>

#include "app/core/language_table.h"
#include "app/core/started_processes.h"
#include "app/gui/main_wnd.h"
#include "app/gui/message_box.h"
#include "app/gui/single_instance.h"
#include "platform/data_folder.h"
#include "ui/skin.h"

namespace dunmere::gui {
namespace {

int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char one = 1;
  [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &one, 1);
}

// A session that ends, or a kill, asks the program to close like its close
// button does, so that what it leaves behind is cleaned up.
void CloseOnTerminationSignals(CMainWnd& wnd) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &wnd);
  QObject::connect(notifier, &QSocketNotifier::activated, &wnd, [&wnd] {
    char c;
    [[maybe_unused]] ssize_t n = read(g_signalPipe[0], &c, 1);
    wnd.Close(2);
    QCoreApplication::quit();
  });
  struct sigaction sa = {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

}  // namespace

int RunProgram(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("dunmere"));
  QApplication::setDesktopFileName(QStringLiteral("dunmere"));

  QStringList images;
  const QStringList args = QApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) images << QFileInfo(args[i]).absoluteFilePath();

  SingleInstance instance;
  switch (instance.Acquire(images)) {
    case SingleInstance::Role::kHandedOver:
      return 0;
    case SingleInstance::Role::kFirstHasNoWindow:
      CMessageBox::Show(CMessageBox::kInformation, nullptr, QStringLiteral("Dunmere is running."), 350, 150);
      return 0;
    case SingleInstance::Role::kFirst:
      break;
  }

  // The program folder may be read-only once installed: the chosen language
  // is kept per user.
  app::LanguageTable::Instance().SetUserConfigPath(DataFolderPath() + "/config.ini");

  int result = 0;
  {
    CMainWnd::Options options;
    options.quitOnClose = true;
    CMainWnd wnd(std::move(options));
    wnd.Create(nullptr);
    const QIcon icon(ui::Skin::Instance().Picture(QStringLiteral("file='main/logo.png'")));
    wnd.setWindowIcon(icon);
    QApplication::setWindowIcon(icon);
    wnd.CenterWindow();
    wnd.show();
    wnd.activateWindow();
    wnd.AddImageFiles(images);
    QObject::connect(&instance, &SingleInstance::activated, &wnd, [&wnd](const QStringList& more) {
      wnd.BringToFront();
      wnd.AddImageFiles(more);
    });
    CloseOnTerminationSignals(wnd);
    instance.SetReady(true);
    result = QApplication::exec();
    instance.SetReady(false);
  }

  // Players and converters this program started do not outlive it; processes
  // of the same name that the person started are not ours to end.
  StartedProcesses::Instance().EndAll();
  // The preview's video is a copy of a found file: it does not outlive us.
  std::error_code ec;
  std::filesystem::remove(ScanLogFolderPath() + "/tmp.avi", ec);
  return result;
}

}  // namespace dunmere::gui
