#include "uProgressEstimate.h"

#include <algorithm>
#include <cmath>

namespace quenlo {

namespace {
constexpr double kRunningBarStep = 1.0;
constexpr double kClosingBarStep = 5.0;
} // namespace

std::uint32_t TProgressEstimate::Clamp(double intervalMs) {
  const double clamped = std::clamp(std::round(intervalMs), static_cast<double>(kMinIntervalMs),
                                    static_cast<double>(kMaxIntervalMs));
  return static_cast<std::uint32_t>(clamped);
}

void TProgressEstimate::StartFromLastTick() {
  // Restarting the timer at full length on every report would hold the bar
  // still while reports come faster than the interval: the next tick stays
  // due one interval after the last one.
  const std::uint64_t now = clock_.NowMs();
  const std::uint64_t since = now >= lastTick_ ? now - lastTick_ : 0;
  const double delay = since < interval_ ? static_cast<double>(interval_ - since) : 0.0;
  timer_.Start(Clamp(delay));
}

void TProgressEstimate::Open(bool showBar) {
  phase_ = epRunning;
  showBar_ = showBar;
  startTick_ = clock_.NowMs();
  lastTick_ = startTick_;
  elapsedSum_ = 0;
  estimate_ = 0;
  step_ = kRunningStepMs;
  base_ = kRunningBaseMs;
  paused_ = false;
  bar_ = 0;
  interval_ = kRunningBaseMs;
  timer_.Start(interval_);
}

void TProgressEstimate::Tick() {
  if (phase_ == epClosed || paused_)
    return;
  timer_.Stop();
  lastTick_ = clock_.NowMs();
  if (bar_ < kFullBar)
    bar_ = std::min(kFullBar, bar_ + (step_ <= 0 ? kClosingBarStep : kRunningBarStep));
  interval_ = Clamp(static_cast<double>(interval_) + step_);
  timer_.Start(interval_);
}

void TProgressEstimate::Report(std::uint64_t total, std::uint64_t done) {
  if (phase_ != epRunning)
    return;
  paused_ = true;
  timer_.Stop();
  const std::uint64_t now = clock_.NowMs();
  elapsedSum_ += now >= startTick_ ? now - startTick_ : 0;
  const double remainingPercent = kFullBar - bar_;
  if (done > 0 && remainingPercent > 0) {
    // Work done beyond the total counts as nothing left.
    const double left = done < total ? static_cast<double>(total - done) : 0.0;
    estimate_ =
        left * static_cast<double>(elapsedSum_) / static_cast<double>(done) / remainingPercent;
    estimate_ = std::max(estimate_, static_cast<double>(base_));
  } else {
    estimate_ = base_;
  }
  interval_ = Clamp(estimate_);
  paused_ = false;
  StartFromLastTick();
}

void TProgressEstimate::BeginClose() {
  if (phase_ != epRunning)
    return;
  phase_ = epClosing;
  base_ = kClosingBaseMs;
  step_ = kClosingStepMs;
  closeStart_ = clock_.NowMs();
  if (showBar_) {
    paused_ = false;
    StartFromLastTick();
  }
}

bool TProgressEstimate::CloseFinished() {
  if (phase_ != epClosing)
    return true;
  const bool capPassed = clock_.NowMs() - closeStart_ >= kCloseCapMs;
  const bool finished = !showBar_ || bar_ <= 0 || bar_ >= kFullBar || capPassed;
  if (finished)
    timer_.Stop();
  return finished;
}

void TProgressEstimate::Reset() {
  if (phase_ != epClosed)
    timer_.Stop();
  phase_ = epClosed;
  paused_ = false;
  bar_ = 0;
}

} // namespace quenlo
