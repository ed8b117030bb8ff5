// The start-up broadcast between copies over Win32. Every copy owns a
// hidden application window (a message-only window: it is this copy's
// identity in the broadcast, not a receiver of it). The first copy creates
// the mutex "Tindrel"; a later copy finds it, broadcasts bcStarting with
// its application window and waits a moment for the answer, so that the
// running copy can still check that the sender is this program. The running
// copy's main window answers with bcAnswer and comes to the foreground. What
// to do with each message is decided by BroadcastAction.
#pragma once

#include <string>
#include <vector>

#include "platform/win32/WinHandles.h"
#include "ui/uWindow.h"

namespace quenlo::win {

inline constexpr wchar_t kApplicationWindowClass[] = L"QuenloApplication";

// Whether hwnd is a window of this program: one of its window classes, in
// a process running the same executable as this one.
bool IsWindowOfThisProgram(HWND hwnd);

// Restores the window when minimised and makes it the foreground window,
// also from behind another program's window; true when it is now the
// foreground window.
bool ForceForeground(HWND hwnd);

class TStartupBroadcast final : public ui::TWindow {
public:
  // Registers the message, creates the application window, then opens the
  // mutex: when another copy holds it, broadcasts bcStarting and waits up to
  // kAnswerWaitMs for the answer (pumping only the application window).
  void Begin(const std::vector<std::string> &arguments);
  // A running copy's main window answered this copy's broadcast.
  bool Answered() const { return answered_; }
  UINT Message() const { return message_; }
  // From here on this copy runs its main window: an answer never ends it.
  void SetMainWindow(HWND main) { main_ = main; }
  // The main window's handling of the broadcast message.
  void OnMainWindowMessage(WPARAM wParam, LPARAM lParam);

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  void Dispatch(WPARAM wParam, LPARAM lParam, bool mainWindowExists);
  void SendArguments(HWND receiver) const;

  std::vector<std::string> arguments_;
  qp::win32::UniqueHandle mutex_; // closed at exit
  UINT message_ = 0;
  HWND main_ = nullptr;
  bool answered_ = false;
};

} // namespace quenlo::win
