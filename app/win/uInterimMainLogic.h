// Stand-in for the main window's logic until it joins this branch: page
// switching, the scan start and completion, and the repair run with its
// report, without the prompts, the monitor, the restore point or the update
// check.
#pragma once

#include <memory>

#include "app/pages/uPages.h"
#include "app/pages/uReportPageLogic.h"
#include "app/pages/uResultsPageLogic.h"
#include "app/pages/uScanPageLogic.h"
#include "app/pages/uStatusPageLogic.h"
#include "service/uScanRun.h"
#include "uMainLogicPort.h"

namespace quenlo::win {

struct TInterimDeps {
  TRegScanner &scanner;
  IMainFrame &frame;
  IPrompter &prompter;
  ICommandQueue &commands;
  TScanPageLogic &scanPage;
  TResultsPageLogic &resultsPage;
  TReportPageLogic &reportPage;
  TStatusPageLogic &statusPage;
};

class TInterimMainLogic final : public IMainLogicPort {
public:
  explicit TInterimMainLogic(const TInterimDeps &deps) : d_(deps) {}

  void OnCreate() override;
  std::intptr_t HandleCommand(int command, std::intptr_t lParam) override;
  void HeaderButtonClicked(int index) override;
  void RepairNow() override;
  bool BeginScan() override;
  bool CanClose() override;
  bool QueryEndSession() override { return !busy_; }
  void EndSession(bool ending) override;
  void OnTimer(TTimerId) override {}
  void RestoreCommand(int command) override;
  void TrayOpen() override { d_.frame.ShowNormal(); }
  void TrayClose() override { d_.commands.Post(mcShutdown); }
  void EscapePressed() override;
  void HelpPressed() override {}
  bool Busy() const override { return busy_; }

private:
  void ShowPage(TPage page);
  void ShowResultsOrReport();
  void ScanFinished(const service::TScanResult &result);

  TInterimDeps d_;
  std::unique_ptr<service::TScanRun> run_;
  TPage current_ = pgNone;
  TPage last_ = pgStatus;
  bool busy_ = false;
  int repaired_ = 0;
};

} // namespace quenlo::win
