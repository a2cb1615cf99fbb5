#pragma once
// A preview tool that is not installed is told once per run, in words naming
// the Debian package that brings it; later previews quietly use the fallback.
#include <string>

namespace dunmere {

// The notice the first time this tool is found missing, else empty.
std::string TakeMissingToolNotice(const std::string& tool, const std::string& debianPackage);
// Forgets what was told (tests).
void ResetMissingToolNotices();

}  // namespace dunmere
