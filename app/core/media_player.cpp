#include "app/core/media_player.h"

#include <unistd.h>

#include <QProcess>
#include <QStringList>
#include <chrono>

#include "app/core/external_tool.h"
#include "app/core/started_processes.h"

namespace dunmere {

MediaPlayer::MediaPlayer(std::string program) : program_(std::move(program)) {}

MediaPlayer::~MediaPlayer() { End(); }

std::vector<std::string> MediaPlayer::Arguments(const std::string& file, bool audio, const Place& place) {
  std::vector<std::string> args = {
      "--geometry=" + std::to_string(place.width) + "x" + std::to_string(place.height) + "+" +
          std::to_string(place.x) + "+" + std::to_string(place.y),
      "--autofit=" + std::to_string(place.width) + "x" + std::to_string(place.height),
      std::string("--term-playing-msg=") + kPlayingMark,
      "--keep-open=no",
      "--really-quiet=no",
  };
  // Sound gets a window too, so that the person can stop it.
  if (audio) args.push_back("--force-window=yes");
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
  QStringList args;
  for (const std::string& a : Arguments(file, audio, place)) args << QString::fromStdString(a);
  process_ = std::make_unique<QProcess>();
  process_->setProcessChannelMode(QProcess::MergedChannels);
  process_->setStandardInputFile(QProcess::nullDevice());
  process_->setChildProcessModifier([] { ::setpgid(0, 0); });
  process_->start(QString::fromStdString(exe), args);
  seen_.clear();
  if (!process_->waitForStarted(3000)) {
    process_.reset();
    return state_ = State::kNeverPlayed;
  }
  group_ = long(process_->processId());
  StartedProcesses::Instance().Add(pid_t(group_));
  return state_ = State::kStarting;
}

MediaPlayer::State MediaPlayer::Poll() {
  if (!process_ || state_ != State::kStarting) return state_;
  if (process_->bytesAvailable() == 0) process_->waitForReadyRead(0);
  seen_ += process_->readAll().toStdString();
  // mpv's status line shows a percentage while playing, older players too.
  if (seen_.find(kPlayingMark) != std::string::npos || seen_.find('%') != std::string::npos) {
    seen_.clear();
    return state_ = State::kPlaying;
  }
  if (seen_.size() > 4096) seen_.erase(0, seen_.size() - 64);
  if (process_->state() == QProcess::NotRunning) {
    StartedProcesses::Instance().Remove(pid_t(group_));
    state_ = State::kNeverPlayed;
  }
  return state_;
}

MediaPlayer::State MediaPlayer::WaitWhileStarting(int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (Poll() == State::kStarting && std::chrono::steady_clock::now() < deadline)
    if (process_) process_->waitForReadyRead(20);
  return state_;
}

void MediaPlayer::End() {
  if (!process_) return;
  if (process_->state() != QProcess::NotRunning) {
    // Only the group this object started; it is not reaped yet, so still ours.
    KillProcessGroup(pid_t(group_));
    process_->waitForFinished(2000);
  }
  StartedProcesses::Instance().Remove(pid_t(group_));
  process_.reset();
  group_ = 0;
  if (state_ == State::kStarting || state_ == State::kPlaying) state_ = State::kIdle;
}

int64_t MediaPlayer::ProcessId() const { return process_ ? int64_t(process_->processId()) : 0; }

}  // namespace dunmere
