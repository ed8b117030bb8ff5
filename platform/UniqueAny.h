// One owning template for every handle-like resource (registry keys, kernel
// handles, find handles, local memory, SIDs ...), after WIL's unique_any.
//
// A Traits type names the handle type, its invalid value and how to close
// it:
//   struct Traits {
//     using Handle = ...;
//     static constexpr Handle Invalid() noexcept;
//     static void Close(Handle h) noexcept; // only called for valid handles
//   };
// A handle is valid exactly when it differs from Invalid(): handles that are
// invalid when null and those invalid when -1 are therefore distinct types,
// and the one kind can never be mistaken for the other.
#pragma once

#include <utility>

namespace qp {

template <typename Traits> class TUniqueAny {
public:
  using Handle = typename Traits::Handle;

  TUniqueAny() noexcept = default;
  explicit TUniqueAny(Handle h) noexcept : h_(h) {}
  TUniqueAny(const TUniqueAny &) = delete;
  TUniqueAny &operator=(const TUniqueAny &) = delete;
  TUniqueAny(TUniqueAny &&other) noexcept : h_(other.Release()) {}
  TUniqueAny &operator=(TUniqueAny &&other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  ~TUniqueAny() { Reset(); }

  [[nodiscard]] Handle Get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::Invalid(); }
  // Gives up ownership without closing.
  [[nodiscard]] Handle Release() noexcept { return std::exchange(h_, Traits::Invalid()); }
  // Closes what is held (unless it is h itself) and takes h.
  void Reset(Handle h = Traits::Invalid()) noexcept {
    const Handle old = std::exchange(h_, h);
    if (old != Traits::Invalid() && old != h)
      Traits::Close(old);
  }
  // For out-parameters: closes what is held and hands out the slot.
  [[nodiscard]] Handle &Out() noexcept {
    Reset();
    return h_;
  }

private:
  Handle h_ = Traits::Invalid();
};

} // namespace qp
