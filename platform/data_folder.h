#pragma once
// Where the program keeps its data. $DUNMERE_DATA_DIR, when set, replaces the
// data folder (tests, and users who want the scan logs elsewhere); otherwise it
// is "$XDG_DATA_HOME/Free Dunmere", by default "~/.local/share/Free Dunmere";
// on Windows "%LOCALAPPDATA%\Free Dunmere".
#include <string>

namespace dunmere {

std::string DataFolderPath();
// DataFolderPath() + "/ScanLog".
std::string ScanLogFolderPath();

}  // namespace dunmere
