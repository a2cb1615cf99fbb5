#pragma once
// Runs the built dunmere-cli the way a person does, for the end-to-end tests.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace dunmere::test {

// The Windows build's helpers add ".exe" where the file has it.
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

// Starts the program in the background and sends it Ctrl-C (SIGINT) once
// `ready` (a shell condition, e.g. a grep of its error output in $err) holds:
// at a point the program reached, never after a guessed time. The wait is
// only bounded against a hang (then the program is stopped anyway and the
// output says "never ready"). `atStop` runs just before the signal and
// `afterEnd` once the program has ended (their output is kept). Returns the
// exit status, what the snippets printed and the error output.
inline CliResult InterruptCliWhen(const std::string& args, const std::string& errFile, const std::string& ready,
                                  const std::string& atStop = ":", const std::string& afterEnd = ":") {
  const std::string script = ShellQuote(CliBinary()) + " " + args + " </dev/null >/dev/null 2>" + ShellQuote(errFile) +
                             " & p=$!; err=" + ShellQuote(errFile) + "; n=0; until " + ready +
                             "; do n=$((n+1)); if [ $n -gt 6000 ] || ! kill -0 $p 2>/dev/null; then echo never ready; "
                             "break; fi; sleep 0.05; done; " + atStop + "; kill -INT $p; wait $p; rc=$?; " + afterEnd +
                             "; echo rc=$rc";
  CliResult r;
  RunCommand("bash -c " + ShellQuote(script), &r.out);
  const size_t at = r.out.rfind("rc=");
  r.code = at == std::string::npos ? -1 : std::atoi(r.out.c_str() + at + 3);
  const std::vector<uint8_t> err = ReadBytes(errFile);
  r.out.append(err.begin(), err.end());
  return r;
}

}  // namespace dunmere::test
