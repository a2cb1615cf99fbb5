// Joining folders' later clusters, found apart on a formatted volume, to the
// folders they continue.
#include <gtest/gtest.h>

#include "fat/continuations.h"

using namespace dunmere;

namespace {
constexpr int kGuess = 0;
constexpr uint32_t kGap = 16;
auto NoFolderStarts = [](uint32_t) { return false; };

// Folder 100 filled its first cluster: its last file's data ends at 520.
void FullFolder100(FatFolderContinuations& j) {
  j.OnEntry(100, kGuess, 400, 20);
  j.OnEntry(100, kGuess, 420, 100);
}
}  // namespace

TEST(FatContinuations, DataGoingOnWhereAFolderStoppedJoinsItsNextCluster) {
  FatFolderContinuations j;
  FullFolder100(j);
  // Cluster 900 opens with entries, no "." pair; its first file's data
  // starts right where folder 100's last one ended, and it ends the folder.
  j.MarkHeadless(900, kGuess);
  j.OnEntry(900, kGuess, 520, 3);
  j.OnEntry(900, kGuess, 523, 1);
  j.OnEnd(900, kGuess);
  // Cluster 950 holds the directory of a Windows-style allocation: the new
  // directory cluster sits between (gap 1), but folder 700 ended with an
  // end entry, so nothing may join it.
  j.OnEntry(700, kGuess, 600, 10);
  j.OnEnd(700, kGuess);
  j.MarkHeadless(950, kGuess);
  j.OnEntry(950, kGuess, 611, 1);
  j.Decide(NoFolderStarts, kGap);
  EXPECT_EQ(j.Resolve(900), 100u);
  EXPECT_EQ(j.Resolve(950), 950u);
  EXPECT_EQ(j.Resolve(100), 100u);
  EXPECT_EQ(j.Joined(), 1u);
}

TEST(FatContinuations, ALaterClusterOfALaterClusterReachesTheFolder) {
  FatFolderContinuations j;
  FullFolder100(j);
  j.MarkHeadless(900, kGuess);
  j.OnEntry(900, kGuess, 521, 4);  // the directory cluster itself took 520
  j.MarkHeadless(1200, kGuess);
  j.OnEntry(1200, kGuess, 530, 2);
  j.OnEnd(1200, kGuess);
  j.Decide(NoFolderStarts, kGap);
  EXPECT_EQ(j.Resolve(1200), 100u);
  EXPECT_EQ(j.Resolve(900), 100u);
}

TEST(FatContinuations, NoJoinWhenTheEvidenceIsAmbiguousFarOrOfAnotherVolume) {
  FatFolderContinuations j;
  // Two unfinished folders whose data end at the same cluster.
  j.OnEntry(100, kGuess, 500, 20);
  j.OnEntry(200, kGuess, 510, 10);
  j.MarkHeadless(900, kGuess);
  j.OnEntry(900, kGuess, 520, 1);
  // Too far from anything.
  j.OnEntry(300, kGuess, 1000, 10);
  j.MarkHeadless(901, kGuess);
  j.OnEntry(901, kGuess, 1010 + kGap + 1, 1);
  // Adjacent, but cluster numbers of another volume guess.
  j.OnEntry(400, 1, 2000, 10);
  j.MarkHeadless(902, kGuess);
  j.OnEntry(902, kGuess, 2010, 1);
  // A cluster an entry names as a folder's first is that folder's own.
  j.OnEntry(500, kGuess, 3000, 10);
  j.MarkHeadless(903, kGuess);
  j.OnEntry(903, kGuess, 3010, 1);
  j.Decide([](uint32_t c) { return c == 903; }, kGap);
  for (uint32_t x : {900u, 901u, 902u, 903u}) EXPECT_EQ(j.Resolve(x), x) << x;
}

TEST(FatContinuations, OneFolderEndIsFollowedOnceAndTheNearestWins) {
  FatFolderContinuations j;
  FullFolder100(j);
  j.MarkHeadless(900, kGuess);
  j.OnEntry(900, kGuess, 525, 1);  // gap 5
  j.MarkHeadless(901, kGuess);
  j.OnEntry(901, kGuess, 520, 1);  // gap 0
  j.OnEnd(901, kGuess);
  j.Decide(NoFolderStarts, kGap);
  EXPECT_EQ(j.Resolve(901), 100u);
  EXPECT_EQ(j.Resolve(900), 900u);
}

TEST(FatContinuations, SubfoldersNameTheFolderAndOutweighData) {
  FatFolderContinuations j;
  FullFolder100(j);
  j.OnEntry(300, kGuess, 800, 5);
  // Data says 100, the subfolders listed there say 300.
  j.MarkHeadless(900, kGuess);
  j.OnEntry(900, kGuess, 520, 1);
  j.VoteParent(900, 300);
  j.VoteParent(900, 300);
  // Subfolders that disagree are no evidence; data is not asked either.
  j.MarkHeadless(901, kGuess);
  j.VoteParent(901, 100);
  j.VoteParent(901, 300);
  // A vote for a cluster that is no headless one counts for nothing.
  j.VoteParent(100, 300);
  j.Decide(NoFolderStarts, kGap);
  EXPECT_EQ(j.Resolve(900), 300u);
  EXPECT_EQ(j.Resolve(901), 901u);
  EXPECT_EQ(j.Resolve(100), 100u);
}

TEST(FatContinuations, HostileVotesMakeNoLoop) {
  FatFolderContinuations j;
  j.MarkHeadless(10, kGuess);
  j.MarkHeadless(11, kGuess);
  j.MarkHeadless(12, kGuess);
  j.VoteParent(10, 11);
  j.VoteParent(11, 12);
  j.VoteParent(12, 10);
  j.VoteParent(12, 12);  // itself: ignored
  j.Decide(NoFolderStarts, kGap);
  // Two of the three join; the third would close the loop.
  EXPECT_EQ(j.Joined(), 2u);
  for (uint32_t x : {10u, 11u, 12u}) {
    uint32_t r = j.Resolve(x);
    EXPECT_TRUE(r == 10 || r == 11 || r == 12);
    EXPECT_EQ(j.Resolve(r), r);
  }
}

TEST(FatContinuations, TrackingStopsAtItsBound) {
  FatFolderContinuations j(2);
  FullFolder100(j);
  j.MarkHeadless(900, kGuess);
  j.OnEntry(900, kGuess, 520, 1);
  j.MarkHeadless(901, kGuess);  // the third: not tracked
  j.OnEntry(901, kGuess, 521, 1);
  j.Decide(NoFolderStarts, kGap);
  EXPECT_EQ(j.Resolve(900), 100u);
  EXPECT_EQ(j.Resolve(901), 901u);
  j.Clear();
  EXPECT_EQ(j.Resolve(900), 900u);
  EXPECT_EQ(j.MemoryBytes(), 0u);
}
