// The restore page's logic without its widgets: the day list, the entries of
// the selected day with their check marks, the select-all switch, restore,
// purge on first show, showing a key and printing. The window binds its
// controls to this object; tests drive it through a fake TRestorePageUi.
// The main window reaches it as its IRestorePageControl, to reload the list
// after a repair run's backups.
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

// Stores the "DeleteAfterWeek" setting; false with the reason when it could
// not be written.
using TSaveDeleteAfterWeek = std::function<bool(bool on, std::string &errorText)>;

struct TRestorePageDeps {
  TRegScanner &scanner;
  TRestorePageUi &ui;
  bool deleteAfterWeek = false; // the setting as loaded
  TSaveDeleteAfterWeek saveDeleteAfterWeek;
};

// The text that says which of the selected entries a restore left behind and
// why; empty when the restore left nothing behind. notRestored counts the
// selected entries the day still lists afterwards.
std::string RestoreProblemText(const TRestoreSummary &summary, std::size_t notRestored,
                               std::size_t selected);

class TRestorePage final : public IRestorePageControl {
public:
  struct TEntry {
    std::string text;
    bool checked = true;
  };

  explicit TRestorePage(TRestorePageDeps deps);

  // First show only: purge when "DeleteAfterWeek" is set, then reload.
  void Show();
  // Fills the day list anew and loads the newest day. Never purges.
  void Reload() override;
  // True once the page was shown: only then is there a list to reload.
  bool Exists() const override { return shown_; }
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
  // Stores the setting at once; when that fails the box keeps the setting
  // in effect and the user is told why.
  void SetDeleteAfterWeek(bool on);

  // The buttons.
  void Restore();
  void ShowKey(int entryIndex); // -1: no entry selected
  void Print();

private:
  void LoadDay();
  // The entries of the selection the day still lists.
  std::size_t StillListed(const std::string &day, const std::vector<std::string> &selection) const;
  void ReportRestore(const TRestoreSummary &summary, std::size_t notRestored, std::size_t selected);
  // Selects the named day again when it is still there; false when not.
  bool SelectDayNamed(const std::string &day);

  TRegScanner &scanner_;
  TRestorePageUi &ui_;
  bool deleteAfterWeek_;
  TSaveDeleteAfterWeek saveDeleteAfterWeek_;
  std::vector<std::string> days_;
  int selectedDay_ = -1;
  std::vector<TEntry> entries_;
  TCheckState selectAll_ = TCheckState::Checked;
  bool shown_ = false;
};

} // namespace quenlo
