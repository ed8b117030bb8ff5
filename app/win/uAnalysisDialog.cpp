#include "uAnalysisDialog.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "platform/win32/WinText.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {

constexpr wchar_t kDialogClass[] = L"QuenloAnalysisDialog";
constexpr wchar_t kDialogTitle[] = L"Registry Analysis";

enum TAnalysisControl : int {
  acUsedCaption = 200,
  acUsedValue,
  acFreeCaption,
  acFreeValue,
  acNothing,
};

// Layout at 96 DPI.
constexpr int kClientWidth = 400;
constexpr int kClientHeight = 210;
constexpr int kMargin = 20;
constexpr int kPieSize = 130;
constexpr int kLegendX = kMargin + kPieSize + 30;
constexpr int kSwatch = 12;
constexpr int kLineHeight = 18;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 26;

constexpr COLORREF kUsedColour = RGB(0x1E, 0x6F, 0xC8);
constexpr COLORREF kFreeColour = RGB(0xF0, 0xA0, 0x30);
constexpr double kFullCircle = 360.0;
constexpr int kFullPercent = 100;

} // namespace

// The dialog's window; lives for one Show.
class TAnalysisDialogWindow final : public ui::TWindow {
public:
  explicit TAnalysisDialogWindow(const TAnalysisView &view) : view_(view) {}

  [[nodiscard]] bool Open(HWND owner) {
    RegisterOnce(kDialogClass, CS_HREDRAW | CS_VREDRAW, ::GetSysColorBrush(COLOR_BTNFACE));
    if (!CreateFrom(ui::TWindowParams{.className = kDialogClass,
                                      .text = kDialogTitle,
                                      .style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                                      .exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT,
                                      .parent = owner,
                                      .bounds = RECT{0, 0, 100, 100}}))
      return false;
    Add(L"STATIC", L"Used Space", acUsedCaption, true);
    Add(L"STATIC", qp::win32::Wide(view_.usedText), acUsedValue, false);
    Add(L"STATIC", L"Free Space", acFreeCaption, true);
    Add(L"STATIC", qp::win32::Wide(view_.freeText), acFreeValue, false);
    const HWND nothing = Add(L"STATIC", L"There is nothing to defragment", acNothing, true);
    ::ShowWindow(nothing, view_.nothingToDo ? SW_SHOW : SW_HIDE);
    button_.Reset(ui::CreateControl(Handle(), L"BUTTON", qp::win32::Wide(view_.buttonCaption),
                                    WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, nullptr));
    OnDpiChanged();
    Centre(owner);
    return true;
  }

  // Runs until a button or the close box ends it; true when accepted.
  bool RunModal(HWND owner) {
    ui::RunModalLoop(Handle(), owner, button_.Get(), done_);
    return accepted_;
  }

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        // With nothing to do the button only closes.
        End(!view_.nothingToDo);
        return 0;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        End(false);
        return 0;
      }
      break;
    case WM_CLOSE:
      End(false);
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_CTLCOLORSTATIC: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
      break;
    }
    return TWindow::OnMessage(message, wParam, lParam);
  }

  void OnDpiChanged() override {
    normal_ = ui::CreateUiFont(Dpi(), ui::TFontStyle{.pixelHeight = 13});
    bold_ =
        ui::CreateUiFont(Dpi(), ui::TFontStyle{.pixelHeight = 13, .weight = ui::TFontWeight::Bold});
    for (const auto &[id, bold] : fontRoles_)
      ::SendMessageW(::GetDlgItem(Handle(), id), WM_SETFONT,
                     reinterpret_cast<WPARAM>(bold ? bold_.Get() : normal_.Get()), TRUE);
    ::SendMessageW(button_.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(normal_.Get()), TRUE);
    Layout();
  }

