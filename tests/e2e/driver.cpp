// Drives quenlo.exe from outside, as a user would: finds its windows by
// class and text, clicks buttons, presses keys (SendInput), answers its
// message boxes, and saves a screenshot of every page it visits. Nothing in
// the product knows about this program.
//
//   quenlo_e2e_driver scenario SCREENS_DIR LOG   status, Scan Now, results
//                                                (detail view), Repair, report
//   quenlo_e2e_driver screens SCREENS_DIR LOG    the same, for the demo
//   quenlo_e2e_driver largelist SCREENS_DIR LOG ROWS SECONDS
//                                                one category of ROWS findings:
//                                                its detail view follows each
//                                                key within SECONDS
//   quenlo_e2e_driver pages SCREENS_DIR LOG      status, scan and results pages, layout
//                                                checked
//   quenlo_e2e_driver optimizer SCREENS_DIR LOG  the optimizer page (both tabs,
//                                                reached by keyboard), Analyze:
//                                                the progress cover (keyboard and
//                                                main window off), the analysis
//                                                dialog, cancelled by Escape
//   quenlo_e2e_driver monitor SCREENS_DIR LOG WATCHES EXE
//                                                the monitor page: Start by keyboard,
//                                                WATCHES watch points, known changes
//                                                made here listed with their texts,
//                                                the row menu and Show Key, minimise
//                                                to the tray and back, Stop (no row
//                                                after it)
//   quenlo_e2e_driver history SCREENS_DIR LOG    the history page: every box cleared,
//                                                Run Menu, Recent Docs and Temp Files
//                                                ticked (by Space, a click and a
//                                                message), Analyze: the summary's rows,
//                                                a detail view by double click and back
//                                                by Enter on "..", Clean from the
//                                                summary: no running-browser question,
//                                                the clean result with its total and
//                                                "Clean history completed."
//   quenlo_e2e_driver historyabort SCREENS_DIR LOG
//                                                with Firefox running: Firefox's
//                                                History and Run Menu ticked, Clean,
//                                                the applications check, Abort: the
//                                                page as it was, nothing started
//   quenlo_e2e_driver historylocked SCREENS_DIR LOG
//                                                the same boxes, Clean, Retry (asked
//                                                again), Ignore: the clean result and
//                                                the message naming the locked history
//   quenlo_e2e_driver historyunlocked SCREENS_DIR LOG URL...
//                                                Firefox ended: Analyze lists the URLs
//                                                in Firefox's history details, Clean
//                                                from the summary counts them removed
//   quenlo_e2e_driver help SCREENS_DIR LOG TITLE TOPIC...
//                                                F1 on the history page, then the
//                                                Help menu's "Help" on the status
//                                                page: each time the help viewer
//                                                titled TITLE, its contents listing
//                                                every TOPIC, closed again
//   quenlo_e2e_driver restore SCREENS_DIR LOG    the restore page on a day of three
//                                                repaired keys: all but one unticked
//                                                (Select All, a click, Space), Show
//                                                Key's caution cancelled, Restore:
//                                                "Restore completed." and the other
//                                                two listed unticked
//   quenlo_e2e_driver settings SCREENS_DIR LOG SETTINGS_DIR
//                                                the settings page: a box on General
//                                                written at once, the action's effect
//                                                on Frequency and Save; an ignored key
//                                                added by keyboard in the key dialog,
//                                                removed, a permanent row refused from
//                                                the row menu; the Monitor tab from the
//                                                monitor page's link, a monitored key
//                                                added by clicks and removed, the
//                                                number of events typed, pastes refused
//   quenlo_e2e_driver windows                    prints the number of main windows
//   quenlo_e2e_driver foreground EXE [ARG]       takes the foreground with a window
//                                                of its own, starts EXE ARG (a later
//                                                copy) and checks that the running
//                                                copy came to the foreground
//   quenlo_e2e_driver veto LOG SECONDS           a window that refuses the end of the
//                                                session, logging what it is sent
//   quenlo_e2e_driver stopveto                   closes that window
//   quenlo_e2e_driver responsive                 the running copy answers and
//                                                switches pages
//   quenlo_e2e_driver close                      closes the main window
//
// Exit code 0 when every step was seen to happen; the log names each step,
// each message box's text and the answer given.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kMainClass[] = L"QuenloMainWindow";
constexpr wchar_t kTitle[] = L"Quenlo";

FILE *g_log = nullptr;

std::string Narrow(const std::wstring &text) {
  if (text.empty())
    return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

void Log(const std::string &line) {
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
  if (g_log != nullptr) {
    std::fprintf(g_log, "%s\n", line.c_str());
    std::fflush(g_log);
  }
}

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[2048] = {};
  // WM_GETTEXT crosses processes (the text is copied back).
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return buffer;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buffer[128] = {};
  GetClassNameW(hwnd, buffer, 128);
  return buffer;
}

HWND MainWindow() {
  return FindWindowW(kMainClass, kTitle);
}

// Every visible descendant of parent, in Z order.
std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(
      parent,
      [](HWND child, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND> *>(param)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

bool ReallyVisible(HWND hwnd) {
  return IsWindowVisible(hwnd) != FALSE;
}

HWND FindChild(HWND parent, const wchar_t *cls, const std::wstring &text) {
  for (HWND child : Children(parent))
    if (ReallyVisible(child) && (cls == nullptr || ClassOf(child) == cls) && TextOf(child) == text)
      return child;
  return nullptr;
}

HWND FindChildClass(HWND parent, const wchar_t *cls) {
  for (HWND child : Children(parent))
    if (ReallyVisible(child) && ClassOf(child) == cls)
      return child;
  return nullptr;
}

// Polls until pred holds or the time is up.
bool WaitFor(const std::function<bool()> &pred, DWORD timeoutMs, DWORD sliceMs = 200) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (pred())
      return true;
    if (GetTickCount64() >= end)
      return false;
    Sleep(sliceMs);
  }
}

// --- message boxes
struct TBoxScan {
  DWORD pid;
  HWND found;
};

HWND FindMessageBox(DWORD pid) {
  TBoxScan scan{pid, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto *s = reinterpret_cast<TBoxScan *>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->pid && IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770") {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&scan));
  return scan.found;
}

std::wstring BoxText(HWND box) {
  std::wstring text;
  for (HWND child : Children(box))
    if (ClassOf(child) == L"Static") {
      const std::wstring t = TextOf(child);
      if (t.size() > text.size())
        text = t;
    }
  return text;
}

bool HasButton(HWND box, int id) {
  const HWND button = GetDlgItem(box, id);
  return button != nullptr && IsWindowVisible(button);
}

// The answer a user of the scenario gives: go on past the restore point
// failure, do not rescan, do not open the failure list, else Yes or OK.
bool g_declineFullScan = false;

int ChooseAnswer(HWND box, const std::wstring &text) {
  if (g_declineFullScan && text.find(L"full registry scan") != std::wstring::npos &&
      HasButton(box, IDNO))
    return IDNO;
  if (HasButton(box, IDIGNORE))
    return IDIGNORE;
  if (text.find(L"rescan") != std::wstring::npos && HasButton(box, IDNO))
    return IDNO;
  if (text.find(L"not repaired errors") != std::wstring::npos && HasButton(box, IDNO))
    return IDNO;
  if (HasButton(box, IDYES))
    return IDYES;
  if (HasButton(box, IDOK))
    return IDOK;
  return IDCANCEL;
}

const char *AnswerName(int id) {
  switch (id) {
  case IDOK:
    return "OK";
  case IDCANCEL:
    return "Cancel";
  case IDYES:
    return "Yes";
  case IDNO:
    return "No";
  case IDIGNORE:
    return "Ignore";
  case IDABORT:
    return "Abort";
  case IDRETRY:
    return "Retry";
  default:
    return "?";
  }
}

int g_boxes = 0;
// Every box's text, in the order they were answered.
std::vector<std::wstring> g_boxTexts;
bool g_captionsOk = true;
bool g_sawCaution = false;
bool g_sawNoKey = false;

// Answers a box of the program when one is open; true when it did.
bool AnswerBox(DWORD pid) {
  const HWND box = FindMessageBox(pid);
  if (box == nullptr)
    return false;
  Sleep(300); // let it finish painting
  const std::wstring caption = TextOf(box);
  const std::wstring text = BoxText(box);
  const int answer = ChooseAnswer(box, text);
  if (caption != kTitle)
    g_captionsOk = false;
  if (text.rfind(L"CAUTION", 0) == 0)
    g_sawCaution = true;
  if (text == L"Registry key does not exist.")
    g_sawNoKey = true;
  ++g_boxes;
  g_boxTexts.push_back(text);
  std::string flat = Narrow(text);
  for (char &c : flat)
    if (c == '\r' || c == '\n')
      c = ' ';
  Log("box caption=\"" + Narrow(caption) + "\" text=\"" + flat + "\" answer=" + AnswerName(answer));
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
  WaitFor([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000, 100);
  return true;
}

// --- input
void ClickAt(POINT screen) {
  SetCursorPos(screen.x, screen.y);
  INPUT inputs[2] = {};
  inputs[0].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].type = INPUT_MOUSE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, inputs, sizeof(INPUT));
  Sleep(300);
}

void PressKey(WORD vk) {
  INPUT inputs[2] = {};
  inputs[0].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = vk;
  inputs[1].type = INPUT_KEYBOARD;
  inputs[1].ki.wVk = vk;
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof(INPUT));
  Sleep(400);
}

bool ClickButton(HWND parent, const std::wstring &text) {
  const HWND button = FindChild(parent, L"Button", text);
  if (button == nullptr) {
    Log("no button \"" + Narrow(text) + "\"");
    return false;
  }
  // Posted: a click that starts a long run must not block the driver.
  PostMessageW(button, BM_CLICK, 0, 0);
  Log("clicked \"" + Narrow(text) + "\"");
  return true;
}

// --- screenshots: a screen area into a 24-bit BMP
bool SaveScreenArea(const RECT &r, const std::wstring &file) {
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (w <= 0 || h <= 0)
    return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h; // bottom-up, as a BMP file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
  const DWORD size = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER head{};
  head.bfType = 0x4D42;
  head.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  head.bfSize = head.bfOffBits + size;
  bool ok = false;
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    info.bmiHeader.biSizeImage = size;
    ok = WriteFile(out, &head, sizeof(head), &written, nullptr) &&
         WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) &&
         WriteFile(out, bits, size, &written, nullptr);
    CloseHandle(out);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  Log(std::string(ok ? "screenshot " : "screenshot failed ") + Narrow(file));
  return ok;
}

// The window's client area (without a window manager the frame is not
// drawn), repainted first.
bool SaveScreenshot(HWND hwnd, const std::wstring &file) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(500);
  RECT r{};
  GetClientRect(hwnd, &r);
  MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT *>(&r), 2);
  return SaveScreenArea(r, file);
}

// The whole screen as it is now, nothing repainted (a passing state).
bool SaveWholeScreen(const std::wstring &file) {
  const RECT r{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
               GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
               GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  return SaveScreenArea(r, file);
}

// The texts of the visible static controls of the main window, for the log.
void LogTexts(HWND main, const char *page) {
  std::string line = std::string("texts ") + page + ":";
  for (HWND child : Children(main))
    if (ReallyVisible(child) && ClassOf(child) == L"Static") {
      const std::string t = Narrow(TextOf(child));
      if (!t.empty())
        line += " [" + t + "]";
    }
  Log(line);
}

bool PageShown(HWND main, const std::wstring &title) {
  return FindChild(main, L"Static", title) != nullptr;
}

// --- the monitor page
constexpr wchar_t kMonitorTestKey[] = L"Software\\QuenloMonitorTest";

// A list view's or header's texts in another process: the item and its text
// buffer must lie in that process's memory for the control to fill them.
class TRemoteBuffer {
public:
  explicit TRemoteBuffer(HWND control) {
    DWORD pid = 0;
    GetWindowThreadProcessId(control, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr)
      memory_ = static_cast<char *>(
          VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  TRemoteBuffer(const TRemoteBuffer &) = delete;
  TRemoteBuffer &operator=(const TRemoteBuffer &) = delete;
  ~TRemoteBuffer() {
    if (memory_ != nullptr)
      VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    if (process_ != nullptr)
      CloseHandle(process_);
  }
  bool Ok() const { return memory_ != nullptr; }

  // LVM_GETITEMTEXTW of row and column.
  std::wstring ListText(HWND list, int row, int column) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t *>(memory_ + kTextOffset);
    item.cchTextMax = kTextChars;
    return Ask(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), &item, sizeof(item));
  }
  // LVM_GETITEMRECT of a row (its whole width), in the list's client
  // coordinates; empty when the row is not there.
  RECT ListRowRect(HWND list, int row) {
    RECT r{};
    r.left = LVIR_BOUNDS;
    if (!Ok())
      return {};
    WriteProcessMemory(process_, memory_, &r, sizeof(r), nullptr);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                        reinterpret_cast<LPARAM>(memory_), SMTO_ABORTIFHUNG, 5000, &answer);
    if (answer == 0)
      return {};
    ReadProcessMemory(process_, memory_, &r, sizeof(r), nullptr);
    return r;
  }
  // HDM_GETITEMW's text of a header item.
  std::wstring HeaderText(HWND header, int index) {
    HDITEMW item{};
    item.mask = HDI_TEXT;
    item.pszText = reinterpret_cast<wchar_t *>(memory_ + kTextOffset);
    item.cchTextMax = kTextChars;
    return Ask(header, HDM_GETITEMW, static_cast<WPARAM>(index), &item, sizeof(item));
  }

private:
  static constexpr SIZE_T kTextOffset = 256;
  static constexpr int kTextChars = 1024;
  static constexpr SIZE_T kSize = kTextOffset + kTextChars * sizeof(wchar_t);

  std::wstring Ask(HWND control, UINT message, WPARAM wParam, const void *item, SIZE_T size) {
    if (!Ok())
      return L"<no remote buffer>";
    const wchar_t nothing = L'\0';
    WriteProcessMemory(process_, memory_ + kTextOffset, &nothing, sizeof(nothing), nullptr);
    WriteProcessMemory(process_, memory_, item, size, nullptr);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(control, message, wParam, reinterpret_cast<LPARAM>(memory_),
                        SMTO_ABORTIFHUNG, 5000, &ignored);
    std::wstring text(kTextChars, L'\0');
    ReadProcessMemory(process_, memory_ + kTextOffset, text.data(), kTextChars * sizeof(wchar_t),
                      nullptr);
    text.resize(wcsnlen(text.c_str(), kTextChars));
    return text;
  }

  HANDLE process_ = nullptr;
  char *memory_ = nullptr;
};

// One expected row: the list's columns "Subkey / Value", "Action",
// "Registry Location", "Type", "Old data", "New data".
struct TExpectedRow {
  const wchar_t *name;
  const wchar_t *action;
  const wchar_t *location;
  const wchar_t *type;
  const wchar_t *oldData;
  const wchar_t *newData;
};

std::wstring TestKeyPath(const wchar_t *subkey) {
  return std::wstring(kMonitorTestKey) + L"\\" + subkey;
}

bool SetString(const wchar_t *key, const wchar_t *name, const wchar_t *data) {
  HKEY hkey = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, TestKeyPath(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &hkey, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG status = RegSetValueExW(hkey, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                                     static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t)));
  RegCloseKey(hkey);
  return status == ERROR_SUCCESS;
}

bool CreateSubkey(const wchar_t *key, const wchar_t *subkey) {
  HKEY hkey = nullptr;
  const std::wstring path = TestKeyPath(key) + L"\\" + subkey;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &hkey,
                      nullptr) != ERROR_SUCCESS)
    return false;
  RegCloseKey(hkey);
  return true;
}

bool DeleteValue(const wchar_t *key, const wchar_t *name) {
  HKEY hkey = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, TestKeyPath(key).c_str(), 0, KEY_SET_VALUE, &hkey) !=
      ERROR_SUCCESS)
    return false;
  const LONG status = RegDeleteValueW(hkey, name);
  RegCloseKey(hkey);
  return status == ERROR_SUCCESS;
}

HWND FindTopLevel(const wchar_t *cls, DWORD pid) {
  struct TFind {
    const wchar_t *cls;
    DWORD pid;
    HWND found;
  } find{cls, pid, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto *f = reinterpret_cast<TFind *>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if ((f->pid == 0 || owner == f->pid) && ClassOf(hwnd) == f->cls) {
          f->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&find));
  return find.found;
}

// The visible top-level windows, for the log.
std::string VisibleTopLevels() {
  std::string line;
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        if (IsWindowVisible(hwnd)) {
          RECT r{};
          GetWindowRect(hwnd, &r);
          *reinterpret_cast<std::string *>(param) +=
              " [" + Narrow(ClassOf(hwnd)) + " \"" + Narrow(TextOf(hwnd)) + "\" " +
              std::to_string(r.left) + "," + std::to_string(r.top) + " " +
              std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "]";
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&line));
  return line;
}

