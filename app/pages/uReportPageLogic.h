// The repair report page without its window: the last scan's date, the
// counters, one row per category and the scroll metrics of the table.
#pragma once

#include <array>
#include <string>

#include "app/pages/uPages.h"
#include "app/uSettings.h"

namespace quenlo {

struct TReportRow {
  std::string name;
  int found = 0;
  int leftAlone = 0;
  int repaired = 0;
};

struct TReportScroll {
  int rowPitch = 0;   // text height of "Wg" plus 8
  int rowsHeight = 0; // all 24 rows
  bool barShown = false;
  int maximum = 0;
  int pageStep = 0;
};

inline constexpr int kReportRowPadding = 8;
inline constexpr int kReportPanelMargin = 25;
inline constexpr int kReportWheelStep = 8; // pixels per notch

class TReportPageLogic final : public IReportPageControl {
public:
  explicit TReportPageLogic(const tProgramSettings &settings) : settings_(settings) {}

  void ShowReport(int total, int repaired,
                  const std::array<service::TCategoryRepairSummary, CategoryCount> &rows) override;
  // Reads the settings record: the last scan and its problem count.
  void Show();

  std::string LastScanText() const { return lastScan_; } // date and time, or "n/a"
  std::string FoundText() const;
  std::string RepairedText() const;
  int Total() const { return total_; }
  const std::array<TReportRow, CategoryCount> &Rows() const { return rows_; }
  std::string HeaderText(int column) const; // "Registry Items", "Errors", "Ignored", "Repaired"

  // Lays the table out for a font whose "Wg" is textHeight pixels high in
  // a panel of panelHeight pixels; the scroll position is kept in range.
  TReportScroll Layout(int textHeight, int panelHeight);
  int ScrollPosition() const { return position_; }
  void Scroll(int position);
  // Wheel notches: positive scrolls towards the top.
  void Wheel(int notches) { Scroll(position_ - notches * kReportWheelStep); }

private:
  const tProgramSettings &settings_;
  std::string lastScan_ = "n/a";
  int lastErr_ = 0;
  int total_ = 0;
  int repaired_ = 0;
  std::array<TReportRow, CategoryCount> rows_{};
  TReportScroll scroll_;
  int position_ = 0;
};

} // namespace quenlo
