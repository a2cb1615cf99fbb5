#include "ui/file_tree.h"

#include <QHeaderView>

#include <functional>

#include "ui/skin.h"

namespace dunmere::ui {

FileTree::FileTree(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setUniformRowHeights(true);
  setIconSize(QSize(16, 16));
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* cur, QTreeWidgetItem*) {
    if (cur) Raise("itemselect", cur, 0);
  });
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* n) { Raise("itemexpand", n, 1); });
  connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* n) { Raise("itemexpand", n, 0); });
  connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* n, int) { Raise("itemactivate", n, 0); });
  connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* n, int column) {
    // New items are user-checkable by default; only those showing a box count.
    if (column != 0 || !n->data(0, Qt::CheckStateRole).isValid()) return;
    // itemChanged also fires for text and picture changes; only a new check state counts.
    const int state = n->checkState(0);
    const QVariant last = n->data(0, Qt::UserRole + 9);
    n->setData(0, Qt::UserRole + 9, state);
    if (last.isValid() && last.toInt() == state) return;
    Raise("checkboxselectchanged", n, state);
  });
}

void FileTree::Raise(const char* type, QTreeWidgetItem* node, qint64 wParam) {
  if (quiet_) return;
  QString name = NameOf(node);
  if (name.isEmpty()) name = objectName();
  emit skinNotify(QString::fromLatin1(type), name, wParam, qint64(reinterpret_cast<quintptr>(node)));
}

void FileTree::AdoptLayoutNodes() {
  ++quiet_;
  std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* n) {
    const QString name = n->whatsThis(0);
    if (!name.isEmpty()) {
      n->setData(0, kNameRole, name);
      n->setWhatsThis(0, {});
    }
    if (property("checkboxes").toBool() && !n->data(0, Qt::CheckStateRole).isValid()) ShowCheckBox(n, true);
    for (int i = 0; i < n->childCount(); ++i) walk(n->child(i));
  };
  for (int i = 0; i < topLevelItemCount(); ++i) walk(topLevelItem(i));
  --quiet_;
}

QTreeWidgetItem* FileTree::Node(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  for (QTreeWidgetItemIterator it(const_cast<FileTree*>(this)); *it; ++it)
    if (NameOf(*it) == name) return *it;
  return nullptr;
}

QTreeWidgetItem* FileTree::AddNode(QTreeWidgetItem* parent, const QString& name, const QString& text,
                                      bool checkBox) {
  ++quiet_;
  auto* n = new QTreeWidgetItem;
  n->setText(0, text);
  n->setData(0, kNameRole, name);
  ShowCheckBox(n, checkBox);
  if (parent) parent->addChild(n);
  else addTopLevelItem(n);
  --quiet_;
  return n;
}

void FileTree::RemoveChildren(QTreeWidgetItem* node) {
  ++quiet_;
  qDeleteAll(node->takeChildren());
  --quiet_;
}

void FileTree::SetCheck(QTreeWidgetItem* node, Qt::CheckState state) {
  ++quiet_;
  node->setCheckState(0, state);
  node->setData(0, Qt::UserRole + 9, int(state));
  --quiet_;
}

void FileTree::ShowCheckBox(QTreeWidgetItem* node, bool show) {
  ++quiet_;
  if (show) {
    node->setFlags(node->flags() | Qt::ItemIsUserCheckable);
    if (!node->data(0, Qt::CheckStateRole).isValid()) node->setCheckState(0, Qt::Unchecked);
    node->setData(0, Qt::UserRole + 9, int(node->checkState(0)));
  } else {
    node->setFlags(node->flags() & ~Qt::ItemIsUserCheckable);
    node->setData(0, Qt::CheckStateRole, QVariant());
  }
  --quiet_;
}

void FileTree::SetNodePicture(QTreeWidgetItem* node, const QString& attr) {
  ++quiet_;
  node->setData(0, kIconRole, attr);
  node->setIcon(0, QIcon(Skin::Instance().Picture(attr, iconSize())));
  --quiet_;
}

void FileTree::SelectNode(QTreeWidgetItem* node, bool notify) {
  if (!notify) ++quiet_;
  setCurrentItem(node);
  if (!notify) --quiet_;
}

void FileTree::SetNodeText(QTreeWidgetItem* node, const QString& text) {
  ++quiet_;
  node->setText(0, text);
  --quiet_;
}

bool FileTree::SetItemText(const QString& name, const QString& text) {
  QTreeWidgetItem* n = Node(name);
  if (!n) return false;
  ++quiet_;
  n->setText(0, text);
  --quiet_;
  return true;
}

QString FileTree::ItemText(const QString& name) const {
  QTreeWidgetItem* n = Node(name);
  return n ? n->text(0) : QString();
}

}  // namespace dunmere::ui
