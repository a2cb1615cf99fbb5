#include "app/gui/assist_menu.h"

#include <QActionGroup>
#include <QFileInfo>
#include <QMenu>

#include "app/core/language/language_table.h"
#include "app/gui/apply_section.h"
#include "app/gui/progress_wnd.h"
#include "base/version.h"
#include "ui/skin.h"
#include "ui/window_base.h"

namespace dunmere::gui {

AssistChoice ChoiceFromEntry(const QString& name) {
  AssistChoice c;
  if (name == u"item_help") c.kind = AssistChoice::Kind::kHelp;
  else if (name == u"item_support") c.kind = AssistChoice::Kind::kSupport;
  else if (name == u"item_about") c.kind = AssistChoice::Kind::kAbout;
  else if (name == u"item_exit") c.kind = AssistChoice::Kind::kExit;
  else if (name.startsWith(QLatin1String(kLanguageEntryPrefix))) {
    c.kind = AssistChoice::Kind::kLanguage;
    c.language = name.mid(int(sizeof kLanguageEntryPrefix) - 1);
  }
  return c;
}

void PrepareAssistMenu(QMenu* menu) {
  // The entries are named in the layout; their captions are the language's.
  for (QAction* a : menu->actions()) {
    const QString text = SectionText("AssistMenu", a->objectName());
    if (!a->objectName().isEmpty() && !text.isEmpty()) a->setText(text);
  }
  QMenu* languages = menu->findChild<QMenu*>(QStringLiteral("item_language"));
  if (!languages) return;
  if (const QString text = SectionText("AssistMenu", languages->objectName()); !text.isEmpty())
    languages->setTitle(text);
  auto& table = app::LanguageTable::Instance();
  const std::string current = table.CurrentLanguage();
  const QIcon mark(ui::Skin::Instance().Picture(QStringLiteral("file='point.png' source='0,0,16,16'"), QSize(16, 16)));
  for (const auto& [name, display] : table.Languages()) {
    QAction* a = languages->addAction(QString::fromStdString(display));
    a->setObjectName(QLatin1String(kLanguageEntryPrefix) + QString::fromStdString(name));
    if (name == current) a->setIcon(mark);
  }
}

AssistChoice RunAssistMenu(ui::WindowImplBase& wnd, QPoint globalPos) {
  const QString chosen = wnd.PopupMenu(QStringLiteral("xml/menu_assist.xml"), globalPos, &PrepareAssistMenu);
  return ChoiceFromEntry(chosen);
}

QString AboutText() {
  const std::string_view version = ProgramVersion();
  return FillFormat(MessageText("MSG1381"), QString::fromUtf8(version.data(), qsizetype(version.size())));
}

QString UserGuidePath() {
  const QString path =
      QFileInfo(QString::fromStdString(app::ProgramFolder()) + QStringLiteral("../doc/dunmere/guide.md")).canonicalFilePath();
  return path;
}

}  // namespace dunmere::gui
