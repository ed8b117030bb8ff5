#include "uWin32Services.h"

#include <tlhelp32.h>

#include <string>

#include "app/uEnvironment.h"
#include "platform/MainThread.h"
#include "platform/ScopeGuard.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"

namespace quenlo::win {

namespace {

using qp::win32::Wide;

// SrClient.dll's request and answer (srrestoreptapi.h), wide form.
constexpr DWORD kBeginSystemChange = 100;
constexpr DWORD kEndSystemChange = 101;
constexpr DWORD kApplicationInstall = 0;
constexpr DWORD kCancelledOperation = 13;
constexpr int kMaxDescription = 256;

#pragma pack(push, 1)
struct TRestorePointInfoW {
  DWORD eventType;
  DWORD restorePtType;
  INT64 sequenceNumber;
  WCHAR description[kMaxDescription];
};
struct TStateMgrStatus {
  DWORD status;
  INT64 sequenceNumber;
};
#pragma pack(pop)

using SetRestorePointFn = BOOL(WINAPI *)(TRestorePointInfoW *, TStateMgrStatus *);

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static constexpr SC_HANDLE Invalid() noexcept { return nullptr; }
  static void Close(SC_HANDLE h) noexcept { ::CloseServiceHandle(h); }
};
using UniqueService = qp::TUniqueAny<ServiceHandleTraits>;

struct LibraryTraits {
  using Handle = HMODULE;
  static constexpr HMODULE Invalid() noexcept { return nullptr; }
  static void Close(HMODULE h) noexcept { ::FreeLibrary(h); }
};
using UniqueLibrary = qp::TUniqueAny<LibraryTraits>;

TRestorePointResult CallRestorePoint(DWORD eventType, DWORD pointType, std::int64_t sequence,
                                     const std::string &description) {
  TRestorePointResult result;
  // From the system folder only: a SrClient.dll beside the program must not
  // be the one loaded.
  const std::wstring path = Wide(SystemDir + "SrClient.dll");
  const UniqueLibrary library(::LoadLibraryExW(path.c_str(), nullptr, 0));
  const auto setPoint =
      qp::win32::ProcAddress<SetRestorePointFn>(library.Get(), "SRSetRestorePointW");
  if (setPoint == nullptr)
    return result;
  result.apiPresent = true;
  TRestorePointInfoW info{};
  info.eventType = eventType;
  info.restorePtType = pointType;
  info.sequenceNumber = sequence;
  const std::wstring text = Wide(description);
  ::lstrcpynW(info.description, text.c_str(), kMaxDescription);
  TStateMgrStatus status{};
  result.ok = setPoint(&info, &status) != FALSE;
  result.status = static_cast<long>(status.status);
  result.sequence = status.sequenceNumber;
  return result;
}

} // namespace

TLocalTime TWin32Clock::Now() {
  SYSTEMTIME st{};
  ::GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

void TWin32Timers::Start(TTimerId id, std::uint32_t intervalMs) {
  TState &state = state_.at(id);
  // SetTimer with a running id restarts it with the new interval.
  state.running = ::SetTimer(window_(), id, intervalMs, nullptr) != 0;
  state.interval = intervalMs;
}

void TWin32Timers::Stop(TTimerId id) {
  TState &state = state_.at(id);
  if (state.running)
    ::KillTimer(window_(), id);
  state.running = false;
}

bool TWin32Timers::Running(TTimerId id) const {
  return state_.at(id).running;
}
std::uint32_t TWin32Timers::Interval(TTimerId id) const {
  return state_.at(id).interval;
}

void TWin32CommandQueue::Post(int command, std::intptr_t lParam) {
  ::PostMessageW(window_(), WM_MAINCOMMAND, static_cast<WPARAM>(command), lParam);
}

std::intptr_t TWin32CommandQueue::Send(int command, std::intptr_t lParam) {
  return ::SendMessageW(window_(), WM_MAINCOMMAND, static_cast<WPARAM>(command), lParam);
}

void TWin32CommandQueue::ProcessPending() {
  MSG msg{};
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    if (msg.message == WM_QUIT) {
      // The loop that owns the program must still see it.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (filter_ && filter_(msg))
      continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  qp::IgnoreResult(qp::MainThread().Pump());
}

TRestorePointResult TWin32RestorePoint::Begin(const std::string &description) {
  return CallRestorePoint(kBeginSystemChange, kApplicationInstall, 0, description);
}

TRestorePointResult TWin32RestorePoint::End(std::int64_t sequence, bool cancelled) {
  return CallRestorePoint(kEndSystemChange, cancelled ? kCancelledOperation : kApplicationInstall,
                          sequence, "");
}

bool TWin32SystemServices::ServiceRunning(const std::string &name) {
  const UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager)
    return false;
  const UniqueService service(
      ::OpenServiceW(manager.Get(), Wide(name).c_str(), SERVICE_QUERY_STATUS));
  SERVICE_STATUS status{};
  return service && ::QueryServiceStatus(service.Get(), &status) != FALSE &&
         status.dwCurrentState == SERVICE_RUNNING;
}

long TWin32SystemServices::StartService(const std::string &name) {
  const UniqueService manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager)
    return static_cast<long>(::GetLastError());
  const UniqueService service(
      ::OpenServiceW(manager.Get(), Wide(name).c_str(), SERVICE_QUERY_STATUS | SERVICE_START));
  if (!service)
    return static_cast<long>(::GetLastError());
  if (StartServiceW(service.Get(), 0, nullptr) == FALSE)
    return static_cast<long>(::GetLastError());
  return 0;
}

bool TWin32SystemServices::ProcessRunning(const std::string &exeName) {
  // A failed snapshot is INVALID_HANDLE_VALUE, as a failed CreateFile is.
  const qp::win32::UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot)
    return false;
  const std::wstring wanted = Wide(exeName);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more != FALSE;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    const wchar_t *file = entry.szExeFile;
    for (const wchar_t *p = entry.szExeFile; *p != L'\0'; ++p)
      if (*p == L'\\' || *p == L'/')
        file = p + 1;
    if (::lstrcmpiW(file, wanted.c_str()) == 0)
      return true;
  }
  return false;
}

bool TWin32ShellOpen::Open(const std::string &fileOrUrl) {
  const HINSTANCE result =
      ::ShellExecuteW(nullptr, L"open", Wide(fileOrUrl).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

bool TWin32ConnectionProbe::Connected(const std::string &url) {
  using CheckFn = BOOL(WINAPI *)(LPCWSTR, DWORD, DWORD);
  constexpr DWORD kForceConnection = 1; // FLAG_ICC_FORCE_CONNECTION
  const UniqueLibrary wininet(
      ::LoadLibraryExW(Wide(SystemDir + "wininet.dll").c_str(), nullptr, 0));
  const auto check = qp::win32::ProcAddress<CheckFn>(wininet.Get(), "InternetCheckConnectionW");
  return check != nullptr && check(Wide(url).c_str(), kForceConnection, 0) != FALSE;
}

} // namespace quenlo::win
