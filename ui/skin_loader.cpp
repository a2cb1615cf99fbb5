#include "ui/skin_loader.h"

#include <QApplication>
#include <QBuffer>
#include <QHash>
#include <QXmlStreamReader>

#include "ui/button_ex.h"
#include "ui/disk_list.h"
#include "ui/file_tree.h"
#include "ui/list_ui.h"
#include "ui/pagination.h"

namespace dunmere::ui {
namespace {

// QUiLoader scans "<library path>/designer" for plug-ins while it is being
// constructed; with no library paths at that moment there is nothing to scan.
struct NoLibraryPaths {
  QStringList saved = QCoreApplication::libraryPaths();
  NoLibraryPaths() { QCoreApplication::setLibraryPaths({}); }
  ~NoLibraryPaths() { QCoreApplication::setLibraryPaths(saved); }
};

const QHash<QString, const char*>& OwnTypeTable() {
  static const QHash<QString, const char*> table = {
      {QStringLiteral("ButtonEx"), "dunmere::ui::ButtonEx"},
      {QStringLiteral("FileTree"), "dunmere::ui::FileTree"},
      {QStringLiteral("DiskList"), "dunmere::ui::DiskList"},
      {QStringLiteral("List"), "dunmere::ui::ListBox"},
      {QStringLiteral("Pagination"), "dunmere::ui::Pagination"},
  };
  return table;
}

}  // namespace


SkinLoader::SkinLoader(QObject* parent) : QUiLoader((NoLibraryPaths(), parent)) {
  clearPluginPaths();
}

bool SkinLoader::IsOwnType(const QString& className) { return OwnTypeTable().contains(className); }
QStringList SkinLoader::OwnTypes() { return OwnTypeTable().keys(); }

QWidget* SkinLoader::createWidget(const QString& className, QWidget* parent, const QString& name) {
  QWidget* w = nullptr;
  if (className == u"ButtonEx") w = new ButtonEx(parent);
  else if (className == u"FileTree") w = new FileTree(parent);
  else if (className == u"DiskList") w = new DiskList(parent);
  else if (className == u"List") w = new ListBox(parent);
  else if (className == u"Pagination") w = new Pagination(parent);
  if (w) {
    w->setObjectName(name);
    return w;
  }
  return QUiLoader::createWidget(className, parent, name);
}

QWidget* SkinLoader::Build(const QByteArray& layout, QWidget* parent, QString* error) {
  mismatches_.clear();
  if (layout.isEmpty()) {
    if (error) *error = QStringLiteral("empty layout");
    return nullptr;
  }
  // The classes the layout asks for, by widget name.
  QHash<QString, QString> wanted;
  QXmlStreamReader xml(layout);
  while (!xml.atEnd()) {
    if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"widget") {
      const QString name = xml.attributes().value(QStringLiteral("name")).toString();
      if (!name.isEmpty()) wanted.insert(name, xml.attributes().value(QStringLiteral("class")).toString());
    }
  }
  if (xml.hasError()) {
    if (error) *error = QStringLiteral("layout XML: %1").arg(xml.errorString());
    return nullptr;
  }
  QByteArray copy = layout;
  QBuffer buf(&copy);
  buf.open(QIODevice::ReadOnly);
  QWidget* root = load(&buf, parent);
  if (!root) {
    if (error) *error = errorString();
    return nullptr;
  }
  for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
    QWidget* w = root->objectName() == it.key() ? root : root->findChild<QWidget*>(it.key());
    if (!w) continue;
    const QString built = QString::fromLatin1(w->metaObject()->className());
    const auto own = OwnTypeTable().constFind(it.value());
    const QString expected = own != OwnTypeTable().constEnd() ? QString::fromLatin1(*own) : it.value();
    if (built != expected && !(own == OwnTypeTable().constEnd() && w->inherits(it.value().toLatin1())))
      mismatches_ << QStringLiteral("%1: layout says %2, built %3").arg(it.key(), it.value(), built);
  }
  return root;
}

}  // namespace dunmere::ui
