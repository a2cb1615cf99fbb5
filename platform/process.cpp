#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

namespace dunmere {

bool IsExecutable(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string FindExecutableOnPath(const std::string& name) {
  if (name.empty()) return {};
  std::string path;
  if (const char* p = std::getenv("PATH")) {
    path = p;
  } else {
    // No PATH at all: the C library's default, as the shell would use.
    const size_t n = ::confstr(_CS_PATH, nullptr, 0);
    if (n > 0) {
      path.resize(n);
      ::confstr(_CS_PATH, path.data(), n);
      path.resize(n - 1);
    }
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string dir = path.substr(start, end - start);
    start = end + 1;
    if (dir.empty()) continue;
    std::error_code ec;
    const std::string candidate = std::filesystem::absolute(std::filesystem::path(dir) / name, ec).lexically_normal();
    if (!ec && IsExecutable(candidate)) return candidate;
  }
  return {};
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended_) {
    ::kill(pid_t(pid_), SIGKILL);
    int status = 0;
    while (::waitpid(pid_t(pid_), &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (output_ >= 0) ::close(output_);
}

bool ChildProcess::Start(const std::string& exe, const std::vector<std::string>& arguments) {
  if (pid_ > 0) return false;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  // Its own group; no signal this process blocks stays blocked in it.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int r = ::posix_spawn(&pid, exe.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(pipeFds[1]);
  if (r != 0) {
    ::close(pipeFds[0]);
    return false;
  }
  ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
  pid_ = pid;
  output_ = pipeFds[0];
  ended_ = false;
  exitCode_ = -1;
  return true;
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || ended_) return false;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_t(pid_), &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return true;
  ended_ = true;
  exitCode_ = r > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return false;
}

bool ChildProcess::WaitForOutput(int ms) {
  if (output_ < 0) {
    (void)WaitForEnd(ms);
    return false;
  }
  pollfd p{int(output_), POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, ms);
  } while (r < 0 && errno == EINTR);
  return r > 0;
}

void ChildProcess::ReadOutput(std::string& out) {
  char buf[65536];
  while (output_ >= 0) {
    const ssize_t n = ::read(output_, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      // Every writer closed it: nothing more can come.
      ::close(output_);
      output_ = -1;
    }
    break;
  }
}

bool ChildProcess::WaitForEnd(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (Running()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int ChildProcess::ExitCode() const { return ended_ ? exitCode_ : -1; }

void TerminateProcessGroup(int64_t group) {
  if (group > 0) ::kill(-pid_t(group), SIGTERM);
}

void KillProcessGroup(int64_t group) {
  if (group > 0) ::kill(-pid_t(group), SIGKILL);
}

bool ProcessGroupExists(int64_t group) { return group > 0 && ::kill(-pid_t(group), 0) == 0; }

}  // namespace dunmere
