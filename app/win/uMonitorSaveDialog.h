// Where the monitor page saves its list or undo file: the system's Save As
// dialog (GetSaveFileNameW) with the kind's file type, modal to the main
// window.
#pragma once

#include <functional>
#include <string>

#include "app/pages/uMonitorPageLogic.h"
#include "platform/win32/WinApi.h"

namespace quenlo::win {

class TWin32MonitorSaveDialog final : public IMonitorSaveDialog {
public:
  explicit TWin32MonitorSaveDialog(std::function<HWND()> owner) : owner_(std::move(owner)) {}
  bool AskPath(TMonitorExport kind, std::string &path) override;

private:
  std::function<HWND()> owner_;
};

} // namespace quenlo::win