struct TScenario {
  std::wstring screens;
  HWND main = nullptr;
  DWORD pid = 0;
  int failures = 0;

  void Fail(const std::string &what) {
    Log("FAIL " + what);
    ++failures;
  }
  bool Shot(const wchar_t *name) {
    CheckLayout(Narrow(name));
    return SaveScreenshot(main, screens + L"\\" + name);
  }

  // The shown page's own controls lie inside it and do not overlap each
  // other: a page cut off by the window or with controls on top of each
  // other fails here, at any DPI.
  void CheckLayout(const std::string &page) {
    HWND shown = nullptr;
    for (HWND child : Children(main))
      if (GetParent(child) == main && ReallyVisible(child) && ClassOf(child) == L"QuenloPage")
        shown = child;
    if (shown == nullptr)
      return;
    RECT area{};
    GetWindowRect(shown, &area);
    std::vector<std::pair<HWND, RECT>> controls;
    for (HWND child : Children(shown)) {
      if (GetParent(child) != shown || !ReallyVisible(child))
        continue;
      RECT r{};
      GetWindowRect(child, &r);
      if (r.right <= r.left || r.bottom <= r.top)
        continue;
      const std::string name = Narrow(ClassOf(child)) + " \"" + Narrow(TextOf(child)) + "\"";
      if (r.left < area.left || r.top < area.top || r.right > area.right || r.bottom > area.bottom)
        Fail(page + ": " + name + " is cut off by the page");
      for (const auto &[other, o] : controls) {
        RECT both{};
        if (IntersectRect(&both, &r, &o))
          Fail(page + ": " + name + " overlaps " + Narrow(ClassOf(other)) + " \"" +
               Narrow(TextOf(other)) + "\"");
      }
      controls.emplace_back(child, r);
    }
  }

  // Waits for the page while answering the program's boxes.
  bool WaitPage(const std::wstring &title, DWORD timeoutMs) {
    return WaitFor(
        [this, &title] {
          AnswerBox(pid);
          return PageShown(main, title) && FindMessageBox(pid) == nullptr;
        },
        timeoutMs, 250);
  }

  // The program's main window shown and its splash gone; false (with the
  // failure logged) when the window never appears.
  bool WaitForMainWindow() {
    if (!WaitFor([this] { return (main = MainWindow()) != nullptr && IsWindowVisible(main); },
                 120000)) {
      Fail("the main window did not appear");
      return false;
    }
    GetWindowThreadProcessId(main, &pid);
    Log("main window found");
    WaitFor([] { return FindWindowW(L"QuenloSplash", nullptr) == nullptr; }, 15000);
    return true;
  }

  int Run() {
    if (!WaitForMainWindow())
      return 1;
    if (!WaitPage(L"PC Status", 30000))
      Fail("status page not shown");
    LogTexts(main, "status");
    Shot(L"01-status.bmp");

    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header == nullptr || FindChild(header, L"Button", L"Registry Scan") == nullptr)
      Fail("header buttons missing");

    // By keyboard, as a user without a mouse would: Tab to "Scan Now", Enter.
    if (!PressByKeyboard(L"Scan Now")) {
      Fail("Tab and Enter did not reach \"Scan Now\"");
      if (!ClickButton(main, L"Scan Now"))
        Fail("no Scan Now on the status page");
    }
    if (!WaitPage(L"Registry Scan", 30000))
      Fail("scan page not shown");
    // While it scans (or right after), the scan page.
    WaitFor([this] { return FindChild(main, L"Button", L"Stop") != nullptr; }, 10000, 100);
    Shot(L"02-scan.bmp");
    LogTexts(main, "scan");

    if (!WaitPage(L"Scan Results", 600000)) {
      Fail("results page not shown");
      return Finish();
    }
    Sleep(500);
    LogTexts(main, "results-summary");
    Shot(L"03-results-summary.bmp");

    OpenDetail(true);
    LogTexts(main, "results-detail");
    Shot(L"04-results-detail.bmp");
    // "S" marks the first problem to be ignored (the row says "Ignore"),
    // a second "S" takes the mark back.
    PressKey(VK_HOME);
    PressKey('S');
    Sleep(300);
    Shot(L"04a-results-ignore.bmp");
    PressKey('S');
    ShowKeyOfFirstRow();

    if (!ClickButton(main, L"Repair"))
      Fail("no Repair button");
    if (!WaitPage(L"Repair Report", 600000))
      Fail("report page not shown");
    // Late boxes (the failure list question) come after the page switch.
    WaitFor([this] { return AnswerBox(pid); }, 3000, 250);
    Sleep(500);
    LogTexts(main, "report");
    Shot(L"05-report.bmp");

