#include "platform/ScopeGuard.h"
#include "platform/win32/WinText.h"
#include "uViews.h"
#include "ui/uGdi.h"

namespace quenlo::win {

namespace {
enum : int {
  idTitle = 10,
  idLastScanLabel,
  idLastScan,
  idFound,
  idRepaired,
  idTable,
  idScanAgain,
};
constexpr wchar_t kTableClass[] = L"QuenloReportTable";
} // namespace

// The table "Registry Items" / "Errors" / "Ignored" / "Repaired": drawn in
// code with the row pitch and scroll range the logic lays out.
class TReportPageView::TTable final : public ui::TWindow {
public:
  TTable(TReportPageLogic &logic, const TFonts &fonts) : logic_(logic), fonts_(fonts) {}
  [[nodiscard]] bool Create(HWND parent) {
    RegisterOnce(kTableClass);
    return CreateFrom({.className = kTableClass,
                       .style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP,
                       .exStyle = WS_EX_CLIENTEDGE,
                       .parent = parent,
                       .id = idTable});
  }
  void Update() {
    RECT client{};
    ::GetClientRect(Handle(), &client);
    const HDC dc = ::GetDC(Handle());
    TEXTMETRICW metrics{};
    {
      const ui::SelectScope font(dc, fonts_.normal.Get());
      SIZE size{};
      ::GetTextExtentPoint32W(dc, L"Wg", 2, &size);
      metrics.tmHeight = size.cy;
    }
    ::ReleaseDC(Handle(), dc);
    scroll_ = logic_.Layout(metrics.tmHeight, client.bottom - Header());
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = scroll_.barShown ? scroll_.maximum + scroll_.pageStep : 0;
    info.nPage = scroll_.barShown ? static_cast<UINT>(scroll_.pageStep + 1) : 0;
    info.nPos = logic_.ScrollPosition();
    ::SetScrollInfo(Handle(), SB_VERT, &info, TRUE);
    ::ShowScrollBar(Handle(), SB_VERT, scroll_.barShown ? TRUE : FALSE);
    ::InvalidateRect(Handle(), nullptr, TRUE);
  }

protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      Update();
      return 0;
    case WM_VSCROLL: {
      int position = logic_.ScrollPosition();
      switch (LOWORD(wParam)) {
      case SB_LINEUP:
        position -= scroll_.rowPitch;
        break;
      case SB_LINEDOWN:
        position += scroll_.rowPitch;
        break;
      case SB_PAGEUP:
        position -= scroll_.pageStep;
        break;
      case SB_PAGEDOWN:
        position += scroll_.pageStep;
        break;
      case SB_THUMBTRACK:
      case SB_THUMBPOSITION:
        position = HIWORD(wParam);
        break;
      case SB_TOP:
        position = 0;
        break;
      case SB_BOTTOM:
        position = scroll_.maximum;
        break;
      default:
        break;
      }
      logic_.Scroll(position);
      Update();
      return 0;
    }
    case WM_MOUSEWHEEL:
      logic_.Wheel(GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA);
      Update();
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_KEYDOWN:
      if (wParam == VK_DOWN || wParam == VK_UP) {
        logic_.Scroll(logic_.ScrollPosition() + (wParam == VK_DOWN ? 1 : -1) * scroll_.rowPitch);
        Update();
        return 0;
      }
      break;
    default:
      break;
    }
    return TWindow::OnMessage(message, wParam, lParam);
  }

