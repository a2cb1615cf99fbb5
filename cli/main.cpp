// dunmere-cli: the command-line front end over the recovery engines.
#include <atomic>
#include <iostream>

#include "cli/cli_app.h"
#include "platform/signals.h"
#include "platform/this_process.h"

namespace {
std::atomic<bool> g_stop{false};
}  // namespace

int main(int argc, char** argv) {
  // The first Ctrl-C asks the running scan or copy to stop at its next report;
  // a second one ends the program at once.
  dunmere::SetStopOnSignal(g_stop);

  std::vector<std::string> args(argv + 1, argv + argc);
  dunmere::cli::CliContext ctx{std::cout, std::cerr};
  ctx.errIsTerminal = dunmere::IsTerminal(dunmere::StandardStream::kError);
  ctx.stop = &g_stop;
  return dunmere::cli::RunCli(args, ctx);
}
