#include "platform/this_process.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace dunmere {

uint32_t CurrentUserId() { return uint32_t(::getuid()); }

bool IsTerminal(StandardStream stream) {
  const int fd = stream == StandardStream::kInput ? STDIN_FILENO
                 : stream == StandardStream::kOutput ? STDOUT_FILENO
                                                     : STDERR_FILENO;
  return ::isatty(fd) == 1;
}

void EndThisProcessAbruptly() {
  ::kill(::getpid(), SIGKILL);
  std::_Exit(137);  // not reached: SIGKILL cannot be caught
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void UseUtf8Console() {}

std::string ProgramFilePath() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

const char* DeviceRightsAdvice() { return "root (try sudo)"; }

const SystemNaming& ThisSystemNaming() {
  static const SystemNaming kNaming{"/dev/sdb", "/dev/sdb1", "/media/usb/rescued", "/media/usb/sdb1.img", "sudo ",
                                    "$XDG_DATA_HOME/Free Dunmere, else ~/.local/share/Free Dunmere", true};
  return kNaming;
}

}  // namespace dunmere
