// The restore page's logic without its widgets: the day list, the entries of
// the selected day with their check marks, the select-all switch, restore,
// purge on first show, showing a key and printing. The window binds its
// controls to this object; tests drive it through a fake TRestorePageUi.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/pages/uPageServices.h"
#include "scanner/uRegScanner.h"

namespace quenlo {

// What the page needs from the screen. Every message is captioned "Quenlo".
class TRestorePageUi {
public:
  virtual ~TRestorePageUi() = default;
  virtual TMsgAnswer Message(const std::string &text, TMsgButtons buttons, TMsgIcon icon) = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // Opens the registry editor at the entry; false when the jump failed.
  virtual bool ShowKeyInRegedit(const std::string &entry) = 0;
  // Prints one line per entry after the print dialog; false for an
  // input/output error; a cancelled dialog prints nothing and is true.
  virtual bool PrintLines(const std::vector<std::string> &lines) = 0;
};

inline constexpr const char *kRegistryCaution =
    "CAUTION\r\rYou are about to directly enter the System Registry. This area is meant for use "
    "by experts only. Changes made here could render your system inoperable. If you proceed we "
    "recommend making a backup first. Do you wish to proceed?";

class TRestorePage {
public:
  struct TEntry {
    std::string text;
    bool checked = true;
  };

  // saveDeleteAfterWeek stores the setting at once when the box changes.
  TRestorePage(TRegScanner &scanner, TRestorePageUi &ui, bool deleteAfterWeek,
               std::function<void(bool)> saveDeleteAfterWeek);

  // First show only: purge when "DeleteAfterWeek" is set, then reload.
  void Show();
  void Reload();
  // Selects a day by its position in Days() and loads it.
  void SelectDay(int index);

  const std::vector<std::string> &Days() const { return days_; }
  int SelectedDay() const { return selectedDay_; }
  const std::vector<TEntry> &Entries() const { return entries_; }
  std::string ItemCountText() const; // "<n> Items"
  bool RestoreEnabled() const { return !entries_.empty(); }
  bool PrintEnabled() const { return !entries_.empty(); }

  TCheckState SelectAll() const { return selectAll_; }
  void SetSelectAll(bool checked);
  void SetEntryChecked(int index, bool checked);

  bool DeleteAfterWeek() const { return deleteAfterWeek_; }
  void SetDeleteAfterWeek(bool on);

  // The buttons.
  void Restore();
  void ShowKey(int entryIndex); // -1: no entry selected
  void Print();

private:
  void LoadDay();
  TRegScanner &scanner_;
  TRestorePageUi &ui_;
  bool deleteAfterWeek_;
  std::function<void(bool)> saveDeleteAfterWeek_;
  std::vector<std::string> days_;
  int selectedDay_ = -1;
  std::vector<TEntry> entries_;
  TCheckState selectAll_ = TCheckState::Checked;
  bool shown_ = false;
};

} // namespace quenlo
