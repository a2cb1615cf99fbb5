#pragma once
// The commands of dunmere-cli. Everything that decides anything lives in the
// application core; this layer parses arguments and prints.
#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/core/sessions/scan_session.h"

namespace dunmere::cli {

// Makes the engine for a source; tests hand in their own.
using EngineOpener = std::function<Status(const SourceSpec&, bool deep, OpenedEngine&, std::string& error)>;
// Resolves SOURCE arguments; tests may accept names of their own.
using SourceResolver = std::function<Status(const std::string&, SourceSpec&, std::string& error)>;

struct CliContext {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  // Set by Ctrl-C; scans and copies stop at their next progress report.
  const std::atomic<bool>* stop = nullptr;
  // Shown each scan progress report before the stop is asked.
  std::function<void(const ScanProgress&)> onScanProgress = nullptr;
  EngineOpener openEngine = OpenEngine;
  SourceResolver resolveSource = ResolveSource;
};

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // an error, or some files could not be recovered
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 130;

// args without the program name.
int RunCli(const std::vector<std::string>& args, CliContext& ctx);

}  // namespace dunmere::cli
