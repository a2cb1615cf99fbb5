#include "app/gui/apply_section.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMetaEnum>
#include <QTranslator>

#include "app/core/language/language_table.h"
#include "ui/window_base.h"

namespace dunmere::gui {

int ApplySection(ui::WindowImplBase* window, const QString& section) {
  if (!window) return 0;
  int applied = 0;
  // Every window's title bar has its close button: its tip is the language's too.
  if (window->HasControl(QStringLiteral("closebtn"))) window->SetToolTip(QStringLiteral("closebtn"), MessageText("MSG1308"));
  const auto map = app::LanguageTable::Instance().Section(section.toStdString());
  for (const auto& [key, text] : map) {
    const QString name = QString::fromStdString(key);
    if (!window->HasControl(name)) continue;
    if (window->SetText(name, QString::fromStdString(text))) ++applied;
  }
  return applied;
}

void FollowLanguageInQtTexts() {
  static QTranslator* installed = nullptr;
  if (installed) {
    QCoreApplication::removeTranslator(installed);
    delete installed;
    installed = nullptr;
  }
  const QByteArray name = QByteArray::fromStdString(app::LanguageTable::Instance().CurrentLanguage());
  bool known = false;
  const int language = QMetaEnum::fromType<QLocale::Language>().keyToValue(name.constData(), &known);
  if (!known || language == QLocale::English || !QCoreApplication::instance()) return;
  auto* translator = new QTranslator;
  if (translator->load(QLocale(QLocale::Language(language)), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
      QCoreApplication::installTranslator(translator)) {
    installed = translator;
  } else {
    delete translator;
  }
}

QString MessageText(const char* id) {
  return QString::fromStdString(app::LanguageTable::Instance().Text("Messages", id));
}

QString SectionText(const char* section, const QString& key) {
  return QString::fromStdString(app::LanguageTable::Instance().Text(section, key.toStdString()));
}

QString FileTypeCaption(const QString& builtIn) {
  const QString text = SectionText("FileTypes", builtIn);
  return text.isEmpty() ? builtIn : text;
}

}  // namespace dunmere::gui