private:
  HWND Add(const wchar_t *cls, const std::wstring &text, int id, bool bold) {
    const HWND hwnd = ui::CreateControl(Handle(), cls, text, WS_VISIBLE | SS_NOPREFIX, id, nullptr);
    controls_.emplace_back(hwnd);
    fontRoles_.emplace_back(id, bold);
    return hwnd;
  }

  void Place(int id, int x, int y, int w, int h) const {
    ::MoveWindow(::GetDlgItem(Handle(), id), Scale(x), Scale(y), Scale(w), Scale(h), TRUE);
  }

  void Layout() {
    const int textX = kLegendX + kSwatch + 8;
    const int textW = kClientWidth - textX - kMargin;
    Place(acUsedCaption, textX, kMargin + 10, textW, kLineHeight);
    Place(acUsedValue, textX, kMargin + 10 + kLineHeight, textW, kLineHeight);
    Place(acFreeCaption, textX, kMargin + 70, textW, kLineHeight);
    Place(acFreeValue, textX, kMargin + 70 + kLineHeight, textW, kLineHeight);
    Place(acNothing, kMargin, kClientHeight - kMargin - kButtonHeight + 5,
          kClientWidth - 3 * kMargin - kButtonWidth, kLineHeight);
    ::MoveWindow(button_.Get(), Scale(kClientWidth - kMargin - kButtonWidth),
                 Scale(kClientHeight - kMargin - kButtonHeight), Scale(kButtonWidth),
                 Scale(kButtonHeight), TRUE);
    RECT frame{0, 0, Scale(kClientWidth), Scale(kClientHeight)};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(Handle(), GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(Handle(), GWL_EXSTYLE)));
    ::SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(Handle(), nullptr, TRUE);
  }

  void Centre(HWND owner) const { ui::CentreOver(Handle(), owner); }

  // The free share is the slice that starts at the top and runs
  // counter-clockwise; the rest of the disc is the used share.
  void PaintPie(HDC dc) const {
    const RECT box{Scale(kMargin), Scale(kMargin), Scale(kMargin + kPieSize),
                   Scale(kMargin + kPieSize)};
    const ui::UniqueGdi usedBrush(::CreateSolidBrush(kUsedColour));
    const ui::UniqueGdi freeBrush(::CreateSolidBrush(kFreeColour));
    const ui::UniqueGdi pen(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW)));
    const ui::SelectScope selectPen(dc, pen.Get());
    const int free = std::clamp(view_.freePercent, 0, kFullPercent);
    {
      const ui::SelectScope brush(dc, free >= kFullPercent ? freeBrush.Get() : usedBrush.Get());
      ::Ellipse(dc, box.left, box.top, box.right, box.bottom);
    }
    if (free <= 0 || free >= kFullPercent)
      return;
    const double cx = (box.left + box.right) / 2.0;
    const double cy = (box.top + box.bottom) / 2.0;
    const double radius = (box.right - box.left) / 2.0;
    const double start = std::numbers::pi / 2;
    const double end = start + free * kFullCircle / kFullPercent * std::numbers::pi / 180.0;
    const auto x = [&](double angle) {
      return static_cast<int>(std::lround(cx + radius * std::cos(angle)));
    };
    const auto y = [&](double angle) {
      return static_cast<int>(std::lround(cy - radius * std::sin(angle)));
    };
    const ui::SelectScope brush(dc, freeBrush.Get());
    ::Pie(dc, box.left, box.top, box.right, box.bottom, x(start), y(start), x(end), y(end));
  }

  void PaintSwatch(HDC dc, int y, COLORREF colour) const {
    const RECT swatch{Scale(kLegendX), Scale(y), Scale(kLegendX + kSwatch), Scale(y + kSwatch)};
    ui::FillSolid(dc, swatch, colour);
  }

  void Paint() {
    const ui::PaintScope paint(Handle());
    PaintPie(paint.Dc());
    PaintSwatch(paint.Dc(), kMargin + 13, kUsedColour);
    PaintSwatch(paint.Dc(), kMargin + 73, kFreeColour);
  }

  void End(bool accepted) {
    accepted_ = accepted;
    done_ = true;
  }

  TAnalysisView view_;
  std::vector<ui::UniqueHwnd> controls_;
  std::vector<std::pair<int, bool>> fontRoles_;
  ui::UniqueHwnd button_;
  ui::UniqueGdi normal_;
  ui::UniqueGdi bold_;
  bool done_ = false;
  bool accepted_ = false;
};

bool TWin32AnalysisDialog::Show(const TAnalysisView &view) {
  const HWND owner = owner_();
  TAnalysisDialogWindow dialog(view);
  if (!dialog.Open(owner))
    return false;
  return dialog.RunModal(owner);
}

} // namespace quenlo::win
