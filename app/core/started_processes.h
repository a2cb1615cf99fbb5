#pragma once
// The helper processes this program started for previews (media players,
// converters), each as the leader of its own process group. Ending them ends
// only these: a player the person runs on their own is never touched, whatever
// its name.
#include <sys/types.h>

#include <mutex>
#include <set>

namespace dunmere {

class StartedProcesses {
 public:
  static StartedProcesses& Instance();

  // groupId: the process id of a child started as its own group leader.
  void Add(pid_t groupId);
  // The child ended (or is about to be reaped): its id may be reused.
  void Remove(pid_t groupId);
  bool Contains(pid_t groupId) const;
  // Ends every group still listed (terminate, then kill what is left after
  // graceMs) and forgets them. Called at exit.
  void EndAll(int graceMs = 300);

 private:
  mutable std::mutex mutex_;
  std::set<pid_t> groups_;
};

// Ends one group at once (SIGKILL to every process in it).
void KillProcessGroup(pid_t groupId);

}  // namespace dunmere
