#pragma once
// Paths are UTF-8 text throughout the program. The standard library's file
// calls (std::filesystem, file streams) take them through NativePath: as they
// are on Linux; on Windows as UTF-16 in the long form (\\?\C:\...), which
// holds every name and any length, where a narrow path would be read in the
// ANSI code page and stop at 260 characters.
#include <filesystem>
#include <string>

namespace dunmere {

std::filesystem::path NativePath(const std::string& utf8);
// The program's text of a path the library hands back: UTF-8, '/' between
// folders, without the long form's prefix.
std::string PathText(const std::filesystem::path& path);
// A path as a person typed it, in the program's form ("E:\Recovered" becomes
// "E:/Recovered" on Windows, where both separators mean the same); as it is
// on Linux, where '\' is a character of names.
std::string ProgramPath(const std::string& typed);
// folder + "/" + name (no second separator when folder ends with one).
std::string JoinPath(const std::string& folder, const std::string& name);
// The last name of a path (after its last separator, a trailing one ignored).
std::string FileNameOf(const std::string& path);

}  // namespace dunmere
