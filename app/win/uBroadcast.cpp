#include "uBroadcast.h"

#include "app/pages/uStartup.h"
#include "platform/ScopeGuard.h"
#include "platform/win32/WinText.h"
#include "uMainWindow.h"

namespace quenlo::win {

namespace {
// How long a later copy waits for the running copy's answer. The answer
// needs the running copy to pump its messages; a hung copy costs this much.
constexpr DWORD kAnswerWaitMs = 2000;
constexpr DWORD kAnswerPollMs = 20;

// Lets a copy with more rights receive the message from one with fewer.
void AllowMessageFromLowerRights(HWND hwnd, UINT message) {
  using FilterFn = BOOL(WINAPI *)(HWND, UINT, DWORD, void *);
  constexpr DWORD kAllow = 1; // MSGFLT_ALLOW
  if (const auto filter = qp::win32::ProcAddress<FilterFn>(::GetModuleHandleW(L"user32.dll"),
                                                           "ChangeWindowMessageFilterEx"))
    qp::IgnoreResult(filter(hwnd, message, kAllow, nullptr));
}

std::wstring ImageOfProcess(DWORD pid) {
  const qp::win32::UniqueHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process)
    return {};
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  if (::QueryFullProcessImageNameW(process.Get(), 0, path, &size) == FALSE)
    return {};
  return std::wstring(path, size);
}

std::wstring OwnImage() {
  return ImageOfProcess(::GetCurrentProcessId());
}
} // namespace

bool IsWindowOfThisProgram(HWND hwnd) {
  if (hwnd == nullptr || ::IsWindow(hwnd) == FALSE)
    return false;
  wchar_t cls[64] = {};
  ::GetClassNameW(hwnd, cls, 64);
  if (::lstrcmpW(cls, kApplicationWindowClass) != 0 && ::lstrcmpW(cls, kMainWindowClass) != 0)
    return false;
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid == 0)
    return false;
  if (pid == ::GetCurrentProcessId())
    return true;
  // Another program may register the same class names; the executable
  // tells them apart.
  const std::wstring theirs = ImageOfProcess(pid);
  return !theirs.empty() && ::lstrcmpiW(theirs.c_str(), OwnImage().c_str()) == 0;
}

bool ForceForeground(HWND hwnd) {
  if (::IsIconic(hwnd) != FALSE)
    ::ShowWindow(hwnd, SW_RESTORE);
  if (::GetForegroundWindow() == hwnd)
    return true;
  // The system lets only the foreground's input thread hand the foreground
  // on: join it for the moment of the switch.
  const DWORD own = ::GetWindowThreadProcessId(hwnd, nullptr);
  const HWND foreground = ::GetForegroundWindow();
  const DWORD theirs = foreground != nullptr ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
  const bool attached =
      theirs != 0 && theirs != own && ::AttachThreadInput(own, theirs, TRUE) != FALSE;
  ::BringWindowToTop(hwnd);
  ::SetForegroundWindow(hwnd);
  if (attached)
    ::AttachThreadInput(own, theirs, FALSE);
  if (::GetForegroundWindow() != hwnd) {
    // The foreground lock time-out at 0 for the moment of the switch.
    DWORD timeout = 0;
    if (::SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0) != FALSE) {
      ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_SENDCHANGE);
      ::BringWindowToTop(hwnd);
      ::SetForegroundWindow(hwnd);
      ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                              reinterpret_cast<void *>(static_cast<std::uintptr_t>(timeout)),
                              SPIF_SENDCHANGE);
    }
  }
  return ::GetForegroundWindow() == hwnd;
}

void TStartupBroadcast::Begin(const std::vector<std::string> &arguments) {
  arguments_ = arguments;
  message_ = ::RegisterWindowMessageW(qp::win32::Wide(kBroadcastMessage).c_str());
  RegisterOnce(kApplicationWindowClass);
  if (!CreateFrom({.className = kApplicationWindowClass,
                   .text = kMainWindowTitle,
                   .style = 0,
                   .parent = HWND_MESSAGE}))
    return;
  if (message_ == 0)
    return;
  AllowMessageFromLowerRights(TWindow::Handle(), message_);
  const std::wstring name = qp::win32::Wide(kBroadcastMutexName);
  mutex_.Reset(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
  if (!mutex_) {
    // The first copy: the mutex, not owned, lives as long as this process.
    mutex_.Reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
    return;
  }
  if (::PostMessageW(HWND_BROADCAST, message_, bcStarting,
                     reinterpret_cast<LPARAM>(TWindow::Handle())) == FALSE)
    return;
  const ULONGLONG end = ::GetTickCount64() + kAnswerWaitMs;
  while (!answered_ && ::GetTickCount64() < end) {
    MSG msg{};
    while (::PeekMessageW(&msg, TWindow::Handle(), 0, 0, PM_REMOVE) != FALSE)
      ::DispatchMessageW(&msg);
    if (!answered_)
      ::Sleep(kAnswerPollMs);
  }
}

void TStartupBroadcast::OnMainWindowMessage(WPARAM wParam, LPARAM lParam) {
  Dispatch(wParam, lParam, true);
}

LRESULT TStartupBroadcast::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == message_ && message_ != 0) {
    // Before the main window exists this copy is still starting; afterwards
    // the main window speaks for it.
    Dispatch(wParam, lParam, main_ != nullptr);
    return 0;
  }
  return TWindow::OnMessage(message, wParam, lParam);
}

void TStartupBroadcast::Dispatch(WPARAM wParam, LPARAM lParam, bool mainWindowExists) {
  const HWND sender = reinterpret_cast<HWND>(lParam);
  const TBroadcastFacts facts{
      .wParam = static_cast<std::uintptr_t>(wParam),
      .fromOwnWindow = sender == TWindow::Handle() || (main_ != nullptr && sender == main_),
      .senderIsOurProgram = IsWindowOfThisProgram(sender),
      .mainWindowExists = mainWindowExists,
  };
  switch (BroadcastAction(facts)) {
  case TBroadcastAction::AnswerAndComeForward: {
    const HWND self = main_ != nullptr ? main_ : TWindow::Handle();
    qp::IgnoreResult(::PostMessageW(sender, message_, bcAnswer, reinterpret_cast<LPARAM>(self)));
    // A hidden window (an automatic start) stays hidden: only the restore
    // command shows it.
    if (main_ != nullptr && ::IsWindowVisible(main_) != FALSE)
      qp::IgnoreResult(ForceForeground(::GetLastActivePopup(main_)));
    break;
  }
  case TBroadcastAction::SendArgumentsAndQuit:
    SendArguments(sender);
    answered_ = true;
    break;
  case TBroadcastAction::Ignore:
    break;
  }
}

void TStartupBroadcast::SendArguments(HWND receiver) const {
  std::string packed = PackArguments(arguments_);
  COPYDATASTRUCT data{};
  data.dwData = kArgumentsCopyDataTag;
  data.cbData = static_cast<DWORD>(packed.size());
  data.lpData = packed.data();
  DWORD_PTR ignored = 0;
  // A running copy that does not answer must not hang this one.
  ::SendMessageTimeoutW(receiver, WM_COPYDATA, reinterpret_cast<WPARAM>(TWindow::Handle()),
                        reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                        kArgumentsSendTimeoutMs, &ignored);
}

} // namespace quenlo::win
