// The progress cover's estimate: the bar's creep without reports, the
// interval a report sets and its bounds, reports that come faster than the
// ticks, and how closing finishes the bar
// (at once, in one tick, or at the latest after the close cap).
#include <gtest/gtest.h>

#include <cstdint>

#include "app/pages/uProgressEstimate.h"

namespace quenlo::test {
namespace {

// The timer as the window would run it: the test fires it (Fire) and the
// clock moves by the interval the timer was last started with.
class FakeTimerClock final : public IEstimateTimer, public ITickSource {
public:
  void Start(std::uint32_t intervalMs) override {
    running = true;
    interval = intervalMs;
    ++starts;
  }
  void Stop() override { running = false; }
  std::uint64_t NowMs() override { return now; }

  // Waits for the running timer's next tick and delivers it.
  void Fire(TProgressEstimate &estimate) {
    ASSERT_TRUE(running);
    now += interval;
    estimate.Tick();
  }

  bool running = false;
  std::uint32_t interval = 0;
  int starts = 0;
  std::uint64_t now = 1'000'000;
};

class ProgressEstimateTest : public ::testing::Test {
protected:
  // Ticks without moving the clock, to place the bar.
  void MoveBarTo(double position) {
    while (estimate.Bar() < position)
      estimate.Tick();
  }