    // The status page now rates the repaired registry.
    if (header != nullptr && ClickButton(header, L"PC Status") && WaitPage(L"PC Status", 30000)) {
      LogTexts(main, "status-after");
      Shot(L"06-status-after.bmp");
    } else {
      Fail("status page not shown after the repair");
    }
    if (header != nullptr && ClickButton(header, L"Optimizer") &&
        WaitPage(L"Optimize System Performance", 30000)) {
      Shot(L"07-optimizer.bmp");
    } else {
      Fail("optimizer page not shown");
    }
    AboutFromTheHelpMenu();
    return Finish();
  }

  // The Help menu by keyboard, as a user without a mouse opens it: Alt+H,
  // then A for "About Quenlo"; the modal about box closes with its button.
  void AboutFromTheHelpMenu() {
    SetForegroundWindow(main);
    Sleep(300);
    INPUT alt[4] = {};
    alt[0].type = alt[1].type = alt[2].type = alt[3].type = INPUT_KEYBOARD;
    alt[0].ki.wVk = VK_MENU;
    alt[1].ki.wVk = 'H';
    alt[2].ki.wVk = 'H';
    alt[2].ki.dwFlags = KEYEVENTF_KEYUP;
    alt[3].ki.wVk = VK_MENU;
    alt[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, alt, sizeof(INPUT));
    Sleep(500);
    PressKey('A');
    HWND about = nullptr;
    if (!WaitFor(
            [&] {
              about = FindWindowW(nullptr, L"About Quenlo");
              return about != nullptr && IsWindowVisible(about);
            },
            15000)) {
      Fail("the Help menu's About Quenlo did not open");
      return;
    }
    Log("about box: " + Narrow(TextOf(about)));
    Sleep(300);
    SaveScreenshot(about, screens + L"\\07b-about.bmp");
    if (!ClickButton(about, L"Close") ||
        !WaitFor([] { return FindWindowW(nullptr, L"About Quenlo") == nullptr; }, 15000))
      Fail("the about box did not close");
  }

  // The context menu's "Show Key" on the first problem: the caution
  // prompt, then the registry editor at the key (or the program's "does not
  // exist" message when the key went away).
  void ShowKeyOfFirstRow() {
    const HWND list = FindChildClass(main, L"SysListView32");
    if (list == nullptr)
      return;
    PressKey(VK_HOME);
    PressKey(VK_APPS); // the row's context menu
    // Permanently Ignore item, Select All, Deselect All, Show Key.
    for (int i = 0; i < 4; ++i)
      PressKey(VK_DOWN);
    PressKey(VK_RETURN);
    const int before = g_boxes;
    HWND editor = nullptr;
    WaitFor(
        [this, &editor] {
          AnswerBox(pid);
          editor = FindWindowW(L"RegEdit_RegEdit", nullptr);
          return editor != nullptr;
        },
        20000, 250);
    if (g_boxes == before)
      Fail("Show Key asked nothing");
    if (!g_sawCaution)
      Fail("Show Key did not show the caution prompt");
    if (editor == nullptr && !g_sawNoKey) {
      Fail("Show Key opened no registry editor");
      return;
    }
    if (editor != nullptr) {
      Sleep(1500);
      std::string status;
      for (HWND child : Children(editor))
        if (ClassOf(child) == L"msctls_statusbar32")
          status = Narrow(TextOf(child));
      Log("registry editor open at \"" + status + "\"");
      if (status.find("HKEY_") == std::string::npos)
        Fail("the registry editor shows no key");
      SaveScreenshot(editor, screens + L"\\04b-show-key.bmp");
      PostMessageW(editor, WM_CLOSE, 0, 0);
      WaitFor([] { return FindWindowW(L"RegEdit_RegEdit", nullptr) == nullptr; }, 10000);
    }
    SetForegroundWindow(main);
    Sleep(300);
  }

  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
  }

  // Tabs through the window until the button has the focus, then presses
  // Enter; true when the focus got there.
  bool PressByKeyboard(const std::wstring &text) {
    const HWND target = FindChild(main, L"Button", text);
    if (target == nullptr)
      return false;
    SetForegroundWindow(main);
    Sleep(300);
    for (int i = 0; i < 30 && Focus() != target; ++i)
      PressKey(VK_TAB);
    if (Focus() != target)
      return false;
    Log("focus on \"" + Narrow(text) + "\" by Tab");
    PressKey(VK_RETURN);
    return true;
  }

  // Summary: Enter on the first group expands it; its first category
  // opens by a click on its "Details" link (byClick) or by Down and Enter.
  void OpenDetail(bool byClick, const wchar_t *expandedShot = L"03b-results-expanded.bmp") {
    const HWND summary = FindChildClass(main, L"QuenloRowList");
    if (summary == nullptr) {
      Fail("no results summary");
      return;
    }
    RECT client{};
    GetClientRect(summary, &client);
    POINT first{120, 8};
    ClientToScreen(summary, &first);
    ClickAt(first);
    PressKey(VK_HOME);
    PressKey(VK_RETURN); // expand the group
    if (byClick) {
      Sleep(300);
      Shot(expandedShot);
      // The link sits at the right end of a category row: a group row is 68
      // pixels at 96 DPI, a category row 34, the link ends 16 from the edge.
      const HDC screen = GetDC(nullptr);
      const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
      ReleaseDC(nullptr, screen);
      POINT link{client.right - MulDiv(56, dpi, 96), MulDiv(68 + 17, dpi, 96)};
      ClientToScreen(summary, &link);
      ClickAt(link);
    } else {
      PressKey(VK_DOWN);
      PressKey(VK_RETURN); // its first category
    }
    const bool detail = WaitFor(
        [this] {
          // The caption "Summary" gives way to the category's name.
          return PageShown(main, L"Scan Results") && !PageShown(main, L"Summary");
        },
        10000);
    if (!detail)
      Fail(byClick ? "a click on \"Details\" did not open the detail view"
                   : "the detail view did not open");
    else
      Log(byClick ? "detail view open by its \"Details\" link" : "detail view open");
  }

  // How long the list takes to follow a key: from the key press until its
  // top row has moved (or the time is up). The key goes to the list, which
  // has the focus.
  double KeyResponse(HWND list, WORD vk, bool &moved) {
    // Where the list is: its top row and its focused row (Page Up first
    // moves the focus to the top of the page, then scrolls).
    auto where = [list] {
      return std::make_pair(
          SendMessageW(list, LVM_GETTOPINDEX, 0, 0),
          SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    };
    const auto before = where();
    const ULONGLONG start = GetTickCount64();
    PressKeyNoWait(vk);
    moved = WaitFor([&where, before] { return where() != before; }, 10000, 10);
    return static_cast<double>(GetTickCount64() - start) / 1000.0;
  }

  static void PressKeyNoWait(WORD vk) {
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = vk;
    inputs[1].type = INPUT_KEYBOARD;
    inputs[1].ki.wVk = vk;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
  }

  // One category, many findings: the detail view must open and scroll at
  // once whatever the number of rows.
  int RunLargeList(int expectedRows, double limitSeconds) {
    g_declineFullScan = true;
    if (!WaitForMainWindow())
      return 1;
    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header == nullptr || !ClickButton(header, L"Registry Scan") ||
        !WaitPage(L"Registry Scan", 30000)) {
      Fail("scan page not shown");
      return Finish();
    }
    // Only "Shared DLLs": clear all, then tick it.
    const HWND all = FindChild(main, L"Button", L"Check All/Uncheck All");
    for (int i = 0;
         all != nullptr && i < 3 && SendMessageW(all, BM_GETCHECK, 0, 0) != BST_UNCHECKED; ++i) {
      SendMessageW(all, BM_CLICK, 0, 0);
      Sleep(300);
    }
    const HWND shared = FindChild(main, L"Button", L"Shared DLLs");
    if (shared == nullptr) {
      Fail("no Shared DLLs box");
      return Finish();
    }
    SendMessageW(shared, BM_CLICK, 0, 0);
    Sleep(300);
    if (SendMessageW(shared, BM_GETCHECK, 0, 0) != BST_CHECKED)
      Fail("Shared DLLs is not checked");
    ClickButton(main, L"Scan Now");
    const ULONGLONG scanStart = GetTickCount64();
    if (!WaitPage(L"Scan Results", 1500000)) {
      Fail("results page not shown");
      return Finish();
    }
    Log("scan took " + std::to_string((GetTickCount64() - scanStart) / 1000) + " s");
    const ULONGLONG openStart = GetTickCount64();
    OpenDetail(false);
    const double openSeconds = static_cast<double>(GetTickCount64() - openStart) / 1000.0;
    const HWND list = FindChildClass(main, L"SysListView32");
    const LRESULT rows = list != nullptr ? SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) : 0;
    Log("detail view rows: " + std::to_string(rows) + ", opened in " + std::to_string(openSeconds) +
        " s (with the key presses)");
    if (rows != expectedRows)
      Fail("expected " + std::to_string(expectedRows) + " rows");
    struct TStep {
      WORD vk;
      const char *name;
    };
    const TStep steps[] = {{VK_END, "End"},   {VK_PRIOR, "Page Up"},  {VK_PRIOR, "Page Up"},
                           {VK_HOME, "Home"}, {VK_NEXT, "Page Down"}, {VK_END, "End"}};
    for (const TStep &step : steps) {
      bool moved = false;
      const double seconds = KeyResponse(list, step.vk, moved);
      Log(std::string("key ") + step.name + ": " + std::to_string(seconds) + " s" +
          (moved ? "" : " (did not move)"));
      if (!moved || seconds > limitSeconds)
        Fail(std::string("the list did not follow ") + step.name + " in time");
    }
    Sleep(500);
    Shot(L"08-large-list.bmp");
    return Finish();
  }

  // Every page of the header, with its layout checked (for other DPIs).
  int RunPages() {
    if (!WaitForMainWindow())
      return 1;
    if (!WaitPage(L"PC Status", 30000))
      Fail("status page not shown");
    Shot(L"dpi-01-status.bmp");
    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header != nullptr && ClickButton(header, L"Registry Scan") &&
        WaitPage(L"Registry Scan", 30000))
      Shot(L"dpi-02-scan.bmp");
    else
      Fail("scan page not shown");
    if (header != nullptr && ClickButton(header, L"Optimizer")) {
      WaitFor([this] { return AnswerBox(pid) || PageShown(main, L"Optimize System Performance"); },
              10000);
      WaitPage(L"PC Status", 10000); // a first run refuses it until a full scan
      Shot(L"dpi-03-after-optimizer.bmp");
    }
    // The results: summary, a group opened, one category's problems.
    if (header != nullptr && ClickButton(header, L"Registry Scan") &&
        WaitPage(L"Registry Scan", 30000) && ClickButton(main, L"Scan Now") &&
        WaitPage(L"Scan Results", 600000)) {
      Sleep(500);
      Shot(L"dpi-04-results-summary.bmp");
      OpenDetail(true, L"dpi-05-results-expanded.bmp");
      Sleep(500);
      Shot(L"dpi-06-results-detail.bmp");
    } else {
      Fail("results page not shown");
    }
    return Finish();
  }

  // Whether a Shift press reaches the desktop's key state: a keyboard
  // switched off by the program swallows it before the state changes.
  static bool ShiftReachesTheDesktop() {
    INPUT press{};
    press.type = INPUT_KEYBOARD;
    press.ki.wVk = VK_SHIFT;
    SendInput(1, &press, sizeof(INPUT));
    Sleep(150);
    const bool down = (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
    press.ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &press, sizeof(INPUT));
    Sleep(100);
    return down;
  }

  static HWND ShownTopLevel(const wchar_t *cls) {
    const HWND hwnd = FindWindowW(cls, nullptr);
    return hwnd != nullptr && IsWindowVisible(hwnd) ? hwnd : nullptr;
  }

  // The static texts of a top-level window, for the log.
  static void LogWindowTexts(HWND window, const char *what) {
    std::string line = std::string("texts ") + what + ":";
    for (HWND child : Children(window))
      if (ReallyVisible(child)) {
        const std::string t = Narrow(TextOf(child));
        if (!t.empty())
          line += " [" + t + "]";
      }
    Log(line);
  }

  // Tabs to the tab strip, then moves to the neighbouring tab by the arrow
  // key, as a keyboard user does; true when the strip took the focus.
  bool SwitchTab(HWND tabs, WORD arrow) {
    SetForegroundWindow(main);
    Sleep(300);
    for (int i = 0; i < 60 && Focus() != tabs; ++i)
      PressKey(VK_TAB);
    if (Focus() != tabs)
      return false;
    PressKey(arrow);
    return true;
  }

  // A tweak with a number, reached by Tab and ticked by Space: its
  // description and the number editor show; a second Space takes it back,
  // so nothing is left to apply.
  void TickNumericTweakByKeyboard() {
    const wchar_t *name = L"Change Aero Peek delay time";
    const HWND box = FindChild(main, L"Button", name);
    if (box == nullptr) {
      Log("no \"" + Narrow(name) + "\" on this version");
      return;
    }
    for (int i = 0; i < 60 && Focus() != box; ++i)
      PressKey(VK_TAB);
    if (Focus() != box) {
      Fail("Tab did not reach the tweak \"" + Narrow(name) + "\"");
      return;
    }
    PressKey(VK_SPACE);
    const bool editor = WaitFor(
        [this] {
          const HWND edit = FindChildClass(main, L"Edit");
          return edit != nullptr && IsWindowEnabled(edit) != FALSE;
        },
        5000);
    if (!editor)
      Fail("ticking \"" + Narrow(name) + "\" did not open its number editor");
    LogTexts(main, "optimizer-tweak-selected");
    Shot(L"opt-02b-tweak-number.bmp");
    PressKey(VK_SPACE);
    if (SendMessageW(box, BM_GETCHECK, 0, 0) != BST_UNCHECKED)
      Fail("a second Space did not clear the tweak");
  }

  // The optimizer page, both tabs, then Analyze: the question, the progress
  // cover while the hives are saved, the analysis dialog, cancelled.
  int RunOptimizer() {
    if (!WaitForMainWindow())
      return 1;
    WaitPage(L"PC Status", 30000);
    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header == nullptr || !ClickButton(header, L"Optimizer") ||
        !WaitPage(L"Optimize System Performance", 30000)) {
      Fail("the optimizer page was not shown");
      return Finish();
    }
    Sleep(500);
    LogTexts(main, "optimizer-performance");
    Shot(L"opt-01-performance.bmp");

    const HWND tabs = FindChildClass(main, L"SysTabControl32");
    if (tabs == nullptr) {
      Fail("no tabs on the optimizer page");
    } else if (!SwitchTab(tabs, VK_RIGHT) ||
               !WaitFor([this] { return PageShown(main, L"User Interface Tweaks"); }, 10000)) {
      Fail("the \"Windows Tweaks\" tab was not reached by keyboard");
    } else {
      Log("tab \"Windows Tweaks\" by keyboard");
      LogTexts(main, "optimizer-tweaks");
      Shot(L"opt-02-tweaks.bmp");
      TickNumericTweakByKeyboard();
      if (!SwitchTab(tabs, VK_LEFT) ||
          !WaitFor([this] { return FindChild(main, L"Button", L"Analyze") != nullptr; }, 10000))
        Fail("back to \"System performance\" did not work");
    }

    const bool keyboardObservable = ShiftReachesTheDesktop();
    if (!ClickButton(main, L"Analyze")) {
      Fail("no Analyze button");
      return Finish();
    }
    // The question first (Yes), then the cover while the hives are saved.
    HWND cover = nullptr;
    WaitFor(
        [&] {
          AnswerBox(pid);
          cover = ShownTopLevel(L"QuenloFadeCover");
          return cover != nullptr || ShownTopLevel(L"QuenloAnalysisDialog") != nullptr;
        },
        60000, 20);
    const auto coverUp = [&cover] { return IsWindow(cover) && IsWindowVisible(cover); };
    if (cover == nullptr) {
      Fail("the progress cover was not seen");
    } else {
      Log("progress cover up");
      // The progress window comes right after the cover.
      HWND progress = nullptr;
      WaitFor([&] { return (progress = ShownTopLevel(L"QuenloProgressWindow")) != nullptr; }, 2000,
              10);
      const bool mainEnabled = IsWindowEnabled(main) != FALSE;
      const bool upWhenAsked = coverUp();
      if (upWhenAsked && mainEnabled)
        Fail("the main window accepts input under the cover");
      if (progress == nullptr) {
        Fail("no progress window over the cover");
      } else {
        Sleep(100); // painted
        SaveWholeScreen(screens + L"\\opt-03-cover.bmp");
        LogWindowTexts(progress, "progress");
      }
      // A key pressed while the cover is up: a swallowed press never
      // reaches the key state, even when the cover goes right after.
      if (coverUp()) {
        const bool reached = ShiftReachesTheDesktop();
        Log(std::string("a key under the cover ") + (reached ? "arrived" : "was swallowed"));
        if (reached)
          Fail("the keyboard is on under the cover");
      }
    }

    HWND dialog = nullptr;
    if (!WaitFor(
            [&] {
              AnswerBox(pid);
              dialog = ShownTopLevel(L"QuenloAnalysisDialog");
              return dialog != nullptr;
            },
            300000, 250)) {
      Fail("the analysis dialog did not open");
      return Finish();
    }
    Log("analysis dialog open");
    if (ShownTopLevel(L"QuenloFadeCover") != nullptr)
      Fail("the cover is still up with the analysis dialog");
    LogWindowTexts(dialog, "analysis");
    SaveScreenshot(dialog, screens + L"\\opt-04-analysis.bmp");
    // Escape by real input: it also shows the keyboard is back.
    SetForegroundWindow(dialog);
    Sleep(300);
    PressKey(VK_ESCAPE);
    if (!WaitFor([] { return ShownTopLevel(L"QuenloAnalysisDialog") == nullptr; }, 10000)) {
      Fail("Escape did not cancel the analysis dialog");
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    } else {
      Log("analysis dialog cancelled by Escape");
    }
    if (!WaitFor([this] { return IsWindowEnabled(main) != FALSE; }, 10000))
      Fail("the main window stayed disabled");
    if (keyboardObservable && !ShiftReachesTheDesktop())
      Fail("the keyboard did not come back");
    WaitFor([this] { return AnswerBox(pid); }, 2000, 250);
    Shot(L"opt-05-after.bmp");
    return Finish();
  }

  // --- the monitor page
  HWND MonitorList() const { return FindChildClass(main, L"SysListView32"); }

  int ListRows() const {
    const HWND list = MonitorList();
    return list != nullptr ? static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : -1;
  }

  bool HasStatic(const std::wstring &text) const {
    return FindChild(main, L"Static", text) != nullptr;
  }

  // The columns' titles and every row's texts, logged; false when a row
  // differs from what was changed.
  bool CheckRows(const std::vector<TExpectedRow> &expected) {
    const HWND list = MonitorList();
    if (list == nullptr) {
      Fail("no list on the monitor page");
      return false;
    }
    TRemoteBuffer remote(list);
    if (!remote.Ok()) {
      Fail("no memory in the program's process for the list's texts");
      return false;
    }
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const wchar_t *titles[] = {L"Time", L"Subkey / Value", L"Action",   L"Registry Location",
                               L"View", L"Type",           L"Old data", L"New data"};
    std::string heading = "columns:";
    for (int c = 0; c < 8; ++c) {
      const std::wstring title = remote.HeaderText(header, c);
      heading += " [" + Narrow(title) + "]";
      if (title != titles[c])
        Fail("column " + std::to_string(c) + " is \"" + Narrow(title) + "\", not \"" +
             Narrow(titles[c]) + "\"");
    }
    Log(heading);
    {
      RECT client{};
      GetClientRect(list, &client);
      std::string widths = "list client width " + std::to_string(client.right) + ", columns";
      LRESULT total = 0;
      for (int c = 0; c < 8; ++c) {
        const LRESULT w = SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0);
        total += w;
        widths += " " + std::to_string(w);
      }
      Log(widths);
      // At the usual DPI every column fits beside the vertical scroll bar,
      // so that none is cut off; a larger DPI may scroll sideways.
      const HDC screen = GetDC(nullptr);
      const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
      ReleaseDC(nullptr, screen);
      const bool scrollBar = (GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL) != 0;
      const LRESULT room = client.right - (scrollBar ? 0 : GetSystemMetrics(SM_CXVSCROLL));
      if (dpi <= 96 && total > room)
        Fail("the columns need " + std::to_string(total) + " pixels, the list has " +
             std::to_string(room));
    }
    bool ok = true;
    const int rows = ListRows();
    for (int row = 0; row < rows; ++row) {
      std::wstring cells[8];
      std::string line = "row " + std::to_string(row) + ":";
      for (int c = 0; c < 8; ++c) {
        cells[c] = remote.ListText(list, row, c);
        line += " [" + Narrow(cells[c]) + "]";
      }
      Log(line);
      if (static_cast<std::size_t>(row) >= expected.size())
        continue;
      const TExpectedRow &e = expected[static_cast<std::size_t>(row)];
      const bool same = cells[1] == e.name && cells[2] == e.action && cells[3] == e.location &&
                        cells[5] == e.type && cells[6] == e.oldData && cells[7] == e.newData;
      // The time of day is written with its seconds: it has a colon.
      const bool timed = cells[0].find(L':') != std::wstring::npos;
      if (!same || !timed) {
        Fail("row " + std::to_string(row) + " is not the change \"" + Narrow(e.name) + "\" " +
             Narrow(e.action) + " in " + Narrow(e.location));
        ok = false;
      }
    }
    if (rows != static_cast<int>(expected.size())) {
      Fail("the list has " + std::to_string(rows) + " rows, expected " +
           std::to_string(expected.size()));
      ok = false;
    }
    return ok;
  }

  // The row menu by keyboard on the first row, its screenshot, then "Show
  // Key": the caution prompt, then the registry editor at the row's key.
  void RowMenuAndShowKey(const std::wstring &expectedKey) {
    const HWND list = MonitorList();
    SetForegroundWindow(main);
    Sleep(300);
    for (int i = 0; i < 30 && Focus() != list; ++i)
      PressKey(VK_TAB);
    if (Focus() != list) {
      Fail("Tab did not reach the list of changes");
      return;
    }
    PressKey(VK_HOME);
    PressKey(VK_APPS);
    HWND menu = nullptr;
    if (!WaitFor(
            [&] {
              menu = FindTopLevel(L"#32768", pid);
              return menu != nullptr && IsWindowVisible(menu);
            },
            5000)) {
      Fail("the menu key opened no row menu");
      return;
    }
    Log("row menu open");
    Sleep(300);
    SaveScreenArea(
        [this] {
          RECT r{};
          GetClientRect(main, &r);
          MapWindowPoints(main, nullptr, reinterpret_cast<POINT *>(&r), 2);
          return r;
        }(),
        screens + L"\\mon-02-menu.bmp");
    // Closed, and opened again by Shift+F10, the other key for it.
    PressKey(VK_ESCAPE);
    if (!WaitFor([&] { return !IsWindow(menu) || !IsWindowVisible(menu); }, 5000))
      Fail("Escape did not close the row menu");
    INPUT shiftF10[4] = {};
    for (INPUT &in : shiftF10)
      in.type = INPUT_KEYBOARD;
    shiftF10[0].ki.wVk = VK_SHIFT;
    shiftF10[1].ki.wVk = VK_F10;
    shiftF10[2].ki.wVk = VK_F10;
    shiftF10[2].ki.dwFlags = KEYEVENTF_KEYUP;
    shiftF10[3].ki.wVk = VK_SHIFT;
    shiftF10[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, shiftF10, sizeof(INPUT));
    if (!WaitFor(
            [&] {
              menu = FindTopLevel(L"#32768", pid);
              return menu != nullptr && IsWindowVisible(menu);
            },
            5000)) {
      Fail("Shift+F10 opened no row menu");
      return;
    }
    Log("row menu open by Shift+F10");
    PressKey(VK_DOWN); // the one entry, "Show Key"
    PressKey(VK_RETURN);
    const int before = g_boxes;
    HWND editor = nullptr;
    WaitFor(
        [this, &editor] {
          AnswerBox(pid);
          editor = FindWindowW(L"RegEdit_RegEdit", nullptr);
          return editor != nullptr;
        },
        20000, 250);
    if (g_boxes == before || !g_sawCaution)
      Fail("Show Key did not ask with the caution prompt");
    if (editor == nullptr) {
      Fail("Show Key opened no registry editor");
      return;
    }
    // The program walks the editor's tree to the key once the editor waits
    // for input: the status bar names the key when it is there.
    std::string status;
    WaitFor(
        [&] {
          for (HWND child : Children(editor))
            if (ClassOf(child) == L"msctls_statusbar32")
              status = Narrow(TextOf(child));
          return status.find(Narrow(expectedKey)) != std::string::npos;
        },
        20000, 250);
    Log("registry editor open at \"" + status + "\"");
    // The key exists (else the program says so instead of opening the
    // editor). The walk to it types the path into the editor's tree, which
    // Wine's tree does not always follow: where it stopped is logged.
    if (status.find("HKEY_") == std::string::npos)
      Fail("the registry editor shows no key");
    else if (status.find(Narrow(expectedKey)) == std::string::npos)
      Log("the editor's tree stopped short of " + Narrow(expectedKey));
    SaveScreenshot(editor, screens + L"\\mon-03-show-key.bmp");
    PostMessageW(editor, WM_CLOSE, 0, 0);
    WaitFor([] { return FindWindowW(L"RegEdit_RegEdit", nullptr) == nullptr; }, 10000);
    SetForegroundWindow(main);
    Sleep(300);
  }

  // The Export button's menu, its entry number `entry` (from 0), then the
  // Save As dialog titled `title`: the file name typed in, saved; the
  // program's report of what it wrote is logged.
  bool ExportTo(int entry, const wchar_t *title, const std::wstring &file) {
    SetForegroundWindow(main);
    Sleep(300);
    if (!ClickButton(main, L"Export"))
      return false;
    HWND menu = nullptr;
    if (!WaitFor(
            [&] {
              menu = FindTopLevel(L"#32768", pid);
              return menu != nullptr && IsWindowVisible(menu);
            },
            5000)) {
      Fail("Export opened no menu");
      return false;
    }
    for (int i = 0; i <= entry; ++i)
      PressKey(VK_DOWN);
    PressKey(VK_RETURN);
    HWND dialog = nullptr;
    if (!WaitFor(
            [&] {
              dialog = FindWindowW(L"#32770", title);
              return dialog != nullptr && IsWindowVisible(dialog);
            },
            15000)) {
      Fail(std::string("no Save As dialog \"") + Narrow(title) + "\"");
      return false;
    }
    Sleep(500);
    // The file name box of the system's dialog (edt1), else its first edit box.
    HWND name = GetDlgItem(dialog, 0x480);
    if (name == nullptr)
      name = FindChildClass(dialog, L"Edit");
    if (name == nullptr) {
      Fail("the Save As dialog has no file name box");
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      return false;
    }
    SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file.c_str()),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    if (!WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 10000)) {
      Fail("the Save As dialog did not close");
      return false;
    }
    const int before = g_boxes;
    WaitFor([this] { return AnswerBox(pid); }, 15000, 250);
    if (g_boxes == before)
      Fail(std::string("the export to ") + Narrow(file) + " said nothing");
    Log("exported " + Narrow(file));
    return true;
  }

  // Pause: a change is counted, not listed; Resume: the next one is listed.
  void PauseAndResume() {
    const int rows = ListRows();
    if (!ClickButton(main, L"Pause") ||
        !WaitFor([this] { return FindChild(main, L"Button", L"Resume") != nullptr; }, 5000)) {
      Fail("Pause did not turn into Resume");
      return;
    }
    if (!SetString(L"Key1", L"WhilePaused", L"counted"))
      Fail("the change while paused could not be made");
    if (!WaitFor([this] { return HasStatic(L"Paused: 1 change not listed"); }, 10000))
      Fail("the page does not count the change made while paused");
    if (ListRows() != rows)
      Fail("a change made while paused was listed");
    LogTexts(main, "monitor-paused");
    Shot(L"mon-03b-paused.bmp");
    if (!ClickButton(main, L"Resume") ||
        !WaitFor([this] { return FindChild(main, L"Button", L"Pause") != nullptr; }, 5000)) {
      Fail("Resume did not turn back into Pause");
      return;
    }
    if (!SetString(L"Key1", L"AfterResume", L"listed") ||
        !WaitFor([&] { return ListRows() == rows + 1; }, 15000, 50))
      Fail("a change after Resume was not listed");
    else
      Log("paused change counted, change after Resume listed");
  }

  // Many changes: the newest row stays in view while the end of the list
  // is shown; a user who went back to the top keeps that place.
  void FollowNewest() {
    const HWND list = MonitorList();
    auto lastShown = [list] {
      const LRESULT top = SendMessageW(list, LVM_GETTOPINDEX, 0, 0);
      const LRESULT page = SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0);
      return top + page >= SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    };
    const int rows = ListRows();
    constexpr int kBurst = 60;
    for (int i = 0; i < kBurst; ++i)
      SetString(L"Key1", (L"Burst" + std::to_wstring(i)).c_str(), L"x");
    if (!WaitFor([&] { return ListRows() == rows + kBurst; }, 30000, 50)) {
      Fail("a burst of " + std::to_string(kBurst) + " changes was not listed");
      return;
    }
    Sleep(300);
    if (!lastShown())
      Fail("the newest row is not in view after a burst of changes");
    Shot(L"mon-03c-burst.bmp");
    SetForegroundWindow(main);
    Sleep(300);
    for (int i = 0; i < 30 && Focus() != list; ++i)
      PressKey(VK_TAB);
    if (Focus() != list) {
      Fail("Tab did not reach the list after the burst (foreground " +
           Narrow(ClassOf(GetForegroundWindow())) + ")");
      return;
    }
    // Down first: Home on a list whose focus is already on the first row
    // does not scroll.
    PressKey(VK_DOWN);
    PressKey(VK_HOME);
    if (!WaitFor([list] { return SendMessageW(list, LVM_GETTOPINDEX, 0, 0) == 0; }, 3000)) {
      Fail("Home did not bring the list to its top (top row " +
           std::to_string(SendMessageW(list, LVM_GETTOPINDEX, 0, 0)) + ", focused row " +
           std::to_string(
               SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)) +
           ", foreground " + Narrow(ClassOf(GetForegroundWindow())) + ")");
      return;
    }
    SetString(L"Key1", L"WhileAtTop", L"x");
    if (!WaitFor([&] { return ListRows() == rows + kBurst + 1; }, 15000, 50))
      Fail("the change made while at the top was not listed");
    Sleep(300);
    if (SendMessageW(list, LVM_GETTOPINDEX, 0, 0) != 0)
      Fail("the list left the top the user went back to");
    else
      Log("the newest row followed the burst; the top stayed where the user went");
  }

  // A minimise on the monitor page: the window goes to the monitor's tray
  // icon (hidden, no taskbar button) or, where the shell refused the icon,
  // stays minimised with its taskbar button. Then back by the tray icon or,
  // without one, by starting the program again.
  void MinimiseToTray(const std::wstring &exe) {
    PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    WaitFor([this] { return !IsWindowVisible(main) || IsIconic(main); }, 10000);
    Sleep(1000);
    Log("after the minimise:" + VisibleTopLevels());
    const HWND owner = FindTopLevel(L"QuenloMonitorTray", pid);
    if (owner == nullptr || IsWindowVisible(owner))
      Fail("the monitor's tray window is missing or shown");
    // Without a desktop of its own, Wine shows the icons in a small window
    // of their own, there only while an icon exists; elsewhere the taskbar.
    HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    if (tray == nullptr || !IsWindowVisible(tray))
      tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    const bool trayShown = tray != nullptr && IsWindowVisible(tray);
    if (!IsWindowVisible(main)) {
      Log("the main window is hidden (in the tray)");
      if (!trayShown)
        Fail("the window hid, but no tray shows its icon");
      // Only the tray: without a window manager nothing repaints the screen
      // where the hidden window was.
      if (trayShown) {
        RECT area{};
        GetWindowRect(tray, &area);
        SaveScreenArea(area, screens + L"\\mon-04-tray.bmp");
      }
    } else if (IsIconic(main)) {
      Log("the main window stayed minimised with its taskbar button (no tray icon)");
      if (trayShown)
        Fail("a tray is shown, yet the window did not go to it");
    } else {
      Fail("the minimise did nothing");
    }
    // Explorer started again: the shell forgets every icon and tells the
    // top-level windows. Here the icon is taken off as the shell would (the
    // program's owner window, its icon number 2) and the broadcast sent:
    // the icon must come back.
    if (!IsWindowVisible(main) && trayShown && owner != nullptr) {
      NOTIFYICONDATAW icon{};
      icon.cbSize = sizeof(icon);
      icon.hWnd = owner;
      icon.uID = 2;
      if (!Shell_NotifyIconW(NIM_DELETE, &icon)) {
        Fail("the monitor's icon could not be taken off");
      } else {
        WaitFor([tray] { return !IsWindowVisible(tray); }, 5000);
        PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
        if (WaitFor([tray] { return IsWindowVisible(tray) != FALSE; }, 10000))
          Log("the icon came back after the shell's restart message");
        else
          Fail("the icon did not come back after the shell's restart message");
      }
    }
    // Back: a double click on the tray's icon, else a second start.
    if (!IsWindowVisible(main) && trayShown) {
      // The only icon: the first place in the window.
      RECT r{};
      GetClientRect(tray, &r);
      POINT icon{GetSystemMetrics(SM_CXSMICON) / 2 + 2, (r.bottom - r.top) / 2};
      ClientToScreen(tray, &icon);
      SetCursorPos(icon.x, icon.y);
      INPUT clicks[4] = {};
      for (int i = 0; i < 4; ++i) {
        clicks[i].type = INPUT_MOUSE;
        clicks[i].mi.dwFlags = i % 2 == 0 ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
      }
      SendInput(4, clicks, sizeof(INPUT));
      if (WaitFor([this] { return IsWindowVisible(main) && !IsIconic(main); }, 10000))
        Log("back from the tray by its icon");
      else
        Log("a click on the tray's icon did not bring the window back");
    }
    if (!IsWindowVisible(main) || IsIconic(main)) {
      STARTUPINFOW startup{};
      startup.cb = sizeof(startup);
      PROCESS_INFORMATION process{};
      std::wstring line = L"\"" + exe + L"\"";
      if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process)) {
        CloseHandle(process.hThread);
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hProcess);
      }
      if (WaitFor([this] { return IsWindowVisible(main) && !IsIconic(main); }, 15000))
        Log("back by a second start");
      else
        Fail("the window did not come back");
    }
  }

  int RunMonitor(int watchPoints, const std::wstring &exe) {
    if (!WaitForMainWindow())
      return 1;
    WaitPage(L"PC Status", 30000);
    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header == nullptr || !ClickButton(header, L"Monitor") ||
        !WaitPage(L"Registry Monitor", 30000)) {
      Fail("the monitor page was not shown");
      return Finish();
    }
    Sleep(500);
    LogTexts(main, "monitor-off");
    if (!HasStatic(L"Monitoring: OFF"))
      Fail("the counter does not say the monitor is off");
    Shot(L"mon-00-off.bmp");
    if (!PressByKeyboard(L"Start")) {
      Fail("Tab and Enter did not reach \"Start\"");
      ClickButton(main, L"Start");
    }
    const std::wstring watching = watchPoints == 1
                                      ? L"1 Active Watch Point"
                                      : std::to_wstring(watchPoints) + L" Active Watch Points";
    if (!WaitFor(
            [&] {
              AnswerBox(pid);
              return HasStatic(watching);
            },
            30000)) {
      LogTexts(main, "monitor-started");
      Fail("the page does not say \"" + Narrow(watching) + "\"");
      return Finish();
    }
    Log("monitor on: " + Narrow(watching));
    if (FindChild(main, L"Button", L"Stop") == nullptr || FindChild(main, L"Button", L"Start"))
      Fail("Stop does not take the place of Start");

    // Known changes, one after the other (each is seen before the next).
    const std::vector<TExpectedRow> expected = {
        {L"Colour", L"Value created", L"HKCU\\Software\\QuenloMonitorTest\\Key1", L"REG_SZ", L"",
         L"blue"},
        {L"Colour", L"Value changed", L"HKCU\\Software\\QuenloMonitorTest\\Key1", L"REG_SZ",
         L"blue", L"green"},
        {L"Child", L"Subkey created", L"HKCU\\Software\\QuenloMonitorTest\\Key2\\Child", L"", L"",
         L""},
        {L"Seed", L"Value deleted", L"HKCU\\Software\\QuenloMonitorTest\\Key2", L"REG_SZ",
         L"planted", L""},
    };
    const std::function<bool()> changes[] = {
        [] { return SetString(L"Key1", L"Colour", L"blue"); },
        [] { return SetString(L"Key1", L"Colour", L"green"); },
        [] { return CreateSubkey(L"Key2", L"Child"); },
        [] { return DeleteValue(L"Key2", L"Seed"); },
    };
    int made = 0;
    for (const auto &change : changes) {
      if (!change()) {
        Fail("change " + std::to_string(made + 1) + " could not be made");
        break;
      }
      ++made;
      const ULONGLONG start = GetTickCount64();
      if (!WaitFor([&] { return ListRows() >= made; }, 15000, 50))
        Fail("change " + std::to_string(made) + " was not listed within 15 s");
      else
        Log("change " + std::to_string(made) + " listed after " +
            std::to_string(GetTickCount64() - start) + " ms");
    }
    Sleep(500);
    LogTexts(main, "monitor-changes");
    const std::wstring counted = L"Monitoring: " + std::to_wstring(expected.size()) + L" changes";
    if (!HasStatic(counted))
      Fail("the counter does not say \"" + Narrow(counted) + "\"");
    CheckRows(expected);
    Shot(L"mon-01-page.bmp");
    RowMenuAndShowKey(L"HKEY_CURRENT_USER\\Software\\QuenloMonitorTest\\Key1");
    // The four changes as CSV, and the file that undoes them (checked by
    // the script once the program has ended).
    ExportTo(0, L"Save list as CSV", screens + L"\\monitor-export.csv");
    ExportTo(2, L"Save undo file", screens + L"\\monitor-undo.reg");
    PauseAndResume();
    FollowNewest();
    MinimiseToTray(exe);

    // Stop: Start comes back, the watch points are gone, and a later
    // change is not listed.
    if (!ClickButton(main, L"Stop") ||
        !WaitFor([&] { return FindChild(main, L"Button", L"Start") != nullptr; }, 15000))
      Fail("Stop did not switch the monitor off");
    if (HasStatic(watching))
      Fail("the page still counts watch points after Stop");
    const int rows = ListRows();
    if (!SetString(L"Key1", L"After", L"stopped"))
      Fail("the change after Stop could not be made");
    Sleep(2000);
    if (ListRows() != rows)
      Fail("a change after Stop was listed");
    LogTexts(main, "monitor-stopped");
    Shot(L"mon-05-stopped.bmp");
    if (!ClickButton(main, L"Clear") || !WaitFor([this] { return ListRows() == 0; }, 5000))
      Fail("Clear did not empty the list");
    // The page's own "Settings" link (the header has a button of that name
    // too) opens the settings page.
    HWND page = nullptr;
    for (HWND child : Children(main))
      if (GetParent(child) == main && ReallyVisible(child) && ClassOf(child) == L"QuenloPage")
        page = child;
    if (page == nullptr || !ClickButton(page, L"Settings") ||
        !WaitFor([this] { return !PageShown(main, L"Registry Monitor"); }, 10000))
      Fail("the page's Settings link did not open the settings");
    else
      Log("the Settings link left the monitor page");
    return Finish();
  }

  // --- the history page
  void ClickControl(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  }

  static void DoubleClickAt(POINT screen) {
    SetCursorPos(screen.x, screen.y);
    INPUT inputs[4] = {};
    for (INPUT &input : inputs)
      input.type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = inputs[3].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(4, inputs, sizeof(INPUT));
    Sleep(400);
  }

  // Tabs until the control has the focus; true when it got there.
  bool TabTo(HWND target) {
    SetForegroundWindow(main);
    Sleep(300);
    for (int i = 0; i < 90 && Focus() != target; ++i)
      PressKey(VK_TAB);
    return Focus() == target;
  }

  static LRESULT CheckOf(HWND box) { return SendMessageW(box, BM_GETCHECK, 0, 0); }

  // The shown list's column titles and rows, logged.
  struct TListTexts {
    std::vector<std::wstring> columns;
    std::vector<std::vector<std::wstring>> rows;
    const std::vector<std::wstring> *Row(const std::wstring &first) const {
      for (const auto &row : rows)
        if (!row.empty() && row[0] == first)
          return &row;
      return nullptr;
    }
  };

  TListTexts ReadList(const char *what) {
    TListTexts texts;
    const HWND list = MonitorList();
    if (list == nullptr) {
      Fail(std::string("no list on the ") + what);
      return texts;
    }
    TRemoteBuffer remote(list);
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    std::string line = std::string(what) + " columns:";
    for (int c = 0; c < columns; ++c) {
      texts.columns.push_back(remote.HeaderText(header, c));
      line += " [" + Narrow(texts.columns.back()) + "]";
    }
    Log(line);
    for (int row = 0; row < ListRows(); ++row) {
      std::vector<std::wstring> cells;
      line = std::string(what) + " row " + std::to_string(row) + ":";
      for (int c = 0; c < columns; ++c) {
        cells.push_back(remote.ListText(list, row, c));
        line += " [" + Narrow(cells.back()) + "]";
      }
      Log(line);
      texts.rows.push_back(std::move(cells));
    }
    return texts;
  }

  // A count cell's number; -1 when it holds none.
  static long CountIn(const std::vector<std::wstring> *row, std::size_t column = 1) {
    if (row == nullptr || row->size() <= column || (*row)[column].empty())
      return -1;
    return std::wcstol((*row)[column].c_str(), nullptr, 10);
  }

  bool SawBox(const std::wstring &start, std::size_t from) const {
    for (std::size_t i = from; i < g_boxTexts.size(); ++i)
      if (g_boxTexts[i].rfind(start, 0) == 0)
        return true;
    return false;
  }

  // Clears every box with the all-box, ticks the three categories the
  // script seeded, each in another way a user has.
  bool TickSeededCategories() {
    const HWND all = FindChild(main, L"Button", L"Check All/Uncheck All");
    const HWND analyze = FindChild(main, L"Button", L"Analyze");
    const HWND clean = FindChild(main, L"Button", L"Clean");
    const HWND runMenu = FindChild(main, L"Button", L"Run Menu");
    const HWND temp = FindChild(main, L"Button", L"Temp Files");
    const HWND recent = FindChild(main, L"Button", L"Recent Docs");
    if (all == nullptr || analyze == nullptr || clean == nullptr || runMenu == nullptr ||
        temp == nullptr || recent == nullptr) {
      Fail("the category page lacks the all-box, Analyze, Clean or a category box");
      return false;
    }
    // Grey or ticked first: at most two clicks clear it.
    for (int i = 0; i < 3 && CheckOf(all) != BST_UNCHECKED; ++i)
      ClickControl(all);
    if (CheckOf(all) != BST_UNCHECKED || CheckOf(runMenu) != BST_UNCHECKED ||
        CheckOf(temp) != BST_UNCHECKED)
      Fail("the all-box did not clear every category");
    if (IsWindowEnabled(analyze) != FALSE || IsWindowEnabled(clean) != FALSE)
      Fail("Analyze or Clean is usable with no category ticked");
    if (!TabTo(runMenu)) {
      Fail("Tab did not reach \"Run Menu\"");
      SendMessageW(runMenu, BM_CLICK, 0, 0);
    } else {
      PressKey(VK_SPACE);
      Log("\"Run Menu\" ticked by Space");
    }
    ClickControl(temp);
    SendMessageW(recent, BM_CLICK, 0, 0);
    Sleep(300);
    bool ok = true;
    for (const auto &[box, name] : {std::pair{runMenu, "Run Menu"}, std::pair{temp, "Temp Files"},
                                    std::pair{recent, "Recent Docs"}})
      if (CheckOf(box) != BST_CHECKED) {
        Fail(std::string("\"") + name + "\" is not ticked");
        ok = false;
      }
    if (CheckOf(all) != BST_INDETERMINATE)
      Fail("with some categories ticked the all-box is not greyed");
    if (IsWindowEnabled(analyze) == FALSE || IsWindowEnabled(clean) == FALSE)
      Fail("Analyze or Clean is not usable with categories ticked");
    return ok;
  }

  // What a detail view opened from the summary is expected to show.
  struct TDetailExpectation {
    std::wstring row;                  // the summary row double-clicked
    std::wstring title;                // the detail view's title
    std::wstring column;               // its first column's caption
    std::vector<std::wstring> entries; // each is part of some row's first cell
  };

  // Double click on a row opens its details; Enter on ".." comes back.
  void HistoryDetail(const TListTexts &summary, const TDetailExpectation &expected,
                     const wchar_t *shot) {
    const std::string row = Narrow(expected.row);
    int index = -1;
    for (std::size_t i = 0; i < summary.rows.size(); ++i)
      if (summary.rows[i][0] == expected.row)
        index = static_cast<int>(i);
    const HWND list = MonitorList();
    if (index < 0 || list == nullptr)
      return;
    TRemoteBuffer remote(list);
    const RECT place = remote.ListRowRect(list, index);
    if (place.bottom <= place.top) {
      Fail("the \"" + row + "\" row has no place in the list");
      return;
    }
    POINT at{place.left + 40, (place.top + place.bottom) / 2};
    ClientToScreen(list, &at);
    DoubleClickAt(at);
    if (!WaitFor([&] { return PageShown(main, expected.title); }, 10000)) {
      Fail("a double click on \"" + row + "\" did not open its details");
      return;
    }
    Log("detail view of \"" + row + "\" open by double click");
    Sleep(300);
    const TListTexts detail = ReadList("detail");
    if (detail.columns.empty() || detail.columns[0] != expected.column)
      Fail("the " + row + " details are not captioned \"" + Narrow(expected.column) + "\"");
    if (detail.rows.empty() || detail.rows[0][0] != L"..")
      Fail("the detail view does not start with \"..\"");
    for (const std::wstring &entry : expected.entries) {
      bool found = false;
      for (const auto &cells : detail.rows)
        found = found || cells[0].find(entry) != std::wstring::npos;
      if (!found)
        Fail("the detail view does not list " + Narrow(entry));
    }
    Shot(shot);
    // Back by keyboard: the list keeps the focus; Enter on its first row.
    PressKey(VK_HOME);
    PressKey(VK_RETURN);
    if (!WaitFor([this] { return PageShown(main, L"History Analysis Summary"); }, 10000))
      Fail("Enter on \"..\" did not return to the summary");
    else
      Log("back to the summary by Enter on \"..\"");
  }

  // A pass just started: while its progress bar shows, the page's layout
  // with the bar in its place is checked (a short pass may end unseen).
  void WhileHistoryPassRuns(const wchar_t *what, const wchar_t *endTitle) {
    const std::string name = Narrow(what);
    const auto bar = [this] { return FindChildClass(main, L"msctls_progress32"); };
    WaitFor([&] { return bar() != nullptr || PageShown(main, endTitle); }, 10000, 10);
    if (bar() == nullptr) {
      Log(name + ": the pass ended before its progress was seen");
      return;
    }
    CheckLayout(name);
    LogTexts(main, name.c_str());
    // As it stands, not repainted first: the pass may end any moment.
    RECT r{};
    GetClientRect(main, &r);
    MapWindowPoints(main, nullptr, reinterpret_cast<POINT *>(&r), 2);
    SaveScreenArea(r, screens + L"\\" + what + L".bmp");
  }

  int RunHistory() {
    if (!WaitForMainWindow())
      return 1;
    WaitPage(L"PC Status", 30000);
    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header == nullptr || !ClickButton(header, L"History") ||
        !WaitPage(L"Clean History", 30000)) {
      Fail("the history page was not shown");
      return Finish();
    }
    Sleep(500);
    if (!TickSeededCategories())
      return Finish();
    LogTexts(main, "history-categories");
    Shot(L"history-categories.bmp");

    ClickControl(FindChild(main, L"Button", L"Analyze"));
    WhileHistoryPassRuns(L"history-analyzing", L"History Analysis Summary");
    if (!WaitPage(L"History Analysis Summary", 300000)) {
      Fail("the analysis summary was not shown");
      return Finish();
    }
    Sleep(500);
    LogTexts(main, "history-summary");
    const TListTexts summary = ReadList("summary");
    if (summary.columns != std::vector<std::wstring>{L"Section", L"Count", L"Size"})
      Fail("the summary's columns are not Section, Count, Size");
    if (CountIn(summary.Row(L"Run Menu")) != 2)
      Fail("the summary does not count the 2 seeded Run Menu entries");
    if (CountIn(summary.Row(L"Temp Files")) < 3)
      Fail("the summary does not count the 3 seeded temporary files");
    if (CountIn(summary.Row(L"Recent Docs")) < 1)
      Fail("the summary does not count the seeded recent document");
    if (summary.rows.size() != 3)
      Fail("the summary lists other categories than the ticked ones");
    if (!HasStatic(L"Total # of Files to Remove:") || !HasStatic(L"Space Freed"))
      Fail("the summary does not show its two figures");
    Shot(L"history-summary.bmp");

    HistoryDetail(summary,
                  {.row = L"Run Menu",
                   .title = L"Run Menu Details",
                   .column = L"Data",
                   .entries = {L"notepad", L"regedit"}},
                  L"history-detail.bmp");

    const std::size_t boxesBefore = g_boxTexts.size();
    if (!ClickButton(main, L"Clean"))
      Fail("no Clean on the summary page");
    WhileHistoryPassRuns(L"history-cleaning", L"History Clean Result");
    if (!WaitPage(L"History Clean Result", 300000)) {
      Fail("the clean result was not shown");
      return Finish();
    }
    // The closing message may come just after the result.
    WaitFor(
        [&] {
          AnswerBox(pid);
          return SawBox(L"Clean history completed.", boxesBefore);
        },
        10000, 250);
    if (!SawBox(L"Clean history completed.", boxesBefore))
      Fail("the clean did not end with \"Clean history completed.\"");
    if (SawBox(L"The following applications should be closed", boxesBefore))
      Fail("the clean asked to close a browser when none runs");
    Sleep(500);
    LogTexts(main, "history-result");
    const TListTexts result = ReadList("result");
    if (CountIn(result.Row(L"Run Menu")) != 2)
      Fail("the clean result does not count the 2 Run Menu entries removed");
    if (CountIn(result.Row(L"Temp Files")) < 3)
      Fail("the clean result does not count the temporary files removed");
    const std::vector<std::wstring> *total = result.Row(L"Total:");
    if (total == nullptr || total->size() < 2 ||
        ((*total)[1].find(L" Items") == std::wstring::npos && (*total)[1] != L"1 Item"))
      Fail("the clean result has no \"Total:\" line with its items");
    if (HasStatic(L"Total # of Files to Remove:"))
      Fail("the clean result still shows the analysis figures");
    Shot(L"history-result.bmp");

    if (!ClickButton(main, L"Back") || !WaitPage(L"Clean History", 10000))
      Fail("Back did not return to the category page");
    return Finish();
  }

  // --- the history page while a browser runs
  // The history page's category page, shown from the header if another
  // page is up.
  bool ShowHistoryCategories() {
    if (!WaitForMainWindow())
      return false;
    if (FindChild(main, L"Button", L"Check All/Uncheck All") != nullptr)
      return true;
    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header == nullptr || !ClickButton(header, L"History") ||
        !WaitPage(L"Clean History", 30000)) {
      Fail("the history page was not shown");
      return false;
    }
    Sleep(500);
    return true;
  }

  // The box captioned caption in the column headed group ("Firefox"):
  // the browsers' columns share their box captions.
  HWND BoxUnder(const wchar_t *group, const wchar_t *caption) {
    const HWND head = FindChild(main, L"Static", group);
    if (head == nullptr)
      return nullptr;
    RECT h{};
    GetWindowRect(head, &h);
    for (HWND child : Children(main)) {
      if (!ReallyVisible(child) || ClassOf(child) != L"Button" || TextOf(child) != caption)
        continue;
      RECT r{};
      GetWindowRect(child, &r);
      if (r.left >= h.left && r.left < h.right && r.top >= h.bottom)
        return child;
    }
    return nullptr;
  }

  // Firefox's History and Run Menu, the only boxes ticked.
  bool BrowserCategoriesTicked(HWND firefox, HWND runMenu) {
    int ticked = 0;
    for (HWND child : Children(main))
      if (ReallyVisible(child) && ClassOf(child) == L"Button" &&
          (GetWindowLongW(child, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX &&
          TextOf(child) != L"Also delete the downloaded files" && CheckOf(child) == BST_CHECKED)
        ++ticked;
    return ticked == 2 && CheckOf(firefox) == BST_CHECKED && CheckOf(runMenu) == BST_CHECKED;
  }

  // Clears every box and ticks Firefox's History and Run Menu by clicks.
  bool TickBrowserCategories() {
    const HWND all = FindChild(main, L"Button", L"Check All/Uncheck All");
    const HWND firefox = BoxUnder(L"Firefox", L"History");
    const HWND runMenu = FindChild(main, L"Button", L"Run Menu");
    if (all == nullptr || firefox == nullptr || runMenu == nullptr) {
      Fail("the category page lacks the all-box, Firefox's History or Run Menu");
      return false;
    }
    for (int i = 0; i < 3 && CheckOf(all) != BST_UNCHECKED; ++i)
      ClickControl(all);
    ClickControl(firefox);
    ClickControl(runMenu);
    if (!BrowserCategoriesTicked(firefox, runMenu)) {
      Fail("clicks did not tick exactly Firefox's History and Run Menu");
      return false;
    }
    Log("Firefox's History and Run Menu ticked by clicks");
    return true;
  }

  // The next box of the program, its text and caption recorded; nullptr
  // when none came in time.
  HWND NextBox(DWORD timeoutMs, std::wstring &text) {
    HWND box = nullptr;
    WaitFor([&] { return (box = FindMessageBox(pid)) != nullptr; }, timeoutMs, 100);
    if (box == nullptr)
      return nullptr;
    Sleep(400); // let it finish painting
    text = BoxText(box);
    if (TextOf(box) != kTitle)
      g_captionsOk = false;
    ++g_boxes;
    g_boxTexts.push_back(text);
    std::string flat = Narrow(text);
    for (char &c : flat)
      if (c == '\r' || c == '\n')
        c = ' ';
    Log("box caption=\"" + Narrow(TextOf(box)) + "\" text=\"" + flat + "\"");
    return box;
  }

  // Clicks one of a box's buttons with the mouse; true when the box closed.
  bool PressBoxButton(HWND box, int id) {
    const std::string name = AnswerName(id);
    if (!HasButton(box, id)) {
      Fail("the box has no " + name + " button");
      return false;
    }
    SetForegroundWindow(box);
    Sleep(200);
    ClickControl(GetDlgItem(box, id));
    const bool closed =
        WaitFor([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000, 100);
    if (closed)
      Log("answered " + name + " by a click");
    else
      Fail("a click on " + name + " did not close the box");
    return closed;
  }

  // The main window with a box of the program over it.
  void ShotWithBox(HWND box, const wchar_t *name) {
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    RECT r{};
    GetClientRect(main, &r);
    MapWindowPoints(main, nullptr, reinterpret_cast<POINT *>(&r), 2);
    RECT b{};
    GetWindowRect(box, &b);
    UnionRect(&r, &r, &b);
    SaveScreenArea(r, screens + L"\\" + name);
  }

  // The applications check names Firefox, alone, with Abort, Retry and
  // Ignore. A box shows the page's line breaks as CR LF.
  void CheckCloseFirefoxBox(HWND box, const std::wstring &text) {
    const std::wstring expected = L"The following applications should be closed before you "
                                  L"continue:\r\n\r\nMozilla Firefox\r\n";
    if (text != expected)
      Fail("the applications check does not read \"" + Narrow(expected) + "\"");
    for (const int id : {IDABORT, IDRETRY, IDIGNORE})
      if (!HasButton(box, id))
        Fail(std::string("the applications check has no ") + AnswerName(id));
  }

  // With Firefox running, Clean asks to close it; Abort leaves the page as
  // it was and starts nothing.
  int RunHistoryAbort() {
    if (!ShowHistoryCategories() || !TickBrowserCategories())
      return Finish();
    ClickControl(FindChild(main, L"Button", L"Clean"));
    std::wstring text;
    const HWND box = NextBox(15000, text);
    if (box == nullptr) {
      Fail("Clean with Firefox running did not ask to close it");
      return Finish();
    }
    CheckCloseFirefoxBox(box, text);
    ShotWithBox(box, L"history-browser-prompt.bmp");
    if (!PressBoxButton(box, IDABORT))
      return Finish();
    std::wstring more;
    if (NextBox(2500, more) != nullptr) {
      Fail("Abort was followed by another box");
      AnswerBox(pid);
    }
    if (FindChildClass(main, L"msctls_progress32") != nullptr)
      Fail("a pass started after Abort");
    const HWND firefox = BoxUnder(L"Firefox", L"History");
    const HWND runMenu = FindChild(main, L"Button", L"Run Menu");
    const HWND analyze = FindChild(main, L"Button", L"Analyze");
    const HWND clean = FindChild(main, L"Button", L"Clean");
    if (firefox == nullptr || runMenu == nullptr || analyze == nullptr || clean == nullptr) {
      Fail("after Abort the category page is not shown");
      return Finish();
    }
    if (!BrowserCategoriesTicked(firefox, runMenu))
      Fail("Abort changed the ticked boxes");
    if (IsWindowEnabled(analyze) == FALSE || IsWindowEnabled(clean) == FALSE ||
        IsWindowEnabled(firefox) == FALSE)
      Fail("after Abort Analyze, Clean or the boxes take no input");
    // Still usable: a box takes a click either way.
    ClickControl(runMenu);
    const bool cleared = CheckOf(runMenu) == BST_UNCHECKED;
    ClickControl(runMenu);
    if (!cleared || CheckOf(runMenu) != BST_CHECKED)
      Fail("after Abort a click does not change a box");
    Log("after Abort the category page takes input");
    return Finish();
  }

  // With Firefox running and its history locked: Retry asks again, Ignore
  // cleans the rest and the message names what the lock kept.
  int RunHistoryLocked() {
    if (!ShowHistoryCategories())
      return Finish();
    const HWND firefox = BoxUnder(L"Firefox", L"History");
    const HWND runMenu = FindChild(main, L"Button", L"Run Menu");
    if (firefox == nullptr || runMenu == nullptr || !BrowserCategoriesTicked(firefox, runMenu)) {
      Fail("the page did not keep Firefox's History and Run Menu ticked");
      return Finish();
    }
    ClickControl(FindChild(main, L"Button", L"Clean"));
    std::wstring text;
    HWND box = NextBox(15000, text);
    if (box == nullptr) {
      Fail("Clean with Firefox running did not ask to close it");
      return Finish();
    }
    CheckCloseFirefoxBox(box, text);
    if (!PressBoxButton(box, IDRETRY))
      return Finish();
    box = NextBox(15000, text);
    if (box == nullptr) {
      Fail("Retry with Firefox still running did not ask again");
      return Finish();
    }
    CheckCloseFirefoxBox(box, text);
    if (!PressBoxButton(box, IDIGNORE))
      return Finish();

    box = NextBox(300000, text);
    if (box == nullptr) {
      Fail("the clean ended with no message");
      return Finish();
    }
    const std::wstring expected = L"Clean history completed.\r\n\r\nThese items could not be "
                                  L"removed:\r\n\r\nFirefox: History: database is locked\r\n";
    if (text != expected)
      Fail("the message after the clean does not read \"" + Narrow(expected) + "\"");
    if (!PageShown(main, L"History Clean Result"))
      Fail("the clean result is not shown under the message");
    ShotWithBox(box, L"history-browser-locked.bmp");
    PressBoxButton(box, IDOK);
    WaitPage(L"History Clean Result", 10000);
    const TListTexts result = ReadList("locked-result");
    if (CountIn(result.Row(L"Run Menu")) != 2)
      Fail("the clean result does not count the 2 Run Menu entries removed");
    // The lock keeps the visits, and the running browser's session file
    // stays with them: nothing of Firefox's history is counted removed.
    if (const auto *row = result.Row(L"Firefox: History"); row != nullptr && CountIn(row) != 0)
      Fail("the clean result counts Firefox's history removed while the browser held it");
    if (!ClickButton(main, L"Back") || !WaitPage(L"Clean History", 10000))
      Fail("Back did not return to the category page");
    return Finish();
  }

  // Firefox ended: the analysis lists its visited pages, and a clean from
  // the summary removes them without asking about browsers.
  int RunHistoryUnlocked(const std::vector<std::wstring> &visited) {
    if (!ShowHistoryCategories())
      return Finish();
    const std::size_t boxesBefore = g_boxTexts.size();
    ClickControl(FindChild(main, L"Button", L"Analyze"));
    if (!WaitPage(L"History Analysis Summary", 120000)) {
      Fail("the analysis summary was not shown");
      return Finish();
    }
    if (boxesBefore != g_boxTexts.size())
      Fail("the analysis of Firefox's history with Firefox ended showed a message");
    Sleep(500);
    const TListTexts summary = ReadList("browser-summary");
    const long found = CountIn(summary.Row(L"Firefox: History"));
    if (found < static_cast<long>(visited.size()))
      Fail("the summary does not count the visited pages in \"Firefox: History\"");
    if (summary.rows.size() != 1)
      Fail("the summary lists more than Firefox's history");
    HistoryDetail(summary,
                  {.row = L"Firefox: History",
                   .title = L"History Details",
                   .column = L"URL",
                   .entries = visited},
                  L"history-browser-detail.bmp");

    if (!ClickButton(main, L"Clean"))
      Fail("no Clean on the summary page");
    if (!WaitPage(L"History Clean Result", 120000)) {
      Fail("the clean result was not shown");
      return Finish();
    }
    WaitFor(
        [&] {
          AnswerBox(pid);
          return SawBox(L"Clean history completed.", boxesBefore);
        },
        10000, 250);
    if (SawBox(L"The following applications should be closed", boxesBefore))
      Fail("the clean asked to close Firefox after it ended");
    bool completed = false;
    for (std::size_t i = boxesBefore; i < g_boxTexts.size(); ++i)
      completed = completed || g_boxTexts[i] == L"Clean history completed.";
    if (!completed)
      Fail("the clean did not end with \"Clean history completed.\" alone");
    Sleep(500);
    const TListTexts result = ReadList("browser-result");
    if (CountIn(result.Row(L"Firefox: History")) != found)
      Fail("the clean result does not count every Firefox history entry removed");
    Shot(L"history-browser-result.bmp");
    if (!ClickButton(main, L"Back") || !WaitPage(L"Clean History", 10000))
      Fail("Back did not return to the category page");
    return Finish();
  }

  int Finish() {
    Log("boxes answered: " + std::to_string(g_boxes));
    if (!g_captionsOk)
      Fail("a message box had another caption than \"Quenlo\"");
    Log(failures == 0 ? "scenario passed" : "scenario failed");
    return failures == 0 ? 0 : 1;
  }
};

int CountMainWindows() {
  int count = 0;
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        if (ClassOf(hwnd) == kMainClass)
          ++*reinterpret_cast<int *>(param);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// --- a window of the driver's own: the foreground before a later start,
// and the one that refuses the end of the session
constexpr wchar_t kHelperClass[] = L"QuenloE2eHelper";
constexpr wchar_t kVetoTitle[] = L"Quenlo e2e veto";
constexpr wchar_t kForegroundTitle[] = L"Quenlo e2e foreground";

LRESULT CALLBACK HelperProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_QUERYENDSESSION:
    Log("WM_QUERYENDSESSION: answered FALSE");
    return FALSE;
  case WM_ENDSESSION:
    Log(std::string("WM_ENDSESSION(") + (wParam != FALSE ? "TRUE" : "FALSE") + ")");
    return 0;
  case WM_CLOSE:
    DestroyWindow(hwnd);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  default:
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

HWND CreateHelperWindow(const wchar_t *title) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &HelperProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kHelperClass;
  wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  RegisterClassW(&wc);
  // Hidden when it only refuses the session end (the session end asks
  // hidden windows too); the foreground window is shown, in a corner the
  // program's window does not cover.
  const DWORD style = WS_OVERLAPPEDWINDOW | (title == kVetoTitle ? 0 : WS_VISIBLE);
  const HWND hwnd = CreateWindowExW(0, kHelperClass, title, style, 0, 0, 120, 80, nullptr, nullptr,
                                    wc.hInstance, nullptr);
  if (hwnd != nullptr)
    UpdateWindow(hwnd);
  return hwnd;
}

void PumpFor(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(20);
  }
}

bool QuenloIsForeground(HWND main) {
  const HWND foreground = GetForegroundWindow();
  return foreground != nullptr &&
         (foreground == main || GetAncestor(foreground, GA_ROOTOWNER) == main);
}

// 0: the running copy came to the foreground; 1: it did not; 3: the driver
// could not take the foreground itself, so nothing can be seen.
int CheckForegroundAfterLaterStart(const std::wstring &exe, const std::wstring &argument) {
  const HWND main = MainWindow();
  if (main == nullptr) {
    Log("no running copy");
    return 1;
  }
  const HWND own = CreateHelperWindow(kForegroundTitle);
  SetForegroundWindow(own);
  PumpFor(500);
  if (GetForegroundWindow() != own) {
    Log("the driver's window did not become the foreground: not observable");
    DestroyWindow(own);
    return 3;
  }
  Log("the driver's window is the foreground");
  std::wstring line = L"\"" + exe + L"\"";
  if (!argument.empty())
    line += L" " + argument;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    Log("could not start the later copy");
    DestroyWindow(own);
    return 1;
  }
  CloseHandle(process.hThread);
  // The later copy ends by itself; meanwhile this window keeps pumping.
  const ULONGLONG end = GetTickCount64() + 60000;
  while (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT && GetTickCount64() < end)
    PumpFor(100);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  Log("the later copy (" + Narrow(argument.empty() ? L"no argument" : argument) + ") ended with " +
      std::to_string(code));
  bool forward = false;
  const ULONGLONG until = GetTickCount64() + 5000;
  while (!(forward = QuenloIsForeground(main)) && GetTickCount64() < until)
    PumpFor(100);
  Log(forward ? "the running copy is the foreground" : "the running copy is not the foreground");
  DestroyWindow(own);
  return forward && code == 0 ? 0 : 1;
}

