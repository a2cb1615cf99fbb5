#pragma once
// Facts of the running process: who runs it and where its output goes.
#include <cstdint>

namespace dunmere {

// The user the process runs as (0 for root).
uint32_t CurrentUserId();

enum class StandardStream { kInput, kOutput, kError };
// The stream is a terminal (progress may redraw a line), not a file or a pipe.
bool IsTerminal(StandardStream stream);

// Ends the process at once, as a kill -9 would: no handler, no flush, no
// destructor runs. For checks of what survives a sudden end.
[[noreturn]] void EndThisProcessAbruptly();

}  // namespace dunmere