  FakeTimerClock timer;
  TProgressEstimate estimate{timer, timer};
};

TEST_F(ProgressEstimateTest, WithoutReportsTheBarCreepsToFullAndStaysThere) {
  const std::uint64_t opened = timer.now;
  estimate.Open(true);
  EXPECT_EQ(timer.interval, 300u);
  for (int tick = 0; tick < 99; ++tick)
    timer.Fire(estimate);
  EXPECT_DOUBLE_EQ(estimate.Bar(), 99.0);
  timer.Fire(estimate);
  EXPECT_DOUBLE_EQ(estimate.Bar(), 100.0);
  // 300 + 350 + ... + 5250: a hundred intervals, each 50 ms longer.
  EXPECT_EQ(timer.now - opened, 277'500u);
  // The worker goes on: the bar stays full, the ticks keep slowing down to
  // their upper bound.
  for (int tick = 0; tick < 200; ++tick)
    timer.Fire(estimate);
  EXPECT_DOUBLE_EQ(estimate.Bar(), 100.0);
  EXPECT_EQ(timer.interval, TProgressEstimate::kMaxIntervalMs);
}

TEST_F(ProgressEstimateTest, ReportSetsTheIntervalThatFillsTheBarWhenTheWorkEnds) {
  estimate.Open(true);
  MoveBarTo(40);
  timer.now += 60'000;
  estimate.Report(10, 5);
  // Five left of ten after 60 s, 60 percent to go: (5 * 60000 / 5) / 60.
  EXPECT_EQ(estimate.IntervalMs(), 1000u);
  EXPECT_TRUE(timer.running);
  EXPECT_EQ(estimate.ElapsedSumMs(), 60'000u);

  // The time since opening is added again on the next report.
  timer.now += 30'000;
  estimate.Report(10, 8);
  EXPECT_EQ(estimate.ElapsedSumMs(), 150'000u);
  // 2 * 150000 / 8 / 60 = 625.
  EXPECT_EQ(estimate.IntervalMs(), 625u);
}

TEST_F(ProgressEstimateTest, ReportKeepsTheBaseIntervalWhenItCannotEstimate) {
  estimate.Open(true);
  MoveBarTo(20);
  timer.now += 60'000;
  estimate.Report(10, 0); // nothing done yet
  EXPECT_EQ(estimate.IntervalMs(), TProgressEstimate::kRunningBaseMs);
  estimate.Report(10, 10); // nothing left: never faster than the base
  EXPECT_EQ(estimate.IntervalMs(), TProgressEstimate::kRunningBaseMs);
  estimate.Report(10, 12); // more done than the total
  EXPECT_EQ(estimate.IntervalMs(), TProgressEstimate::kRunningBaseMs);
  MoveBarTo(100);
  estimate.Report(10, 5); // the bar is full already
  EXPECT_EQ(estimate.IntervalMs(), TProgressEstimate::kRunningBaseMs);
}

TEST_F(ProgressEstimateTest, ReportIntervalStaysWithinTheTickBounds) {
  estimate.Open(true);
  MoveBarTo(99);
  timer.now += 600'000;
  // 10 minutes for one of a million, one percent left: far beyond 10 s.
  estimate.Report(1'000'000, 1);
  EXPECT_EQ(estimate.IntervalMs(), TProgressEstimate::kMaxIntervalMs);
  EXPECT_GT(estimate.EstimateMs(), TProgressEstimate::kMaxIntervalMs);
  // Huge figures do not overflow into a small interval.
  estimate.Report(UINT64_MAX, 1);
  EXPECT_EQ(estimate.IntervalMs(), TProgressEstimate::kMaxIntervalMs);
}

TEST_F(ProgressEstimateTest, ReportsFasterThanTheTicksDoNotHoldTheBarStill) {
  estimate.Open(true);
  // A report every 100 ms for 3 s (many small hives): the ticks stay due
  // one interval after the last tick, so the bar keeps moving.
  std::uint64_t due = timer.now + timer.interval;
  for (std::uint64_t done = 1; done <= 30; ++done) {
    for (int ms = 0; ms < 100; ++ms) {
      ++timer.now;
      if (timer.running && timer.now >= due) {
        estimate.Tick();
        due = timer.now + timer.interval;
      }
    }
    estimate.Report(30, done);
    due = timer.now + timer.interval;
  }
  EXPECT_GE(estimate.Bar(), 8.0);
}

TEST_F(ProgressEstimateTest, ReportsOutsideARunningCoverAreIgnored) {
  estimate.Report(10, 5);
  EXPECT_EQ(timer.starts, 0);
  estimate.Open(true);
  MoveBarTo(97);
  estimate.BeginClose();
  const std::uint32_t closingInterval = estimate.IntervalMs();
  const int starts = timer.starts;
  timer.now += 60'000;
  estimate.Report(10, 5);
  EXPECT_EQ(estimate.IntervalMs(), closingInterval);
  EXPECT_EQ(timer.starts, starts);
}

TEST_F(ProgressEstimateTest, ClosingAtZeroEndsAtOnce) {
  estimate.Open(true);
  estimate.BeginClose();
  EXPECT_TRUE(estimate.CloseFinished());
  EXPECT_FALSE(timer.running);
  EXPECT_DOUBLE_EQ(estimate.Bar(), 0.0);
}

TEST_F(ProgressEstimateTest, ClosingAt97EndsAfterOneTick) {
  estimate.Open(true);
  MoveBarTo(97);
  estimate.BeginClose();
  EXPECT_FALSE(estimate.CloseFinished());
  timer.Fire(estimate);
  EXPECT_DOUBLE_EQ(estimate.Bar(), 100.0);
  EXPECT_TRUE(estimate.CloseFinished());
  EXPECT_FALSE(timer.running);
}

TEST_F(ProgressEstimateTest, ClosingJumpsByFiveAndSpeedsUp) {
  estimate.Open(true);
  MoveBarTo(10);
  const std::uint32_t before = estimate.IntervalMs();
  estimate.BeginClose();
  timer.Fire(estimate);
  EXPECT_DOUBLE_EQ(estimate.Bar(), 15.0);
  EXPECT_EQ(estimate.IntervalMs(), before - 5);
}

TEST_F(ProgressEstimateTest, ClosingWithoutABarEndsAtOnce) {
  estimate.Open(false);
  MoveBarTo(50);
  estimate.BeginClose();
  EXPECT_TRUE(estimate.CloseFinished());
}

TEST_F(ProgressEstimateTest, ClosingEndsWithinTheCapWhenTheIntervalIsStuckHigh) {
  estimate.Open(true);
  MoveBarTo(40);
  timer.now += 600'000;
  estimate.Report(1'000'000, 1);
  timer.Fire(estimate); // the last tick before the work ends
  ASSERT_EQ(estimate.IntervalMs(), TProgressEstimate::kMaxIntervalMs);
  const std::uint64_t closing = timer.now;
  estimate.BeginClose();
  ASSERT_EQ(timer.interval, TProgressEstimate::kMaxIntervalMs);
  // The closing loop polls every 10 ms; the 10 s timer never fires in time.
  // Bounded, so a missing cap fails instead of hanging.
  bool finished = false;
  for (int poll = 0; poll < 1000 && !finished; ++poll) {
    finished = estimate.CloseFinished();
    if (!finished)
      timer.now += 10;
  }
  ASSERT_TRUE(finished);
  EXPECT_LE(timer.now - closing, TProgressEstimate::kCloseCapMs);
  EXPECT_GE(timer.now - closing, TProgressEstimate::kCloseCapMs - 10);
  EXPECT_FALSE(timer.running);
}

TEST_F(ProgressEstimateTest, ReopeningStartsAfresh) {
  estimate.Open(true);
  MoveBarTo(60);
  timer.now += 5'000;
  estimate.Report(10, 5);
  estimate.BeginClose();
  estimate.Reset();
  EXPECT_FALSE(timer.running);
  estimate.Open(true);
  EXPECT_DOUBLE_EQ(estimate.Bar(), 0.0);
  EXPECT_EQ(estimate.ElapsedSumMs(), 0u);
  EXPECT_EQ(timer.interval, TProgressEstimate::kRunningBaseMs);
  timer.Fire(estimate);
  EXPECT_EQ(timer.interval, 350u); // running step again, not the closing one
}

} // namespace
} // namespace quenlo::test