int RunVeto(int seconds) {
  const HWND own = CreateHelperWindow(kVetoTitle);
  if (own == nullptr)
    return 1;
  Log("veto window ready");
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  MSG msg{};
  while (GetTickCount64() < end) {
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT) != WAIT_OBJECT_0)
      continue;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        Log("veto window closed");
        return 0;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  Log("veto window timed out");
  return 1;
}

// The running copy answers at once and still switches pages.
int CheckResponsive() {
  const HWND main = MainWindow();
  if (main == nullptr) {
    Log("no running copy");
    return 1;
  }
  DWORD_PTR ignored = 0;
  if (SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored) == 0) {
    Log("the running copy does not answer");
    return 1;
  }
  const HWND header = FindChildClass(main, L"QuenloHeaderBar");
  if (header == nullptr)
    return 1;
  for (const wchar_t *page : {L"Registry Scan", L"PC Status"}) {
    if (!ClickButton(header, page) ||
        !WaitFor([main, page] { return PageShown(main, page); }, 10000)) {
      Log("the page " + Narrow(page) + " did not show");
      return 1;
    }
    Log("page " + Narrow(page) + " shown");
  }
  return 0;
}

// --- the settings page

constexpr wchar_t kSettingsTestKey[] = L"HKEY_CURRENT_USER\\Software\\QuenloSettingsTest";
constexpr wchar_t kKeyDialogClass[] = L"QuenloKeySelectDialog";
constexpr wchar_t kPopupMenuClass[] = L"#32768";

