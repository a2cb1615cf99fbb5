#include "app/core/preview/external_tool.h"

#include <algorithm>

#include "app/core/preview/started_processes.h"
#include "platform/process.h"

namespace dunmere {

std::string FindTool(const std::string& program) {
  if (program.find('/') != std::string::npos) return IsExecutable(program) ? program : std::string();
  return FindExecutableOnPath(program);
}

ToolResult RunTool(const std::string& program, const std::vector<std::string>& arguments, const ToolLimits& limits) {
  ToolResult r;
  const std::string exe = FindTool(program);
  if (exe.empty()) {
    r.end = ToolResult::End::kMissing;
    return r;
  }
  // Its own group, so that a timeout also ends the helpers it started.
  ChildProcess p;
  if (!p.Start(exe, arguments)) return r;
  const int64_t group = p.Id();
  StartedProcesses::Instance().Add(group);

  std::string chunk;
  auto take = [&] {
    chunk.clear();
    p.ReadOutput(chunk);
    const size_t room = limits.outputCap - std::min(limits.outputCap, r.output.size());
    // Beyond the cap the output is read and dropped: a full pipe would stall it.
    r.output.append(chunk.data(), std::min(room, chunk.size()));
  };
  const auto deadline = std::chrono::steady_clock::now() + limits.timeout;
  bool timedOut = false, abandoned = false;
  while (p.Running()) {
    if (limits.abandoned && limits.abandoned()) {
      abandoned = true;
      KillProcessGroup(group);
      (void)p.WaitForEnd(3000);
      break;
    }
    // Rounded up: a tool is never ended before its time.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      // The leader is not reaped yet, so the group id is still ours.
      KillProcessGroup(group);
      (void)p.WaitForEnd(3000);
      break;
    }
    (void)p.WaitForOutput(int(std::min<int64_t>(left.count(), 100)));
    take();
  }
  StartedProcesses::Instance().Remove(group);
  take();
  if (abandoned) {
    r.end = ToolResult::End::kAbandoned;
  } else if (timedOut) {
    r.end = ToolResult::End::kTimedOut;
  } else {
    r.end = ToolResult::End::kExited;
    r.exitCode = p.ExitCode();
  }
  return r;
}

}  // namespace dunmere
