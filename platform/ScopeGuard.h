// Guards for paired calls (after WIL's scope_exit) and the one way to say
// that a result is ignored on purpose.
#pragma once

#include <utility>

namespace qp {

// Runs its function when it goes out of scope, unless dismissed. The
// function must not throw.
template <typename F> class TScopeExit {
public:
  explicit TScopeExit(F f) noexcept : f_(std::move(f)) {}
  TScopeExit(const TScopeExit &) = delete;
  TScopeExit &operator=(const TScopeExit &) = delete;
  TScopeExit(TScopeExit &&other) noexcept : f_(std::move(other.f_)), armed_(other.armed_) {
    other.armed_ = false;
  }
  TScopeExit &operator=(TScopeExit &&) = delete;
  ~TScopeExit() {
    if (armed_)
      f_();
  }
  // The paired call is no longer needed (the work it undoes was kept).
  void Dismiss() noexcept { armed_ = false; }
  // Runs the function now, once.
  void RunNow() {
    if (armed_) {
      armed_ = false;
      f_();
    }
  }

private:
  F f_;
  bool armed_ = true;
};

template <typename F> [[nodiscard]] TScopeExit<F> ScopeExit(F f) noexcept {
  return TScopeExit<F>(std::move(f));
}

// Marks a call whose status is not needed: best-effort clean-up after the
// real outcome is already decided, or a probe whose failure changes
// nothing. Every ignored result in the code goes through here, so that
// the places can be found.
template <typename T> constexpr void IgnoreResult(T &&) noexcept {}

} // namespace qp