// Memory in the program's process: a tree view's answers hold pointers
// that must lie there.
class TRemoteMemory {
public:
  explicit TRemoteMemory(HWND control) {
    DWORD pid = 0;
    GetWindowThreadProcessId(control, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr)
      memory_ = static_cast<char *>(
          VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  TRemoteMemory(const TRemoteMemory &) = delete;
  TRemoteMemory &operator=(const TRemoteMemory &) = delete;
  ~TRemoteMemory() {
    if (memory_ != nullptr)
      VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    if (process_ != nullptr)
      CloseHandle(process_);
  }

  // TVM_GETITEMW's text of an item.
  std::wstring TreeText(HWND tree, HTREEITEM item) {
    if (memory_ == nullptr || item == nullptr)
      return {};
    TVITEMW query{};
    query.mask = TVIF_TEXT | TVIF_HANDLE;
    query.hItem = item;
    query.pszText = reinterpret_cast<wchar_t *>(memory_ + kTextOffset);
    query.cchTextMax = kTextChars;
    const wchar_t nothing = L'\0';
    WriteProcessMemory(process_, memory_ + kTextOffset, &nothing, sizeof(nothing), nullptr);
    WriteProcessMemory(process_, memory_, &query, sizeof(query), nullptr);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory_), SMTO_ABORTIFHUNG,
                        5000, &ignored);
    std::wstring text(kTextChars, L'\0');
    ReadProcessMemory(process_, memory_ + kTextOffset, text.data(), kTextChars * sizeof(wchar_t),
                      nullptr);
    text.resize(wcsnlen(text.c_str(), kTextChars));
    return text;
  }
  // TVM_GETITEMRECT of an item's text, in screen coordinates.
  RECT TreeRect(HWND tree, HTREEITEM item) {
    RECT r{};
    if (memory_ == nullptr)
      return r;
    // The item goes in where the rectangle comes back.
    WriteProcessMemory(process_, memory_, &item, sizeof(item), nullptr);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(memory_),
                        SMTO_ABORTIFHUNG, 5000, &answer);
    if (answer == 0)
      return r;
    ReadProcessMemory(process_, memory_, &r, sizeof(r), nullptr);
    MapWindowPoints(tree, nullptr, reinterpret_cast<POINT *>(&r), 2);
    return r;
  }

