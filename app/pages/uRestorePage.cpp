#include "app/pages/uRestorePage.h"

#include <algorithm>

namespace quenlo {

TRestorePage::TRestorePage(TRegScanner &scanner, TRestorePageUi &ui, bool deleteAfterWeek,
                           std::function<void(bool)> saveDeleteAfterWeek)
    : scanner_(scanner), ui_(ui), deleteAfterWeek_(deleteAfterWeek),
      saveDeleteAfterWeek_(std::move(saveDeleteAfterWeek)) {}

void TRestorePage::Show() {
  if (shown_)
    return;
  shown_ = true;
  if (deleteAfterWeek_)
    scanner_.PurgeBackupDays(deleteAfterWeek_);
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
  deleteAfterWeek_ = on;
  if (saveDeleteAfterWeek_)
    saveDeleteAfterWeek_(on);
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
  if (checked.empty()) {
    ui_.Message("Please select items to restore.", TMsgButtons::Ok, TMsgIcon::Error);
    return;
  }
  if (ui_.Message("Restore selected items?", TMsgButtons::YesNo, TMsgIcon::Question) !=
      TMsgAnswer::Yes)
    return;
  const int dayPosition = selectedDay_;
  const std::string day = days_[static_cast<std::size_t>(dayPosition)];
  struct TBusy {
    TRestorePageUi &ui;
    explicit TBusy(TRestorePageUi &u) : ui(u) { ui.SetBusyCursor(true); }
    ~TBusy() { ui.SetBusyCursor(false); }
  } busy(ui_);
  scanner_.RestoreEntries(day, &checked);
  ui_.Message("Restore completed.", TMsgButtons::Ok, TMsgIcon::Information);
  scanner_.ClearResults(); // the registry changed under the results
  Reload();
  if (unchecked > 0) {
    SelectDay(dayPosition);
    SetSelectAll(false);
  }
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
