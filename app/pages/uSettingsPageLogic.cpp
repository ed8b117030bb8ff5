#include "app/pages/uSettingsPageLogic.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>

#include "app/uEnvironment.h"
#include "app/uIgnoreLists.h"
#include "app/uIniFile.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "service/uFullBackup.h"

namespace quenlo {

namespace {

constexpr int kAutoActionCount = static_cast<int>(std::size(kAutoActionNames));
constexpr int kAutoFreqCount = static_cast<int>(std::size(kAutoFreqNames));

// A stored choice the boxes do not offer reads as the first one, the way
// the automatic start treats it (anything but "Scan and Repair" or
// "Monitor" starts nothing; an unknown frequency is daily).
int ChoiceIn(std::int32_t stored, int count) {
  return stored >= 0 && stored < count ? static_cast<int>(stored) : 0;
}

// The field takes whole numbers only: digits and nothing else, in range.
std::optional<int> WholeNumberIn(std::string_view text, int min, int max) {
  if (text.empty())
    return std::nullopt;
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9')
      return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > max) // also keeps the sum far from overflowing
      return std::nullopt;
  }
  if (value < min)
    return std::nullopt;
  return static_cast<int>(value);
}

// The name of a "SkippedKeys" entry: the text before its last "=", where
// the settings writer splits it into the file's key and value. An entry
// read from the file is its line again, so the name always names the line.
std::string SkippedKeyName(const std::string &entry) {
  const std::size_t eq = entry.rfind('=');
  return eq == std::string::npos ? entry : entry.substr(0, eq);
}

std::string LimitText() {
  char text[96];
  std::snprintf(text, sizeof text, kMonitoredKeyLimitFormat, static_cast<int>(MaxMonitoredKeys));
  return text;
}

// The selected rows that exist, each once, from last to first.
std::vector<int> RowsLastFirst(const std::vector<int> &rows, std::size_t count) {
  std::vector<int> valid;
  for (const int row : rows)
    if (row >= 0 && static_cast<std::size_t>(row) < count)
      valid.push_back(row);
  std::sort(valid.begin(), valid.end(), std::greater<>());
  valid.erase(std::unique(valid.begin(), valid.end()), valid.end());
  return valid;
}

// Clears a flag when the scope ends, however it ends.
class TFlagScope {
public:
  explicit TFlagScope(bool &flag) : flag_(flag) { flag_ = true; }
  TFlagScope(const TFlagScope &) = delete;
  TFlagScope &operator=(const TFlagScope &) = delete;
  ~TFlagScope() { flag_ = false; }

private:
  bool &flag_;
};

} // namespace

const char *IgnoreRowKindText(TIgnoreRowKind kind) {
  switch (kind) {
  case irAll:
    return "All";
  case irPermanent:
    return "Permanent";
  case irIgnoreList:
    return "Ignore List";
  }
  return "";
}

TSettingsPageLogic::TSettingsPageLogic(TSettingsPageDeps deps) : d_(deps) {}

// --- shared

TMsgAnswer TSettingsPageLogic::Ask(const std::string &text, TMsgButtons buttons, TMsgIcon icon) {
  return d_.prompter.Ask(
      TPrompt{.text = text, .buttons = buttons, .icon = icon, .defaultButton = TMsgDefault::First});
}

void TSettingsPageLogic::Error(const std::string &text) {
  Ask(text, TMsgButtons::Ok, TMsgIcon::Error);
}

void TSettingsPageLogic::Notify() {
  if (OnChanged)
    OnChanged();
}

bool TSettingsPageLogic::Reload() {
  std::string error;
  if (LoadSettings(&error))
    return true;
  Error(kSettingsNotRead + error);
  return false;
}

bool TSettingsPageLogic::Store() {
  std::string error;
  if (SaveSettings(&error))
    return true;
  Error(kSettingsNotSaved + error);
  // The record still holds the change the file did not take.
  qp::IgnoreResult(LoadSettings());
  return false;
}

void TSettingsPageLogic::TakeOptions() {
  const tProgramSettings &s = Settings();
  backupBeforeScan_ = s.BackupBeforeScan;
  fullBackupWeekly_ = s.FullBackupOnlyOnceWeek;
  cleanAfterScan_ = s.CleanAfterScan;
  cleanSafeAfterScan_ = s.CleanSafeAfterScan;
  monitorPrompt_ = s.MonitorPrompt;
}

void TSettingsPageLogic::TakeAutoStart() {
  action_ = ChoiceIn(Settings().AutoAction, kAutoActionCount);
  frequency_ = ChoiceIn(Settings().AutoFreq, kAutoFreqCount);
}

// --- show and hide

