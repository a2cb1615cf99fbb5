#pragma once
// Language texts used as formats ("Selected: %s in %d files"). The texts come
// from files the user may edit, so they are never handed to printf: each %s
// or %d takes the next argument as text, "%%" is a percent sign, and anything
// else (other conversions, missing arguments) is written as it stands.
#include <string>
#include <string_view>
#include <vector>

namespace dunmere {

std::string FormatMessage(std::string_view format, const std::vector<std::string>& args);

}  // namespace dunmere
