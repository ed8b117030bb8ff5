#include "app/pages/uMonitorPageLogic.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "app/uSettings.h"
#include "platform/FileOps.h"
#include "platform/ScopeGuard.h"
#include "registry/uRegAccess.h"
#include "registry/uRegFile.h"

namespace quenlo {
namespace {

constexpr const char *kCaptureBalloonText = "The Monitor has captured ";
constexpr const char *kCaptureBalloonEnd = " events.";
// What MonitorPrompt means when the settings hold no usable number.
constexpr int kDefaultMonitorPrompt = 300;
// Separates a value name from its key in a Show Key name.
constexpr const char *kShowKeyValueMark = "\\\\:";
constexpr const char *kNothingToExport = "The list holds no registry changes to save.";
constexpr const char *kNoValueToUndo =
    "None of the listed changes can be put back by an undo file, so none was saved.";

void Tell(IPrompter &prompter, const std::string &text, TMsgIcon icon) {
  TPrompt prompt;
  prompt.text = text;
  prompt.icon = icon;
  qp::IgnoreResult(prompter.Ask(prompt));
}

std::string CountText(std::size_t count, const char *one, const char *many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The monitor's error as the page lists it: a text that names the entry.
std::string ProblemText(const TKeyList &keys, const TMonitorError &error) {
  if (error.index < 0 || static_cast<std::size_t>(error.index) >= keys.Count())
    return error.text;
  const std::string &entry = keys[static_cast<std::size_t>(error.index)];
  if (error.text.find(entry) != std::string::npos)
    return error.text;
  return "\"" + entry + "\": " + error.text;
}

int MonitorPromptStep() {
  qp::IgnoreResult(LoadSettings());
  const int step = Settings().MonitorPrompt;
  return step < 1 ? kDefaultMonitorPrompt : step;
}

std::string UndoFileMessage(const service::TUndoFileResult &undo, const std::string &path) {
  std::string text = "Undo file saved to " + path + ": it puts back " +
                     CountText(static_cast<std::size_t>(undo.valuesIncluded), "value", "values") +
                     ".";
  if (undo.valuesLeftOut > 0)
    text += " " + CountText(static_cast<std::size_t>(undo.valuesLeftOut), "value", "values") +
            " could not be included: their old data was not kept.";
  if (undo.valuesUnwritable > 0)
    text += " " + CountText(static_cast<std::size_t>(undo.valuesUnwritable), "value", "values") +
            " could not be included: a registry file cannot carry their names.";
  text += " Subkeys created or deleted are left out of it";
  if (undo.subkeyChanges > 0)
    text += " (" + CountText(static_cast<std::size_t>(undo.subkeyChanges), "change", "changes") +
            " listed)";
  text += ".";
  return text;
}

} // namespace

TMonitorPageLogic::TMonitorPageLogic(TMonitorPageDeps deps)
    : d_(std::move(deps)), monitor_(d_.mainThread) {
  monitor_.OnKeyChanged = [this](TRegMonitor &, const TKeyChange &change) { OnKeyChanged(change); };
  monitor_.OnError = [this](TRegMonitor &sender, const TMonitorError &error) {
    problems_.push_back(ProblemText(sender.KeyList(), error));
    RefreshCounters();
  };
}

TMonitorPageLogic::~TMonitorPageLogic() {
  // Stopped while every member the handlers use is still alive: stopping
  // serves calls already on their way to the main thread. The view that
  // listens may be going too, so it hears nothing more.
  OnChanged = nullptr;
  monitor_.SetActive(false);
}

bool TMonitorPageLogic::Running() const {
  return monitor_.Active();
}

void TMonitorPageLogic::SetMonitoring(bool on) {
  if (on) {
    // A new run starts from an empty list; the problems of the last run
    // (a bad entry is reported again by the new one) go with it.
    rows_.clear();
    dropped_ = 0;
    pausedCount_ = 0;
    problems_.clear();
    qp::IgnoreResult(LoadSettings());
    monitor_.SetActive(false);
    monitor_.SetKeyList(Settings().MonitoredKeys);
    try {
      monitor_.SetActive(true);
    } catch (const std::exception &error) {
      RefreshCounters();
      TPrompt prompt;
      prompt.text = error.what();
      prompt.icon = TMsgIcon::Error;
      qp::IgnoreResult(d_.prompter.Ask(prompt));
      return;
    }
    qp::IgnoreResult(d_.tray.ShowIcon(true));
  } else {
    monitor_.SetActive(false);
    qp::IgnoreResult(d_.tray.ShowIcon(false));
    d_.tray.HideIcon();
  }
  RefreshCounters();
}

void TMonitorPageLogic::ToggleButton() {
  d_.appWindow.SetBusyCursor(true);
  auto restore = qp::ScopeExit([this] { d_.appWindow.SetBusyCursor(false); });
  SetMonitoring(!Running());
}

void TMonitorPageLogic::SetPageShown(bool shown) {
  if (!shown) {
    hiddenToTray_ = false;
    d_.tray.HideIcon();
  } else if (Running()) {
    qp::IgnoreResult(d_.tray.ShowIcon(true));
  }
}

void TMonitorPageLogic::TrayOpen() {
  hiddenToTray_ = false;
  d_.commands.Post(mcShowMainWindow);
}

void TMonitorPageLogic::TrayClose() {
  d_.commands.Post(mcShutdown);
}

void TMonitorPageLogic::TaskbarCreated() {
  // A new shell has no icons: the icon comes back when it should be there.
  if (Running() || hiddenToTray_)
    qp::IgnoreResult(d_.tray.ShowIcon(Running()));
}

void TMonitorPageLogic::OnTimer(TTimerId id) {
  if (id != tiMonitorBalloon)
    return;
  d_.timers.Stop(tiMonitorBalloon);
  d_.tray.HideBalloon();
}

void TMonitorPageLogic::OpenSettings() {
  d_.commands.Post(mcShowSettings, kSettingsMonitorTab);
}

bool TMonitorPageLogic::ConfirmOff() {
  if (!Running())
    return true;
  TPrompt prompt;
  prompt.text = kConfirmMonitorOffText;
  prompt.buttons = TMsgButtons::YesNo;
  prompt.icon = TMsgIcon::Question;
  if (d_.prompter.Ask(prompt) != TMsgAnswer::Yes)
    return false;
  SetMonitoring(false);
  return true;
}

bool TMonitorPageLogic::MinimizeToTray() {
  const bool monitoring = Running();
  if (!d_.tray.ShowIcon(monitoring))
    return false;
  hiddenToTray_ = true;
  d_.appWindow.HideToTray();
  d_.tray.ShowBalloon(kTrayBalloonTitle, monitoring ? kTrayMonitoringText : kTrayNotMonitoringText,
                      kTrayBalloonMs);
  d_.timers.Start(tiMonitorBalloon, kBalloonTimerMs);
  return true;
}

void TMonitorPageLogic::OnKeyChanged(const TKeyChange &change) {
  // The engine delivers nothing of a stopped run; a page that was switched
  // off lists nothing either way.
  if (!Running())
    return;
  if (paused_) {
    ++pausedCount_;
    RefreshCounters();
    return;
  }
  TMonitorRow row;
  row.time = d_.formatTime ? d_.formatTime(change.time) : std::string();
  row.text = service::DescribeChange(change);
  row.change = change;
  rows_.push_back(std::move(row));
  if (rows_.size() > d_.maxRows) {
    rows_.pop_front();
    ++dropped_;
  }
  RefreshCounters();
  const std::size_t captured = rows_.size() + dropped_;
  if (captured >= static_cast<std::size_t>(notifyThreshold_ < 0 ? 0 : notifyThreshold_)) {
    d_.tray.ShowBalloon(kCaptureBalloonTitle,
                        kCaptureBalloonText + std::to_string(captured) + kCaptureBalloonEnd,
                        kCaptureBalloonMs);
    notifyThreshold_ += MonitorPromptStep();
  }
}

void TMonitorPageLogic::RefreshCounters() {
  if (Running()) {
    char text[64];
    std::snprintf(text, sizeof text, kMonitorCounterFormat,
                  static_cast<int>(rows_.size() + dropped_));
    changeCounter_ = text;
    const std::size_t points = monitor_.KeyList().Count();
    watchCounter_ = points == 1 ? kOneWatchPoint : std::to_string(points) + kWatchPointsSuffix;
  } else {
    watchCounter_.clear();
  }
  ++version_;
  if (OnChanged)
    OnChanged();
}

void TMonitorPageLogic::Clear() {
  rows_.clear();
  dropped_ = 0;
  RefreshCounters();
}

void TMonitorPageLogic::SetPaused(bool paused) {
  paused_ = paused;
  RefreshCounters();
}

void TMonitorPageLogic::ShowKey(int row) {
  TPrompt caution;
  caution.text = kShowKeyCaution;
  caution.buttons = TMsgButtons::OkCancel;
  caution.icon = TMsgIcon::Error;
  if (d_.prompter.Ask(caution) == TMsgAnswer::Cancel)
    return;
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
    Tell(d_.prompter, kSelectAnItem, TMsgIcon::Error);
    return;
  }
  const TMonitorRow &shown = rows_[static_cast<std::size_t>(row)];
  std::string location = shown.text.location;
  if (IsValueEvent(shown.change.type))
    location += kShowKeyValueMark + shown.text.name;
  if (!d_.showKey.ShowKeyInRegedit(location))
    Tell(d_.prompter, kKeyDoesNotExist, TMsgIcon::Error);
}

void TMonitorPageLogic::Export(TMonitorExport kind) {
  if (rows_.empty()) {
    Tell(d_.prompter, kNothingToExport, TMsgIcon::Information);
    return;
  }
  std::string path;
  if (!d_.saveDialog.AskPath(kind, path))
    return;
  std::vector<TKeyChange> changes;
  changes.reserve(rows_.size());
  for (const TMonitorRow &row : rows_)
    changes.push_back(row.change);

  if (kind == meUndoFile) {
    const service::TUndoFileResult undo = service::UndoFileForChanges(changes);
    if (undo.valuesIncluded == 0) {
      Tell(d_.prompter, kNoValueToUndo, TMsgIcon::Information);
      return;
    }
    std::string errorText;
    if (!WriteRegFile(undo.file, path, errorText)) {
      Tell(d_.prompter, errorText, TMsgIcon::Error);
      return;
    }
    Tell(d_.prompter, UndoFileMessage(undo, path), TMsgIcon::Information);
    return;
  }

  const std::string data =
      kind == meCsv ? service::ChangesCsv(changes) : service::ChangesJson(changes);
  std::string failedCall;
  const long status = qp::ReplaceFileContent(path, data, &failedCall);
  if (status != 0) {
    Tell(d_.prompter, failedCall + ": " + SysErrorMessage(status), TMsgIcon::Error);
    return;
  }
  Tell(d_.prompter,
       std::string(kind == meCsv ? "CSV" : "JSON") + " export complete: " +
           CountText(changes.size(), "change", "changes") + " saved to " + path,
       TMsgIcon::Information);
}

} // namespace quenlo
