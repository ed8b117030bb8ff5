#include "app/pages/uReportPageLogic.h"

#include <algorithm>

#include "app/pages/uResultsModel.h"
#include "app/uEnvironment.h"

namespace quenlo {

void TReportPageLogic::Show() {
  const std::string stamp = FormatStamp(settings_.last_scan, true);
  lastScan_ = stamp.empty() ? "n/a" : stamp;
  lastErr_ = settings_.last_err;
}

void TReportPageLogic::ShowReport(
    int total, int repaired,
    const std::array<service::TCategoryRepairSummary, CategoryCount> &rows) {
  total_ = total;
  repaired_ = repaired;
  for (std::size_t c = 0; c < rows.size(); ++c)
    rows_[c] = {std::string(CategoryName(static_cast<int>(c))), rows[c].found, rows[c].leftAlone,
                rows[c].repaired};
}

std::string TReportPageLogic::FoundText() const {
  return ProblemCountText(lastErr_, " Found");
}

std::string TReportPageLogic::RepairedText() const {
  return ProblemCountText(repaired_, " Repaired");
}

std::string TReportPageLogic::HeaderText(int column) const {
  static constexpr std::array<const char *, 4> headers{"Registry Items", "Errors", "Ignored",
                                                       "Repaired"};
  return column >= 0 && column < 4 ? headers[static_cast<std::size_t>(column)] : "";
}

TReportScroll TReportPageLogic::Layout(int textHeight, int panelHeight) {
  scroll_ = {};
  scroll_.rowPitch = textHeight + kReportRowPadding;
  scroll_.rowsHeight = scroll_.rowPitch * CategoryCount;
  scroll_.barShown = scroll_.rowsHeight > panelHeight - kReportPanelMargin;
  if (scroll_.barShown) {
    scroll_.maximum = scroll_.rowsHeight - panelHeight + kReportPanelMargin;
    scroll_.pageStep = scroll_.maximum / 5;
  }
  Scroll(position_);
  return scroll_;
}

void TReportPageLogic::Scroll(int position) {
  position_ = std::clamp(position, 0, scroll_.maximum);
}

} // namespace quenlo
