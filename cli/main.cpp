// dunmere-cli: the command-line front end over the recovery engines.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>

#include "cli/cli_app.h"

namespace {
std::atomic<bool> g_stop{false};

// The first Ctrl-C asks the running scan or copy to stop at its next report;
// a second one ends the program at once.
void OnInterrupt(int) {
  g_stop.store(true);
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigaction(SIGINT, &sa, nullptr);
}
}  // namespace

int main(int argc, char** argv) {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  std::vector<std::string> args(argv + 1, argv + argc);
  dunmere::cli::CliContext ctx{std::cout, std::cerr};
  ctx.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  ctx.stop = &g_stop;
  return dunmere::cli::RunCli(args, ctx);
}
