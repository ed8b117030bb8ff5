// The estimated progress of a long operation under the progress cover. The
// worker rarely reports, so the bar is driven by a timer: while the work
// runs the bar creeps forward by 1 per tick and the ticks slow down (300,
// 350, 400 ... ms); every report of (total, done) sets the interval that
// would bring the bar to 100 when the work ends, counted from the last
// tick. While closing, the bar jumps by 5 per tick and the ticks speed up,
// until the bar is full.
//
// No window here: the timer and the clock come through the two small
// interfaces below, so a test drives the estimate tick by tick.
#pragma once

#include <cstdint>

namespace quenlo {

// The one timer of the estimate; starting a running timer restarts it.
class IEstimateTimer {
public:
  virtual ~IEstimateTimer() = default;
  virtual void Start(std::uint32_t intervalMs) = 0;
  virtual void Stop() = 0;
};

// A millisecond clock that only moves forward (GetTickCount64).
class ITickSource {
public:
  virtual ~ITickSource() = default;
  virtual std::uint64_t NowMs() = 0;
};

enum TEstimatePhase : std::uint8_t {
  epClosed,  // nothing shown
  epRunning, // the work runs
  epClosing  // the work ended; the bar finishes
};

class TProgressEstimate {
public:
  // Timer intervals are kept within these bounds, from ticks and reports.
  static constexpr std::uint32_t kMinIntervalMs = 10;
  static constexpr std::uint32_t kMaxIntervalMs = 10000;
  static constexpr std::uint32_t kRunningBaseMs = 300;
  static constexpr std::int32_t kRunningStepMs = 50;
  static constexpr std::uint32_t kClosingBaseMs = 100;
  static constexpr std::int32_t kClosingStepMs = -5;
  // Closing never keeps the user waiting longer than this, whatever the
  // interval the reports left behind.
  static constexpr std::uint64_t kCloseCapMs = 2000;
  static constexpr double kFullBar = 100.0;

  TProgressEstimate(IEstimateTimer &timer, ITickSource &clock) : timer_(timer), clock_(clock) {}

  // The cover came up; showBar: the bar is shown (else closing is at once).
  void Open(bool showBar);
  // A timer tick.
  void Tick();
  // The worker's figures; ignored unless running.
  void Report(std::uint64_t total, std::uint64_t done);
  // The work ended: the bar finishes quickly from here.
  void BeginClose();
  // While closing: true once the bar is full, did not move at all, is not
  // shown, or the close cap has passed. The timer is stopped then.
  bool CloseFinished();
  // After the window went away.
  void Reset();

  TEstimatePhase Phase() const { return phase_; }
  double Bar() const { return bar_; }
  std::uint32_t IntervalMs() const { return interval_; }
  std::uint64_t ElapsedSumMs() const { return elapsedSum_; }
  double EstimateMs() const { return estimate_; }

private:
  static std::uint32_t Clamp(double intervalMs);
  void StartFromLastTick();

  IEstimateTimer &timer_;
  ITickSource &clock_;
  TEstimatePhase phase_ = epClosed;
  bool showBar_ = true;
  std::uint64_t startTick_ = 0;
  std::uint64_t lastTick_ = 0; // or the opening, before the first tick
  std::uint64_t closeStart_ = 0;
  // The time since opening, added up at every report: it grows faster
  // than the clock, which makes later estimates more cautious.
  std::uint64_t elapsedSum_ = 0;
  double estimate_ = 0;
  std::int32_t step_ = kRunningStepMs;
  std::uint32_t base_ = kRunningBaseMs;
  // Set while a report is applied: a tick then changes nothing.
  bool paused_ = false;
  double bar_ = 0;
  std::uint32_t interval_ = kRunningBaseMs;
};

} // namespace quenlo
