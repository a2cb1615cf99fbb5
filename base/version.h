#pragma once
// The program's version: project(VERSION) of the top CMakeLists.txt, the one
// number the programs, the manual pages and the packages show.
#include <string_view>

namespace dunmere {

std::string_view ProgramVersion();

}  // namespace dunmere