private:
  int Header() const { return Scale(28); }
  void Paint() {
    const ui::PaintScope paint(Handle());
    const HDC dc = paint.Dc();
    RECT client{};
    ::GetClientRect(Handle(), &client);
    ui::FillSolid(dc, client, RGB(0xFF, 0xFF, 0xFF));
    const int w = client.right;
    const int columns[5] = {Scale(8), w - Scale(330), w - Scale(220), w - Scale(110), w};
    RECT head{0, 0, w, Header()};
    ui::FillSolid(dc, head, RGB(0x1F, 0x3A, 0x68));
    {
      const ui::SelectScope font(dc, fonts_.bold.Get());
      for (int c = 0; c < 4; ++c) {
        RECT cell{columns[c], 0, columns[c + 1] - Scale(8), Header()};
        ui::DrawTextIn(dc, qp::win32::Wide(logic_.HeaderText(c)), cell, RGB(0xFF, 0xFF, 0xFF),
                       (c == 0 ? DT_LEFT : DT_RIGHT) | DT_VCENTER | DT_SINGLELINE);
      }
    }
    const ui::SelectScope font(dc, fonts_.normal.Get());
    const int pitch = std::max(1, scroll_.rowPitch);
    const auto &rows = logic_.Rows();
    const HRGN clip = ::CreateRectRgn(0, Header(), w, client.bottom);
    ::SelectClipRgn(dc, clip);
    for (int i = 0; i < CategoryCount; ++i) {
      const int top = Header() + i * pitch - logic_.ScrollPosition();
      if (top + pitch < Header() || top > client.bottom)
        continue;
      RECT line{0, top, w, top + pitch};
      ui::FillSolid(dc, line, i % 2 == 0 ? RGB(0xEE, 0xEE, 0xEE) : RGB(0xFF, 0xFF, 0xFF));
      const TReportRow &row = rows[static_cast<std::size_t>(i)];
      const std::wstring cells[4] = {qp::win32::Wide(row.name), std::to_wstring(row.found),
                                     std::to_wstring(row.leftAlone), std::to_wstring(row.repaired)};
      for (int c = 0; c < 4; ++c) {
        RECT cell{columns[c], top, columns[c + 1] - Scale(8), top + pitch};
        ui::DrawTextIn(dc, cells[c], cell, RGB(0, 0, 0),
                       (c == 0 ? DT_LEFT | DT_END_ELLIPSIS : DT_RIGHT) | DT_VCENTER |
                           DT_SINGLELINE);
      }
    }
    ::SelectClipRgn(dc, nullptr);
    ::DeleteObject(clip);
  }

  TReportPageLogic &logic_;
  const TFonts &fonts_;
  TReportScroll scroll_;
};

TReportPageView::TReportPageView(TViewContext context, TReportPageLogic &logic)
    : TPageView(context), logic_(logic) {}
TReportPageView::~TReportPageView() = default;

void TReportPageView::Build() {
  fontRoles_.emplace_back(Add(L"STATIC", L"Repair Report", SS_LEFT, idTitle), 2);
  fontRoles_.emplace_back(Add(L"STATIC", L"Last registry scan:", SS_LEFT, idLastScanLabel), 1);
  Add(L"STATIC", L"", SS_LEFT, idLastScan);
  fontRoles_.emplace_back(Add(L"STATIC", L"", SS_LEFT, idFound), 3);
  fontRoles_.emplace_back(Add(L"STATIC", L"", SS_LEFT, idRepaired), 3);
  table_ = std::make_unique<TTable>(logic_, ctx_.fonts);
  qp::IgnoreResult(table_->Create(Handle()));
  Add(L"BUTTON", L"Scan Again", WS_TABSTOP | BS_DEFPUSHBUTTON, idScanAgain);
}

void TReportPageView::Layout() {
  const int w = Width();
  const int h = Height();
  Place(idTitle, 24, 16, w - 48, 32);
  Place(idLastScanLabel, 24, 60, 160, 22);
  Place(idLastScan, 184, 60, 300, 22);
  Place(idFound, 24, 88, 300, 24);
  Place(idRepaired, 340, 88, 300, 24);
  ::MoveWindow(table_->Handle(), Scale(24), Scale(122), Scale(w - 48), Scale(h - 122 - 60), TRUE);
  table_->ChangeDpi(Dpi());
  table_->Update();
  Place(idScanAgain, w - 184, h - 48, 160, 32);
}

void TReportPageView::Refresh() {
  SetText(idLastScan, logic_.LastScanText());
  SetText(idFound, logic_.FoundText());
  SetText(idRepaired, logic_.RepairedText());
  table_->Update();
}

void TReportPageView::OnCommand(int id, int code) {
  if (id == idScanAgain && code == BN_CLICKED)
    ctx_.commands.Post(mcClearAndScan);
}

} // namespace quenlo::win
