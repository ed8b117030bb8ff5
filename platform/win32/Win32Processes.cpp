#include "platform/win32/Win32System.h"

#include <vector>

#include "platform/ScopeGuard.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"

namespace qp::win32 {

namespace {

// CreateProcessW with the window shown as `show`; false with the system's
// error left for GetLastError.
bool CreateProcessShown(std::string_view commandLine, WORD show, DWORD flags,
                        PROCESS_INFORMATION &process) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  // CreateProcessW may write into the command line.
  std::wstring command = Wide(commandLine);
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  return ::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                          &startup, &process) != FALSE;
}

} // namespace

ProcessResult Win32Processes::RunHiddenAndWait(std::string_view commandLine) {
  ProcessResult result;
  PROCESS_INFORMATION process{};
  if (!CreateProcessShown(commandLine, SW_HIDE, 0, process)) {
    result.startError = static_cast<long>(::GetLastError());
    return result;
  }
  result.started = true;
  const UniqueHandle processHandle(process.hProcess);
  const UniqueHandle threadHandle(process.hThread);
  const DWORD waited = ::WaitForSingleObject(processHandle.Get(), INFINITE);
  if (waited != WAIT_OBJECT_0) {
    result.waitError =
        waited == WAIT_FAILED ? static_cast<long>(::GetLastError()) : static_cast<long>(waited);
    return result;
  }
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(processHandle.Get(), &exitCode)) {
    result.exitCodeError = static_cast<long>(::GetLastError());
    return result;
  }
  result.exitCode = exitCode;
  return result;
}

} // namespace qp::win32

namespace qp::win32 {

namespace {

// A library loaded at run time; freed with its owner.
struct ModuleTraits {
  using Handle = HMODULE;
  static constexpr HMODULE Invalid() noexcept { return nullptr; }
  static void Close(HMODULE h) noexcept { ::FreeLibrary(h); }
};
using UniqueModule = qp::TUniqueAny<ModuleTraits>;

using EnumProcessesFn = BOOL(WINAPI *)(DWORD *, DWORD, DWORD *);
using ProcessImageFileNameFn = DWORD(WINAPI *)(HANDLE, LPWSTR, DWORD);

// The process list's functions: kernel32's K32 names (Windows 7 and
// later), else psapi.dll's. Resolved once, kept until the program ends.
struct TProcessApi {
  UniqueModule psapi;
  EnumProcessesFn enumProcesses = nullptr;
  ProcessImageFileNameFn imageFileName = nullptr;
};

const TProcessApi &ProcessApi() {
  static const TProcessApi api = [] {
    TProcessApi found;
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    found.enumProcesses = ProcAddress<EnumProcessesFn>(kernel, "K32EnumProcesses");
    found.imageFileName =
        ProcAddress<ProcessImageFileNameFn>(kernel, "K32GetProcessImageFileNameW");
    if (found.enumProcesses == nullptr || found.imageFileName == nullptr) {
      found.psapi.Reset(::LoadLibraryW(L"psapi.dll"));
      found.enumProcesses = ProcAddress<EnumProcessesFn>(found.psapi.Get(), "EnumProcesses");
      found.imageFileName =
          ProcAddress<ProcessImageFileNameFn>(found.psapi.Get(), "GetProcessImageFileNameW");
    }
    return found;
  }();
  return api;
}

// A session no process is in: what an entry gets when its session cannot
// be asked, so that it never counts as the caller's own.
constexpr std::uint32_t kUnknownSession = 0xFFFFFFFFu;
// The longest NT path GetProcessImageFileName answers.
constexpr DWORD kImagePathChars = 32768;

BOOL CALLBACK PostCloseToProcessWindow(HWND window, LPARAM target) {
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(target))
    IgnoreResult(::PostMessageW(window, WM_CLOSE, 0, 0));
  return TRUE;
}

} // namespace

bool Win32Processes::ListProcesses(std::vector<ProcessEntry> &processes) {
  processes.clear();
  const TProcessApi &api = ProcessApi();
  if (api.enumProcesses == nullptr || api.imageFileName == nullptr)
    return false;
  // The list is complete only when it did not fill the buffer.
  std::vector<DWORD> ids(1024);
  DWORD bytes = 0;
  for (;;) {
    const auto capacity = static_cast<DWORD>(ids.size() * sizeof(DWORD));
    if (!api.enumProcesses(ids.data(), capacity, &bytes))
      return false;
    if (bytes < capacity)
      break;
    ids.resize(ids.size() * 2);
  }
  ids.resize(bytes / sizeof(DWORD));
  std::vector<wchar_t> image(kImagePathChars);
  for (const DWORD id : ids) {
    const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process)
      continue; // the idle process, a protected one, another user's
    const DWORD length = api.imageFileName(process.Get(), image.data(), kImagePathChars);
    if (length == 0)
      continue;
    ProcessEntry entry;
    entry.id = id;
    DWORD session = 0;
    entry.sessionId = ::ProcessIdToSessionId(id, &session) ? session : kUnknownSession;
    entry.imagePath = Narrow(std::wstring_view(image.data(), length));
    processes.push_back(std::move(entry));
  }
  return true;
}

std::uint32_t Win32Processes::CurrentProcessId() {
  return ::GetCurrentProcessId();
}

std::uint32_t Win32Processes::CurrentSessionId() {
  DWORD session = 0;
  return ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) ? session : 0;
}

TCloseProcessResult Win32Processes::CloseProcess(std::uint32_t id, std::uint32_t timeoutMs) {
  if (id == ::GetCurrentProcessId())
    return cpNotClosed;
  const UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id));
  if (!process)
    return cpNotClosed;
  // Asked first, as the user closing its windows would; ended by force
  // only when it did not end within the time-out.
  IgnoreResult(::EnumWindows(PostCloseToProcessWindow, static_cast<LPARAM>(id)));
  if (::WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0)
    return cpEnded;
  return ::TerminateProcess(process.Get(), 0) ? cpTerminated : cpNotClosed;
}

bool Win32Processes::StartProcess(std::string_view commandLine) {
  PROCESS_INFORMATION process{};
  if (!CreateProcessShown(commandLine, SW_SHOWNORMAL,
                          CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, process))
    return false;
  const UniqueHandle processHandle(process.hProcess);
  const UniqueHandle threadHandle(process.hThread);
  return true;
}

} // namespace qp::win32
