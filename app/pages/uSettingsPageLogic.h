// The settings page without its window: the "General" tab (the automatic
// start, the repair options, the counters' reset, the full registry backup
// and its restore), the "Ignore List" tab and the "Monitor" tab. Every
// change is a reload of the settings file, the change and a save; a list
// whose save failed is filled again from the file, so the page never shows
// a change that was not kept. The window (app/win) binds its controls to
// this object; tests drive it through fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/pages/uOptimizerServices.h"
#include "app/pages/uPageServices.h"
#include "app/uSettings.h"

namespace quenlo {

// --- texts
inline constexpr const char *kSettingsSaved = "Settings saved successfully";
inline constexpr const char *kAutoStartFailed = "Failed to save AutoStart settings";
inline constexpr const char *kSelectIgnoreKeyTitle = "Select registry key to be added...";
inline constexpr const char *kSelectMonitoredKeyTitle = "Select registry key to be monitored ...";
inline constexpr const char *kRemoveIgnoreRowsPrompt = "Remove selected item(s) from the list?";
inline constexpr const char *kPermanentRowsRefused =
    "One or more items selected are \"Permanent Entries\" and cannot be removed";
inline constexpr const char *kRemoveMonitoredKeysPrompt = "Remove selected key(s) from the list?";
inline constexpr const char *kMonitoredKeyLimitFormat = "You can select up to %d registry keys.";
inline constexpr const char *kIgnoreListHint =
    "The following keys will be ignored during the scan.";
inline constexpr const char *kIgnoreListRemoveHint =
    "Items in the Results list will be ignored during a scan. To remove an item from the list "
    "right-click on the selection and choose \"Remove from the Ignore List\". ";
inline constexpr const char *kRemoveFromIgnoreListMenu = "Remove from the Ignore List";
inline constexpr const char *kMonitorPromptBefore = "You will be notified after";
inline constexpr const char *kMonitorPromptAfter = "captured events";
inline constexpr const char *kFullBackupPrompt =
    "Registry Backup may take several minutes. You will be notified when backup is "
    "completed.\r\n\r\nDo you want to continue?";
inline constexpr const char *kFullBackupDone = "Registry Backup completed.";
inline constexpr const char *kFullRestorePrompt =
    "Registry Restore may take several minutes. You will be notified when restore is completed. "
    "You will also be prompted to restart Windows.\r\n\r\nDo you want to continue?";
inline constexpr const char *kFullRestoreCaption =
    "Restoring Registry.\r\nPlease wait, this may take several minutes ...";
inline constexpr const char *kFullRestoreDone =
    "Registry Restore completed.\r\nYou must restart Windows for the the changes to take "
    "effect.\r\n\r\nDo you want to restart Windows now (recommended)?";
inline constexpr const char *kCannotRestartWindows =
    "Can not restart Windows. Please do it manually.";
// Prefixes of the reports of what could not be read or kept; the reason
// follows.
inline constexpr const char *kSettingsNotRead = "The settings could not be read:\r\n";
inline constexpr const char *kSettingsNotSaved = "The change was not saved:\r\n";
inline constexpr const char *kIgnoreFileNotRead = "The ignore list could not be read:\r\n";
inline constexpr const char *kIgnoreFileNotChanged = "The ignore list was not changed:\r\n";
inline constexpr const char *kKeyNotMonitorable =
    "This key cannot be monitored: the settings file would give it back as another key (";
inline constexpr const char *kFullRestoreFailed = "Registry Restore failed:\r\n";

// The choices of "Action" (AutoAction) and "Frequency" (AutoFreq), in
// their order in the boxes.
inline constexpr const char *kAutoActionNames[] = {"Disabled", "Scan and Repair", "Monitor"};
inline constexpr const char *kAutoFreqNames[] = {"Daily", "Weekly", "Bi-Weekly", "Monthly"};
enum TAutoAction : std::uint8_t { aaDisabled = 0, aaScanAndRepair = 1, aaMonitor = 2 };

// The number of captured events after which the monitor notifies: whole
// numbers in this range only.
inline constexpr int kMinMonitorPrompt = 1;
inline constexpr int kMaxMonitorPrompt = 99999;

// Failure codes of "Registry Restore failed:\r\n...Error code: N".
enum TFullRestoreFailure : std::uint16_t {
  frRestoreFailed = 1001, // the work failed (nothing, or not every hive, was handed over)
  frWaitFailed = 1002,    // the wait ended before the worker did
  frNoThread = 1003,      // the worker could not be started
};

enum TSettingsTab : std::uint8_t { stGeneral = 0, stIgnoreList = 1, stMonitor = 2 };

// Where a row of the ignore list comes from, and what "Applies to" shows.
enum TIgnoreRowKind : std::uint8_t {
  irAll = 0,        // "All": an entry of "ignore.txt"
  irPermanent = 1,  // "Permanent": a built-in key, never removed
  irIgnoreList = 2, // "Ignore List": an entry of the settings' "SkippedKeys"
};
// "All", "Permanent", "Ignore List".
const char *IgnoreRowKindText(TIgnoreRowKind kind);

struct TIgnoreRow {
  TIgnoreRowKind kind = irAll;
  // "All": the section, or section + "\\:" + key; "Permanent": the key
  // path; "Ignore List": the entry's name (the text before its "=").
  std::string key;
};

// The key selection dialog: a tree of HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE under "My Computer". True with the chosen key as its
// full path with the long root name ("HKEY_CURRENT_USER\Software\X"),
// false when cancelled.
class IKeySelector {
public:
  virtual ~IKeySelector() = default;
  virtual bool SelectKey(const std::string &title, std::string &key) = 0;
};

// ApplyAutoStart of the settings: 0 removes the automatic start, 1 installs
// it for "autoscan", 2 for "monitor". False when that failed.
class IAutoStart {
public:
  virtual ~IAutoStart() = default;
  [[nodiscard]] virtual bool Apply(int action) = 0;
};

struct TSettingsPageDeps {
  IPrompter &prompter;
  ICommandQueue &commands; // 22 after a monitored-key change
  IKeySelector &keys;
  IAutoStart &autoStart;
  // The full backup (its worker, cover, failure codes and backup date);
  // the page adds the prompt and the messages.
  IFullBackup &fullBackup;
  // The restore's worker under the progress cover.
  ILongOperation &longOperation;
  // SpySweeperCheck (kind 2) and command 18 before a restore.
  IOptimizerHost &host;
  IWindowsRestart &restart;
};

class TSettingsPageLogic final : public ISettingsPageControl {
public:
  explicit TSettingsPageLogic(TSettingsPageDeps deps);

