#include "platform/ScopeGuard.h"
#include "platform/win32/WinText.h"
#include "uViews.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {
enum : int {
  idTitle = 10,
  idHealthHeading,
  idGauge,
  idLastScanLabel,
  idLastScan,
  idFoundLabel,
  idFound,
  idRepairedLabel,
  idRepaired,
  idStatsHeading,
  idFoundToDateLabel,
  idFoundToDate,
  idRepairedToDateLabel,
  idRepairedToDate,
  idScanNow,
};

struct TCounterRow {
  int label;
  int value;
  const wchar_t *text;
};
constexpr TCounterRow kRows[] = {
    {idLastScanLabel, idLastScan, L"Last Scan:"},
    {idFoundLabel, idFound, L"Problems Found:"},
    {idRepairedLabel, idRepaired, L"Problems Repaired:"},
    {idFoundToDateLabel, idFoundToDate, L"Problems Found to Date:"},
    {idRepairedToDateLabel, idRepairedToDate, L"Problems Repaired to Date:"}};
} // namespace

void TStatusPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", L"PC Status", SS_LEFT, idTitle), 2);
  fontRoles_.emplace_back(Add(L"STATIC", L"PCHealth", SS_CENTER, idHealthHeading), 3);
  qp::IgnoreResult(gauge_.Create(Handle(), idGauge));
  for (const TCounterRow &row : kRows) {
    fontRoles_.emplace_back(Add(L"STATIC", row.text, SS_LEFT, row.label), 1);
    Add(L"STATIC", L"", SS_LEFT, row.value);
  }
  fontRoles_.emplace_back(Add(L"STATIC", L"Scan Statistics:", SS_LEFT, idStatsHeading), 3);
  Add(L"BUTTON", L"Scan Now", WS_TABSTOP | BS_DEFPUSHBUTTON, idScanNow);
}

void TStatusPageView::Layout() {
  const int w = Width();
  Place(idTitle, 24, 16, w - 48, 32);
  const int gaugeWidth = 320;
  Place(idHealthHeading, 24, 60, gaugeWidth, 24);
  ::MoveWindow(gauge_.Handle(), Scale(24), Scale(88), Scale(gaugeWidth), Scale(250), TRUE);
  gauge_.ChangeDpi(Dpi());
  const int left = 24 + gaugeWidth + 40;
  const int labelWidth = 240;
  const int valueWidth = std::max(120, w - left - labelWidth - 24);
  int y = 72;
  for (int i = 0; i < 3; ++i) {
    Place(kRows[i].label, left, y, labelWidth, 22);
    Place(kRows[i].value, left + labelWidth, y, valueWidth, 22);
    y += 30;
  }
  y += 16;
  Place(idStatsHeading, left, y, labelWidth + valueWidth, 24);
  y += 34;
  for (int i = 3; i < 5; ++i) {
    Place(kRows[i].label, left, y, labelWidth, 22);
    Place(kRows[i].value, left + labelWidth, y, valueWidth, 22);
    y += 30;
  }
  Place(idScanNow, left, y + 24, 160, 36);
}

void TStatusPageView::Refresh() {
  const THealthDisplay &health = logic_.Health();
  ui::TGaugeState gauge;
  gauge.percent = health.value;
  gauge.text = qp::win32::Wide(health.text);
  gauge.textColour = ui::FromRgb(health.colour);
  if (health.noScanNote)
    gauge.note = qp::win32::Wide(kNoScansCompleted);
  gauge_.SetState(gauge);
  const TStatusCounters &c = logic_.Counters();
  SetText(idLastScan, c.lastScan);
  SetText(idFound, std::to_string(c.problemsFound));
  SetText(idRepaired, std::to_string(c.problemsRepaired));
  SetText(idFoundToDate, std::to_string(c.foundToDate));
  SetText(idRepairedToDate, std::to_string(c.repairedToDate));
}

void TStatusPageView::OnCommand(int id, int code) {
  if (id == idScanNow && code == BN_CLICKED)
    logic_.ScanNow();
}

} // namespace quenlo::win
