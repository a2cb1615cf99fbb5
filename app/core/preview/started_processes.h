#pragma once
// The helper processes this program started for previews (media players,
// converters), each as the leader of its own process group. Ending them ends
// only these: a player the person runs on their own is never touched, whatever
// its name.
#include <cstdint>
#include <mutex>
#include <set>

#include "platform/process.h"

namespace dunmere {

class StartedProcesses {
 public:
  static StartedProcesses& Instance();

  // groupId: the process id of a child started as its own group leader.
  void Add(int64_t groupId);
  // The child ended (or is about to be reaped): its id may be reused.
  void Remove(int64_t groupId);
  bool Contains(int64_t groupId) const;
  // Ends every group still listed (terminate, then kill what is left after
  // graceMs) and forgets them. Called at exit.
  void EndAll(int graceMs = 300);

 private:
  mutable std::mutex mutex_;
  std::set<int64_t> groups_;
};

}  // namespace dunmere
