#include "uProgressCover.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "platform/win32/WinText.h"

namespace quenlo::ui {

namespace {

constexpr wchar_t kFadeClass[] = L"QuenloFadeCover";
constexpr wchar_t kProgressClass[] = L"QuenloProgressWindow";
constexpr UINT_PTR kEstimateTimer = 1;
constexpr int kLabelId = 100;
constexpr int kBarId = 101;
constexpr int kBarRange = 100;
// Between two looks at a closing bar.
constexpr DWORD kClosePollMs = 10;

// The progress window's layout at 96 DPI.
constexpr int kWindowWidth = 400;
constexpr int kPadding = 18;
constexpr int kAccentHeight = 4;
constexpr int kBarGap = 12;
constexpr int kBarHeight = 18;
constexpr int kMinTextHeight = 32;
constexpr COLORREF kAccent = RGB(0x1E, 0x6F, 0xC8);

// Each byte becomes a blend of three parts itself and one part a dark grey
// of the pixel's brightness: a dark, partly grey picture of the screen.
void DimPixels(std::uint8_t *bits, int width, int height, int stride) {
  for (int y = 0; y < height; ++y) {
    std::uint8_t *pixel = bits + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x, pixel += 3) {
      const int grey = ((pixel[0] + pixel[1] + pixel[2]) >> 3) & 127;
      for (int c = 0; c < 3; ++c)
        pixel[c] = static_cast<std::uint8_t>((grey + 3 * pixel[c]) / 12);
    }
  }
}

// 24-bit rows are padded to a multiple of 4 bytes.
int RowStride(int width) {
  return ((width * 3) + 3) & ~3;
}

HCURSOR WaitCursor() {
  return ::LoadCursorW(nullptr, IDC_WAIT);
}

} // namespace

// --- TPendingPump

void TPendingPump::Run() {
  MSG msg{};
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    if (msg.message == WM_QUIT) {
      quitSeen_ = true;
      exitCode_ = static_cast<int>(msg.wParam);
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void TPendingPump::RepostQuit() {
  if (quitSeen_)
    ::PostQuitMessage(exitCode_);
  quitSeen_ = false;
}

// --- TFadeCover

bool TFadeCover::Open() {
  const RECT screen{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN),
                    ::GetSystemMetrics(SM_XVIRTUALSCREEN) + ::GetSystemMetrics(SM_CXVIRTUALSCREEN),
                    ::GetSystemMetrics(SM_YVIRTUALSCREEN) + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  // The copy is taken before the cover exists, so it shows the screen as
  // the user left it.
  if (!CaptureDimmed(screen))
    return false;
  // The class paints nothing itself: the image covers every pixel.
  RegisterOnce(kFadeClass, 0, static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH)));
  if (!CreateFrom(TWindowParams{.className = kFadeClass,
                                .style = WS_POPUP,
                                .exStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                                .bounds = screen}))
    return false;
  ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ::ShowWindow(Handle(), SW_SHOWNOACTIVATE);
  ::UpdateWindow(Handle());
  return true;
}

bool TFadeCover::CaptureDimmed(RECT screen) {
  size_ = SIZE{screen.right - screen.left, screen.bottom - screen.top};
  if (size_.cx <= 0 || size_.cy <= 0)
    return false;
  const WindowDcScope screenDc(nullptr);
  if (screenDc.Dc() == nullptr)
    return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = size_.cx;
  info.bmiHeader.biHeight = -size_.cy; // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  image_.Reset(::CreateDIBSection(screenDc.Dc(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const UniqueMemoryDc memory(::CreateCompatibleDC(screenDc.Dc()));
  if (!image_ || bits == nullptr || !memory)
    return false;
  {
    const SelectScope select(memory.Get(), image_.Get());
    ::BitBlt(memory.Get(), 0, 0, size_.cx, size_.cy, screenDc.Dc(), screen.left, screen.top,
             SRCCOPY | CAPTUREBLT);
  }
  // The bits are written by GDI; they must be complete before they are read.
  ::GdiFlush();
  DimPixels(static_cast<std::uint8_t *>(bits), size_.cx, size_.cy, RowStride(size_.cx));
  return true;
}

void TFadeCover::Paint() {
  const PaintScope paint(Handle());
  const UniqueMemoryDc memory(::CreateCompatibleDC(paint.Dc()));
  if (!memory)
    return;
  const SelectScope select(memory.Get(), image_.Get());
  ::BitBlt(paint.Dc(), 0, 0, size_.cx, size_.cy, memory.Get(), 0, 0, SRCCOPY);
}

