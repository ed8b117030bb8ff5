// The results page without its window: the list model, the buttons, the
// repairing look, Show Key and the repair loop with its log and failure
// list.
#pragma once

#include <cstdint>
#include <string>

#include "app/pages/uPageServices.h"
#include "app/pages/uPages.h"
#include "app/pages/uResultsModel.h"

namespace quenlo {

// Opens the registry editor at a key ("ROOT\path", optionally "\\:value");
// false when the key exists in neither view.
class IShowKey {
public:
  virtual ~IShowKey() = default;
  virtual bool ShowKeyInRegedit(const std::string &name) = 0;
};

inline constexpr const char *kShowKeyCaution =
    "CAUTION\rYou are about to directly enter the System Registry. This area is meant for use by "
    "experts only. Changes made here could render your system inoperable. If you proceed we "
    "recommend making a backup first. Do you wish to proceed?";
inline constexpr const char *kKeyDoesNotExist = "Registry key does not exist.";

// lParam bits of the enable-window command around the repair loop.
inline constexpr std::intptr_t kEnableWindowRepairStart = 2; // header off, window off
inline constexpr std::intptr_t kEnableWindowRepairEnd = 7;   // header on, window on

class TResultsPageLogic final : public IResultsPageControl {
public:
  TResultsPageLogic(TRegScanner &scanner, IPrompter &prompter, ICommandQueue &commands,
                    IShowKey &showKey);

  // IResultsPageControl
  bool Exists() const override { return true; }
  void ShowResults() override;
  void Detach() override { model_.Detach(); }
  void SetRepairingLook(bool repairing) override { repairing_ = repairing; }
  void ShowRestorePointLabel(bool shown) override { restorePointLabel_ = shown; }
  TRepairPageResult RepairSelected() override;
  [[nodiscard]] bool WriteFailureList() override;

  TResultsListModel &Model() { return model_; }
  const TResultsListModel &Model() const { return model_; }

  // "Back": in the detail view back to the summary; in the summary view the
  // list lets go and the main window shows the scan page, keeping results.
  void Back();
  // Show Key on a detail row, behind the caution prompt.
  void ShowKey(int row);

  // --- what the view shows
  bool Repairing() const { return repairing_; }
  bool BackEnabled() const { return !repairing_; }
  bool RepairButtonEnabled() const { return !repairing_ && model_.RepairEnabled(); }
  bool BusyCursor() const { return repairing_; } // the hourglass
  bool RestorePointLabel() const { return restorePointLabel_; }
  bool Enabled() const { return enabled_; }
  bool ProgressShown() const { return progressShown_; }
  int ProgressMax() const { return progressMax_; }
  int ProgressPosition() const { return progressPosition_; }
  const std::string &FailureText() const { return failureText_; }
  // Set when the page should redraw itself after a run; the view clears it.
  bool RefreshPending() const { return refreshPending_; }
  void RefreshDone() { refreshPending_ = false; }
  static std::string RepairingText() { return "Repairing..."; }

private:
  struct TLoopState;
  void OnItem(TLoopState &state, const service::TRepairItem &item);

  TRegScanner &scanner_;
  IPrompter &prompter_;
  ICommandQueue &commands_;
  IShowKey &showKey_;
  TResultsListModel model_;
  bool repairing_ = false;
  bool restorePointLabel_ = false;
  bool enabled_ = true;
  bool progressShown_ = false;
  int progressMax_ = 0;
  int progressPosition_ = 0;
  bool refreshPending_ = false;
  std::string failureText_;
};

} // namespace quenlo
