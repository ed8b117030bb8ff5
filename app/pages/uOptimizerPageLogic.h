// The optimizer page's logic without its window ("Optimize System
// Performance", the "System performance" half): the five system settings
// with their sliders, captions, "more info" texts, check boxes, Apply and
// Reset, and the registry defragmenter behind "Analyze". The Win32 view
// reads the state below and hands the user's inputs over; tests drive it
// with fakes.
//
// Settings: the page shows what the registry holds (Load, also after
// Apply). Apply writes only what the user changed, each value through the
// undo folder, and says "applied successfully" only when every value was
// written; otherwise it names what was not and leaves "last_optimize"
// alone.
//
// Defragmenter: the analysis saves the hives and compares the sizes for
// the dialog; when the user chooses Defragment the hives are saved again,
// compared and replaced in one run, so that nothing changed while the
// dialog was open is lost. While replacements wait for a restart a new run
// is refused and the work folder - the only copy of the old registry - is
// kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/pages/uOptimizerServices.h"
#include "app/pages/uPageServices.h"
#include "optimizer/uDefrag.h"
#include "optimizer/uSysSettings.h"

namespace quenlo {

// --- texts
inline constexpr const char *kMenuShowDelayCaption = "Menu show delay (%2.2f sec)";
inline constexpr const char *kWaitToKillAppCaption = "Wait to kill application timeout (%d sec)";
inline constexpr const char *kWaitToKillServiceCaption = "Wait to kill service timeout (%d sec)";
inline constexpr const char *kMenuShowDelayInfo =
    "Menu Show Delay\r\rControls the interval used to delay the appearance of the taskbar "
    "cascading menus.";
inline constexpr const char *kWaitToKillAppInfo =
    "Wait to kill application timeout\r\rIf application does not respond within this time-out, "
    "Windows displays dialog box, which prompts you to wait more, stop application, or cancel "
    "shutdown.";
inline constexpr const char *kWaitToKillServiceInfo =
    "Wait to kill service timeout\r\rSpecifies a length of time that the service control manager "
    "must wait for services to complete the shutdown request.";
inline constexpr const char *kBootOptimizationBox = "Boot optimization";
inline constexpr const char *kBootOptimizationText =
    "Improves startup time by locating \r\nstartup files in contiguous clusters.";
inline constexpr const char *kAutoEndTasksBox = "Autoclose non-responsive task";
inline constexpr const char *kAutoEndTasksText =
    "Close non-responsive programs \r\nwithout the need to do it manually \r\nthrough the task "
    "manager.";
inline constexpr const char *kAnalyzeCaption =
    "Analyzing Registry.\r\nPlease wait, this may take several minutes ...";
inline constexpr const char *kDefragmentCaption = "Defragmenting Registry. Please wait ...";
inline constexpr const char *kAnalyzeQuestion =
    "Registry defragmenter need to analyze registry database which may take several "
    "minutes.\r\nYou will be notified when this operation is completed.\r\n\r\nDo you want to "
    "continue?";
inline constexpr const char *kNoDefragVersionText =
    "Registry defragmentation is not available on this version of Windows.";
inline constexpr const char *kNoDefragWin95Text =
    "Registry defragmentation is not available on this Windows 95.";
inline constexpr const char *kDefragCompletedText = "Registry defragmentation completed.";
inline constexpr const char *kCheckerFailedText = "Unable to defragment the Registry.";
inline constexpr const char *kCheckerCommand = "command\\scanreg /fix"; // after WindowsDir
// The restart question after the hives were handed over: what is changed in
// the registry before the restart is lost with the hives Windows replaces.
inline constexpr const char *kDefragRestartQuestion =
    "Registry defragmentation completed.\r\nYou must restart Windows for the the changes to take "
    "effect\r\nChanges made to the registry before the restart will be lost.\r\n\r\nDo you "
    "want to restart Windows now (recommended)?";
inline constexpr const char *kDefragPendingText =
    "The registry was defragmented and Windows has not been restarted since.\r\nPlease restart "
    "Windows before you defragment the registry again.";
inline constexpr const char *kDefragFailedText = "Registry defragmentation failed:\r\n";
inline constexpr const char *kSettingsAppliedQuestion =
    "Optimization settings were applied successfully. You need to restart Windows for changes to "
    "take effect.\r\nDo you want to restart Windows now?";
inline constexpr const char *kSettingsNotAppliedText =
    "Some optimization settings could not be applied:\r\n";
inline constexpr const char *kRestartFailedText = "Can not restart Windows. Please do it manually.";
inline constexpr const char *kSettingsNotSavedText = "The settings could not be saved.\r\r";

// Failure report codes of the defragmenter.
enum TDefragFailure : std::uint16_t {
  dfBackupFailed = 1001,
  dfRestoreFailed = 1002,
  dfRestoreWaitFailed = 1003,
  dfRestoreNotStarted = 1004,
  dfCompareFailed = 1005,
  dfAnalysisNotStarted = 1006,
};

// The slider ranges in their units (ms, s, s).
inline constexpr int kMenuShowDelayMax = 4000;
inline constexpr int kTimeoutMaxSec = 60;

// The facts of the machine the page depends on.
struct TOptimizerPageEnv {
  int windowsVersion = 0;     // WindowsVersion
  std::string windowsDir;     // with trailing backslash
  std::string settingsFolder; // without trailing backslash
  std::string undoFolder;     // with trailing backslash
};
// From the process-wide environment (uEnvironment.h).
TOptimizerPageEnv CurrentOptimizerPageEnv();

struct TOptimizerPageDeps {
  IPrompter &prompter;
  IClock &clock;
  IOptimizerHost &host;
  ILongOperation &longOperation;
  IAnalysisDialog &analysisDialog;
  IWindowsRestart &restart;
  IProgramRunner &programs;
  IHiveCalls &hives; // SystemHiveCalls() in the program; outlives every worker
};

// The analysis dialog's view for live size L and compacted size K.
TAnalysisView AnalysisViewFor(std::uint64_t liveSize, std::uint64_t compactSize);

// How the last Analyze ended, for the view's state and the tests.
enum TAnalyzeEnd : std::uint8_t {
  aeNotRun = 0,
  aeUnavailable,   // version 0 or 1
  aeDeclined,      // a confirmation said no
  aePending,       // replacements still wait for a restart
  aeCheckerRan,    // Windows 98/Me: the registry checker ran
  aeCheckerFailed, // it could not be started
  aeNothingToDo,   // already compact, or the user closed the dialog
  aeDefragmented,  // the hives wait for the restart
  aeFailed,        // the failure report was shown (FailureCode)
};

class TOptimizerPageLogic {
public:
  TOptimizerPageLogic(const TOptimizerPageDeps &deps, TOptimizerPageEnv env);

