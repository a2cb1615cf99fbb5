#pragma once
// A preview tool that is not installed is told once per run, in words naming
// the Debian package that brings it; later previews quietly use the fallback.
#include <string>

namespace dunmere {

// What the preview does without the tool: a player plays nothing, a document
// converter leaves the file's bytes shown; the notice says which.
enum class MissingToolFallback { kNothing, kBytes };
// The notice, in the current language, the first time this tool is found
// missing, else empty.
std::string TakeMissingToolNotice(const std::string& tool, const std::string& debianPackage,
                                  MissingToolFallback fallback = MissingToolFallback::kBytes);
// Forgets what was told (tests).
void ResetMissingToolNotices();

}  // namespace dunmere
