// dunmere-cli: the command-line front end over the recovery engines.
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <string>

#include "cli/cli_app.h"
#include "platform/signals.h"
#include "platform/this_process.h"

namespace {
std::atomic<bool> g_stop{false};

// DUNMERE_INTERRUPT_AT="<percent>:INT" or "<percent>:KILL" interrupts a deep
// scan once its sector pass reports that percent: as a Ctrl-C would (the
// position is saved) or as a kill -9 would (it is not). The interruption
// check uses it to cut scans at chosen points rather than after a guessed
// delay.
void InterruptAtChosenPoint(dunmere::cli::CliContext& ctx) {
  const char* at = std::getenv("DUNMERE_INTERRUPT_AT");
  if (!at || !*at) return;
  char* rest = nullptr;
  const long percent = std::strtol(at, &rest, 10);
  const std::string how = rest && *rest == ':' ? rest + 1 : "";
  if (rest == at || percent < 0 || percent > 100 || (how != "INT" && how != "KILL")) {
    std::cerr << "dunmere-cli: DUNMERE_INTERRUPT_AT must be <percent>:INT or <percent>:KILL\n";
    std::exit(dunmere::cli::kExitUsage);
  }
  const bool hard = how == "KILL";
  ctx.onScanProgress = [percent, hard](const dunmere::ScanProgress& p) {
    // The sector pass reports with the deep share; the quick pass before it
    // with a small one.
    if (p.share < 50 || p.percent < percent) return;
    if (hard) dunmere::EndThisProcessAbruptly();
    g_stop = true;
  };
}
}  // namespace

int main(int argc, char** argv) {
  // The first Ctrl-C asks the running scan or copy to stop at its next report;
  // a second one ends the program at once.
  dunmere::SetStopOnSignal(g_stop);

  dunmere::UseUtf8Console();
  std::vector<std::string> args = dunmere::ProgramArguments(argc, argv);
  dunmere::cli::CliContext ctx{std::cout, std::cerr};
  ctx.errIsTerminal = dunmere::IsTerminal(dunmere::StandardStream::kError);
  ctx.stop = &g_stop;
  InterruptAtChosenPoint(ctx);
  return dunmere::cli::RunCli(args, ctx);
}
