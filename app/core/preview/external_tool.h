#pragma once
// Runs one external program (a converter or an archive lister) as a process
// of its own with an argument list, never through a shell, so that a file name
// read from a disk can never become a command. Its output is capped, and when
// it runs past its time it is ended together with whatever it started.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace dunmere {

struct ToolLimits {
  std::chrono::milliseconds timeout{6000};
  size_t outputCap = 4u << 20;  // bytes of standard output and error kept
  // Asked while the tool runs: true ends it at once (its result is no
  // longer wanted: the person moved on to another file).
  std::function<bool()> abandoned;
};

struct ToolResult {
  enum class End { kExited, kMissing, kNotStarted, kTimedOut, kAbandoned };
  End end = End::kNotStarted;
  int exitCode = -1;
  std::string output;  // standard output and error together, at most outputCap bytes
  bool Succeeded() const { return end == End::kExited && exitCode == 0; }
};

// The tool's full path when it is on PATH (or an absolute path that can be
// run), else empty.
std::string FindTool(const std::string& program);

ToolResult RunTool(const std::string& program, const std::vector<std::string>& arguments,
                   const ToolLimits& limits = {});

}  // namespace dunmere
