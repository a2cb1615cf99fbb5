#pragma once
// What the two programs say about their use: one table per program from which
// their --help texts, their manual pages (dunmere(1), dunmere-cli(1)) and the
// command line's shell completion are made, and which the command line's
// argument parsing takes its options from. Keeping them in one place keeps
// them from drifting apart. English only: it is command-line output.
//
// Texts are paragraphs separated by an empty line; a paragraph whose lines
// start with two blanks is kept as it is (examples, lists), any other is
// wrapped to the terminal's or the page's width.
#include <string>
#include <string_view>
#include <vector>

namespace dunmere::app {

struct HelpOption {
  std::string_view name;      // "--types"
  std::string_view argument;  // "LIST"; empty for a flag. "a|b": one of these words
  std::string_view text;
};

// A sub-command of the command line (dunmere-cli scan ...).
struct HelpCommand {
  std::string_view name;
  std::string_view summary;             // one line, for the list of commands
  std::vector<std::string_view> usage;  // what follows "PROGRAM NAME " on a usage line
  std::string_view description;
  std::vector<HelpOption> options;
  std::string_view after;  // paragraphs after the options
};

// A part of the manual page only (EXIT STATUS, FILES, ...): a text, then
// entries shown like options.
struct HelpSection {
  std::string_view title;
  std::string_view text;
  std::vector<HelpOption> entries;
};

struct ProgramHelp {
  std::string_view program;             // "dunmere-cli"
  std::string_view summary;             // the manual page's NAME line, after the dash
  std::vector<std::string_view> usage;  // what follows "PROGRAM " on a usage line
  std::string_view description;
  std::vector<HelpCommand> commands;
  std::vector<HelpOption> options;  // the program's own options (--help, --version)
  std::string_view after;           // paragraphs after the commands and options
  std::vector<HelpSection> sections;
  std::vector<std::string_view> seeAlso;  // "dunmere(1)"
};

const ProgramHelp& CommandLineHelp();
const ProgramHelp& DesktopProgramHelp();

const HelpCommand* FindCommand(const ProgramHelp& program, std::string_view name);

// The options a command's argument parsing accepts: those that take a value
// and the flags (--help is always accepted).
std::vector<std::string> ValueOptions(const HelpCommand& command);
std::vector<std::string> FlagOptions(const HelpCommand& command);

// The --help texts, wrapped to `width` columns.
inline constexpr int kHelpWidth = 79;
std::string HelpText(const ProgramHelp& program, int width = kHelpWidth);
std::string HelpText(const ProgramHelp& program, const HelpCommand& command, int width = kHelpWidth);
// "dunmere-cli 0.9.0"
std::string VersionText(const ProgramHelp& program);

// The manual page in man(7) markup. `date` is "2026-12-09" (the release's).
std::string ManualPage(const ProgramHelp& program, std::string_view date);

// The words bash completes for the command line, as lines of a bash `case`:
// the commands, then per command its options and per option what its value
// is (a directory, a file, or the words it may be). Placed into the
// completion script's template.
std::string BashCompletionCases(const ProgramHelp& program);

// Wraps one paragraph (its lines joined) to `width` columns. The first line
// continues a line whose first `firstColumn` columns are taken already; the
// others start with `indent` blanks. Ends with a line end.
std::string WrapParagraph(std::string_view text, int width, int indent, int firstColumn);

}  // namespace dunmere::app
