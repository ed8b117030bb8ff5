// The scan page without its window: the 24 category switches with their
// tri-state "Check All/Uncheck All", the scanning look with its per-category
// counts and finished icons, the progress and the two buttons.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "app/pages/uPageServices.h"
#include "app/pages/uPages.h"
#include "app/uSettings.h"

namespace quenlo {

enum TCategoryIcon : std::uint8_t { ciNone = 0, ciClean = 1, ciProblems = 2 };

// One category line as the view draws it.
struct TCategoryLineState {
  bool checked = true;
  bool countShown = false; // while scanning and afterwards, instead of the box
  int count = 0;
  bool bold = false; // the count is drawn bold once problems were found
  TCategoryIcon icon = ciNone;
};

class TScanPageLogic final : public IScanPageControl {
public:
  // The main window's BeginScan: true when the scan started.
  using TScanStarter = std::function<bool()>;

  // Loads the switches from the settings record.
  TScanPageLogic(TRegScanner &scanner, tProgramSettings &settings);
  void SetScanStarter(TScanStarter starter) { starter_ = std::move(starter); }

  // IScanPageControl
  TCategorySet CheckedCategories() const override;
  void StoreSwitches() override;
  void SetScanningLook(bool scanning) override;
  void SetProgress(int totalPercent, const std::string &location) override;
  void SetCategoryLine(TErrorCategory category, const TScanCategoryLine &line) override;
  void SetCheckAll(bool checked) override;

  // The user's actions.
  void SetCategoryChecked(TErrorCategory category, bool checked);
  void ScanNow();
  void Stop();
  void Hide() { StoreSwitches(); }
  void Hover(int category) { hovered_ = IsValidCategory(category) ? category : -1; }

  // --- what the view shows
  const TCategoryLineState &Line(TErrorCategory category) const {
    return lines_[static_cast<std::size_t>(category)];
  }
  TCheckState CheckAllState() const;
  bool CheckAllShown() const { return !scanning_; }
  bool Scanning() const { return scanning_; }
  bool ScanningNowShown() const { return scanning_; } // "Scanning now" and the animation
  bool StopShown() const { return scanning_; }        // else "Scan Now"
  bool ProgressTextShown() const { return scanning_; }
  int ProgressPercent() const { return progress_; }
  const std::string &ProgressText() const { return progressText_; }
  // The description under "Description" of the hovered category; empty
  // when none is hovered.
  std::string DescriptionText() const;

private:
  // A changed selection drops a running scan and the results of the old one.
  void SelectionChanged();

  TRegScanner &scanner_;
  tProgramSettings &settings_;
  TScanStarter starter_;
  std::array<TCategoryLineState, CategoryCount> lines_{};
  bool scanning_ = false;
  int progress_ = 0;
  std::string progressText_;
  int hovered_ = -1;
};

} // namespace quenlo
