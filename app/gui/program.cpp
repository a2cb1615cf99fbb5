#include "app/gui/program.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <filesystem>
#include <iostream>

#include "app/core/help/program_help.h"
#include "app/core/language/language_table.h"
#include "app/core/preview/started_processes.h"
#include "app/gui/apply_section.h"
#include "app/gui/control_dump.h"
#include "app/gui/main_wnd.h"
#include "app/gui/message_box.h"
#include "app/gui/single_instance.h"
#include "platform/data_folder.h"
#include "platform/signals.h"
#include "ui/skin.h"

namespace dunmere::gui {
namespace {

// A session that ends, or a kill, asks the program to close like its close
// button does, so that what it leaves behind is cleaned up.
void CloseOnTerminationSignals(MainWnd& wnd) {
  const int stopSignals = OpenStopSignalPipe();
  if (stopSignals < 0) return;
  auto* notifier = new QSocketNotifier(stopSignals, QSocketNotifier::Read, &wnd);
  QObject::connect(notifier, &QSocketNotifier::activated, &wnd, [&wnd, stopSignals] {
    TakeStopSignal(stopSignals);
    wnd.Close(2);
    QCoreApplication::quit();
  });
}

}  // namespace

int RunProgram(int argc, char** argv) {
  // Answered before any window system is needed: a terminal without a
  // display, or a packaging check, asks these too. Any other argument is an
  // image file.
  if (argc == 2 && (argv[1] == std::string_view("--help") || argv[1] == std::string_view("-h"))) {
    std::cout << app::HelpText(app::DesktopProgramHelp());
    return 0;
  }
  if (argc == 2 && argv[1] == std::string_view("--version")) {
    std::cout << app::VersionText(app::DesktopProgramHelp());
    return 0;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("dunmere"));
  // The menu entry org.dunmere.dunmere.desktop: a desktop matches the window
  // to it (its icon, its name), and the AppStream data is found by it.
  QApplication::setDesktopFileName(QStringLiteral("org.dunmere.dunmere"));

  QStringList images;
  const QStringList args = QApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) images << QFileInfo(args[i]).absoluteFilePath();

  // The program folder may be read-only once installed: the chosen language
  // is kept per user. Set first: even the box of a second start speaks it.
  app::LanguageTable::Instance().SetUserConfigPath(DataFolderPath() + "/config.ini");

  SingleInstance instance;
  switch (instance.Acquire(images)) {
    case SingleInstance::Role::kHandedOver:
      return 0;
    case SingleInstance::Role::kFirstHasNoWindow:
      MessageBoxWnd::Show(MessageBoxWnd::kInformation, nullptr, MessageText("MSG1307"), 350, 150);
      return 0;
    case SingleInstance::Role::kFirst:
      break;
  }

  int result = 0;
  {
    MainWnd::Options options;
    options.quitOnClose = true;
    MainWnd wnd(std::move(options));
    wnd.Create(nullptr);
    const QIcon icon(ui::Skin::Instance().Picture(QStringLiteral("file='main/logo.png'")));
    wnd.setWindowIcon(icon);
    QApplication::setWindowIcon(icon);
    wnd.GrowToScreen();
    wnd.CenterWindow();
    wnd.show();
    wnd.activateWindow();
    wnd.ChooseImageFiles(images);
    StartControlDumpFromEnvironment();
    QObject::connect(&instance, &SingleInstance::activated, &wnd, [&wnd](const QStringList& more) {
      wnd.BringToFront();
      wnd.ChooseImageFiles(more);
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
