// The real player (Debian's mpv) on a short clip made by ffmpeg: "playing"
// is recognised from what mpv prints, the player this program started is
// ended on request, and a file that is not a film is reported as never
// played. mpv draws and sounds nowhere here: its own configuration folder
// of the test chooses the null video and audio outputs, so no display is needed.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/core/preview/media_player.h"
#include "tests/support/test_support.h"

namespace dunmere {
namespace {

// Waits for a player to start: long past any machine's time, so only a
// player that never says it plays fails.
constexpr int kUnhurriedMs = 10 * 60 * 1000;

class RealPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("mpv")) GTEST_SKIP() << "mpv (Debian package mpv) is not installed";
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    std::ofstream(dir_ / "mpv.conf") << "vo=null\nao=null\n";
    if (const char* old = std::getenv("MPV_HOME")) oldHome_ = old;
    ::setenv("MPV_HOME", dir_.path().c_str(), 1);
  }
  void TearDown() override {
    if (oldHome_) ::setenv("MPV_HOME", oldHome_->c_str(), 1);
    else ::unsetenv("MPV_HOME");
  }
  test::TempDir dir_;
  std::optional<std::string> oldHome_;
};

TEST_F(RealPlayer, ClipMadeByFfmpegIsRecognisedAsPlayingThenEnded) {
  // Long enough to be still playing when the test ends it; a name a shell
  // would split, which the player takes as one argument.
  const std::string clip = dir_ / "holiday 'clip' $1.avi";
  std::string out;
  ::setenv("DUNMERE_TEST_CLIP", clip.c_str(), 1);
  ASSERT_EQ(test::RunCommand("ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=20:size=160x120:rate=10 "
                             "-f lavfi -i sine=duration=20 -shortest -c:v mpeg4 -c:a mp2 \"$DUNMERE_TEST_CLIP\" 2>&1",
                             &out),
            0)
      << out;
  ::unsetenv("DUNMERE_TEST_CLIP");
  MediaPlayer player;
  ASSERT_EQ(player.Play(clip, false), MediaPlayer::State::kStarting);
  EXPECT_EQ(player.WaitWhileStarting(kUnhurriedMs), MediaPlayer::State::kPlaying);
  const pid_t pid = pid_t(player.ProcessId());
  ASSERT_GT(pid, 0);
  player.End();
  EXPECT_EQ(player.ProcessId(), 0);
  EXPECT_NE(::kill(pid, 0), 0) << "the player still runs";
}

TEST_F(RealPlayer, FileThatIsNoFilmIsReportedAsNeverPlayed) {
  const std::string bad = dir_ / "broken.avi";
  std::vector<uint8_t> junk(64 * 1024);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t(i * 131 + 7);
  test::WriteBytes(bad, junk);
  MediaPlayer player;
  ASSERT_EQ(player.Play(bad, false), MediaPlayer::State::kStarting);
  EXPECT_EQ(player.WaitWhileStarting(kUnhurriedMs), MediaPlayer::State::kNeverPlayed);
}

}  // namespace
}  // namespace dunmere
