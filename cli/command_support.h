#pragma once
// What the commands of dunmere-cli share: their arguments, their error lines
// and the device that stands for a source.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/core/sessions/scan_session.h"
#include "cli/cli_app.h"

namespace dunmere::cli {

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;
  std::set<std::string> flags;
  bool Has(const std::string& f) const { return flags.count(f) != 0; }
  std::string Value(const std::string& k) const {
    auto it = values.find(k);
    return it == values.end() || it->second.empty() ? std::string() : it->second.back();
  }
  bool HasValue(const std::string& k) const { return values.count(k) != 0; }
};

// Options from in[from]: `valueOpts` take a value ("--x v" or "--x=v"),
// `flagOpts` none; "-h" is "--help"; after "--" everything is positional.
bool ParseArgs(const std::vector<std::string>& in, size_t from, const std::set<std::string>& valueOpts,
               const std::set<std::string>& flagOpts, Args& out, std::string& error);
// The same with the options the command's help lists (app/core/help), in[0]
// being the command's name: what --help, the manual page and the completion
// offer is what is accepted.
bool ParseCommandArgs(const std::vector<std::string>& in, Args& out, std::string& error);
// Prints the command's --help text; returns kExitOk.
int ShowCommandHelp(CliContext& ctx, const std::string& command);
bool Stopped(const CliContext& ctx);
// "dunmere-cli: message" on the error stream; returns `code`.
int Fail(CliContext& ctx, const std::string& message, int code = kExitFailure);
// The same for a wrong command line, pointing at --help.
int Usage(CliContext& ctx, const std::string& message);
// The device node whose identity stands for a source in the same-device checks.
std::string IdentityPath(const SourceSpec& s);

int CmdImage(const std::vector<std::string>& argv, CliContext& ctx);

}  // namespace dunmere::cli
