#pragma once
// The assist menu of the title bar: help, support, about (the version), the
// language submenu and exit. The help entries open the user guide that ships with the program.
#include <QPoint>
#include <QString>

class QMenu;

namespace dunmere::ui {
class WindowImplBase;
}

namespace dunmere::gui {

struct AssistChoice {
  enum class Kind { kNone, kHelp, kSupport, kAbout, kLanguage, kExit };
  Kind kind = Kind::kNone;
  QString language;  // kLanguage: the language's name
};

// The prefix of the language entries' names: the languages are named by the
// language files, which could otherwise clash with the fixed entries.
inline constexpr char kLanguageEntryPrefix[] = "language:";

// Opens the menu at a global position and returns the entry chosen.
AssistChoice RunAssistMenu(ui::WindowImplBase& wnd, QPoint globalPos);
// Captions the menu's entries in the current language and adds one entry per
// language, the current one marked.
void PrepareAssistMenu(QMenu* menu);
// Interprets an entry's name as RunAssistMenu does.
AssistChoice ChoiceFromEntry(const QString& name);

// The About box's text in the current language: the program's name and
// version, and what it does.
QString AboutText();

// Where the user guide is: the program folder's "../doc/dunmere/guide.md"
// (installed and in the build tree); empty when it is not there.
QString UserGuidePath();

}  // namespace dunmere::gui
