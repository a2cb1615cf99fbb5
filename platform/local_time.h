#pragma once
// The calendar time of this moment in the machine's time zone (scan logs are
// named by it). The C library's thread-safe call differs between systems.
#include <ctime>

namespace dunmere {

std::tm LocalTimeNow();

}  // namespace dunmere
