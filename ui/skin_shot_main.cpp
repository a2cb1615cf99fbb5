// Renders a skin layout offscreen into a PNG, so layouts can be looked at on
// machines without a display:
//   dunmere-skin-shot [--skin DIR|ZIP] [--size WxH] LAYOUT OUT.png
#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <cstdio>

#include "ui/skin.h"
#include "ui/window_base.h"

namespace {

class ShotWindow : public dunmere::ui::WindowImplBase {
 public:
  explicit ShotWindow(QString layout) : layout_(std::move(layout)) {}
  QString SkinFile() const override { return layout_; }

 private:
  QString layout_;
};

int Usage() {
  std::fprintf(stderr, "usage: dunmere-skin-shot [--skin DIR|ZIP] [--size WxH] LAYOUT OUT.png\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  QString skin;
  QSize size;
  while (!args.isEmpty() && args.first().startsWith("--")) {
    const QString opt = args.takeFirst();
    if (args.isEmpty()) return Usage();
    if (opt == "--skin") skin = args.takeFirst();
    else if (opt == "--size") {
      const QStringList wh = args.takeFirst().split('x');
      size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
    } else return Usage();
  }
  if (args.size() != 2) return Usage();
  if (!skin.isEmpty()) {
    if (QFileInfo(skin).isDir()) dunmere::ui::Skin::Instance().UseFolder(skin);
    else if (!dunmere::ui::Skin::Instance().UseArchiveFile(skin)) {
      std::fprintf(stderr, "cannot read skin archive %s\n", qPrintable(skin));
      return 1;
    }
  }
  ShotWindow w(args[0]);
  if (!w.Create(nullptr, size.width(), size.height())) {
    std::fprintf(stderr, "%s\n", qPrintable(w.LoadError()));
    return 1;
  }
  for (const QString& warning : w.LoadWarnings()) std::fprintf(stderr, "warning: %s\n", qPrintable(warning));
  QImage img;
  if (QMenu* menu = w.findChild<QMenu*>()) {
    // A menu layout: show the menu itself.
    menu->adjustSize();
    img = menu->grab().toImage();
  } else {
    w.show();
    app.processEvents();
    img = w.grab().toImage();
  }
  if (!img.save(args[1], "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(args[1]));
    return 1;
  }
  return 0;
}