  // --- settings half
  // The page is shown (and after Apply): the values from the registry;
  // Apply unavailable, Reset available.
  void Load();
  const TSysSettingsValues &Values() const { return values_; }
  // What the registry held at the last Load.
  const TSysSettingsLoad &Loaded() const { return loaded_; }

  // Slider positions in their units; a move makes Apply and Reset available.
  int MenuShowDelayPosition() const { return values_.menuShowDelayMs; }
  int WaitToKillAppPosition() const { return values_.waitToKillAppSec; }
  int WaitToKillServicePosition() const { return values_.waitToKillServiceSec; }
  bool BootOptimizationChecked() const { return values_.bootOptimization; }
  bool AutoEndTasksChecked() const { return values_.autoEndTasks; }
  void SetMenuShowDelay(int ms);
  void SetWaitToKillApp(int seconds);
  void SetWaitToKillService(int seconds);
  void SetBootOptimization(bool on);
  void SetAutoEndTasks(bool on);

  // "Menu show delay (0.40 sec)", ... from the current positions.
  std::string MenuShowDelayCaption() const;
  std::string WaitToKillAppCaption() const;
  std::string WaitToKillServiceCaption() const;
  // A "more info" link: the text with the information icon.
  void ShowMoreInfo(TSysSettingId slider);

  bool ApplyEnabled() const { return applyEnabled_; }
  bool ResetEnabled() const { return resetEnabled_; }
  // Writes the changed values, stamps "last_optimize" when all were
  // written, loads again and offers the restart.
  void Apply();
  // The defaults on the page; nothing is written until Apply.
  void Reset();
  // The raw values the last Apply replaced (for a Restore of them).
  const TSysSettingsRaw &RawBeforeApply() const { return rawBeforeApply_; }
  const TSysSettingsWrite &LastWrite() const { return lastWrite_; }

  // --- defragmenter
  // pnlDefrag: shown only when WindowsVersion > 1.
  bool DefragPanelVisible() const { return env_.windowsVersion > 1; }
  std::string WorkFolder() const;
  // "Analyze".
  void Analyze();
  TAnalyzeEnd LastAnalyzeEnd() const { return lastEnd_; }
  int FailureCode() const { return failureCode_; }

private:
  void Changed();
  bool Confirm();
  void RunRegistryChecker();
  void RunHiveProcedure();
  // The failure report; the work folder is deleted unless the worker may
  // still be using it (keepFolder) or replacements in it are pending.
  void Fail(int code, const std::string &text, bool keepFolder = false);
  void StampSettings(bool organize);
  void OfferRestart(const std::string &question);
  TMsgAnswer Ask(const std::string &text, TMsgButtons buttons, TMsgIcon icon);

  TOptimizerPageDeps d_;
  TOptimizerPageEnv env_;
  TSysSettingsLoad loaded_;
  TSysSettingsValues values_;
  TSysSettingsRaw rawBeforeApply_{};
  TSysSettingsWrite lastWrite_;
  bool applyEnabled_ = false;
  bool resetEnabled_ = true;
  TAnalyzeEnd lastEnd_ = aeNotRun;
  int failureCode_ = 0;
};

} // namespace quenlo