void TSettingsPageLogic::Show() {
  // Unreadable settings leave the defaults in effect: the page shows them,
  // and every save refuses to replace the file until it can be read.
  qp::IgnoreResult(Reload());
  TakeOptions();
  TakeAutoStart();
  saveEnabled_ = false;
  FillIgnoreRows("");
  FillMonitoredKeys("");
  restoreVisible_ = service::FullBackupExists();
  shown_ = true;
  Notify();
}

void TSettingsPageLogic::Hide() {
  if (!shown_)
    return;
  shown_ = false;
  if (!Reload())
    return;
  tProgramSettings &s = Settings();
  if (s.BackupBeforeScan == backupBeforeScan_ && s.FullBackupOnlyOnceWeek == fullBackupWeekly_ &&
      s.CleanAfterScan == cleanAfterScan_ && s.CleanSafeAfterScan == cleanSafeAfterScan_)
    return;
  s.BackupBeforeScan = backupBeforeScan_;
  s.FullBackupOnlyOnceWeek = fullBackupWeekly_;
  s.CleanAfterScan = cleanAfterScan_;
  s.CleanSafeAfterScan = cleanSafeAfterScan_;
  if (!Store())
    TakeOptions();
  Notify();
}

void TSettingsPageLogic::SelectTab(TSettingsTab tab) {
  if (tab != stGeneral && tab != stIgnoreList && tab != stMonitor)
    return;
  tab_ = tab;
  // A selection is the user's, on the tab they see: a switch ends it.
  ignoreSelect_ = -1;
  monitoredSelect_ = -1;
  Notify();
}

// --- "General"

void TSettingsPageLogic::SetAction(int index) {
  if (index < 0 || index >= kAutoActionCount || index == action_)
    return;
  action_ = index;
  saveEnabled_ = true;
  Notify();
}

void TSettingsPageLogic::SetFrequency(int index) {
  if (index < 0 || index >= kAutoFreqCount || index == frequency_)
    return;
  frequency_ = index;
  saveEnabled_ = true;
  Notify();
}

void TSettingsPageLogic::Save() {
  // The prompts below pump messages: a second click must not start a
  // second save over the first one's half-done work.
  if (saving_)
    return;
  const TFlagScope saving(saving_);
  auto notify = qp::ScopeExit([this] { Notify(); });
  if (!Reload())
    return;
  tProgramSettings &s = Settings();
  TAutoStartChoice previous{.action = s.AutoAction, .frequency = s.AutoFreq, .autorun = s.autorun};
  // A shorter interval counts from now: the next automatic start scans.
  if (frequency_ < s.AutoFreq) {
    s.autorun.clear();
    previous.autorunCleared = true;
  }
  s.AutoAction = action_;
  s.AutoFreq = frequency_;
  if (!Store()) {
    TakeAutoStart();
    return;
  }
  if (d_.autoStart.Apply(action_)) {
    saveEnabled_ = false;
    Ask(kSettingsSaved, TMsgButtons::Ok, TMsgIcon::Information);
    return;
  }
  PutBackAutoStart(previous);
  Error(kAutoStartFailed);
}

void TSettingsPageLogic::PutBackAutoStart(const TAutoStartChoice &previous) {
  // The file, the system and the boxes go back to the choice in effect
  // before, so that none of them claims what the system does not do.
  if (Reload()) {
    tProgramSettings &s = Settings();
    s.AutoAction = previous.action;
    s.AutoFreq = previous.frequency;
    if (previous.autorunCleared)
      s.autorun = previous.autorun;
    qp::IgnoreResult(Store());
  }
  // Best effort: the user is told below that the automatic start failed.
  qp::IgnoreResult(d_.autoStart.Apply(previous.action));
  action_ = ChoiceIn(previous.action, kAutoActionCount);
  frequency_ = ChoiceIn(previous.frequency, kAutoFreqCount);
}

void TSettingsPageLogic::StoreOption(bool tProgramSettings::*field, bool &shown, bool on) {
  const bool before = shown;
  shown = on;
  auto notify = qp::ScopeExit([this] { Notify(); });
  if (!Reload()) {
    shown = before;
    return;
  }
  if (Settings().*field == on)
    return;
  Settings().*field = on;
  if (!Store())
    shown = Settings().*field;
}

void TSettingsPageLogic::SetBackupBeforeScan(bool on) {
  StoreOption(&tProgramSettings::BackupBeforeScan, backupBeforeScan_, on);
}

void TSettingsPageLogic::SetFullBackupWeekly(bool on) {
  StoreOption(&tProgramSettings::FullBackupOnlyOnceWeek, fullBackupWeekly_, on);
}

