#pragma once
// The media player of the preview: mpv started as a process of its own (its
// own process group, listed among the processes this program started), drawing
// into a window of ours (the preview pane's) or, where none is given, into a
// small window of its own at a fixed place, playing a preview copy. It counts as playing
// once its output says so; a player that ends without having played is
// reported by the caller. Lives on one thread (the UI thread).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dunmere {

class ChildProcess;

class MediaPlayer {
 public:
  struct Place {
    int x = 845, y = 260, width = 326, height = 189;
    // A native window (an X11 window id) the player draws into, filling it;
    // 0: a window of its own at x, y.
    uint64_t window = 0;
  };
  enum class State { kIdle, kMissing, kStarting, kPlaying, kNeverPlayed };
  // What mpv prints once playback has begun (--term-playing-msg).
  static constexpr char kPlayingMark[] = "dunmere-player-playing";

  explicit MediaPlayer(std::string program = "mpv");
  ~MediaPlayer();  // ends a player still running
  MediaPlayer(const MediaPlayer&) = delete;
  MediaPlayer& operator=(const MediaPlayer&) = delete;

  // Ends any player this object started, then starts one for the file.
  // Returns kMissing, kNeverPlayed (could not start) or kStarting.
  State Play(const std::string& file, bool audio, const Place& place);
  State Play(const std::string& file, bool audio);
  // Takes what the player printed so far; kPlaying once it played,
  // kNeverPlayed once it ended without playing.
  State Poll();
  // Polls until the state leaves kStarting or the time is up (tests).
  State WaitWhileStarting(int milliseconds);
  // Ends the player (if this object started one).
  void End();
  State Current() const { return state_; }
  int64_t ProcessId() const;

  static std::vector<std::string> Arguments(const std::string& file, bool audio, const Place& place);

 private:
  std::string program_;
  std::unique_ptr<ChildProcess> process_;
  int64_t group_ = 0;
  State state_ = State::kIdle;
  std::string seen_;  // the output's tail, enough to find the mark across reads
};

}  // namespace dunmere
