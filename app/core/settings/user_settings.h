#pragma once
// Settings kept per user, in the file that keeps the user's choice of
// language (LanguageTable::SetUserConfigPath: "config.ini" in the user's data
// folder). Without such a file nothing is kept: the program folder's files
// belong to the installation and are never written for one user.
#include <string>

namespace dunmere::app {

// The value of key in section; empty when there is none.
std::string UserSetting(const std::string& section, const std::string& key);
// Sets it (creating the file and its folder); false when there is no
// per-user file or it could not be written.
bool SetUserSetting(const std::string& section, const std::string& key, const std::string& value);

}  // namespace dunmere::app
