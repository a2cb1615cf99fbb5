#include "platform/signals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dunmere {

namespace {

int g_signalPipe[2] = {-1, -1};
std::atomic<bool>* g_stop = nullptr;

void WriteSignalByte(int) {
  const char one = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &one, 1);
}

void SetStopFlag(int) {
  g_stop->store(true);
  // A second Ctrl-C ends the program at once.
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  ::sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

int OpenStopSignalPipe() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return -1;
  struct sigaction sa = {};
  sa.sa_handler = WriteSignalByte;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
  return g_signalPipe[0];
}

void TakeStopSignal(int fd) {
  char c;
  [[maybe_unused]] ssize_t n = ::read(fd, &c, 1);
}

void SetStopOnSignal(std::atomic<bool>& stop) {
  g_stop = &stop;
  struct sigaction sa {};
  sa.sa_handler = SetStopFlag;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace dunmere
