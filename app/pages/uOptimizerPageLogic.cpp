#include "app/pages/uOptimizerPageLogic.h"

#include <cstdio>
#include <memory>

#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "paths/uSysUtils.h"

namespace quenlo {

namespace {

std::string Printed(const char *format, double value) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Printed(const char *format, int value) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// The failure report's code for a step that ended in the work.
int FailureCodeOf(TDefragOutcome outcome, int otherwise) {
  switch (outcome) {
  case doBackupFailed:
    return dfBackupFailed;
  case doRestoreFailed:
    return dfRestoreFailed;
  case doCompareFailed:
    return dfCompareFailed;
  case doOk:
  case doPending:
    break;
  }
  return otherwise;
}

} // namespace

TOptimizerPageEnv CurrentOptimizerPageEnv() {
  return {.windowsVersion = WindowsVersion,
          .windowsDir = WindowsDir,
          .settingsFolder = SettingsFolder,
          .undoFolder = SettingsPath(UndoFolderTitle) + "\\"};
}

TAnalysisView AnalysisViewFor(std::uint64_t liveSize, std::uint64_t compactSize) {
  const TDefragNumbers n = DefragNumbers(liveSize, compactSize);
  TAnalysisView view;
  view.usedPercent = n.usedPercent;
  view.freePercent = n.freePercent;
  view.usedText = std::to_string(n.usedPercent) + "%, " +
                  FormatByteSize(static_cast<std::int64_t>(n.usedBytes));
  view.freeText = std::to_string(n.freePercent) + "%, " +
                  FormatByteSize(static_cast<std::int64_t>(n.freeBytes));
  view.pieResource = n.pieResource;
  view.nothingToDo = n.nothingToDo;
  view.buttonCaption = n.nothingToDo ? "Ok" : "Defragment";
  return view;
}

TOptimizerPageLogic::TOptimizerPageLogic(const TOptimizerPageDeps &deps, TOptimizerPageEnv env)
    : d_(deps), env_(std::move(env)) {}

// --- settings half

void TOptimizerPageLogic::Load() {
  loaded_ = LoadSysSettings();
  values_ = loaded_.values;
  applyEnabled_ = false;
  resetEnabled_ = true;
}

void TOptimizerPageLogic::Changed() {
  applyEnabled_ = true;
  resetEnabled_ = true;
}

void TOptimizerPageLogic::SetMenuShowDelay(int ms) {
  values_.Set(ssMenuShowDelay, ms);
  Changed();
}

void TOptimizerPageLogic::SetWaitToKillApp(int seconds) {
  values_.Set(ssWaitToKillApp, seconds);
  Changed();
}

void TOptimizerPageLogic::SetWaitToKillService(int seconds) {
  values_.Set(ssWaitToKillService, seconds);
  Changed();
}

void TOptimizerPageLogic::SetBootOptimization(bool on) {
  values_.bootOptimization = on;
  Changed();
}

void TOptimizerPageLogic::SetAutoEndTasks(bool on) {
  values_.autoEndTasks = on;
  Changed();
}

std::string TOptimizerPageLogic::MenuShowDelayCaption() const {
  return Printed(kMenuShowDelayCaption, values_.menuShowDelayMs / 1000.0);
}

std::string TOptimizerPageLogic::WaitToKillAppCaption() const {
  return Printed(kWaitToKillAppCaption, values_.waitToKillAppSec);
}

std::string TOptimizerPageLogic::WaitToKillServiceCaption() const {
  return Printed(kWaitToKillServiceCaption, values_.waitToKillServiceSec);
}

void TOptimizerPageLogic::ShowMoreInfo(TSysSettingId slider) {
  const char *text = slider == ssWaitToKillApp       ? kWaitToKillAppInfo
                     : slider == ssWaitToKillService ? kWaitToKillServiceInfo
                                                     : kMenuShowDelayInfo;
  Ask(text, TMsgButtons::Ok, TMsgIcon::Information);
}

void TOptimizerPageLogic::Apply() {
  rawBeforeApply_ = loaded_.raw;
  lastWrite_ =
      ApplySysSettings(TUndoFolder{.root = env_.undoFolder, .clock = {}}, loaded_, values_);
  if (!lastWrite_.Complete()) {
    std::string text = kSettingsNotAppliedText;
    for (const auto &[id, error] : lastWrite_.failed)
      text += std::string(SysSettingDef(id).caption) + ": " + error + "\r\n";
    // The page keeps what the user asked for, so that Apply can be tried
    // again; what was written is now the registry's.
    const TSysSettingsValues asked = values_;
    loaded_ = LoadSysSettings();
    values_ = asked;
    applyEnabled_ = !(values_ == loaded_.values);
    resetEnabled_ = true;
    Ask(text, TMsgButtons::Ok, TMsgIcon::Error);
    return;
  }
  StampSettings(false);
  Load();
  OfferRestart(kSettingsAppliedQuestion);
}

void TOptimizerPageLogic::Reset() {
  values_ = DefaultSysSettings(env_.windowsVersion);
  applyEnabled_ = true;
  resetEnabled_ = false;
}

// --- defragmenter

std::string TOptimizerPageLogic::WorkFolder() const {
  return DefragWorkFolder(env_.settingsFolder);
}

void TOptimizerPageLogic::Analyze() {
  lastEnd_ = aeNotRun;
  failureCode_ = 0;
  d_.host.ClearScanResults();
  const int version = env_.windowsVersion;
  if (version <= 1) {
    Ask(version == 1 ? kNoDefragWin95Text : kNoDefragVersionText, TMsgButtons::Ok, TMsgIcon::Error);
    lastEnd_ = aeUnavailable;
    return;
  }
  if (version >= 4 && DefragPending(d_.hives, WorkFolder())) {
    Ask(kDefragPendingText, TMsgButtons::Ok, TMsgIcon::Information);
    lastEnd_ = aePending;
    return;
  }
  if (!Confirm()) {
    lastEnd_ = aeDeclined;
    return;
  }
  if (version <= 3)
    RunRegistryChecker();
  else
    RunHiveProcedure();
}

bool TOptimizerPageLogic::Confirm() {
  return d_.host.SpySweeperAllows(skDefragmentation) &&
         Ask(kAnalyzeQuestion, TMsgButtons::YesNo, TMsgIcon::Question) == TMsgAnswer::Yes &&
         d_.host.ConfirmMonitorOff();
}

void TOptimizerPageLogic::RunRegistryChecker() {
  if (!d_.programs.RunAndWait(env_.windowsDir + kCheckerCommand)) {
    Ask(kCheckerFailedText, TMsgButtons::Ok, TMsgIcon::Error);
    lastEnd_ = aeCheckerFailed;
    return;
  }
  StampSettings(true);
  Ask(kDefragCompletedText, TMsgButtons::Ok, TMsgIcon::Information);
  lastEnd_ = aeCheckerRan;
}

void TOptimizerPageLogic::RunHiveProcedure() {
  const std::string folder = WorkFolder();
  // A wait may end before its worker does: the worker then owns what it
  // writes, never this frame.
  IHiveCalls &hives = d_.hives;
  auto stepWork = [&hives, folder](const std::shared_ptr<TDefragStep> &step, bool defragment) {
    return [&hives, folder, step, defragment](const TWorkProgress &progress,
                                              std::string &errorText) {
      const TDefragRequest request{.folder = folder, .progress = progress, .terminate = nullptr};
      *step = defragment ? DefragmentRegistry(hives, request) : AnalyzeRegistry(hives, request);
      errorText = step->errorText;
      return step->Ok();
    };
  };

  const auto analysis = std::make_shared<TDefragStep>();
  const TLongOperationResult analyzed =
      d_.longOperation.Run(kAnalyzeCaption, true, stepWork(analysis, false));
  if (!analyzed.started)
    return Fail(dfAnalysisNotStarted, "");
  if (!analyzed.finished)
    return Fail(dfCompareFailed, "", true);
  if (analysis->outcome == doPending) {
    Ask(kDefragPendingText, TMsgButtons::Ok, TMsgIcon::Information);
    lastEnd_ = aePending;
    return;
  }
  if (!analyzed.ok) // an exception ends the work with its message only
    return Fail(FailureCodeOf(analysis->outcome, dfBackupFailed), analyzed.errorText);

  const TAnalysisView view =
      AnalysisViewFor(analysis->comparison.current, analysis->comparison.backup);
  if (!d_.analysisDialog.Show(view) || view.nothingToDo) {
    qp::IgnoreResult(DiscardWorkFolder(d_.hives, folder));
    lastEnd_ = aeNothingToDo;
    return;
  }

  const auto defrag = std::make_shared<TDefragStep>();
  const TLongOperationResult done =
      d_.longOperation.Run(kDefragmentCaption, true, stepWork(defrag, true));
  if (!done.started)
    return Fail(dfRestoreNotStarted, "");
  // The hand-over may still be running: its folder stays.
  if (!done.finished)
    return Fail(dfRestoreWaitFailed, "", true);
  if (defrag->outcome == doPending) {
    Ask(kDefragPendingText, TMsgButtons::Ok, TMsgIcon::Information);
    lastEnd_ = aePending;
    return;
  }
  if (!done.ok)
    return Fail(FailureCodeOf(defrag->outcome, dfRestoreFailed), done.errorText);

  StampSettings(true);
  lastEnd_ = aeDefragmented;
  OfferRestart(kDefragRestartQuestion);
}

void TOptimizerPageLogic::Fail(int code, const std::string &text, bool keepFolder) {
  if (!keepFolder)
    qp::IgnoreResult(DiscardWorkFolder(d_.hives, WorkFolder()));
  lastEnd_ = aeFailed;
  failureCode_ = code;
  Ask(kDefragFailedText + text + (text.empty() ? "" : "\r\n") +
          "Error code: " + std::to_string(code),
      TMsgButtons::Ok, TMsgIcon::Error);
}

// --- shared

void TOptimizerPageLogic::StampSettings(bool organize) {
  // Another page may have changed the file since it was read: reload first
  // so that the save carries those changes instead of undoing them.
  std::string error;
  if (LoadSettings(&error)) {
    const std::string stamp = TimeStamp(d_.clock.Now());
    (organize ? Settings().last_organize : Settings().last_optimize) = stamp;
    if (SaveSettings(&error))
      return;
  }
  Ask(kSettingsNotSavedText + error, TMsgButtons::Ok, TMsgIcon::Error);
}

void TOptimizerPageLogic::OfferRestart(const std::string &question) {
  if (Ask(question, TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return;
  if (!d_.restart.Restart())
    Ask(kRestartFailedText, TMsgButtons::Ok, TMsgIcon::Error);
}

TMsgAnswer TOptimizerPageLogic::Ask(const std::string &text, TMsgButtons buttons, TMsgIcon icon) {
  return d_.prompter.Ask(
      TPrompt{.text = text, .buttons = buttons, .icon = icon, .defaultButton = TMsgDefault::First});
}

} // namespace quenlo