private:
  static constexpr SIZE_T kTextOffset = 256;
  static constexpr int kTextChars = 512;
  static constexpr SIZE_T kSize = kTextOffset + kTextChars * sizeof(wchar_t);
  HANDLE process_ = nullptr;
  char *memory_ = nullptr;
};

HTREEITEM TreeNext(HWND tree, HTREEITEM item, WPARAM how) {
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

bool TreeExpanded(HWND tree, HTREEITEM item) {
  return (SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED) &
          TVIS_EXPANDED) != 0;
}

// A file of the prefix as bytes (the settings files are ASCII here).
std::string ReadWholeFile(const std::wstring &path) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
    text.append(buffer, got);
  CloseHandle(file);
  return text;
}

std::string LowerText(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Whether the INI text's section holds a line that is entry or starts with
// entry and "=" (names without regard to case).
bool IniHolds(const std::string &text, const std::string &section, const std::string &entry) {
  const std::string header = LowerText("[" + section + "]");
  const std::string wanted = LowerText(entry);
  bool inSection = false;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(from, end - from);
    from = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    if (!line.empty() && line.front() == '[') {
      inSection = LowerText(line) == header;
      continue;
    }
    const std::string lower = LowerText(line);
    if (inSection && (lower == wanted || lower.rfind(wanted + "=", 0) == 0))
      return true;
  }
  return false;
}

