#include "cli/command_support.h"

#include "app/core/help/program_help.h"
#include "storage/volume_space.h"

namespace dunmere::cli {

bool ParseArgs(const std::vector<std::string>& in, size_t from, const std::set<std::string>& valueOpts,
               const std::set<std::string>& flagOpts, Args& out, std::string& error) {
  bool optionsEnded = false;
  for (size_t i = from; i < in.size(); ++i) {
    const std::string& a = in[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      out.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = a, value;
    bool inlineValue = false;
    if (size_t eq = a.find('='); eq != std::string::npos && a.rfind("--", 0) == 0) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inlineValue = true;
    }
    if (name == "-h") name = "--help";
    if (valueOpts.count(name)) {
      if (!inlineValue) {
        if (i + 1 >= in.size()) {
          error = "option " + name + " needs a value";
          return false;
        }
        value = in[++i];
      }
      out.values[name].push_back(value);
    } else if (flagOpts.count(name) || name == "--help") {
      if (inlineValue) {
        error = "option " + name + " takes no value";
        return false;
      }
      out.flags.insert(name);
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  return true;
}

bool ParseCommandArgs(const std::vector<std::string>& in, Args& out, std::string& error) {
  const app::HelpCommand* command = in.empty() ? nullptr : app::FindCommand(app::CommandLineHelp(), in[0]);
  if (!command) {
    error = "unknown command";
    return false;
  }
  const std::vector<std::string> values = app::ValueOptions(*command), flags = app::FlagOptions(*command);
  return ParseArgs(in, 1, {values.begin(), values.end()}, {flags.begin(), flags.end()}, out, error);
}

int ShowCommandHelp(CliContext& ctx, const std::string& command) {
  const app::ProgramHelp& help = app::CommandLineHelp();
  ctx.out << app::HelpText(help, *app::FindCommand(help, command));
  return kExitOk;
}

bool Stopped(const CliContext& ctx) { return ctx.stop && ctx.stop->load(); }

int Fail(CliContext& ctx, const std::string& message, int code) {
  ctx.err << "dunmere-cli: " << message << "\n";
  return code;
}

int Usage(CliContext& ctx, const std::string& message) {
  ctx.err << "dunmere-cli: " << message << " (see --help)\n";
  return kExitUsage;
}

std::string IdentityPath(const SourceSpec& s) {
  if (s.kind == SourceSpec::Kind::kFileRange) return s.path;  // "IMAGE:N" names no file
  if (s.text.rfind("disk:", 0) != 0) return s.text;
  std::string p = PartitionDevicePath(uint32_t(s.diskIndex), s.start * s.bytesPerSector / 512);
  return p.empty() ? s.path : p;
}


}  // namespace dunmere::cli
