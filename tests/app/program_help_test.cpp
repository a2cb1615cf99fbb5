// The programs' help tables and what is made from them: the --help texts, the
// manual pages and the bash completion's words.
#include "app/core/help/program_help.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "base/version.h"

namespace dunmere::app {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// As the manual page writes a name: every "-" a minus sign.
std::string Escaped(std::string_view name) {
  std::string out;
  for (char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
  return out;
}

std::vector<const ProgramHelp*> Programs() { return {&CommandLineHelp(), &DesktopProgramHelp()}; }

TEST(WrapParagraph, WrapsAtWordsAndIndentsTheFollowingLines) {
  EXPECT_EQ(WrapParagraph("one two three four", 9, 2, 0), "one two\n  three\n  four\n");
  // The first line continues one whose columns are taken.
  EXPECT_EQ(WrapParagraph("aa bb cc", 8, 4, 4), "aa\n    bb\n    cc\n");
  // Line ends and runs of blanks in the text are one blank.
  EXPECT_EQ(WrapParagraph("a\nb   c", 80, 0, 0), "a b c\n");
  // A word longer than the width stands on a line of its own, uncut.
  EXPECT_EQ(WrapParagraph("x averyveryverylongword y", 10, 0, 0), "x\naveryveryverylongword\ny\n");
}

TEST(HelpText, EveryCommandShowsItsUsageAndEveryOptionWithinTheWidth) {
  const ProgramHelp& cli = CommandLineHelp();
  const std::string main = HelpText(cli);
  EXPECT_EQ(main.rfind("Usage: dunmere-cli COMMAND [OPTIONS]\n", 0), 0u) << main;
  for (const HelpCommand& c : cli.commands) {
    EXPECT_TRUE(Contains(main, "\n  " + std::string(c.name) + " ")) << c.name;
    const std::string text = HelpText(cli, c);
    EXPECT_EQ(text.rfind("Usage: dunmere-cli " + std::string(c.name) + " ", 0), 0u) << text;
    for (const HelpOption& o : c.options) EXPECT_TRUE(Contains(text, "  " + std::string(o.name))) << c.name << o.name;
    for (const std::string& line : Lines(text)) EXPECT_LE(line.size(), size_t(kHelpWidth)) << line;
    EXPECT_FALSE(text.size() >= 2 && text.substr(text.size() - 2) == "\n\n") << "no empty line at the end";
  }
  for (const ProgramHelp* p : Programs())
    for (const std::string& line : Lines(HelpText(*p))) EXPECT_LE(line.size(), size_t(kHelpWidth)) << line;
  // A usage line wraps between bracketed groups, never inside one.
  const std::string recover = HelpText(cli, *FindCommand(cli, "recover"), 60);
  for (const std::string& line : Lines(recover.substr(0, recover.find("\n\n")))) {
    int depth = 0;
    for (char c : line) depth += c == '[' ? 1 : c == ']' ? -1 : 0;
    EXPECT_EQ(depth, 0) << line;
  }
}

TEST(HelpText, OptionsTakeTheirValuesAsTheTableSays) {
  const HelpCommand* recover = FindCommand(CommandLineHelp(), "recover");
  ASSERT_NE(recover, nullptr);
  const std::vector<std::string> values = ValueOptions(*recover), flags = FlagOptions(*recover);
  EXPECT_EQ(std::set<std::string>(values.begin(), values.end()),
            (std::set<std::string>{"--to", "--layout", "--item", "--types", "--category"}));
  EXPECT_EQ(std::set<std::string>(flags.begin(), flags.end()),
            (std::set<std::string>{"--deep", "--resume", "--fresh", "--force", "--json"}));
  EXPECT_EQ(FindCommand(CommandLineHelp(), "frobnicate"), nullptr);
  EXPECT_EQ(VersionText(CommandLineHelp()), "dunmere-cli " + std::string(ProgramVersion()) + "\n");
  EXPECT_EQ(VersionText(DesktopProgramHelp()), "dunmere " + std::string(ProgramVersion()) + "\n");
}

TEST(ManualPage, IsManMarkupWithEveryOptionEscaped) {
  const std::set<std::string> requests = {".TH", ".SH", ".SS", ".TP", ".PP", ".B", ".BR", ".RS",
                                          ".RE", ".nf", ".fi", ".br", ".nh", ".ad", ".\\\""};
  for (const ProgramHelp* p : Programs()) {
    const std::string page = ManualPage(*p, "2026-12-09");
    const std::string escapedName = Escaped(p->program);
    // whatis and lexgrog read "NAME \- summary" from the NAME section.
    EXPECT_TRUE(Contains(page, ".SH NAME\n" + escapedName + " \\- ")) << page;
    EXPECT_TRUE(Contains(page, "\"2026\\-12\\-09\" \"Dunmere " + std::string(ProgramVersion()) + "\""));
    for (const std::string& line : Lines(page)) {
      // A text line starting with "." or "'" would be read as a request.
      if (line.empty() || (line[0] != '.' && line[0] != '\'')) continue;
      EXPECT_TRUE(requests.count(line.substr(0, line.find(' ')))) << line;
    }
    for (const HelpOption& o : p->options) EXPECT_TRUE(Contains(page, "\\fB" + Escaped(o.name) + "\\fR")) << o.name;
    for (const HelpCommand& c : p->commands) {
      EXPECT_TRUE(Contains(page, ".SS " + std::string(c.name) + "\n"));
      for (const HelpOption& o : c.options)
        EXPECT_TRUE(Contains(page, ".TP\n\\fB" + Escaped(o.name) + "\\fR")) << c.name << " " << o.name;
    }
    for (std::string_view ref : p->seeAlso)
      EXPECT_TRUE(Contains(page, ".BR " + Escaped(ref.substr(0, ref.find('('))) + " (")) << ref;
  }
  // Text that looks like markup is shown as it is.
  ProgramHelp odd;
  odd.program = "x";
  odd.summary = "back\\slash";
  odd.description = ".starts with a dot\n'and a quote";
  const std::string page = ManualPage(odd, "d");
  EXPECT_TRUE(Contains(page, "back\\eslash"));
  EXPECT_TRUE(Contains(page, "\\&.starts with a dot 'and a quote\n"));
}

TEST(BashCompletion, OffersEveryCommandOptionAndChoice) {
  const std::string cases = BashCompletionCases(CommandLineHelp());
  EXPECT_TRUE(Contains(cases, "    program) echo '--help --version ' ;;\n")) << cases;
  EXPECT_TRUE(Contains(cases, "    commands) echo 'sources scan recover image' ;;\n")) << cases;
  for (const HelpCommand& c : CommandLineHelp().commands) {
    const size_t at = cases.find("    options_" + std::string(c.name) + ") echo '");
    ASSERT_NE(at, std::string::npos) << c.name;
    const std::string line = cases.substr(at, cases.find('\n', at) - at);
    for (const HelpOption& o : c.options) EXPECT_TRUE(Contains(line, std::string(o.name) + " ")) << line;
    EXPECT_TRUE(Contains(line, "--help'"));
  }
  EXPECT_TRUE(Contains(cases, "    value_recover___to) echo '@dir' ;;\n"));
  EXPECT_TRUE(Contains(cases, "    value_recover___layout) echo 'category tree' ;;\n"));
  EXPECT_TRUE(Contains(cases, "    value_image___map) echo '@file' ;;\n"));
  EXPECT_TRUE(Contains(cases, "    value_scan___types) echo '@none' ;;\n"));
}

}  // namespace
}  // namespace dunmere::app
