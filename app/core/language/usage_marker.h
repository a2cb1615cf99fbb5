#pragma once
// The usage marker: an empty file "Used" in the data folder, made the first
// time a scan window opens and never touched again.
#include <string>

namespace dunmere::app {

// Creates folder + "/Used" (and the folder) unless it exists. Failures are
// ignored; returns true when the marker exists afterwards.
bool EnsureUsageMarker(const std::string& dataFolder);

}  // namespace dunmere::app
