// dunmere-make-manual: a build step, not installed. Writes a program's manual
// page, or the command line's bash completion, from the help tables.
//   dunmere-make-manual page PROGRAM DATE OUT
//   dunmere-make-manual completion TEMPLATE OUT   (TEMPLATE's "@CASES@" line filled in)
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "app/core/help/program_help.h"

namespace {

int Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::cerr << "dunmere-make-manual: cannot write " << path << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dunmere::app;
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "page" && argc == 5) {
    const std::string program = argv[2];
    const ProgramHelp* help = program == "dunmere-cli" ? &CommandLineHelp()
                              : program == "dunmere"   ? &DesktopProgramHelp()
                                                       : nullptr;
    if (!help) {
      std::cerr << "dunmere-make-manual: no program " << program << "\n";
      return 2;
    }
    return Write(argv[4], ManualPage(*help, argv[3]));
  }
  if (what == "completion" && argc == 4) {
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string script = text.str();
    const std::string marker = "    @CASES@\n";
    const size_t at = script.find(marker);
    if (!in || at == std::string::npos) {
      std::cerr << "dunmere-make-manual: no template with a '@CASES@' line at " << argv[2] << "\n";
      return 1;
    }
    script.replace(at, marker.size(), BashCompletionCases(CommandLineHelp()));
    return Write(argv[3], script);
  }
  std::cerr << "usage: dunmere-make-manual page PROGRAM DATE OUT | completion TEMPLATE OUT\n";
  return 2;
}
