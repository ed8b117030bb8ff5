// What the main window's Win32 side asks of the main window's logic: every
// message that means a decision is handed over here, nothing is decided in
// the window procedure.
#pragma once

#include <cstdint>
#include <string>

#include "app/pages/uPageServices.h"

namespace quenlo::win {

// The entries of the window's Help menu.
enum THelpEntry : std::uint8_t { heHelp, heCheckForUpdates, heWebSite, heAbout };

class IMainLogicPort {
public:
  virtual ~IMainLogicPort() = default;
  // Once, after the window and its pages exist.
  virtual void OnCreate() = 0;
  // A numbered command (WM_USER, command in wParam); the answer of a sent one.
  virtual std::intptr_t HandleCommand(int command, std::intptr_t lParam) = 0;
  virtual void HeaderButtonClicked(int index) = 0;
  // The results page's "Repair".
  virtual void RepairNow() = 0;
  // The scan page's "Scan Now": true when the scan started.
  virtual bool BeginScan() = 0;
  // The close box or any other close: true when the window may close.
  virtual bool CanClose() = 0;
  // WM_QUERYENDSESSION: true lets the session end now.
  virtual bool QueryEndSession() = 0;
  // WM_ENDSESSION.
  virtual void EndSession(bool ending) = 0;
  virtual void OnTimer(TTimerId id) = 0;
  // The registered restore message from another copy (wParam).
  virtual void RestoreCommand(int command) = 0;
  virtual void TrayOpen() = 0;
  virtual void TrayClose() = 0;
  virtual void EscapePressed() = 0;
  virtual void HelpPressed() = 0;
  virtual void HelpMenu(THelpEntry entry) = 0;
  // A minimise command; true when handled and the window must not minimise.
  virtual bool Minimise() = 0;
  // True while a scan or repair runs or a modal notice is up.
  virtual bool Busy() const = 0;
  // An exception nothing else caught.
  virtual void FatalException(const std::string &text) = 0;
};

} // namespace quenlo::win
