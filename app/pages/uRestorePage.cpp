#include "app/pages/uRestorePage.h"

#include <algorithm>

#include "platform/ScopeGuard.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

// Shows the busy cursor for the life of the scope, also when a step throws.
class TBusyScope {
public:
  explicit TBusyScope(TRestorePageUi &ui) : ui_(ui) { ui_.SetBusyCursor(true); }
  TBusyScope(const TBusyScope &) = delete;
  TBusyScope &operator=(const TBusyScope &) = delete;
  ~TBusyScope() { ui_.SetBusyCursor(false); }

private:
  TRestorePageUi &ui_;
};

bool Clean(const TRestoreSummary &summary) {
  return summary.failed == 0 && summary.refused == 0 && summary.error.empty();
}

std::string Counted(int n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

std::string RestoreProblemText(const TRestoreSummary &summary, std::size_t notRestored,
                               std::size_t selected) {
  if (Clean(summary))
    return {};
  std::string text;
  if (notRestored == 0)
    text = "The restore did not complete:";
  else if (selected == 1)
    text = "The selected item could not be restored:";
  else
    text = std::to_string(notRestored) + " of " + std::to_string(selected) +
           " selected items could not be restored:";
  if (!summary.error.empty())
    text += "\r- " + summary.error;
  if (summary.failed > 0)
    text +=
        "\r- the registry editor could not import " + Counted(summary.failed, "backup", "backups");
  if (summary.refused > 0)
    text += "\r- " + Counted(summary.refused, "backup is", "backups are") +
            " not a backup this program writes";
  if (notRestored > 0)
    text += "\r\rWhat was not restored stays in the list.";
  return text;
}

TRestorePage::TRestorePage(TRestorePageDeps deps)
    : scanner_(deps.scanner), ui_(deps.ui), deleteAfterWeek_(deps.deleteAfterWeek),
      saveDeleteAfterWeek_(std::move(deps.saveDeleteAfterWeek)) {}

void TRestorePage::Show() {
  if (shown_)
    return;
  shown_ = true;
  // The purge is silent: a day it could not move stays listed and is tried
  // again at the next start.
  if (deleteAfterWeek_)
    qp::IgnoreResult(scanner_.PurgeBackupDays(deleteAfterWeek_));
  Reload();
}

void TRestorePage::Reload() {
  entries_.clear();
  scanner_.BackupDays(days_);
  selectedDay_ = days_.empty() ? -1 : static_cast<int>(days_.size()) - 1;
  LoadDay();
  SetSelectAll(true);
}

void TRestorePage::SelectDay(int index) {
  if (index < 0 || index >= static_cast<int>(days_.size()))
    return;
  selectedDay_ = index;
  LoadDay();
}

bool TRestorePage::SelectDayNamed(const std::string &day) {
  const auto found = std::find_if(days_.begin(), days_.end(),
                                  [&](const std::string &d) { return qp::EqualsNoCase(d, day); });
  if (found == days_.end())
    return false;
  SelectDay(static_cast<int>(found - days_.begin()));
  return true;
}

void TRestorePage::LoadDay() {
  entries_.clear();
  if (selectedDay_ >= 0) {
    std::vector<std::string> texts;
    scanner_.DayEntries(days_[static_cast<std::size_t>(selectedDay_)], texts);
    for (std::string &text : texts)
      entries_.push_back({std::move(text), true});
  }
  SetSelectAll(true);
}

std::string TRestorePage::ItemCountText() const {
  return std::to_string(entries_.size()) + " Items";
}

void TRestorePage::SetSelectAll(bool checked) {
  for (TEntry &entry : entries_)
    entry.checked = checked;
  selectAll_ = checked ? TCheckState::Checked : TCheckState::Unchecked;
}

void TRestorePage::SetEntryChecked(int index, bool checked) {
  if (index < 0 || index >= static_cast<int>(entries_.size()))
    return;
  entries_[static_cast<std::size_t>(index)].checked = checked;
  const auto on =
      std::count_if(entries_.begin(), entries_.end(), [](const TEntry &e) { return e.checked; });
  selectAll_ = on == static_cast<long>(entries_.size()) ? TCheckState::Checked
               : on == 0                                ? TCheckState::Unchecked
                                                        : TCheckState::Mixed;
}

void TRestorePage::SetDeleteAfterWeek(bool on) {
  std::string error;
  if (saveDeleteAfterWeek_ && !saveDeleteAfterWeek_(on, error)) {
    // The file still holds the old value, and so does the box.
    ui_.Message("The setting could not be saved: " + error, TMsgButtons::Ok, TMsgIcon::Error);
    return;
  }
  deleteAfterWeek_ = on;
}

std::size_t TRestorePage::StillListed(const std::string &day,
                                      const std::vector<std::string> &selection) const {
  std::vector<std::string> left;
  scanner_.DayEntries(day, left);
  return static_cast<std::size_t>(
      std::count_if(selection.begin(), selection.end(), [&](const std::string &entry) {
        return std::any_of(left.begin(), left.end(),
                           [&](const std::string &l) { return qp::EqualsNoCase(l, entry); });
      }));
}

void TRestorePage::ReportRestore(const TRestoreSummary &summary, std::size_t notRestored,
                                 std::size_t selected) {
  const std::string problem = RestoreProblemText(summary, notRestored, selected);
  if (problem.empty()) {
    ui_.Message("Restore completed.", TMsgButtons::Ok, TMsgIcon::Information);
    return;
  }
  // Nothing of the selection restored is an error; a part of it a warning.
  ui_.Message(problem, TMsgButtons::Ok,
              notRestored >= selected ? TMsgIcon::Error : TMsgIcon::Warning);
}

void TRestorePage::Restore() {
  std::vector<std::string> checked;
  int unchecked = 0;
  for (const TEntry &entry : entries_) {
    if (entry.checked)
      checked.push_back(entry.text);
    else
      ++unchecked;
  }
  if (checked.empty() || selectedDay_ < 0) {
    ui_.Message("Please select items to restore.", TMsgButtons::Ok, TMsgIcon::Error);
    return;
  }
  if (ui_.Message("Restore selected items?", TMsgButtons::YesNo, TMsgIcon::Question) !=
      TMsgAnswer::Yes)
    return;
  const std::string day = days_[static_cast<std::size_t>(selectedDay_)];
  const TBusyScope busy(ui_);
  const TRestoreSummary summary = scanner_.RestoreEntries(day, &checked);
  const std::size_t notRestored = StillListed(day, checked);
  ReportRestore(summary, notRestored, checked.size());
  scanner_.ClearResults(); // the registry changed under the results
  Reload();
  // What is left of the restored day stays in view. When the user left
  // entries unchecked, all show unchecked; entries that only failed stay
  // checked, ready for another try.
  if ((unchecked > 0 || notRestored > 0) && SelectDayNamed(day) && unchecked > 0)
    SetSelectAll(false);
}

void TRestorePage::ShowKey(int entryIndex) {
  if (ui_.Message(kRegistryCaution, TMsgButtons::OkCancel, TMsgIcon::Error) != TMsgAnswer::Ok)
    return;
  if (entryIndex < 0 || entryIndex >= static_cast<int>(entries_.size())) {
    ui_.Message("Please select an item from the list", TMsgButtons::Ok, TMsgIcon::Error);
    return;
  }
  if (!ui_.ShowKeyInRegedit(entries_[static_cast<std::size_t>(entryIndex)].text))
    ui_.Message("Registry key does not exist.", TMsgButtons::Ok, TMsgIcon::Error);
}

void TRestorePage::Print() {
  std::vector<std::string> lines;
  for (const TEntry &entry : entries_)
    lines.push_back(entry.text);
  if (!ui_.PrintLines(lines))
    ui_.Message("Error Printing text.", TMsgButtons::Ok, TMsgIcon::Error);
}

} // namespace quenlo
