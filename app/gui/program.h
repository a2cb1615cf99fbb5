#pragma once
// The desktop program from start to end: one copy per user, the main window
// until it is closed, then the preview's leftovers are cleaned up.
namespace dunmere::gui {

// dunmere [IMAGE...]: each image file named becomes a source row.
int RunProgram(int argc, char** argv);

}  // namespace dunmere::gui
