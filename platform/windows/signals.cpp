#include "platform/signals.h"

#include "platform/windows/win_util.h"

namespace dunmere {

namespace {

std::atomic<bool>* g_stop = nullptr;
std::atomic<int> g_interrupts{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (!g_stop) return FALSE;
  g_stop->store(true);
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // A second Ctrl-C ends the program at once (the system's default).
      return g_interrupts.fetch_add(1) == 0 ? TRUE : FALSE;
    default:
      // The console closes or the session ends: the system ends the process
      // when this returns, so the running work gets a moment to save its
      // place first.
      ::Sleep(3000);
      return TRUE;
  }
}

}  // namespace

// The desktop program's event loop watches this; the Windows build has no
// desktop program yet, so there is nothing to hand out.
int OpenStopSignalPipe() { return -1; }
void TakeStopSignal(int) {}

void SetStopOnSignal(std::atomic<bool>& stop) {
  g_stop = &stop;
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace dunmere
