// The main window's logic as the Win32 window sees it: every message that
// asks for a decision is handed to TMainWindowLogic unchanged.
#pragma once

#include "app/pages/uMainWindowLogic.h"
#include "platform/ScopeGuard.h"
#include "uMainLogicPort.h"

namespace quenlo::win {

class TMainLogicAdapter final : public IMainLogicPort {
public:
  explicit TMainLogicAdapter(TMainWindowLogic &logic) : logic_(logic) {}

  void OnCreate() override { logic_.OnCreate(); }
  std::intptr_t HandleCommand(int command, std::intptr_t lParam) override {
    return logic_.HandleCommand(command, lParam);
  }
  void HeaderButtonClicked(int index) override { logic_.HeaderButtonClicked(index); }
  void RepairNow() override { logic_.RepairNow(); }
  bool BeginScan() override { return logic_.BeginScan(); }
  bool CanClose() override { return logic_.CanClose(); }
  bool QueryEndSession() override { return logic_.OnQueryEndSession(); }
  void EndSession(bool ending) override { logic_.OnEndSession(ending); }
  void OnTimer(TTimerId id) override {
    if (id == tiDelayedStart)
      logic_.OnDelayedStartTick();
  }
  void RestoreCommand(int command) override {
    logic_.OnRestoreCommand(static_cast<std::uintptr_t>(command));
  }
  void TrayOpen() override { logic_.OnTrayOpen(); }
  void TrayClose() override { logic_.OnTrayClose(); }
  void EscapePressed() override { logic_.OnEscape(); }
  void HelpPressed() override { logic_.OnHelp(); }
  void HelpMenu(THelpEntry entry) override {
    switch (entry) {
    case heHelp:
      logic_.OnHelp();
      break;
    case heCheckForUpdates:
      logic_.CheckForUpdates();
      break;
    case heWebSite:
      logic_.OpenWebSite();
      break;
    case heAbout:
      logic_.ShowAbout();
      break;
    }
  }
  bool Minimise() override { return logic_.OnMinimise(); }
  bool Busy() const override { return logic_.Refusing(); }
  void FatalException(const std::string &text) override {
    qp::IgnoreResult(logic_.OnFatalException(text));
  }

private:
  TMainWindowLogic &logic_;
};

} // namespace quenlo::win
