#include "uWin32ShowKey.h"

#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"
#include "registry/uRegShowKey.h"

namespace quenlo::win {

namespace {

using qp::win32::Wide;

constexpr DWORD kStartWaitMs = 10000;
constexpr DWORD kPollMs = 100;

HWND FindEditor() {
  return ::FindWindowW(qp::win32::Wide(kEditorWindowClass).c_str(), nullptr);
}

// Waits for the editor's window to appear (or go away) within the time.
HWND WaitForEditor(bool present, DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += kPollMs) {
    const HWND editor = FindEditor();
    if ((editor != nullptr) == present || waited >= timeoutMs)
      return editor;
    ::Sleep(kPollMs);
  }
}

std::wstring Expand(const std::string &text) {
  const std::wstring wide = Wide(text);
  wchar_t buffer[MAX_PATH * 2] = {};
  const DWORD n = ::ExpandEnvironmentStringsW(wide.c_str(), buffer, MAX_PATH * 2);
  return n > 0 && n <= MAX_PATH * 2 ? std::wstring(buffer) : wide;
}

// The first descendant of the class: Windows' editor holds its tree and
// list directly, Wine's inside a pane window.
HWND FindDescendant(HWND parent, const wchar_t *className) {
  struct TSearch {
    const wchar_t *className;
    HWND found = nullptr;
  } search{className};
  ::EnumChildWindows(
      parent,
      [](HWND child, LPARAM param) -> BOOL {
        auto *s = reinterpret_cast<TSearch *>(param);
        wchar_t name[64] = {};
        ::GetClassNameW(child, name, 64);
        if (::lstrcmpiW(name, s->className) != 0)
          return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void SendKeys(HWND target, const std::vector<TKeyStroke> &keys, LPARAM charLParam) {
  for (const TKeyStroke &key : keys) {
    if (key.kind == ksKeyDown)
      ::SendMessageW(target, WM_KEYDOWN, key.code, 0);
    else
      ::SendMessageW(target, WM_CHAR, key.code, charLParam);
  }
}

} // namespace

bool TWin32ShowKey::ShowKeyInRegedit(const std::string &name) {
  TShowKeyEnvironment env;
  BOOL wow64 = FALSE;
  env.onWow64 = ::IsWow64Process(::GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
  env.sysWow64Editor = qp::win32::Narrow(Expand(kSysWow64EditorTemplate));
  const TShowKeyPlan plan = PlanShowKey(name, env);
  if (!plan.ok)
    return false;
  if (plan.closeOpenEditor) {
    if (const HWND open = FindEditor()) {
      ::PostMessageW(open, WM_CLOSE, 0, 0);
      WaitForEditor(false, kStartWaitMs);
    }
  }
  HWND editor = FindEditor();
  if (editor == nullptr) {
    const std::wstring program = Wide(plan.editor);
    SHELLEXECUTEINFOW start{};
    start.cbSize = sizeof(start);
    start.fMask = SEE_MASK_NOCLOSEPROCESS;
    start.lpVerb = L"open";
    start.lpFile = program.c_str();
    start.nShow = SW_SHOWNORMAL;
    if (::ShellExecuteExW(&start) == FALSE)
      return true; // the key exists; the editor could not be started
    const qp::win32::UniqueHandle process(start.hProcess);
    // Its tree is filled once it waits for input: keys sent earlier are lost.
    if (process)
      ::WaitForInputIdle(process.Get(), kStartWaitMs);
    editor = WaitForEditor(true, kStartWaitMs);
    if (editor == nullptr)
      return true;
  }
  ::Sleep(kEditorIdleWaitMs);
  ::ShowWindow(editor, SW_RESTORE);
  ::SetForegroundWindow(editor);
  if (const HWND tree = FindDescendant(editor, L"SysTreeView32")) {
    ::SendMessageW(editor, WM_ACTIVATE, WA_ACTIVE, 0);
    SendKeys(tree, plan.treeKeys, 0);
  }
  if (!plan.listKeys.empty()) {
    ::Sleep(kValueListWaitMs);
    if (const HWND list = FindDescendant(editor, L"SysListView32"))
      SendKeys(list, plan.listKeys, kValueCharLParam);
  }
  return true;
}

} // namespace quenlo::win
