#pragma once
// Runs the built dunmere-cli the way a person does, for the end-to-end tests.
#include <string>

#include "tests/support/test_support.h"

namespace dunmere::test {

inline std::string CliBinary() { return std::string(DUNMERE_BINARY_DIR) + "/cli/dunmere-cli"; }

struct CliResult {
  int code;
  std::string out;  // stdout and stderr together
};
inline CliResult RunCli(const std::string& args) {
  CliResult r;
  r.code = RunCommand(ShellQuote(CliBinary()) + " " + args + " </dev/null", &r.out);
  return r;
}

}  // namespace dunmere::test
