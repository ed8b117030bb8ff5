#include "uWin32ShowKey.h"

#include "platform/win32/WinApi.h"
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
    const HINSTANCE started =
        ::ShellExecuteW(nullptr, L"open", program.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(started) <= 32)
      return true; // the key exists; the editor could not be started
    editor = WaitForEditor(true, kStartWaitMs);
    if (editor == nullptr)
      return true;
  }
  ::ShowWindow(editor, SW_RESTORE);
  ::SetForegroundWindow(editor);
  if (const HWND tree = ::FindWindowExW(editor, nullptr, L"SysTreeView32", nullptr)) {
    ::SendMessageW(editor, WM_ACTIVATE, WA_ACTIVE, 0);
    SendKeys(tree, plan.treeKeys, 0);
  }
  if (!plan.listKeys.empty()) {
    ::Sleep(kValueListWaitMs);
    if (const HWND list = ::FindWindowExW(editor, nullptr, L"SysListView32", nullptr))
      SendKeys(list, plan.listKeys, kValueCharLParam);
  }
  return true;
}

} // namespace quenlo::win