LRESULT TFadeCover::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_ERASEBKGND:
    return 1; // never: erasing would flash the live screen's colours
  case WM_PAINT:
    Paint();
    return 0;
  case WM_MOUSEACTIVATE:
    return MA_NOACTIVATEANDEAT; // a click on the cover does nothing
  case WM_SETCURSOR:
    ::SetCursor(WaitCursor());
    return TRUE;
  default:
    return TWindow::OnMessage(message, wParam, lParam);
  }
}

// --- TProgressWindow

TProgressWindow::~TProgressWindow() {
  Stop();
}

bool TProgressWindow::Open(HWND owner, const std::string &caption, bool showBar) {
  caption_ = qp::win32::Wide(caption);
  showBar_ = showBar;
  RegisterOnce(kProgressClass, CS_DROPSHADOW);
  // Created at the centre of the owner's monitor first, so the DPI it reads is
  // that monitor's; Layout then gives it its size.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT &work = monitor.rcWork;
  const POINT centre{(work.left + work.right) / 2, (work.top + work.bottom) / 2};
  if (!CreateFrom(TWindowParams{.className = kProgressClass,
                                .text = L"Quenlo",
                                .style = WS_POPUP | WS_BORDER,
                                .exStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                                .bounds = RECT{centre.x, centre.y, centre.x + 1, centre.y + 1}}))
    return false;
  label_.Reset(
      CreateControl(Handle(), L"STATIC", caption_, WS_VISIBLE | SS_NOPREFIX, kLabelId, nullptr));
  if (!bar_.Create(Handle(), kBarId))
    return false;
  bar_.SetMax(kBarRange);
  OnDpiChanged();
  ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ::ShowWindow(Handle(), SW_SHOWNOACTIVATE);
  // Shown, but it takes no input: the operation cannot be interrupted.
  ::EnableWindow(Handle(), FALSE);
  ::SetCursor(WaitCursor());
  ::UpdateWindow(Handle());
  estimate_.Open(showBar_);
  ShowBar();
  return true;
}

void TProgressWindow::Restart(const std::string &caption, bool showBar) {
  estimate_.Reset();
  caption_ = qp::win32::Wide(caption);
  showBar_ = showBar;
  ::SetWindowTextW(label_.Get(), caption_.c_str());
  Layout();
  estimate_.Open(showBar_);
  ShowBar();
}

void TProgressWindow::Report(std::uint64_t total, std::uint64_t done) {
  estimate_.Report(total, done);
  ShowBar();
}

void TProgressWindow::FinishBar(TPendingPump &pump) {
  estimate_.BeginClose();
  while (!estimate_.CloseFinished()) {
    pump.Run();
    ::Sleep(kClosePollMs);
  }
  ShowBar();
  estimate_.Reset();
}

void TProgressWindow::Start(std::uint32_t intervalMs) {
  timerSet_ = ::SetTimer(Handle(), kEstimateTimer, intervalMs, nullptr) != 0;
}

void TProgressWindow::Stop() {
  if (timerSet_ && Handle() != nullptr)
    ::KillTimer(Handle(), kEstimateTimer);
  timerSet_ = false;
}

std::uint64_t TProgressWindow::NowMs() {
  return ::GetTickCount64();
}

void TProgressWindow::ShowBar() {
  bar_.SetPosition(static_cast<int>(std::lround(estimate_.Bar())));
}

void TProgressWindow::OnDpiChanged() {
  font_ = CreateUiFont(Dpi(), TFontStyle{.pixelHeight = 13});
  ::SendMessageW(label_.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), TRUE);
  Layout();
}

