#pragma once
// The signals that ask the program to end (a kill, Ctrl-C, the end of the
// session), turned into something the program answers in its own time: a
// descriptor an event loop watches, or a flag the running work polls.
#include <atomic>

namespace dunmere {

// From now on a kill, Ctrl-C or the end of the session no longer ends the
// process: each makes a byte readable on the descriptor returned, for an
// event loop (a QSocketNotifier) to close the program in order. -1 when it
// cannot be set up; the signals then keep their default. Once per process.
int OpenStopSignalPipe();
// Takes one signal's byte off that descriptor.
void TakeStopSignal(int fd);

// The first Ctrl-C or kill sets `stop`, which the running scan or copy polls
// at its next report; a second Ctrl-C ends the program at once. `stop` must
// outlive the process's handling of signals (a global).
void SetStopOnSignal(std::atomic<bool>& stop);

}  // namespace dunmere
