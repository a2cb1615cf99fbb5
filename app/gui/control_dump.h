#pragma once
// For scripts that drive the program on a screen of their own (the guide's
// screenshots): when DUNMERE_DUMP_CONTROLS names a file, the program keeps in
// it where its visible windows, named controls, list rows, header sections
// and menu entries stand on the screen, rewritten (whole, by renaming) soon
// after anything on the screen changed. A script then clicks a control by
// its name instead of by a coordinate that moves with every layout change.
#include <QString>

namespace dunmere::gui {

// One line per visible thing, fields separated by tabs:
//   kind  window  name  x  y  width  height        (screen pixels)
// kind: "window" (name: its title), "control" (its object name), "row" (an
// item view's row by the first cell that has text, which is the cell given),
// "check" (that row's check box), "header" (a section by its text), "action"
// (a menu entry by its text, without the & marks). window: the class name of
// the top-level window it is in (its ClassName for skinned windows).
QString DescribeControls();
bool WriteControlDump(const QString& path);
// Starts keeping the file named by the environment; false when none is named.
bool StartControlDumpFromEnvironment();

}  // namespace dunmere::gui
