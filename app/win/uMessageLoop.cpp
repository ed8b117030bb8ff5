#include "uMessageLoop.h"

namespace quenlo::win {

namespace {

bool IsClass(HWND hwnd, const wchar_t *name) {
  wchar_t cls[64] = {};
  ::GetClassNameW(hwnd, cls, 64);
  return ::lstrcmpiW(cls, name) == 0;
}

bool IsPushButton(HWND hwnd) {
  if (!IsClass(hwnd, L"BUTTON"))
    return false;
  const LONG type = ::GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_OWNERDRAW;
}

// The visible, enabled default push button among the descendants of parent.
HWND FindDefaultButton(HWND parent) {
  struct TSearch {
    HWND found = nullptr;
  } search;
  ::EnumChildWindows(
      parent,
      [](HWND child, LPARAM param) -> BOOL {
        auto *s = reinterpret_cast<TSearch *>(param);
        if (IsClass(child, L"BUTTON") &&
            (::GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON &&
            ::IsWindowVisible(child) != FALSE && ::IsWindowEnabled(child) != FALSE) {
          s->found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The page (a direct child other than the header) that holds hwnd.
HWND PageOf(HWND mainWindow, HWND hwnd) {
  HWND page = hwnd;
  while (page != nullptr && ::GetParent(page) != mainWindow)
    page = ::GetParent(page);
  return page;
}

} // namespace

bool HandleNavigationKey(const TKeyTargets &targets, MSG &msg) {
  const HWND main = targets.mainWindow;
  if (main == nullptr || msg.message != WM_KEYDOWN)
    return false;
  // Only for the main window and its children; message boxes and other
  // popups do their own.
  if (msg.hwnd != main && ::IsChild(main, msg.hwnd) == FALSE)
    return false;
  const HWND focus = ::GetFocus();
  const bool wantsAll = focus != nullptr && (::SendMessageW(focus, WM_GETDLGCODE, msg.wParam,
                                                            reinterpret_cast<LPARAM>(&msg)) &
                                             DLGC_WANTALLKEYS) != 0;
  switch (msg.wParam) {
  case VK_TAB: {
    if (wantsAll)
      return false;
    const bool back = (::GetKeyState(VK_SHIFT) & 0x8000) != 0;
    const HWND from = focus != nullptr && ::IsChild(main, focus) != FALSE ? focus : nullptr;
    const HWND next = ::GetNextDlgTabItem(main, from, back ? TRUE : FALSE);
    if (next != nullptr)
      ::SetFocus(next);
    return true;
  }
  case VK_RETURN: {
    if (focus != nullptr && IsPushButton(focus)) {
      ::SendMessageW(focus, BM_CLICK, 0, 0);
      return true;
    }
    // A list view acts on Enter itself (it opens the row).
    if (focus != nullptr && (IsClass(focus, L"SysListView32") || wantsAll))
      return false;
    if (const HWND button = FindDefaultButton(PageOf(main, focus != nullptr ? focus : main))) {
      ::SendMessageW(button, BM_CLICK, 0, 0);
      return true;
    }
    return true;
  }
  case VK_ESCAPE:
    if (targets.escape)
      targets.escape();
    return true;
  case VK_F1:
    if (targets.help)
      targets.help();
    return true;
  default:
    return false;
  }
}

int RunMessageLoop(const TKeyTargets &targets) {
  MSG msg{};
  for (;;) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1)
      break;
    if (HandleNavigationKey(targets, msg))
      continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

} // namespace quenlo::win
