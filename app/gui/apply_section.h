#pragma once
#include <QString>

namespace dunmere::ui {
class WindowImplBase;
}

namespace dunmere::gui {

// Sets the captions of a window's controls from a section of the current
// language: each key names a control (or a tree node, or a list header item)
// and its text becomes the caption. Keys without a control are skipped;
// hidden controls get their text too. Returns how many captions were set.
// The window's close button ("closebtn") gets its tool tip (MSG1308) as well.
int ApplySection(ui::WindowImplBase* window, const QString& section);

// Loads Qt's own texts (the buttons and labels of its file dialog, the
// context menus of text fields) for the current language, named as Qt names
// its languages ("German"); none for English, or when Qt's translation is not
// installed. Done again after every switch.
void FollowLanguageInQtTexts();

// The text of a message id ("MSG0504") in the current language; empty when missing.
QString MessageText(const char* id);
// A text of any section of the current language; empty when missing.
QString SectionText(const char* section, const QString& key);
// The caption of a file-type option in the current language: the built-in
// caption is its key; a language without it shows the built-in caption.
QString FileTypeCaption(const QString& builtIn);

}  // namespace dunmere::gui
