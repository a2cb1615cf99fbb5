#pragma once
// Programs this one starts (converters, players). Each runs as the leader of a
// process group of its own, so that ending the group also ends whatever it
// started; it reads nothing, its output and errors come back through one pipe,
// and its arguments reach it as they are, never through a shell. On Windows
// the group is a job object holding the program and what it starts.
#include <cstdint>
#include <string>
#include <vector>

namespace dunmere {

// The file exists and this process may run it.
bool IsExecutable(const std::string& path);
// The absolute path of the first program of that name on PATH; empty when none.
std::string FindExecutableOnPath(const std::string& name);

class ChildProcess {
 public:
  ChildProcess() = default;
  // One still running is killed (the process itself, not its group) and
  // waited for, so that none is left behind as a zombie.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the program at `exe` with the arguments. False when it could not
  // be run.
  bool Start(const std::string& exe, const std::vector<std::string>& arguments);
  // The process id, which is also its group's; 0 before a start.
  int64_t Id() const { return pid_; }
  // Not ended yet. Takes up an ended process's exit, so that its id is free
  // for reuse only from then on.
  bool Running();
  // Waits up to `ms` for output, or for the end once no output can come.
  // True when there is output to read.
  bool WaitForOutput(int ms);
  // Appends all output that has arrived, without waiting.
  void ReadOutput(std::string& out);
  // Waits up to `ms` for the end; true when it has ended.
  bool WaitForEnd(int ms);
  // The exit code of a process that ended by itself; -1 when a signal ended
  // it or it has not ended.
  int ExitCode() const;

 private:
  int64_t pid_ = 0;
  intptr_t output_ = -1;  // our end of the pipe; -1 once all writers closed it
  bool ended_ = false;
  int exitCode_ = -1;
};

// Asks every process of the group to end (terminate).
void TerminateProcessGroup(int64_t group);
// Ends every process of the group at once (kill).
void KillProcessGroup(int64_t group);
// Some process of the group is still there.
bool ProcessGroupExists(int64_t group);

}  // namespace dunmere
