// What the optimizer page asks of the main window and the system over
// Win32: the main window's checks and numbered commands, and a program run
// while the window keeps processing its messages.
#pragma once

#include <functional>
#include <string>

#include "app/pages/uMainWindowLogic.h"
#include "app/pages/uOptimizerServices.h"
#include "app/pages/uPageServices.h"

namespace quenlo::win {

class TWin32OptimizerHost final : public IOptimizerHost {
public:
  // logic: the main window's logic, made after this object.
  TWin32OptimizerHost(std::function<TMainWindowLogic *()> logic, ICommandQueue &commands)
      : logic_(std::move(logic)), commands_(commands) {}
  bool SpySweeperAllows(TSpySweeperKind kind) override;
  bool ConfirmMonitorOff() override;
  void ClearScanResults() override;

private:
  std::function<TMainWindowLogic *()> logic_;
  ICommandQueue &commands_;
};

class TWin32ProgramRunner final : public IProgramRunner {
public:
  bool RunAndWait(const std::string &commandLine) override;
};

} // namespace quenlo::win
