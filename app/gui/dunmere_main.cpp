// dunmere [IMAGE...]: the desktop program.
#include "app/gui/program.h"

int main(int argc, char** argv) { return dunmere::gui::RunProgram(argc, argv); }
