#pragma once
// Controls whose parts have names of their own (tree nodes, list header
// items). Windows set captions by name, so these parts answer like controls.
#include <QString>

namespace dunmere::ui {

class INamedItems {
 public:
  virtual ~INamedItems() = default;
  virtual bool HasItem(const QString& name) const = 0;
  virtual bool SetItemText(const QString& name, const QString& text) = 0;
  virtual QString ItemText(const QString& name) const = 0;
};

// Every control that raises notifications of its own declares this signal:
//   void skinNotify(const QString& type, const QString& senderName, qint64 wParam, qint64 lParam);
// The window connects it by signature, so controls need no common base class.
inline constexpr const char* kSkinNotifySignal = "skinNotify(QString,QString,qint64,qint64)";

}  // namespace dunmere::ui
