// Guards for the paired platform calls: the other file-system view and a
// token privilege, each given back on every path out of the scope.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qp {

// The calling thread sees the other file-system view for the guard's
// lifetime (WOW64 redirection off for a 32-bit process on 64-bit Windows).
// Where there is no other view, or when not wanted, nothing is switched.
class TFsViewSwitch {
public:
  explicit TFsViewSwitch(bool wanted = true);
  ~TFsViewSwitch();
  TFsViewSwitch(const TFsViewSwitch &) = delete;
  TFsViewSwitch &operator=(const TFsViewSwitch &) = delete;
  [[nodiscard]] bool Switched() const { return switched_; }

private:
  bool switched_ = false;
  std::uintptr_t previous_ = 0;
};

// Switches a privilege of the process token on or off (AdjustTokenPrivileges).
// Windows outside the NT line has no privileges: that counts as done.
// 0 on success, else the status (ERROR_NOT_ALL_ASSIGNED included).
// wasEnabled, when given, receives the state it had before (on for a
// system without privileges).
[[nodiscard]] long AdjustPrivilege(std::string_view name, bool enable, bool *wasEnabled = nullptr);

// A privilege switched on for the guard's lifetime and put back as it was
// at its end: switched off only when it was off before, so that a caller
// who held it already keeps it.
class TPrivilegeScope {
public:
  explicit TPrivilegeScope(std::string_view name);
  ~TPrivilegeScope();
  TPrivilegeScope(const TPrivilegeScope &) = delete;
  TPrivilegeScope &operator=(const TPrivilegeScope &) = delete;
  // The status of switching it on.
  [[nodiscard]] long Status() const { return status_; }
  [[nodiscard]] bool Held() const { return status_ == 0; }

private:
  std::string name_;
  bool wasEnabled_ = false; // before status_: its initialiser fills this
  long status_ = 0;
};

} // namespace qp