// Characters typed as a keyboard would (WM_CHAR to the focus).
void TypeText(const std::wstring &text) {
  for (const wchar_t c : text) {
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wScan = inputs[1].ki.wScan = c;
    inputs[0].ki.dwFlags = KEYEVENTF_UNICODE;
    inputs[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
    Sleep(60);
  }
  Sleep(300);
}

// A key pressed with a modifier held (Ctrl+V, Shift+Insert, Shift+End).
void PressWith(WORD modifier, WORD vk) {
  INPUT inputs[4] = {};
  for (INPUT &input : inputs)
    input.type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = modifier;
  inputs[1].ki.wVk = vk;
  inputs[2].ki.wVk = vk;
  inputs[2].ki.dwFlags = KEYEVENTF_KEYUP;
  inputs[3].ki.wVk = modifier;
  inputs[3].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(4, inputs, sizeof(INPUT));
  Sleep(400);
}

void RightClickAt(POINT screen) {
  SetCursorPos(screen.x, screen.y);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
  SendInput(2, inputs, sizeof(INPUT));
  Sleep(400);
}

POINT Centre(const RECT &r) {
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

bool SetClipboardText(const std::wstring &text) {
  if (!OpenClipboard(nullptr))
    return false;
  EmptyClipboard();
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  bool ok = false;
  if (memory != nullptr) {
    wmemcpy(static_cast<wchar_t *>(GlobalLock(memory)), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    ok = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    if (!ok)
      GlobalFree(memory);
  }
  CloseClipboard();
  return ok;
}

struct TSettingsScenario : TScenario {
  std::wstring settingsDir;

  std::string IniText() const { return ReadWholeFile(settingsDir + L"\\quenlo.ini"); }
  std::string IgnoreText() const { return ReadWholeFile(settingsDir + L"\\ignore.txt"); }

  HWND ShownPage() const {
    for (HWND child : Children(main))
      if (GetParent(child) == main && ReallyVisible(child) && ClassOf(child) == L"QuenloPage")
        return child;
    return nullptr;
  }

  bool SawBoxText(const std::wstring &text, std::size_t from) const {
    for (std::size_t i = from; i < g_boxTexts.size(); ++i)
      if (g_boxTexts[i] == text)
        return true;
    return false;
  }

  // Answers the program's boxes until pred holds or the time is up.
  bool AnswerUntil(const std::function<bool()> &pred, DWORD timeoutMs) {
    return WaitFor(
        [&] {
          AnswerBox(pid);
          return pred();
        },
        timeoutMs, 200);
  }

  // The shown list's rows: (first column, second column or "").
  std::vector<std::pair<std::wstring, std::wstring>> Rows(HWND list) {
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    TRemoteBuffer remote(list);
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row)
      rows.emplace_back(remote.ListText(list, row, 0),
                        columns > 1 ? remote.ListText(list, row, 1) : std::wstring());
    return rows;
  }

  static int RowWith(const std::vector<std::pair<std::wstring, std::wstring>> &rows,
                     const std::wstring &first, const std::wstring &second) {
    for (std::size_t i = 0; i < rows.size(); ++i)
      if (rows[i].first == first && rows[i].second == second)
        return static_cast<int>(i);
    return -1;
  }

  static int SelectedRow(HWND list) {
    return static_cast<int>(
        SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }

  // The key dialog, open with the title.
  HWND WaitKeyDialog(const std::wstring &title) {
    HWND dialog = nullptr;
    if (!AnswerUntil(
            [&] {
              dialog = FindWindowW(kKeyDialogClass, nullptr);
              return dialog != nullptr && IsWindowVisible(dialog);
            },
            15000)) {
      Fail("the key selection dialog did not open");
      return nullptr;
    }
    if (TextOf(dialog) != title)
      Fail("the key selection dialog is titled \"" + Narrow(TextOf(dialog)) + "\"");
    if (IsWindowEnabled(main) != FALSE)
      Fail("the main window takes input under the key selection dialog");
    Sleep(300);
    return dialog;
  }

  bool OkEnabled(HWND dialog) const {
    const HWND ok = FindChild(dialog, L"Button", L"OK");
    return ok != nullptr && IsWindowEnabled(ok) != FALSE;
  }

  // Walks from "My Computer" to the key by the keyboard: Right opens a key
  // and goes to its first subkey, typing the name finds it. OK stays off
  // until a key below a root is selected; Enter chooses.
  bool PickByKeyboard(HWND dialog, const std::vector<std::wstring> &parts) {
    const HWND tree = FindChildClass(dialog, L"SysTreeView32");
    if (tree == nullptr) {
      Fail("the key selection dialog has no tree");
      return false;
    }
    SetForegroundWindow(dialog);
    Sleep(300);
    TRemoteMemory remote(tree);
    HTREEITEM at = TreeNext(tree, nullptr, TVGN_CARET);
    if (remote.TreeText(tree, at) != L"My Computer")
      Fail("the key selection dialog does not start on \"My Computer\"");
    if (OkEnabled(dialog))
      Fail("OK is enabled on \"My Computer\"");
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (!TreeExpanded(tree, at))
        PressKey(VK_RIGHT);
      PressKey(VK_RIGHT);
      if (remote.TreeText(tree, TreeNext(tree, nullptr, TVGN_CARET)) != parts[i])
        TypeText(parts[i]);
      at = TreeNext(tree, nullptr, TVGN_CARET);
      if (remote.TreeText(tree, at) != parts[i]) {
        Fail("the keyboard did not reach \"" + Narrow(parts[i]) + "\" in the tree (at \"" +
             Narrow(remote.TreeText(tree, at)) + "\")");
        return false;
      }
      if (i == 0 && OkEnabled(dialog))
        Fail("OK is enabled on the root " + Narrow(parts[i]));
    }
    if (!OkEnabled(dialog))
      Fail("OK is not enabled on a key below a root");
    SaveScreenshot(dialog, screens + L"\\settings-key-dialog-keyboard.bmp");
    PressKey(VK_RETURN);
    Log("key chosen by keyboard and Enter");
    return true;
  }

  // The same by the mouse: a double click opens a key, a click selects, OK.
  bool PickByClicks(HWND dialog, const std::vector<std::wstring> &parts) {
    const HWND tree = FindChildClass(dialog, L"SysTreeView32");
    if (tree == nullptr) {
      Fail("the key selection dialog has no tree");
      return false;
    }
    SetForegroundWindow(dialog);
    Sleep(300);
    TRemoteMemory remote(tree);
    HTREEITEM at = TreeNext(tree, nullptr, TVGN_ROOT);
    for (const std::wstring &part : parts) {
      if (!TreeExpanded(tree, at))
        DoubleClickAt(Centre(remote.TreeRect(tree, at)));
      HTREEITEM found = nullptr;
      for (HTREEITEM child = TreeNext(tree, at, TVGN_CHILD); child != nullptr && found == nullptr;
           child = TreeNext(tree, child, TVGN_NEXT))
        if (remote.TreeText(tree, child) == part)
          found = child;
      if (found == nullptr) {
        Fail("no \"" + Narrow(part) + "\" in the tree after a double click");
        return false;
      }
      SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(found));
      ClickAt(Centre(remote.TreeRect(tree, found)));
      if (TreeNext(tree, nullptr, TVGN_CARET) != found) {
        Fail("a click did not select \"" + Narrow(part) + "\"");
        return false;
      }
      at = found;
    }
    SaveScreenshot(dialog, screens + L"\\settings-key-dialog-mouse.bmp");
    const HWND ok = FindChild(dialog, L"Button", L"OK");
    if (ok == nullptr || IsWindowEnabled(ok) == FALSE) {
      Fail("OK is not enabled on a key below a root");
      return false;
    }
    ClickControl(ok);
    Log("key chosen by clicks and OK");
    return true;
  }

  bool DialogGone() const {
    const HWND dialog = FindWindowW(kKeyDialogClass, nullptr);
    return dialog == nullptr || IsWindowVisible(dialog) == FALSE;
  }

  // A click on the restore point box writes it to the file at once; the
  // action's choice shows or hides the frequency and enables Save.
  void RunGeneral() {
    const HWND box = FindChild(main, L"Button", L"Create a Restore Point before repairing");
    if (box == nullptr || FindChild(main, L"Button", L"Full Registry Backup") == nullptr ||
        FindChild(main, L"Button", L"Reset \"To Date\" Counters") == nullptr) {
      Fail("the General tab lacks its boxes or buttons");
      return;
    }
    const HWND save = FindChild(main, L"Button", L"Save");
    if (save == nullptr || IsWindowEnabled(save) != FALSE)
      Fail("Save is not disabled when the page opens");
    if (!HasStatic(L"Frequency"))
      Fail("no Frequency for \"Scan and Repair\"");
    const bool wasChecked = CheckOf(box) == BST_CHECKED;
    ClickControl(box);
    const std::string expected = std::string("BackupBeforeScan=") + (wasChecked ? "0" : "1");
    if (WaitFor([&] { return IniHolds(IniText(), "settings", expected); }, 5000))
      Log("restore point box clicked: " + expected + " in quenlo.ini");
    else
      Fail("the restore point box's click is not in quenlo.ini (" + expected + ")");

    const HWND action = FindChildClass(main, L"ComboBox");
    if (action == nullptr || !TabTo(action)) {
      Fail("Tab did not reach the Action box");
      return;
    }
    PressKey(VK_HOME); // "Disabled"
    if (!WaitFor([&] { return !HasStatic(L"Frequency") && IsWindowEnabled(save) != FALSE; }, 5000))
      Fail("\"Disabled\" left Frequency shown or Save disabled");
    else
      Log("action \"Disabled\": Frequency hidden, Save enabled");
    Shot(L"settings-01b-general-disabled.bmp");
  }

  void RunIgnoreList() {
    const HWND tabs = FindChildClass(main, L"SysTabControl32");
    const std::wstring hint = L"The following keys will be ignored during the scan.";
    // The tab strip comes right before the Action box in the tab order.
    if (tabs != nullptr && Focus() != tabs)
      PressWith(VK_SHIFT, VK_TAB);
    const bool onTabs = tabs != nullptr && Focus() == tabs;
    if (onTabs)
      PressKey(VK_RIGHT);
    if (!onTabs || !WaitFor([&] { return HasStatic(hint); }, 5000)) {
      Fail("the \"Ignore List\" tab was not reached by keyboard");
      return;
    }
    Log("tab \"Ignore List\" by keyboard");
    LogTexts(main, "settings-ignore");
    Shot(L"settings-02-ignore.bmp");
    const HWND list = FindChildClass(main, L"SysListView32");
    auto rows = Rows(list);
    int permanent = 0;
    for (const auto &row : rows)
      permanent += row.first == L"Permanent" ? 1 : 0;
    Log("ignore list: " + std::to_string(rows.size()) + " rows, " + std::to_string(permanent) +
        " permanent");
    if (permanent == 0)
      Fail("the ignore list shows no permanent keys");

    const std::wstring key = std::wstring(kSettingsTestKey) + L"\\Ignored";
    if (!ClickButton(main, L"Add"))
      return;
    const HWND dialog = WaitKeyDialog(L"Select registry key to be added...");
    if (dialog == nullptr ||
        !PickByKeyboard(dialog,
                        {L"HKEY_CURRENT_USER", L"Software", L"QuenloSettingsTest", L"Ignored"}) ||
        !WaitFor([this] { return DialogGone(); }, 10000)) {
      Fail("no key was added to the ignore list");
      return;
    }
    int row = -1;
    AnswerUntil([&] { return (row = RowWith(Rows(list), L"All", key)) >= 0; }, 10000);
    if (row < 0) {
      Fail("no row \"All\" / " + Narrow(key));
      return;
    }
    Log("ignore list row " + std::to_string(row) + ": All / " + Narrow(key));
    if (SelectedRow(list) != row)
      Fail("the added row is not the selected one");
    // A whole-key entry is a section of its own.
    if (IgnoreText().find("[" + Narrow(key) + "]") != std::string::npos)
      Log("ignore.txt holds " + Narrow(key));
    else
      Fail("ignore.txt does not hold " + Narrow(key));
    Shot(L"settings-03-ignore-added.bmp");

    const std::size_t boxesBefore = g_boxTexts.size();
    ClickButton(main, L"Remove");
    if (!AnswerUntil([&] { return RowWith(Rows(list), L"All", key) < 0; }, 10000))
      Fail("Remove left the row");
    if (!SawBoxText(L"Remove selected item(s) from the list?", boxesBefore))
      Fail("Remove did not ask first");
    if (IgnoreText().find(Narrow(key)) != std::string::npos)
      Fail("ignore.txt still holds " + Narrow(key));
    else
      Log("removed: ignore.txt no longer holds it");
    RemovePermanentRow(list);
  }

  // A permanent row, chosen by a click, through the row menu: asked, then
  // refused, and nothing removed.
  void RemovePermanentRow(HWND list) {
    const auto rows = Rows(list);
    int row = -1;
    for (std::size_t i = 0; i < rows.size() && row < 0; ++i)
      if (rows[i].first == L"Permanent")
        row = static_cast<int>(i);
    if (row < 0)
      return;
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    TRemoteBuffer remote(list);
    RECT r = remote.ListRowRect(list, row);
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT *>(&r), 2);
    const POINT at{r.left + 40, (r.top + r.bottom) / 2};
    ClickAt(at);
    if (SelectedRow(list) != row)
      Fail("a click did not select the permanent row");
    RightClickAt(at);
    if (!WaitFor([] { return ShownTopLevel(kPopupMenuClass) != nullptr; }, 5000)) {
      Fail("a right click opened no row menu");
      return;
    }
    SaveWholeScreen(screens + L"\\settings-04-ignore-menu.bmp");
    const std::size_t boxesBefore = g_boxTexts.size();
    PressKey(VK_DOWN);
    PressKey(VK_RETURN);
    const std::wstring refused =
        L"One or more items selected are \"Permanent Entries\" and cannot be removed";
    if (!AnswerUntil([&] { return SawBoxText(refused, boxesBefore); }, 10000))
      Fail("removing a permanent row was not refused");
    else
      Log("permanent row refused: " + Narrow(refused));
    if (Rows(list).size() != rows.size())
      Fail("the refused removal changed the list");
  }

  // The monitor page's "Settings" link opens this page on the Monitor tab.
  bool OpenMonitorTab(HWND header) {
    if (header == nullptr || !ClickButton(header, L"Monitor") ||
        !WaitPage(L"Registry Monitor", 15000)) {
      Fail("the monitor page was not shown");
      return false;
    }
    const HWND page = ShownPage();
    if (page == nullptr || !ClickButton(page, L"Settings")) {
      Fail("no Settings link on the monitor page");
      return false;
    }
    const std::wstring hint = L"The Registry Monitor watches the following keys.";
    if (!AnswerUntil([&] { return HasStatic(hint); }, 10000)) {
      Fail("the Settings link did not open the settings' Monitor tab");
      return false;
    }
    const HWND tabs = FindChildClass(main, L"SysTabControl32");
    if (tabs == nullptr || SendMessageW(tabs, TCM_GETCURSEL, 0, 0) != 2)
      Fail("the tab header does not show \"Monitor\"");
    Log("the monitor page's Settings link opened the Monitor tab");
    return true;
  }

  // Escape in the key dialog cancels: nothing is added.
  void CancelByEscape(HWND list) {
    const std::size_t rows = Rows(list).size();
    const std::string before = IniText();
    if (!ClickButton(main, L"Add"))
      return;
    const HWND dialog = WaitKeyDialog(L"Select registry key to be monitored ...");
    if (dialog == nullptr)
      return;
    SetForegroundWindow(dialog);
    Sleep(300);
    PressKey(VK_DOWN); // a root: Escape cancels whatever is selected
    PressKey(VK_ESCAPE);
    if (!WaitFor([this] { return DialogGone(); }, 5000)) {
      Fail("Escape did not close the key selection dialog");
      PostMessageW(dialog, WM_CLOSE, 0, 0);
      return;
    }
    AnswerUntil([] { return false; }, 1000);
    if (Rows(list).size() != rows || IniText() != before)
      Fail("a cancelled key selection changed the monitored keys");
    else
      Log("key selection cancelled by Escape: nothing added");
  }

  void RunMonitor(HWND header) {
    if (!OpenMonitorTab(header))
      return;
    LogTexts(main, "settings-monitor");
    Shot(L"settings-05-monitor.bmp");
    const HWND list = FindChildClass(main, L"SysListView32");
    const HWND remove = FindChild(main, L"Button", L"Remove");
    if (remove == nullptr || IsWindowEnabled(remove) != FALSE)
      Fail("Remove is not disabled after the tab switch");
    const std::wstring key = std::wstring(kSettingsTestKey) + L"\\Watched";
    CancelByEscape(list);
    if (!ClickButton(main, L"Add"))
      return;
    const HWND dialog = WaitKeyDialog(L"Select registry key to be monitored ...");
    if (dialog == nullptr ||
        !PickByClicks(dialog,
                      {L"HKEY_CURRENT_USER", L"Software", L"QuenloSettingsTest", L"Watched"}) ||
        !WaitFor([this] { return DialogGone(); }, 10000)) {
      Fail("no key was added to the monitored keys");
      return;
    }
    int row = -1;
    AnswerUntil([&] { return (row = RowWith(Rows(list), key, L"")) >= 0; }, 10000);
    // A restart prompt of the monitor may follow.
    AnswerUntil([] { return false; }, 1500);
    if (row < 0) {
      Fail("no row " + Narrow(key));
      return;
    }
    Log("monitored key row " + std::to_string(row) + ": " + Narrow(key));
    if (SelectedRow(list) != row)
      Fail("the added key is not the selected row");
    if (IsWindowEnabled(remove) == FALSE)
      Fail("Remove is not enabled with the added row selected");
    if (IniHolds(IniText(), "MonitoredKeys", Narrow(key)))
      Log("[MonitoredKeys] holds " + Narrow(key));
    else
      Fail("[MonitoredKeys] does not hold " + Narrow(key));
    Shot(L"settings-06-monitor-added.bmp");

    const std::size_t boxesBefore = g_boxTexts.size();
    ClickButton(main, L"Remove");
    if (!AnswerUntil([&] { return RowWith(Rows(list), key, L"") < 0; }, 10000))
      Fail("Remove left the monitored key");
    AnswerUntil([] { return false; }, 1500);
    if (!SawBoxText(L"Remove selected key(s) from the list?", boxesBefore))
      Fail("Remove did not ask first");
    if (IniHolds(IniText(), "MonitoredKeys", Narrow(key)))
      Fail("[MonitoredKeys] still holds " + Narrow(key));
    else
      Log("removed: [MonitoredKeys] no longer holds it");
    RunPrompt();
  }

  std::wstring PromptText(HWND edit) const { return TextOf(edit); }

  // The number typed over the old one is saved at once; a paste by Ctrl+V,
  // Shift+Insert or the field's menu changes nothing.
  void RunPrompt() {
    const HWND edit = FindChildClass(main, L"Edit");
    if (edit == nullptr) {
      Fail("no number field on the Monitor tab");
      return;
    }
    ClickControl(edit);
    PressKey(VK_HOME);
    PressWith(VK_SHIFT, VK_END);
    TypeText(L"25");
    if (WaitFor([&] { return IniHolds(IniText(), "settings", "MonitorPrompt=25"); }, 5000))
      Log("typed 25: MonitorPrompt=25 in quenlo.ini");
    else
      Fail("the typed number is not in quenlo.ini (field \"" + Narrow(PromptText(edit)) + "\")");
    if (!SetClipboardText(L"777")) {
      Fail("could not fill the clipboard");
      return;
    }
    PressKey(VK_HOME);
    PressWith(VK_SHIFT, VK_END);
    PressWith(VK_CONTROL, 'V');
    PressWith(VK_SHIFT, VK_INSERT);
    RECT r{};
    GetWindowRect(edit, &r);
    RightClickAt(Centre(r));
    if (WaitFor([] { return ShownTopLevel(kPopupMenuClass) != nullptr; }, 3000)) {
      SaveWholeScreen(screens + L"\\settings-07-prompt-menu.bmp");
      PressKey('P'); // the menu's "Paste"
      if (ShownTopLevel(kPopupMenuClass) != nullptr)
        PressKey(VK_ESCAPE);
    } else {
      Log("the field's own menu did not open");
    }
    Sleep(300);
    const std::wstring shown = PromptText(edit);
    if (shown != L"25")
      Fail("a paste reached the number field: \"" + Narrow(shown) + "\"");
    else
      Log("paste refused: the field still shows 25");
    if (!IniHolds(IniText(), "settings", "MonitorPrompt=25"))
      Fail("a paste changed MonitorPrompt in quenlo.ini");
    Shot(L"settings-08-prompt.bmp");
  }

  int RunSettings() {
    if (!WaitForMainWindow())
      return 1;
    WaitPage(L"PC Status", 30000);
    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header == nullptr || !ClickButton(header, L"Settings") || !WaitPage(L"Settings", 15000)) {
      Fail("the settings page was not shown");
      return Finish();
    }
    Sleep(300);
    LogTexts(main, "settings-general");
    Shot(L"settings-01-general.bmp");
    RunGeneral();
    RunIgnoreList();
    RunMonitor(header);
    return Finish();
  }
};

// --- the restore page
// The days of undo backups a repair left, the check list of a day's keys:
// every entry but one unticked (the select-all box by a click, one box by
// a click, another by Space and back), Show Key's caution answered Cancel,
// Restore answered Yes, then "Restore completed." and the rest listed
// unticked; last, the purge box ticked. Logs "restored entry: KEY" for the
// script to check.
struct TRestoreScenario : TScenario {
  static constexpr UINT kChecked = 2; // LVS_EX_CHECKBOXES' state image of a ticked row

