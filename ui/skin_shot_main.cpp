// Renders a skin layout offscreen into a PNG, so layouts can be looked at on
// machines without a display:
//   dunmere-skin-shot [--skin DIR|ZIP] [--size WxH] LAYOUT OUT.png
#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <cstdio>

#include "ui/disk_list.h"
#include "ui/file_tree.h"
#include "ui/list_ui.h"
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
  std::fprintf(stderr, "usage: dunmere-skin-shot [--skin DIR|ZIP] [--size WxH] [--sample] LAYOUT OUT.png\n");
  return 2;
}

// A few made-up rows, so that lists and trees show how they draw.
void FillSamples(QWidget& w) {
  using dunmere::ui::ListRow;
  for (auto* disks : w.findChildren<dunmere::ui::DiskList*>()) {
    const int d = disks->AddHeaderRow("Hard Disk 1");
    const char* parts[][3] = {{"C:\\ System", "NTFS", "237.87 GB"}, {"D:\\ Data", "FAT32", "14.90 GB"}};
    int usage = 35;
    for (auto& p : parts) {
      ListRow r;
      r.cells = {p[0], p[1], p[2]};
      r.usage = usage += 40;
      disks->AddSourceRow(d, r);
    }
  }
  for (auto* list : w.findChildren<dunmere::ui::ListBox*>()) {
    if (qobject_cast<dunmere::ui::DiskList*>(list)) continue;
    const QStringList names = list->Model()->ColumnNames();
    for (const QString& n : names) list->SetItemText(n, n);
    for (int i = 0; i < 6; ++i) {
      ListRow r;
      for (const QString& n : names)
        r.cells << (n == "FileName" ? QStringLiteral("IMG_%1.jpg").arg(1000 + i) : n == "Size" ? "1.25 MB" : n);
      r.check = i % 3 == 0 ? Qt::Checked : Qt::Unchecked;
      r.icon = "file='FileIcon/jpg.png'";
      list->AddRow(r);
    }
    list->SetHeaderCheck(Qt::PartiallyChecked);
    if (names.size() > 2) list->SetHeaderPicture(names[2], "file='list_header_desc.png' corner='0,1,13,1'");
  }
  for (auto* tree : w.findChildren<dunmere::ui::FileTree*>()) {
    if (QTreeWidgetItem* top = tree->topLevelItem(0)) {
      auto* jpg = tree->AddNode(top, "", "JPG/JPEG (4)");
      tree->SetNodePicture(jpg, "file='FileIcon/jpg.png'");
      tree->SetCheck(jpg, Qt::Checked);
      auto* png = tree->AddNode(top, "", "PNG Graphics Files (2)");
      tree->SetNodePicture(png, "file='FileIcon/png.png'");
      tree->SetCheck(top, Qt::PartiallyChecked);
      tree->expandAll();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  QString skin;
  QSize size;
  bool sample = false;
  while (!args.isEmpty() && args.first().startsWith("--")) {
    const QString opt = args.takeFirst();
    if (opt == "--sample") {
      sample = true;
      continue;
    }
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
  if (sample) FillSamples(w);
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