  // Reloads the settings into the page's state, fills both lists and
  // looks whether a full backup exists. Hide stores the four boxes.
  void Show();
  void Hide();

  // --- tabs; command 560 with a non-zero lParam opens the monitor tab.
  void ShowMonitorTab() override { SelectTab(stMonitor); }
  bool MonitorTabShown() const override { return tab_ == stMonitor; }
  void SelectTab(TSettingsTab tab);
  TSettingsTab Tab() const { return tab_; }

  // --- "General"
  int Action() const { return action_; }       // index in kAutoActionNames
  int Frequency() const { return frequency_; } // index in kAutoFreqNames
  bool FrequencyVisible() const { return action_ == aaScanAndRepair; }
  void SetAction(int index);
  void SetFrequency(int index);
  bool SaveEnabled() const { return saveEnabled_; }
  // Stores action and frequency and applies the automatic start. When that
  // fails, the previous action and frequency are put back (in the file and
  // in the system) and the user is told.
  void Save();
  bool BackupBeforeScan() const { return backupBeforeScan_; }
  bool FullBackupWeekly() const { return fullBackupWeekly_; }
  bool CleanAfterScan() const { return cleanAfterScan_; }
  bool CleanSafeAfterScan() const { return cleanSafeAfterScan_; }
  // Written to the file at once when different from the stored value.
  void SetBackupBeforeScan(bool on);
  void SetFullBackupWeekly(bool on);
  // Hidden options: stored when the page is hidden.
  void SetCleanAfterScan(bool on) { cleanAfterScan_ = on; }
  void SetCleanSafeAfterScan(bool on) { cleanSafeAfterScan_ = on; }
  void ResetCounters();
  void FullBackup();
  void FullRestore();
  bool RestoreVisible() const { return restoreVisible_; }

  // --- "Ignore List"
  const std::vector<TIgnoreRow> &IgnoreRows() const { return ignoreRows_; }
  // The row to select after a refill (the entry just added), or -1.
  int IgnoreRowToSelect() const { return ignoreSelect_; }
  void AddIgnoreKey();
  // rows: the selected rows' indexes in IgnoreRows().
  void RemoveIgnoreRows(const std::vector<int> &rows);

  // --- "Monitor"
  const std::vector<std::string> &MonitoredKeys() const { return monitoredKeys_; }
  int MonitoredRowToSelect() const { return monitoredSelect_; }
  void AddMonitoredKey();
  void RemoveMonitoredKeys(const std::vector<int> &rows);
  int MonitorPrompt() const { return monitorPrompt_; }
  // The field's text after each change. A whole number in range is kept
  // (saved at once when it differs from the stored one); anything else is
  // refused: false, and the field should show MonitorPrompt() again.
  bool SetMonitorPromptText(const std::string &text);

  // Anything the view shows changed; called after every action.
  std::function<void()> OnChanged;

private:
  // What Save changes, to put back when the automatic start fails.
  struct TAutoStartChoice {
    std::int32_t action = 0;
    std::int32_t frequency = 0;
    std::string autorun;
    bool autorunCleared = false;
  };

  TMsgAnswer Ask(const std::string &text, TMsgButtons buttons, TMsgIcon icon);
  void Error(const std::string &text);
  void Notify();
  // Reload and save of the settings; both report a failure. After a failed
  // save the record is read again, so that it holds what the file holds.
  [[nodiscard]] bool Reload();
  [[nodiscard]] bool Store();
  // The record's options into the page's state.
  void TakeOptions();
  void TakeAutoStart();
  void StoreOption(bool tProgramSettings::*field, bool &shown, bool on);
  void PutBackAutoStart(const TAutoStartChoice &previous);
  // Both lists from the file and the record; the row equal to select (no
  // case for ignore entries, exact for monitored keys) is selected.
  void FillIgnoreRows(const std::string &select);
  void FillMonitoredKeys(const std::string &select);
  void AddChosenMonitoredKey(const std::string &key);
  void FailRestore(TFullRestoreFailure code, const std::string &text);

  TSettingsPageDeps d_;
  TSettingsTab tab_ = stGeneral;
  int action_ = 0;
  int frequency_ = 0;
  bool saveEnabled_ = false;
  bool saving_ = false;
  bool backupBeforeScan_ = true;
  bool fullBackupWeekly_ = true;
  bool cleanAfterScan_ = false;
  bool cleanSafeAfterScan_ = false;
  bool restoreVisible_ = false;
  bool shown_ = false;
  bool fullBackupRunning_ = false; // the backup or the restore
  std::vector<TIgnoreRow> ignoreRows_;
  int ignoreSelect_ = -1;
  std::vector<std::string> monitoredKeys_;
  int monitoredSelect_ = -1;
  int monitorPrompt_ = 300;
};

} // namespace quenlo
