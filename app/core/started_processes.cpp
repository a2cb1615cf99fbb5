#include "app/core/started_processes.h"

#include <signal.h>

#include <chrono>
#include <thread>
#include <vector>

namespace dunmere {

StartedProcesses& StartedProcesses::Instance() {
  static StartedProcesses instance;
  return instance;
}

void StartedProcesses::Add(pid_t groupId) {
  if (groupId <= 0) return;
  std::lock_guard lock(mutex_);
  groups_.insert(groupId);
}

void StartedProcesses::Remove(pid_t groupId) {
  std::lock_guard lock(mutex_);
  groups_.erase(groupId);
}

bool StartedProcesses::Contains(pid_t groupId) const {
  std::lock_guard lock(mutex_);
  return groups_.count(groupId) != 0;
}

void StartedProcesses::EndAll(int graceMs) {
  std::vector<pid_t> groups;
  {
    std::lock_guard lock(mutex_);
    groups.assign(groups_.begin(), groups_.end());
    groups_.clear();
  }
  if (groups.empty()) return;
  // A player asked politely leaves the sound device and its window tidy.
  for (pid_t g : groups) ::kill(-g, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  for (pid_t g : groups) {
    while (::kill(-g, 0) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(-g, SIGKILL);
  }
}

void KillProcessGroup(pid_t groupId) {
  if (groupId > 0) ::kill(-groupId, SIGKILL);
}

}  // namespace dunmere
