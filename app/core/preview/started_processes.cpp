#include "app/core/preview/started_processes.h"

#include <chrono>
#include <thread>
#include <vector>

namespace dunmere {

StartedProcesses& StartedProcesses::Instance() {
  static StartedProcesses instance;
  return instance;
}

void StartedProcesses::Add(int64_t groupId) {
  if (groupId <= 0) return;
  std::lock_guard lock(mutex_);
  groups_.insert(groupId);
}

void StartedProcesses::Remove(int64_t groupId) {
  std::lock_guard lock(mutex_);
  groups_.erase(groupId);
}

bool StartedProcesses::Contains(int64_t groupId) const {
  std::lock_guard lock(mutex_);
  return groups_.count(groupId) != 0;
}

void StartedProcesses::EndAll(int graceMs) {
  std::vector<int64_t> groups;
  {
    std::lock_guard lock(mutex_);
    groups.assign(groups_.begin(), groups_.end());
    groups_.clear();
  }
  if (groups.empty()) return;
  // A player asked politely leaves the sound device and its window tidy.
  for (int64_t g : groups) TerminateProcessGroup(g);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  for (int64_t g : groups) {
    while (ProcessGroupExists(g) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    KillProcessGroup(g);
  }
}

}  // namespace dunmere
