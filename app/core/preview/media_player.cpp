#include "app/core/preview/media_player.h"

#include <chrono>

#include "app/core/preview/external_tool.h"
#include "app/core/preview/started_processes.h"
#include "platform/process.h"

namespace dunmere {

MediaPlayer::MediaPlayer(std::string program) : program_(std::move(program)) {}

MediaPlayer::~MediaPlayer() { End(); }

std::vector<std::string> MediaPlayer::Arguments(const std::string& file, bool audio, const Place& place) {
  std::vector<std::string> args;
  if (place.window) {
    args = {
        "--wid=" + std::to_string(place.window),
        // Only outputs that can draw into a window given to them, best first.
        // The GL output turns down a software renderer (a virtual X server,
        // a machine without a graphics driver) and, asked for alone, mpv then
        // ends before playing; the plain X11 output draws anywhere.
        "--vo=gpu,xv,x11",
        // The pane belongs to our window: clicks there are not the player's
        // (a double-click would make it try to fill the screen).
        "--input-cursor=no",
        // The last picture stays in the pane until another file is chosen.
        "--keep-open=yes",
    };
  } else {
    args = {
        "--geometry=" + std::to_string(place.width) + "x" + std::to_string(place.height) + "+" +
            std::to_string(place.x) + "+" + std::to_string(place.y),
        "--autofit=" + std::to_string(place.width) + "x" + std::to_string(place.height),
        "--keep-open=no",
    };
  }
  args.push_back(std::string("--term-playing-msg=") + kPlayingMark);
  args.push_back("--really-quiet=no");
  // Without a sound device the time still runs: sound shows its progress and
  // a film plays silently rather than ending at once.
  args.push_back("--audio-fallback-to-null=yes");
  if (audio) {
    // Sound gets a window too, so that the person can stop it, with where it
    // stands written in it, small enough for a narrow pane.
    args.push_back("--force-window=yes");
    args.push_back("--osd-level=3");
    args.push_back("--osd-scale-by-window=no");
    args.push_back("--osd-font-size=16");
    args.push_back("--osd-status-msg=${time-pos} / ${duration}");
  }
  // The file comes last, after the end of the options: its name is not ours.
  args.push_back("--");
  args.push_back(file);
  return args;
}

MediaPlayer::State MediaPlayer::Play(const std::string& file, bool audio) { return Play(file, audio, Place()); }

MediaPlayer::State MediaPlayer::Play(const std::string& file, bool audio, const Place& place) {
  End();
  const std::string exe = FindTool(program_);
  if (exe.empty()) return state_ = State::kMissing;
  process_ = std::make_unique<ChildProcess>();
  seen_.clear();
  if (!process_->Start(exe, Arguments(file, audio, place))) {
    process_.reset();
    return state_ = State::kNeverPlayed;
  }
  group_ = process_->Id();
  StartedProcesses::Instance().Add(group_);
  return state_ = State::kStarting;
}

MediaPlayer::State MediaPlayer::Poll() {
  if (!process_ || state_ != State::kStarting) return state_;
  // Whether it ended is asked first: all it printed before is then there to read.
  const bool running = process_->Running();
  process_->ReadOutput(seen_);
  // mpv's status line shows a percentage while playing, older players too.
  if (seen_.find(kPlayingMark) != std::string::npos || seen_.find('%') != std::string::npos) {
    seen_.clear();
    return state_ = State::kPlaying;
  }
  if (seen_.size() > 4096) seen_.erase(0, seen_.size() - 64);
  if (!running) {
    StartedProcesses::Instance().Remove(group_);
    state_ = State::kNeverPlayed;
  }
  return state_;
}

MediaPlayer::State MediaPlayer::WaitWhileStarting(int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (Poll() == State::kStarting && std::chrono::steady_clock::now() < deadline)
    if (process_) (void)process_->WaitForOutput(20);
  return state_;
}

void MediaPlayer::End() {
  if (!process_) return;
  if (process_->Running()) {
    // Only the group this object started; it is not reaped yet, so still ours.
    KillProcessGroup(group_);
    (void)process_->WaitForEnd(2000);
  }
  StartedProcesses::Instance().Remove(group_);
  process_.reset();
  group_ = 0;
  if (state_ == State::kStarting || state_ == State::kPlaying) state_ = State::kIdle;
}

int64_t MediaPlayer::ProcessId() const { return process_ ? process_->Id() : 0; }

}  // namespace dunmere