void TSettingsPageLogic::ResetCounters() {
  if (!Reload())
    return;
  tProgramSettings &s = Settings();
  s.total_error_found = 0;
  s.total_error_repaired = 0;
  // The tray notice of the delayed start is shown again.
  s.DoNotShowNoticeOnDelayedStart = false;
  qp::IgnoreResult(Store()); // a failure is reported there
  Notify();
}

// --- full backup and restore

void TSettingsPageLogic::FullBackup() {
  if (fullBackupRunning_)
    return;
  const TFlagScope running(fullBackupRunning_);
  if (Ask(kFullBackupPrompt, TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return;
  std::string error;
  if (d_.fullBackup.RunSilent(error))
    Ask(kFullBackupDone, TMsgButtons::Ok, TMsgIcon::Information);
  else
    Error(error);
  restoreVisible_ = service::FullBackupExists();
  Notify();
}

void TSettingsPageLogic::FullRestore() {
  if (fullBackupRunning_)
    return;
  const TFlagScope running(fullBackupRunning_);
  if (Ask(kFullRestorePrompt, TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return;
  if (!d_.host.SpySweeperAllows(skFullRestore) || !d_.host.ConfirmMonitorOff())
    return;
  // A wait may end before the worker does: what the worker writes is its
  // own, never this frame's.
  const auto restored = std::make_shared<service::TFullRestoreResult>();
  const TLongOperationResult run = d_.longOperation.Run(
      kFullRestoreCaption, true, [restored](const TWorkProgress &progress, std::string &errorText) {
        try {
          if (service::FullRegistryRestore(progress, *restored))
            return true;
          errorText = restored->errorText;
        } catch (const std::exception &e) {
          errorText = e.what();
        }
        return false;
      });
  restoreVisible_ = service::FullBackupExists();
  Notify();
  if (!run.started)
    return FailRestore(frNoThread, "");
  if (!run.finished)
    return FailRestore(frWaitFailed, "");
  if (!run.ok)
    return FailRestore(frRestoreFailed, run.errorText);
  if (Ask(kFullRestoreDone, TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return;
  if (!d_.restart.Restart())
    Error(kCannotRestartWindows);
}

void TSettingsPageLogic::FailRestore(TFullRestoreFailure code, const std::string &text) {
  Error(kFullRestoreFailed + text + (text.empty() ? "" : "\r\n") +
        "Error code: " + std::to_string(static_cast<int>(code)));
}

// --- "Ignore List"

void TSettingsPageLogic::FillIgnoreRows(const std::string &select) {
  ignoreRows_.clear();
  ignoreSelect_ = -1;
  std::vector<std::string> entries;
  std::string error;
  if (!ReadIgnoreFileEntries(entries, error))
    Error(kIgnoreFileNotRead + error);
  for (std::string &entry : entries)
    ignoreRows_.push_back({.kind = irAll, .key = std::move(entry)});
  for (const std::string_view key : PermanentIgnoreKeys)
    ignoreRows_.push_back({.kind = irPermanent, .key = std::string(key)});
  for (const std::string &entry : Settings().SkippedKeys)
    ignoreRows_.push_back({.kind = irIgnoreList, .key = SkippedKeyName(entry)});
  if (select.empty())
    return;
  // "ignore.txt" names its sections without case.
  for (std::size_t i = 0; i < ignoreRows_.size(); ++i)
    if (ignoreRows_[i].kind == irAll && qp::EqualsNoCase(ignoreRows_[i].key, select)) {
      ignoreSelect_ = static_cast<int>(i);
      return;
    }
}

void TSettingsPageLogic::AddIgnoreKey() {
  std::string key;
  if (!d_.keys.SelectKey(kSelectIgnoreKeyTitle, key))
    return;
  auto notify = qp::ScopeExit([this] { Notify(); });
  // The file names its sections without case: a key it holds in other
  // letters is kept as it is, and its row is the one selected.
  std::string error;
  if (!AddIgnoreEntry(key, &error)) {
    Error(kIgnoreFileNotChanged + error);
    return FillIgnoreRows("");
  }
  FillIgnoreRows(key);
}

void TSettingsPageLogic::RemoveIgnoreRows(const std::vector<int> &rows) {
  // The rows as they are now: the prompt pumps messages, and a refill
  // meanwhile must not make the indexes name other rows.
  std::vector<TIgnoreRow> chosen;
  for (const int row : RowsLastFirst(rows, ignoreRows_.size()))
    chosen.push_back(ignoreRows_[static_cast<std::size_t>(row)]);
  if (chosen.empty())
    return;
  if (Ask(kRemoveIgnoreRowsPrompt, TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return;
  auto notify = qp::ScopeExit([this] { Notify(); });
  if (std::any_of(chosen.begin(), chosen.end(),
                  [](const TIgnoreRow &row) { return row.kind == irPermanent; })) {
    Error(kPermanentRowsRefused);
    return;
  }
  if (!Reload())
    return;
  std::vector<std::string> &skipped = Settings().SkippedKeys;
  bool skippedChanged = false;
  std::string failures;
  for (const TIgnoreRow &row : chosen) {
    if (row.kind == irAll) {
      std::string error;
      if (!RemoveIgnoreEntry(row.key, &error))
        failures += "\r\n" + row.key + ": " + error;
      continue;
    }
    const std::size_t before = skipped.size();
    std::erase_if(skipped,
                  [&row](const std::string &entry) { return SkippedKeyName(entry) == row.key; });
    skippedChanged = skippedChanged || skipped.size() != before;
  }
  if (!failures.empty())
    Error(kIgnoreFileNotChanged + failures.substr(2));
  if (skippedChanged)
    qp::IgnoreResult(Store()); // a failure is reported there; the rows show the file
  FillIgnoreRows("");
}

// --- "Monitor"

void TSettingsPageLogic::FillMonitoredKeys(const std::string &select) {
  monitoredKeys_ = Settings().MonitoredKeys;
  monitoredSelect_ = -1;
  const auto at = std::find(monitoredKeys_.begin(), monitoredKeys_.end(), select);
  if (!select.empty() && at != monitoredKeys_.end())
    monitoredSelect_ = static_cast<int>(at - monitoredKeys_.begin());
}

void TSettingsPageLogic::AddMonitoredKey() {
  auto notify = qp::ScopeExit([this] { Notify(); });
  // The limit holds for the file, which another copy of the program or the
  // command line may have changed since the list was filled.
  if (!Reload())
    return;
  FillMonitoredKeys("");
  if (monitoredKeys_.size() >= MaxMonitoredKeys) {
    Error(LimitText());
    return;
  }
  std::string key;
  if (!d_.keys.SelectKey(kSelectMonitoredKeyTitle, key))
    return;
  AddChosenMonitoredKey(key);
}

void TSettingsPageLogic::AddChosenMonitoredKey(const std::string &key) {
  // The dialog pumped messages for as long as it was open: the file is
  // read again before anything is compared with it.
  if (!Reload())
    return;
  std::vector<std::string> &keys = Settings().MonitoredKeys;
  // The file names its keys without case: one in other letters is that key.
  const auto same = std::find_if(keys.begin(), keys.end(), [&key](const std::string &listed) {
    return qp::EqualsNoCase(listed, key);
  });
  if (same != keys.end()) {
    FillMonitoredKeys(*same);
    d_.commands.Send(mcMonitorRestart);
    return;
  }
  if (keys.size() >= MaxMonitoredKeys) {
    FillMonitoredKeys("");
    Error(LimitText());
    return;
  }
  std::string reason;
  if (!IniKeyRoundTrips(key, reason)) {
    FillMonitoredKeys("");
    Error(kKeyNotMonitorable + reason + "):\r\n" + key);
    return;
  }
  keys.push_back(key);
  if (!Store()) {
    FillMonitoredKeys("");
    return;
  }
  FillMonitoredKeys(key);
  d_.commands.Send(mcMonitorRestart);
}

void TSettingsPageLogic::RemoveMonitoredKeys(const std::vector<int> &rows) {
  std::vector<std::string> chosen;
  for (const int row : RowsLastFirst(rows, monitoredKeys_.size()))
    chosen.push_back(monitoredKeys_[static_cast<std::size_t>(row)]);
  if (chosen.empty())
    return;
  if (Ask(kRemoveMonitoredKeysPrompt, TMsgButtons::YesNo, TMsgIcon::Question) != TMsgAnswer::Yes)
    return;
  auto notify = qp::ScopeExit([this] { Notify(); });
  if (!Reload())
    return;
  std::erase_if(Settings().MonitoredKeys, [&chosen](const std::string &key) {
    return std::find(chosen.begin(), chosen.end(), key) != chosen.end();
  });
  const bool saved = Store();
  FillMonitoredKeys("");
  if (saved)
    d_.commands.Send(mcMonitorRestart);
}

bool TSettingsPageLogic::SetMonitorPromptText(const std::string &text) {
  auto notify = qp::ScopeExit([this] { Notify(); });
  const std::optional<int> value = WholeNumberIn(text, kMinMonitorPrompt, kMaxMonitorPrompt);
  if (!value || !Reload())
    return false;
  if (Settings().MonitorPrompt != *value) {
    Settings().MonitorPrompt = *value;
    if (!Store()) {
      monitorPrompt_ = Settings().MonitorPrompt;
      return false;
    }
  }
  monitorPrompt_ = *value;
  return true;
}

} // namespace quenlo
