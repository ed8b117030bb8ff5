#include "app/pages/uResultsPageLogic.h"

#include <stdexcept>

#include "app/pages/uRepairLog.h"
#include "app/uEnvironment.h"
#include "app/uSettings.h"

namespace quenlo {

namespace {

constexpr const char *kBreak = "\r\n";

// Raised from the item event when the list changed while messages were
// pumped: the loop's borrowed pointers may no longer be valid, so it must
// not take another step.
class EListChanged : public std::runtime_error {
public:
  EListChanged() : std::runtime_error("The list of problems changed during the repair.") {}
};

} // namespace

struct TResultsPageLogic::TLoopState {
  std::string logPath;
  int headerCategory = -1; // the category whose log line was written
  int lastCategory = -1;
  bool listChanged = false;
  service::TRepairRunResult tally;
};

TResultsPageLogic::TResultsPageLogic(TRegScanner &scanner, IPrompter &prompter,
                                     ICommandQueue &commands, IShowKey &showKey)
    : scanner_(scanner), prompter_(prompter), commands_(commands), showKey_(showKey),
      model_(prompter) {}

void TResultsPageLogic::ShowResults() {
  model_.Attach(scanner_);
}

void TResultsPageLogic::Back() {
  if (repairing_)
    return;
  if (model_.View() == rvDetail) {
    model_.BackToSummary();
    return;
  }
  model_.Detach();
  commands_.Post(mcShowScanKeepResults);
}

void TResultsPageLogic::ShowKey(int row) {
  const TRegError *error = model_.DetailError(row);
  if (error == nullptr || error->Kind == ekInvalidShortcut)
    return;
  const std::string location = scanner_.ValueLocationText(*error);
  TPrompt caution;
  caution.text = kShowKeyCaution;
  caution.buttons = TMsgButtons::OkCancel;
  caution.icon = TMsgIcon::Warning;
  if (prompter_.Ask(caution) == TMsgAnswer::Cancel)
    return;
  if (!showKey_.ShowKeyInRegedit(location)) {
    TPrompt missing;
    missing.text = kKeyDoesNotExist;
    missing.icon = TMsgIcon::Error;
    qp::IgnoreResult(prompter_.Ask(missing));
  }
}

void TResultsPageLogic::OnItem(TLoopState &state, const service::TRepairItem &item) {
  const TRegError &error = *item.error;
  const int c = error.Category;
  service::TCategoryRepairSummary &row = state.tally.categories[static_cast<std::size_t>(c)];
  if (c != state.lastCategory) {
    state.lastCategory = c;
    row.found = scanner_.CategoryErrorCount(c);
    state.tally.found += row.found;
  }
  if (state.headerCategory != c && scanner_.CategoryCheckedCount(c) > 0) {
    state.headerCategory = c;
    qp::IgnoreResult(AppendToLog(state.logPath, RepairLogCategoryLine(CategoryName(c))));
  }
  const std::string location = IgnoreEntryOf(error);
  switch (item.outcome) {
  case service::roLeftAlone:
    ++row.leftAlone;
    ++state.tally.leftAlone;
    break;
  case service::roRepaired:
    ++row.repaired;
    ++state.tally.repaired;
    if (!location.empty())
      qp::IgnoreResult(AppendToLog(state.logPath, RepairLogLocationLine(location)));
    ++progressPosition_;
    break;
  case service::roFailed:
    failureText_ += kBreak + error.Data + kBreak;
    if (!location.empty())
      failureText_ += location + kBreak;
    failureText_ += std::string(ErrorKindName(error.Kind)) + kBreak + error.Description() + kBreak +
                    item.errorText + kBreak + kBreak;
    ++row.leftAlone;
    ++state.tally.leftAlone;
    ++state.tally.failed;
    ++progressPosition_;
    break;
  }
  commands_.ProcessPending();
  if (state.listChanged)
    throw EListChanged();
}

TRepairPageResult TResultsPageLogic::RepairSelected() {
  TRepairPageResult result;
  failureText_.clear();
  progressMax_ = scanner_.CheckedTotal();
  progressPosition_ = 0;
  progressShown_ = true;
  commands_.Post(mcEnableWindow, kEnableWindowRepairStart);
  commands_.ProcessPending();
  enabled_ = false;
  SetRepairingLook(true);

  TLoopState state;
  state.logPath = SettingsPath(RepairLogTitle);
  // Watches the list for the length of the loop: whatever the pumped
  // messages do to it ends the loop before it touches a freed problem.
  TRegScannerChangeLink guard(
      [&state](TRegScanner *, TRegError *, TListNotification) { state.listChanged = true; });
  scanner_.RegisterChanges(guard);
  try {
    result.run = service::RepairSelected(
        scanner_, [this, &state](const service::TRepairItem &item) { OnItem(state, item); });
  } catch (const std::exception &e) {
    result.run = state.tally;
    result.aborted = true;
    result.abortText = e.what();
  } catch (...) {
    result.run = state.tally;
    result.aborted = true;
    result.abortText = "The repair ended with an unknown error.";
  }
  scanner_.UnregisterChanges(guard);
  result.failures = result.run.failed;

  commands_.Send(mcClearResults);
  model_.Detach();
  enabled_ = true;
  commands_.Post(mcEnableWindow, kEnableWindowRepairEnd);
  progressShown_ = false;
  SetRepairingLook(false);
  if (result.run.repaired > 0 && !RecordRepair(result.run.repaired, &result.recordError) &&
      result.recordError.empty())
    result.recordError = "The settings could not be saved.";
  refreshPending_ = true;
  return result;
}

bool TResultsPageLogic::WriteFailureList() {
  if (failureText_.empty())
    return false;
  if (!WriteFailureFile(SettingsPath(FailureListTitle), failureText_))
    return false; // kept: a later call may still write it
  failureText_.clear();
  return true;
}

} // namespace quenlo
