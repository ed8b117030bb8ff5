// The page services over Win32: clock, timers of the main window, its
// numbered-command queue, System Restore, the service manager and process
// list, the shell's default action and the connection probe. Each is a thin
// translation; the decisions stay with the page logic.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "app/pages/uPageServices.h"
#include "platform/win32/WinApi.h"

namespace quenlo::win {

// The numbered commands travel as WM_USER with the command in wParam.
inline constexpr UINT WM_MAINCOMMAND = WM_USER;
// Posted to the main window when the main-thread dispatcher has work.
inline constexpr UINT WM_PUMPMAINTHREAD = WM_APP + 1;
// The tray icon's callback message.
inline constexpr UINT WM_TRAYICON = WM_APP + 2;
// Coalesced view refresh after the logic changed state.
inline constexpr UINT WM_REFRESHVIEWS = WM_APP + 3;

class TWin32Clock final : public IClock {
public:
  TLocalTime Now() override;
};

class TWin32Timers final : public ITimers {
public:
  explicit TWin32Timers(std::function<HWND()> window) : window_(std::move(window)) {}
  void Start(TTimerId id, std::uint32_t intervalMs) override;
  void Stop(TTimerId id) override;
  bool Running(TTimerId id) const override;
  std::uint32_t Interval(TTimerId id) const override;

private:
  struct TState {
    bool running = false;
    std::uint32_t interval = 0;
  };
  std::function<HWND()> window_;
  std::array<TState, 8> state_{};
};

// Messages the queue's ProcessPending hands to the loop's own filtering
// (keyboard navigation) before dispatching; set by the message loop.
using TMessageFilter = std::function<bool(MSG &message)>;

class TWin32CommandQueue final : public ICommandQueue {
public:
  explicit TWin32CommandQueue(std::function<HWND()> window) : window_(std::move(window)) {}
  void Post(int command, std::intptr_t lParam = 0) override;
  std::intptr_t Send(int command, std::intptr_t lParam = 0) override;
  void ProcessPending() override;
  void SetFilter(TMessageFilter filter) { filter_ = std::move(filter); }

private:
  std::function<HWND()> window_;
  TMessageFilter filter_;
};

class TWin32RestorePoint final : public IRestorePoint {
public:
  TRestorePointResult Begin(const std::string &description) override;
  TRestorePointResult End(std::int64_t sequence, bool cancelled) override;
};

class TWin32SystemServices final : public ISystemServices {
public:
  bool ServiceRunning(const std::string &name) override;
  long StartService(const std::string &name) override;
  bool ProcessRunning(const std::string &exeName) override;
};

class TWin32ShellOpen final : public IShellOpen {
public:
  bool Open(const std::string &fileOrUrl) override;
};

class TWin32ConnectionProbe final : public IConnectionProbe {
public:
  bool Connected(const std::string &url) override;
};

} // namespace quenlo::win