void TProgressWindow::Layout() {
  const int width = Scale(kWindowWidth);
  const int textWidth = width - 2 * Scale(kPadding);
  RECT text{0, 0, textWidth, 0};
  {
    const WindowDcScope dc(Handle());
    const SelectScope select(dc.Dc(), font_.Get());
    ::DrawTextW(dc.Dc(), caption_.c_str(), -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  }
  const int textHeight = std::max<int>(text.bottom - text.top, Scale(kMinTextHeight));
  const int top = Scale(kAccentHeight) + Scale(kPadding);
  int height = top + textHeight + Scale(kPadding);
  if (showBar_)
    height += Scale(kBarGap) + Scale(kBarHeight);
  // Without a bar the caption stands alone, centred.
  const LONG align = showBar_ ? SS_LEFT : SS_CENTER;
  const LONG style = ::GetWindowLongW(label_.Get(), GWL_STYLE) & ~(SS_LEFT | SS_CENTER | SS_RIGHT);
  ::SetWindowLongW(label_.Get(), GWL_STYLE, style | align);
  ::MoveWindow(label_.Get(), Scale(kPadding), top, textWidth, textHeight, TRUE);
  ::MoveWindow(bar_.Handle(), Scale(kPadding), top + textHeight + Scale(kBarGap), textWidth,
               Scale(kBarHeight), TRUE);
  ::ShowWindow(bar_.Handle(), showBar_ ? SW_SHOWNA : SW_HIDE);

  // The border adds to the client size; the window stays centred where it is.
  RECT frame{0, 0, width, height};
  ::AdjustWindowRectEx(&frame, WS_POPUP | WS_BORDER, FALSE, WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  RECT now{};
  ::GetWindowRect(Handle(), &now);
  const int cx = frame.right - frame.left;
  const int cy = frame.bottom - frame.top;
  const int x = (now.left + now.right) / 2 - cx / 2;
  const int y = (now.top + now.bottom) / 2 - cy / 2;
  ::SetWindowPos(Handle(), nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(Handle(), nullptr, TRUE);
}

void TProgressWindow::Paint() {
  const PaintScope paint(Handle());
  RECT client{};
  ::GetClientRect(Handle(), &client);
  RECT accent = client;
  accent.bottom = accent.top + Scale(kAccentHeight);
  FillSolid(paint.Dc(), accent, kAccent);
}

LRESULT TProgressWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_TIMER:
    if (wParam == kEstimateTimer) {
      estimate_.Tick();
      ShowBar();
      return 0;
    }
    break;
  case WM_PAINT:
    Paint();
    return 0;
  case WM_CTLCOLORSTATIC: {
    const auto dc = reinterpret_cast<HDC>(wParam);
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
  }
  case WM_MOUSEACTIVATE:
    return MA_NOACTIVATEANDEAT;
  case WM_SETCURSOR:
    ::SetCursor(WaitCursor());
    return TRUE;
  default:
    break;
  }
  return TWindow::OnMessage(message, wParam, lParam);
}

// --- TProgressCover

TProgressCover::~TProgressCover() {
  if (depth_ > 0)
    TakeDown();
}

void TProgressCover::Show(HWND mainWindow, const std::string &caption, bool showBar) {
  ++depth_;
  if (depth_ > 1 && window_ != nullptr) {
    window_->Restart(caption, showBar);
    pump_.Run();
    return;
  }
  mainWindow_ = mainWindow;
  // The cover copies the screen: the program's window comes up first so
  // the user sees in the picture what is being worked on. It takes no input
  // from here on, before anything of the cover shows.
  if (mainWindow_ != nullptr) {
    if (::IsIconic(mainWindow_) != FALSE)
      ::ShowWindow(mainWindow_, SW_RESTORE);
    ::SetForegroundWindow(mainWindow_);
    ::EnableWindow(mainWindow_, FALSE);
    // A message box that has just closed (the question before the work)
    // must not stay in the picture: the window is painted again first.
    ::RedrawWindow(mainWindow_, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  }
  pump_.Run();
  if (fade_ == nullptr) {
    fade_ = std::make_unique<TFadeCover>();
    // Without the picture the operation still runs; only the look is lost.
    if (!fade_->Open())
      fade_.reset();
  }
  if (keyboard_ == nullptr)
    keyboard_ = std::make_unique<TKeyboardBlock>();
  pump_.Run();
  window_ = std::make_unique<TProgressWindow>();
  if (!window_->Open(mainWindow_, caption, showBar))
    window_.reset();
  pump_.Run();
}

void TProgressCover::Report(std::uint64_t total, std::uint64_t done) {
  if (window_ != nullptr)
    window_->Report(total, done);
}

void TProgressCover::Close() {
  if (depth_ == 0)
    return;
  if (--depth_ > 0)
    return;
  if (window_ != nullptr)
    window_->FinishBar(pump_);
  TakeDown();
  pump_.Run();
  pump_.RepostQuit();
}

void TProgressCover::TakeDown() {
  depth_ = 0;
  // The main window is enabled before its cover goes, so the system has it
  // to activate rather than another program's window.
  if (mainWindow_ != nullptr)
    ::EnableWindow(mainWindow_, TRUE);
  window_.reset();
  keyboard_.reset();
  fade_.reset();
  ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
  mainWindow_ = nullptr;
}

} // namespace quenlo::ui
