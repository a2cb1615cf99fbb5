#pragma once
// Builds widgets from Qt Designer layouts of the skin. The program's own
// control types ("ButtonEx", "FileTree", "DiskList", "List", "Pagination")
// are created here; Designer plug-ins are never loaded, so a layout builds the
// same everywhere. Because the loader silently falls back to a custom class's
// base class when it does not know it, every built widget is checked against
// the class its layout names, and mismatches are reported.
#include <QStringList>
#include <QUiLoader>

namespace dunmere::ui {

class SkinLoader : public QUiLoader {
  Q_OBJECT
 public:
  explicit SkinLoader(QObject* parent = nullptr);
  QWidget* createWidget(const QString& className, QWidget* parent = nullptr,
                        const QString& name = QString()) override;

  // Builds the layout's widget tree under parent. Null and `error` set when
  // the layout is missing or not a layout.
  QWidget* Build(const QByteArray& layout, QWidget* parent, QString* error);
  // "name: layout says X, built Y" for every widget built as another class.
  const QStringList& Mismatches() const { return mismatches_; }

  static bool IsOwnType(const QString& className);
  static QStringList OwnTypes();

 private:
  QStringList mismatches_;
};

}  // namespace dunmere::ui
