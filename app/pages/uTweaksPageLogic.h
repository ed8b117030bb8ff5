// The "Windows Tweaks" page without a window: which boxes show for the
// Windows version, their ticked and enabled states, the number editor
// under the list, Apply / Reset / "OS defaults" with their prompts and the
// restart question. The view (app/win) draws what this says and forwards
// the user's clicks and typing; the tweaks themselves are read and written
// through an ITweakStore.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/pages/uOptimizerServices.h"
#include "app/pages/uPageServices.h"
#include "optimizer/uSysTweak.h"

namespace quenlo {

// The exact texts of the page's prompts.
inline constexpr std::string_view kTweaksRestartQuestion =
    "You must restart Windows for the changes to take effect\r\n\r\nDo you want to restart "
    "Windows now (recommended)?";
inline constexpr std::string_view kTweaksLogOffQuestion =
    "You must Log off or Restart your system for the changes to take effect.\r\n\r\nDo you want "
    "to restart Windows now (recommended)?";
inline constexpr std::string_view kTweaksRestartFailed =
    "Can not restart Windows. Please do it manually.";
inline constexpr std::string_view kTweaksOsDefaultsQuestion =
    "Do you really want to reset all tweaks to their OS defaults?";
// Asked before Apply switches User Account Control off (Yes/No, warning).
inline constexpr std::string_view kTweaksUacWarning =
    "Turning off User Account Control lets every program change your system without "
    "asking you first.\r\n\r\nDo you really want to disable User Account Control?";
// Heads the error message that names the tweaks Apply could not write; one
// line "<tweak name>: <reason>" follows per tweak.
inline constexpr std::string_view kTweaksFailedHeader = "These tweaks could not be changed:";

// The number editor's captions.
inline constexpr std::string_view kRowsCaption = "Number of rows:";
inline constexpr std::string_view kDelayCaption = "Set Delay Time:";
inline constexpr std::string_view kDelayUnit = "Milliseconds";

// One check box as the view draws it.
struct TTweakBox {
  int id = 0;
  TTweakGroup group = tgInterface;
  std::string name;
  std::string description;
  bool ticked = false;
  bool enabled = true;
};

// The number editor under the list, for the selected tweak.
struct TNumberEditor {
  bool visible = false; // only for tweaks 3, 5 and 15
  bool enabled = false; // only while the tweak's box is ticked
  std::string caption;  // kRowsCaption or kDelayCaption
  std::string unit;     // kDelayUnit for the delays, empty for the rows
  std::int32_t maximum = 0;
  int digits = 0;                  // 1 for the rows, 5 for the delays
  bool typedDigitReplaces = false; // the rows: a typed digit replaces the text
  std::string text;                // the number shown
};

// What one Apply did.
struct TTweaksApplyReport {
  bool ran = false;                  // false: OS defaults declined
  std::vector<int> written;          // tweaks written, in the apply order
  std::vector<TTweakFailure> failed; // tweaks that stayed modified
  std::vector<int> declined;         // UAC off declined at the warning
  TRestartKind asked = rkNone;       // the restart question asked
  bool restartRequested = false;     // Yes to it
  bool restartFailed = false;        // and the restart failed
};

struct TTweaksPageServices {
  IPrompter &prompter;
  IWindowsRestart &restart;
};

class TTweaksPageLogic {
public:
  TTweaksPageLogic(ITweakStore &store, const TTweakEnvironment &env,
                   const TTweaksPageServices &services);

  // Reads every tweak (page creation, Reset): boxes to their read state,
  // nothing modified, Apply and Reset unavailable, no pending restart, no
  // tweak selected, the editor hidden.
  void Load();

  // The boxes shown for this version, in tweak order.
  const std::vector<int> &Shown() const { return shown_; }
  bool IsShown(int id) const;
  TTweakBox Box(int id) const;
  bool Ticked(int id) const { return current_[Index(id)].ticked; }
  bool Enabled(int id) const;
  std::int32_t Value(int id) const { return current_[Index(id)].value; }
  bool Modified(int id) const { return modified_[Index(id)]; }

  // The user (un)ticked a box: the tweak is selected and its state stored;
  // it is modified while it differs from the snapshot (the numeric tweaks
  // by their number alone; unticking one puts its number back to the
  // snapshot). Ignored for a box not shown or disabled.
  void SetTicked(int id, bool ticked);
  // The user selected a tweak (its line or box) without changing it.
  void Select(int id);
  std::optional<int> Selected() const { return selected_; }

  TNumberEditor Editor() const;
  // Whether the editor takes the character (digits and backspace only).
  static bool EditorAccepts(char c);
  // The editor's text changed: a negative number becomes 0, a larger one the
  // maximum, anything but digits is dropped; the number is stored and marks
  // the tweak modified. Answers the text the editor is to show. Ignored
  // (answering the current text) while the editor is disabled.
  std::string EditNumber(std::string_view text);

  // Apply and Reset are available while a tweak differs from what the
  // registry holds (the snapshot of the last load or Apply).
  bool ApplyAvailable() const { return applyAvailable_; }
  bool ResetAvailable() const { return applyAvailable_; }
  // What the modified tweaks need: a restart when one needs it, else a log
  // off when one needs that.
  TRestartKind PendingRestart() const { return pending_; }

  // Writes the modified tweaks in the apply order, names the ones that
  // failed (error message), then asks the restart question that the tweaks
  // written need. Switching UAC off asks kTweaksUacWarning first; No leaves
  // that tweak unwritten and modified.
  TTweaksApplyReport Apply();
  // Reads everything again.
  void Reset() { Load(); }
  // Asks kTweaksOsDefaultsQuestion; on Yes every shown tweak goes to its OS
  // default (marked modified only where that changes it) and Apply runs.
  TTweaksApplyReport OsDefaults();

private:
  static std::size_t Index(int id) { return static_cast<std::size_t>(id); }
  // Modified, Apply and the pending restart after a change of the tweak.
  void Recheck(int id);
  void RecheckPage();
  bool UacDeclined();

  ITweakStore &store_;
  TTweakEnvironment env_;
  TTweaksPageServices services_;
  std::vector<int> shown_;
  TTweakReadings loaded_{};
  std::array<TTweakWish, kTweakCount> current_{};
  std::array<TTweakWish, kTweakCount> snapshot_{};
  std::array<bool, kTweakCount> modified_{};
  std::optional<int> selected_;
  bool applyAvailable_ = false;
  TRestartKind pending_ = rkNone;
};

} // namespace quenlo