  // The shown page window.
  HWND Page() const {
    for (HWND child : Children(main))
      if (GetParent(child) == main && ReallyVisible(child) && ClassOf(child) == L"QuenloPage")
        return child;
    return nullptr;
  }
  HWND PageControl(const wchar_t *cls, const std::wstring &text) const {
    const HWND page = Page();
    return page != nullptr ? FindChild(page, cls, text) : nullptr;
  }
  HWND List() const {
    const HWND page = Page();
    return page != nullptr ? FindChildClass(page, L"SysListView32") : nullptr;
  }
  static bool RowChecked(HWND list, int row) {
    const auto state = static_cast<UINT>(
        SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
    return ((state & LVIS_STATEIMAGEMASK) >> 12) == kChecked;
  }
  // The rows as "[x] KEY" / "[ ] KEY", logged.
  std::vector<std::wstring> Rows(const char *what) {
    std::vector<std::wstring> rows;
    const HWND list = List();
    if (list == nullptr)
      return rows;
    TRemoteBuffer remote(list);
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
      rows.push_back((RowChecked(list, row) ? L"[x] " : L"[ ] ") + remote.ListText(list, row, 0));
      Log(std::string(what) + " row " + std::to_string(row) + ": " + Narrow(rows.back()));
    }
    return rows;
  }
  int CheckedRows() const {
    const HWND list = List();
    const int count =
        list != nullptr ? static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    int checked = 0;
    for (int row = 0; row < count; ++row)
      checked += RowChecked(list, row) ? 1 : 0;
    return checked;
  }
  // A click on the row's check box, in the row's left edge.
  void ClickRowBox(int row) {
    const HWND list = List();
    TRemoteBuffer remote(list);
    const RECT r = remote.ListRowRect(list, row);
    POINT at{r.left + (r.bottom - r.top) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(list, &at);
    ClickAt(at);
  }
  // A click on the row's text, right of its box.
  void ClickRow(int row) {
    const HWND list = List();
    TRemoteBuffer remote(list);
    const RECT r = remote.ListRowRect(list, row);
    POINT at{r.left + 6 * (r.bottom - r.top), (r.top + r.bottom) / 2};
    ClientToScreen(list, &at);
    ClickAt(at);
  }
  // The box's answer by a click on its button; the box's text must start
  // with expected.
  bool Answer(const std::wstring &expected, int button) {
    std::wstring text;
    const HWND box = NextBox(20000, text);
    if (box == nullptr) {
      Fail("no box \"" + Narrow(expected) + "\"");
      return false;
    }
    if (text.rfind(expected, 0) != 0)
      Fail("the box says \"" + Narrow(text) + "\", not \"" + Narrow(expected) + "\"");
    return PressBoxButton(box, button);
  }

  int RunRestore() {
    if (!WaitForMainWindow())
      return 1;
    WaitPage(L"PC Status", 30000);
    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header == nullptr || !ClickButton(header, L"Restore") ||
        !WaitPage(L"Restore Backups", 30000)) {
      Fail("the restore page was not shown");
      return Finish();
    }
    Sleep(500);
    const HWND list = List();
    const HWND all = PageControl(L"Button", L"Select All");
    const HWND restore = PageControl(L"Button", L"Restore");
    const HWND showKey = PageControl(L"Button", L"Show Key");
    const HWND days = Page() != nullptr ? FindChildClass(Page(), L"ComboBox") : nullptr;
    if (list == nullptr || all == nullptr || restore == nullptr || showKey == nullptr ||
        days == nullptr || PageControl(L"Button", L"Print") == nullptr ||
        PageControl(L"Button", L"Delete backups older than one week") == nullptr) {
      Fail("the restore page lacks its list, day selector or buttons");
      return Finish();
    }
    Log("day shown: " + Narrow(TextOf(days)));
    LogTexts(main, "restore");
    const std::vector<std::wstring> before = Rows("before");
    if (before.size() != 3 || CheckedRows() != 3)
      Fail("the day does not list its 3 repaired keys, all ticked");
    if (!HasStatic(L"3 Items") || CheckOf(all) != BST_CHECKED)
      Fail("the page does not say \"3 Items\" with Select All ticked");
    Shot(L"restore-01-page.bmp");

    // Select All off by a click, then row 1 ticked by a click on its box;
    // row 2 by Space and back.
    ClickControl(all);
    if (CheckedRows() != 0 || CheckOf(all) != BST_UNCHECKED)
      Fail("a click on Select All did not untick every entry");
    ClickRowBox(1);
    if (!RowChecked(list, 1))
      Fail("a click on row 1's box did not tick it");
    // Row 2 picked by a click on its text, which ticks nothing.
    ClickRow(2);
    if (Focus() != list || RowChecked(list, 2))
      Fail("a click on row 2's text did not give the list the focus, or ticked it");
    PressKey(VK_SPACE);
    const bool spaceTicked = RowChecked(list, 2);
    PressKey(VK_SPACE);
    if (!spaceTicked || RowChecked(list, 2))
      Fail("Space on row 2 did not tick it and back");
    Sleep(300);
    if (CheckedRows() != 1 || !RowChecked(list, 1))
      Fail("not exactly row 1 is ticked");
    if (CheckOf(all) != BST_INDETERMINATE)
      Fail("Select All is not grey with one of three entries ticked");
    Shot(L"restore-02-one-ticked.bmp");

    // Show Key asks first; Cancel opens nothing.
    ClickControl(showKey);
    if (Answer(L"CAUTION", IDCANCEL)) {
      std::wstring more;
      if (NextBox(1500, more) != nullptr)
        Fail("Cancel on the caution was followed by another box");
      if (FindWindowW(L"RegEdit_RegEdit", nullptr) != nullptr)
        Fail("Cancel on the caution opened the registry editor");
    }

    const std::wstring chosen = before.size() == 3 ? before[1].substr(4) : L"";
    ClickControl(restore);
    if (!Answer(L"Restore selected items?", IDYES) || !Answer(L"Restore completed.", IDOK))
      return Finish();
    Log("restored entry: " + Narrow(chosen));
    WaitFor([this] { return HasStatic(L"2 Items"); }, 10000);
    Sleep(500);
    const std::vector<std::wstring> after = Rows("after");
    const std::vector<std::wstring> expected =
        before.size() == 3 ? std::vector<std::wstring>{L"[ ] " + before[0].substr(4),
                                                       L"[ ] " + before[2].substr(4)}
                           : std::vector<std::wstring>{};
    if (after != expected)
      Fail("after the restore the page does not list the other two entries, unticked");
    if (!HasStatic(L"2 Items") || CheckOf(all) != BST_UNCHECKED)
      Fail("the page does not say \"2 Items\" with Select All clear");
    Shot(L"restore-03-after.bmp");

    // The purge box writes its setting at once (the script reads the file).
    const HWND purge = PageControl(L"Button", L"Delete backups older than one week");
    ClickControl(purge);
    if (CheckOf(purge) != BST_CHECKED)
      Fail("a click did not tick \"Delete backups older than one week\"");
    return Finish();
  }
};

// --- the help: F1 and the Help menu open the system's HTML Help viewer
constexpr wchar_t kHelpViewerClass[] = L"HH Parent";

// Tree view item texts of another process: the item and its text buffer
// must lie in that process's memory for the control to fill them.
class TRemoteTree {
public:
  explicit TRemoteTree(HWND tree) : tree_(tree) {
    DWORD pid = 0;
    GetWindowThreadProcessId(tree, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr)
      memory_ = static_cast<char *>(
          VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  }
  TRemoteTree(const TRemoteTree &) = delete;
  TRemoteTree &operator=(const TRemoteTree &) = delete;
  ~TRemoteTree() {
    if (memory_ != nullptr)
      VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    if (process_ != nullptr)
      CloseHandle(process_);
  }

  // Every item's text, depth first, children indented by two blanks.
  std::vector<std::wstring> Texts() {
    std::vector<std::wstring> texts;
    if (memory_ != nullptr)
      Collect(Next(nullptr, TVGN_ROOT), 0, texts);
    return texts;
  }

private:
  static constexpr SIZE_T kTextOffset = 256;
  static constexpr int kTextChars = 512;
  static constexpr SIZE_T kSize = kTextOffset + kTextChars * sizeof(wchar_t);

  HTREEITEM Next(HTREEITEM item, WPARAM how) const {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(tree_, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item),
                        SMTO_ABORTIFHUNG, 5000, &answer);
    return reinterpret_cast<HTREEITEM>(answer);
  }
  std::wstring Text(HTREEITEM item) {
    TVITEMW query{};
    query.mask = TVIF_TEXT;
    query.hItem = item;
    query.pszText = reinterpret_cast<wchar_t *>(memory_ + kTextOffset);
    query.cchTextMax = kTextChars;
    const wchar_t nothing = L'\0';
    WriteProcessMemory(process_, memory_ + kTextOffset, &nothing, sizeof(nothing), nullptr);
    WriteProcessMemory(process_, memory_, &query, sizeof(query), nullptr);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory_), SMTO_ABORTIFHUNG,
                        5000, &ignored);
    std::wstring text(kTextChars, L'\0');
    ReadProcessMemory(process_, memory_ + kTextOffset, text.data(), kTextChars * sizeof(wchar_t),
                      nullptr);
    text.resize(wcsnlen(text.c_str(), kTextChars));
    return text;
  }
  void Collect(HTREEITEM item, int depth, std::vector<std::wstring> &texts) {
    // A bound on the walk: a tree that changes under it cannot loop it.
    for (; item != nullptr && texts.size() < 500; item = Next(item, TVGN_NEXT)) {
      texts.push_back(std::wstring(static_cast<std::size_t>(depth) * 2, L' ') + Text(item));
      Collect(Next(item, TVGN_CHILD), depth + 1, texts);
    }
  }

  HWND tree_;
  HANDLE process_ = nullptr;
  char *memory_ = nullptr;
};

// The help scenario: a page from its header button, the help asked for
// (F1, or the Help menu's "Help"), the viewer's window found by its class
// and title, its table of contents read, a screenshot, the viewer closed.
struct THelpScenario : TScenario {
  std::wstring viewerTitle;
  std::vector<std::wstring> topics; // entries the contents must list

  int Run() {
    if (!WaitForMainWindow())
      return 1;
    if (!WaitPage(L"PC Status", 30000))
      Fail("status page not shown");
    const HWND header = FindChildClass(main, L"QuenloHeaderBar");
    if (header == nullptr || !ClickButton(header, L"History") ||
        !WaitPage(L"Clean History", 30000)) {
      Fail("the history page was not shown");
      return Finish();
    }
    Sleep(500);
    ForegroundMain();
    PressKey(VK_F1);
    Log("pressed F1 on the history page");
    CheckViewer(L"help-history.bmp", L"help-screen.bmp");

    if (!ClickButton(header, L"PC Status") || !WaitPage(L"PC Status", 30000)) {
      Fail("the status page was not shown again");
      return Finish();
    }
    Sleep(500);
    ForegroundMain();
    HelpFromTheMenu();
    CheckViewer(L"help-status-menu.bmp");
    return Finish();
  }

  void ForegroundMain() {
    SetForegroundWindow(main);
    Sleep(300);
  }

  // Alt+H opens the Help menu, H its first entry, "Help".
  void HelpFromTheMenu() {
    INPUT alt[4] = {};
    alt[0].type = alt[1].type = alt[2].type = alt[3].type = INPUT_KEYBOARD;
    alt[0].ki.wVk = VK_MENU;
    alt[1].ki.wVk = 'H';
    alt[2].ki.wVk = 'H';
    alt[2].ki.dwFlags = KEYEVENTF_KEYUP;
    alt[3].ki.wVk = VK_MENU;
    alt[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, alt, sizeof(INPUT));
    Sleep(500);
    PressKey('H');
    Log("chose Help in the Help menu");
  }

  // A prompt to install Wine's HTML engine would wait for an answer the
  // help does not need: it is cancelled.
  static void CancelEngineInstaller() {
    const HWND prompt = FindWindowW(nullptr, L"Wine Gecko Installer");
    if (prompt == nullptr || !IsWindowVisible(prompt))
      return;
    Log("cancelled Wine's Gecko installer prompt");
    PostMessageW(prompt, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }

  HWND ViewerWindow() const {
    const HWND viewer = FindWindowW(kHelpViewerClass, nullptr);
    return viewer != nullptr && IsWindowVisible(viewer) ? viewer : nullptr;
  }

  // shot: the viewer's window; screen (when given): the whole screen, the
  // viewer over the program's window.
  void CheckViewer(const wchar_t *shot, const wchar_t *screen = nullptr) {
    HWND viewer = nullptr;
    if (!WaitFor(
            [&] {
              CancelEngineInstaller();
              AnswerBox(pid); // no box is expected: any is logged and answered
              return (viewer = ViewerWindow()) != nullptr;
            },
            30000, 250)) {
      Fail("no help viewer window (class HH Parent) appeared; visible:" + VisibleTopLevels());
      return;
    }
    Sleep(1500); // the viewer fills its panes
    CancelEngineInstaller();
    const std::wstring title = TextOf(viewer);
    Log("help viewer: \"" + Narrow(title) + "\"");
    if (title != viewerTitle)
      Fail("the help viewer's title is \"" + Narrow(title) + "\", not \"" + Narrow(viewerTitle) +
           "\"");
    CheckContents(viewer);
    SaveScreenshot(viewer, screens + L"\\" + shot);
    if (screen != nullptr)
      SaveWholeScreen(screens + L"\\" + screen);
    CloseViewer(viewer);
  }

  void CheckContents(HWND viewer) {
    HWND tree = nullptr;
    for (HWND child : Children(viewer))
      if (ReallyVisible(child) && ClassOf(child) == L"SysTreeView32")
        tree = child;
    if (tree == nullptr) {
      Fail("the help viewer shows no table of contents");
      return;
    }
    TRemoteTree remote(tree);
    const std::vector<std::wstring> texts = remote.Texts();
    std::string line = "contents:";
    for (const std::wstring &text : texts)
      line += " [" + Narrow(text) + "]";
    Log(line);
    for (const std::wstring &topic : topics) {
      bool listed = false;
      for (const std::wstring &text : texts)
        listed = listed || text.find(topic) != std::wstring::npos;
      if (!listed)
        Fail("the contents do not list \"" + Narrow(topic) + "\"");
    }
  }

  void CloseViewer(HWND viewer) {
    PostMessageW(viewer, WM_CLOSE, 0, 0);
    if (!WaitFor([viewer] { return !IsWindow(viewer); }, 15000))
      Fail("the help viewer did not close");
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored) == 0)
      Fail("quenlo.exe does not answer after the help");
  }
};

} // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc < 2)
    return 2;
  const std::wstring command = argv[1];
  if (command == L"toplevel") {
    EnumWindows(
        [](HWND hwnd, LPARAM) -> BOOL {
          if (IsWindowVisible(hwnd))
            std::printf("%s \"%s\"\n", Narrow(ClassOf(hwnd)).c_str(), Narrow(TextOf(hwnd)).c_str());
          return TRUE;
        },
        0);
    return 0;
  }
  if (command == L"windows") {
    std::printf("%d\n", CountMainWindows());
    return 0;
  }
  if (command == L"foreground" && argc >= 3)
    return CheckForegroundAfterLaterStart(argv[2], argc >= 4 ? argv[3] : L"");
  if (command == L"veto" && argc >= 4) {
    g_log = _wfopen(argv[2], L"w");
    const int code = RunVeto(_wtoi(argv[3]));
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if (command == L"stopveto") {
    const HWND veto = FindWindowW(kHelperClass, kVetoTitle);
    if (veto == nullptr)
      return 1;
    PostMessageW(veto, WM_CLOSE, 0, 0);
    return WaitFor([] { return FindWindowW(kHelperClass, kVetoTitle) == nullptr; }, 10000) ? 0 : 1;
  }
  if (command == L"vetoready")
    return FindWindowW(kHelperClass, kVetoTitle) != nullptr ? 0 : 1;
  if (command == L"vetofirst") {
    // Wine's session end asks one process after the other, lowest id
    // first, and ends each that agrees before it asks the next: the refusal
    // protects only the processes after the refusing one.
    const HWND veto = FindWindowW(kHelperClass, kVetoTitle);
    const HWND main = MainWindow();
    DWORD vetoPid = 0;
    DWORD mainPid = 0;
    if (veto != nullptr)
      GetWindowThreadProcessId(veto, &vetoPid);
    if (main != nullptr)
      GetWindowThreadProcessId(main, &mainPid);
    std::printf("veto %lu quenlo %lu\n", vetoPid, mainPid);
    return vetoPid != 0 && mainPid != 0 && vetoPid < mainPid ? 0 : 1;
  }
  if (command == L"responsive")
    return CheckResponsive();
  if (command == L"close") {
    const HWND main = MainWindow();
    if (main == nullptr)
      return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    PostMessageW(main, WM_CLOSE, 0, 0);
    const bool gone = WaitFor(
        [pid] {
          AnswerBox(pid);
          return MainWindow() == nullptr;
        },
        60000);
    return gone ? 0 : 1;
  }
  if ((command == L"scenario" || command == L"screens") && argc >= 4) {
    g_log = _wfopen(argv[3], L"w");
    TScenario scenario;
    scenario.screens = argv[2];
    const int code = scenario.Run();
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if (command == L"pages" && argc >= 4) {
    g_log = _wfopen(argv[3], L"w");
    TScenario scenario;
    scenario.screens = argv[2];
    const int code = scenario.RunPages();
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if (command == L"optimizer" && argc >= 4) {
    g_log = _wfopen(argv[3], L"w");
    TScenario scenario;
    scenario.screens = argv[2];
    const int code = scenario.RunOptimizer();
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if (command == L"history" && argc >= 4) {
    g_log = _wfopen(argv[3], L"w");
    TScenario scenario;
    scenario.screens = argv[2];
    const int code = scenario.RunHistory();
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if ((command == L"historyabort" || command == L"historylocked" ||
       command == L"historyunlocked") &&
      argc >= 4) {
    g_log = _wfopen(argv[3], L"w");
    TScenario scenario;
    scenario.screens = argv[2];
    int code = 0;
    if (command == L"historyabort") {
      code = scenario.RunHistoryAbort();
    } else if (command == L"historylocked") {
      code = scenario.RunHistoryLocked();
    } else {
      const std::vector<std::wstring> visited(argv + 4, argv + argc);
      code = scenario.RunHistoryUnlocked(visited);
    }
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if (command == L"monitor" && argc >= 6) {
    g_log = _wfopen(argv[3], L"w");
    TScenario scenario;
    scenario.screens = argv[2];
    const int code = scenario.RunMonitor(_wtoi(argv[4]), argv[5]);
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if (command == L"settings" && argc >= 5) {
    g_log = _wfopen(argv[3], L"w");
    TSettingsScenario scenario;
    scenario.screens = argv[2];
    scenario.settingsDir = argv[4];
    const int code = scenario.RunSettings();
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if (command == L"restore" && argc >= 4) {
    g_log = _wfopen(argv[3], L"w");
    TRestoreScenario scenario;
    scenario.screens = argv[2];
    const int code = scenario.RunRestore();
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if (command == L"help" && argc >= 5) {
    g_log = _wfopen(argv[3], L"w");
    THelpScenario scenario;
    scenario.screens = argv[2];
    scenario.viewerTitle = argv[4];
    scenario.topics.assign(argv + 5, argv + argc);
    const int code = scenario.Run();
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  if (command == L"largelist" && argc >= 6) {
    g_log = _wfopen(argv[3], L"w");
    TScenario scenario;
    scenario.screens = argv[2];
    const int code = scenario.RunLargeList(_wtoi(argv[4]), _wtof(argv[5]));
    if (g_log != nullptr)
      std::fclose(g_log);
    return code;
  }
  return 2;
}
