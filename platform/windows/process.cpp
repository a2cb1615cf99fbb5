#include "platform/process.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "base/text.h"
#include "platform/windows/win_util.h"

namespace dunmere {

using win::Handle;

namespace {

// What ends a started program: its process and the job that holds it and
// everything it starts (the group of the Linux build). Kept by process id
// for the group calls, which outlive the ChildProcess.
struct Started {
  HANDLE process = nullptr;
  HANDLE job = nullptr;
};
std::mutex g_mutex;
std::map<int64_t, Started> g_started;

// The exit code a terminated job's processes get: a console's Ctrl-C code,
// read back as "ended from outside" (-1), as a signal is on Linux.
constexpr UINT kEndedFromOutside = 0xC000013A;

Started Find(int64_t id) {
  std::lock_guard<std::mutex> hold(g_mutex);
  auto it = g_started.find(id);
  return it == g_started.end() ? Started{} : it->second;
}

bool HasProgramExtension(const std::string& path) {
  const std::string ext = AsciiLower(path.substr(std::min(path.size(), path.find_last_of('.'))));
  return ext == ".exe" || ext == ".com";
}

}  // namespace

bool IsExecutable(const std::string& path) {
  const DWORD a = ::GetFileAttributesW(win::LongPath(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) && HasProgramExtension(path);
}

std::string FindExecutableOnPath(const std::string& name) {
  if (name.empty()) return {};
  wchar_t buffer[32768];
  const DWORD n = ::GetEnvironmentVariableW(L"PATH", buffer, DWORD(std::size(buffer)));
  const std::string path = n && n < std::size(buffer) ? win::Narrow(buffer, n) : std::string();
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(';', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    start = end + 1;
    if (dir.empty()) continue;
    if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
    for (const std::string& candidate : {dir + name, dir + name + ".exe"})
      if (IsExecutable(candidate)) return candidate;
  }
  return {};
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !ended_) {
    const Started s = Find(pid_);
    if (s.process) {
      ::TerminateProcess(s.process, kEndedFromOutside);
      ::WaitForSingleObject(s.process, INFINITE);
    }
  }
  if (output_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(output_));
}

bool ChildProcess::Start(const std::string& exe, const std::vector<std::string>& arguments) {
  if (pid_ > 0) return false;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  Handle reader(readEnd), writer(writeEnd);
  // It reads nothing.
  Handle nothing(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                               nullptr));

  std::wstring line;
  win::AppendQuotedArgument(line, win::Wide(exe));
  for (const std::string& a : arguments) {
    line += L' ';
    win::AppendQuotedArgument(line, win::Wide(a));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing.Valid() ? nothing.Get() : nullptr;
  startup.hStdOutput = writer.Get();
  startup.hStdError = writer.Get();
  PROCESS_INFORMATION info{};
  const std::wstring program = win::LongPath(exe);
  // Suspended until it is in its job, so nothing it starts escapes the job;
  // without a console, so no console host joins the job and outlives it.
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup,
                        &info))
    return false;
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  if (job && !::AssignProcessToJobObject(job, info.hProcess)) {
    ::CloseHandle(job);
    job = nullptr;
  }
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  {
    std::lock_guard<std::mutex> hold(g_mutex);
    g_started[int64_t(info.dwProcessId)] = Started{info.hProcess, job};
  }
  pid_ = int64_t(info.dwProcessId);
  output_ = reinterpret_cast<intptr_t>(reader.Release());
  ended_ = false;
  exitCode_ = -1;
  return true;
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || ended_) return false;
  const Started s = Find(pid_);
  if (!s.process) return false;
  if (::WaitForSingleObject(s.process, 0) == WAIT_TIMEOUT) return true;
  DWORD code = 0;
  ended_ = true;
  exitCode_ = ::GetExitCodeProcess(s.process, &code) && code < 0xC0000000u ? int(code) : -1;
  return false;
}

bool ChildProcess::WaitForOutput(int ms) {
  // A pipe of this kind cannot be waited on: it is looked at in short steps.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (output_ == -1) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      (void)WaitForEnd(int(std::max<int64_t>(0, left.count())));
      return false;
    }
    DWORD available = 0;
    if (!::PeekNamedPipe(reinterpret_cast<HANDLE>(output_), nullptr, 0, nullptr, &available, nullptr))
      return true;  // every writer is gone: ReadOutput learns the end
    if (available > 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::ReadOutput(std::string& out) {
  char buf[65536];
  while (output_ != -1) {
    HANDLE h = reinterpret_cast<HANDLE>(output_);
    DWORD available = 0;
    if (!::PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) {
      // Every writer closed it: nothing more can come.
      ::CloseHandle(h);
      output_ = -1;
      break;
    }
    if (available == 0) break;
    DWORD n = 0;
    if (!::ReadFile(h, buf, std::min<DWORD>(available, sizeof buf), &n, nullptr) || n == 0) break;
    out.append(buf, n);
  }
}

bool ChildProcess::WaitForEnd(int ms) {
  const Started s = Find(pid_);
  if (s.process && !ended_) ::WaitForSingleObject(s.process, DWORD(std::max(ms, 0)));
  return !Running();
}

int ChildProcess::ExitCode() const { return ended_ ? exitCode_ : -1; }

namespace {

void EndJob(int64_t group) {
  const Started s = Find(group);
  if (s.job) ::TerminateJobObject(s.job, kEndedFromOutside);
  else if (s.process) ::TerminateProcess(s.process, kEndedFromOutside);
}

}  // namespace

// Windows asks a program without a window nothing before it ends: both end
// the job at once.
void TerminateProcessGroup(int64_t group) {
  if (group > 0) EndJob(group);
}

void KillProcessGroup(int64_t group) {
  if (group > 0) EndJob(group);
}

bool ProcessGroupExists(int64_t group) {
  if (group <= 0) return false;
  const Started s = Find(group);
  if (s.job) {
    // The job's count of its processes lags behind their ends: each one it
    // lists is asked whether it still runs.
    struct {
      JOBOBJECT_BASIC_PROCESS_ID_LIST list;
      ULONG_PTR more[255];
    } ids{};
    if (::QueryInformationJobObject(s.job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr)) {
      for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && i < 256; ++i) {
        HANDLE p = ::OpenProcess(SYNCHRONIZE, FALSE, DWORD(ids.list.ProcessIdList[i]));
        if (!p) continue;
        const bool running = ::WaitForSingleObject(p, 0) == WAIT_TIMEOUT;
        ::CloseHandle(p);
        if (running) return true;
      }
      return false;
    }
  }
  return s.process && ::WaitForSingleObject(s.process, 0) == WAIT_TIMEOUT;
}

}  // namespace dunmere
