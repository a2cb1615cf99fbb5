#pragma once
// "FileTree": a tree whose nodes may carry a three-state check box, a picture,
// a name, a user-data text and a numeric tag. Nodes placed in the layout get
// their names from the node's "whatsThis" text in the designer.
//
// Notifications: "itemselect" (current node changed), "itemexpand",
// "itemactivate", and "checkboxselectchanged" when the user clicks a check box
// (wParam: new Qt::CheckState, 0 unchecked, 1 partial, 2 checked). The
// senderName is the node's name when it has one, else the tree's; lParam is
// the node (QTreeWidgetItem*).
#include <QTreeWidget>

#include "ui/named_items.h"

namespace dunmere::ui {

class FileTree : public QTreeWidget, public INamedItems {
  Q_OBJECT
 public:
  static constexpr int kNameRole = Qt::UserRole + 1;
  static constexpr int kUserDataRole = Qt::UserRole + 2;
  static constexpr int kTagRole = Qt::UserRole + 3;
  static constexpr int kIconRole = Qt::UserRole + 4;

  explicit FileTree(QWidget* parent = nullptr);

  // Takes node names from the layout's items; called once the layout is read.
  void AdoptLayoutNodes();

  QTreeWidgetItem* Node(const QString& name) const;
  QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& name, const QString& text,
                           bool checkBox = true);
  void RemoveChildren(QTreeWidgetItem* node);
  // Program changes raise no notification.
  void SetCheck(QTreeWidgetItem* node, Qt::CheckState state);
  static Qt::CheckState Check(const QTreeWidgetItem* node) { return node->checkState(0); }
  void ShowCheckBox(QTreeWidgetItem* node, bool show);
  void SetNodePicture(QTreeWidgetItem* node, const QString& attr);
  void SelectNode(QTreeWidgetItem* node, bool notify = true);
  static QString NameOf(const QTreeWidgetItem* node) { return node->data(0, kNameRole).toString(); }

  bool HasItem(const QString& name) const override { return Node(name) != nullptr; }
  // A node's caption, without reporting a change.
  void SetNodeText(QTreeWidgetItem* node, const QString& text);
  bool SetItemText(const QString& name, const QString& text) override;
  QString ItemText(const QString& name) const override;

 signals:
  void skinNotify(const QString& type, const QString& senderName, qint64 wParam, qint64 lParam);

 private:
  void Raise(const char* type, QTreeWidgetItem* node, qint64 wParam);
  int quiet_ = 0;
};

}  // namespace dunmere::ui
