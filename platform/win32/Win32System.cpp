#include "platform/win32/Win32System.h"

#include "platform/PathText.h"

#include <vector>

#include "platform/win32/WinApi.h"
#include "platform/win32/WinHandles.h"
#include "platform/win32/WinText.h"

namespace qp::win32 {

namespace {

using RtlGetVersionFn = LONG(WINAPI *)(OSVERSIONINFOEXW *);
using IsWow64ProcessFn = BOOL(WINAPI *)(HANDLE, BOOL *);
using SfcIsKeyProtectedFn = BOOL(WINAPI *)(HKEY, LPCWSTR, REGSAM);

template <typename Fn> Fn Entry(const wchar_t *module, const char *name) {
  return ProcAddress<Fn>(::GetModuleHandleW(module), name);
}

// Calls query(buffer, capacity) -> length as the "size, then fill" folder
// functions answer it; empty on failure.
template <typename Query> std::wstring QuerySized(Query query) {
  std::wstring buffer(MAX_PATH + 1, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = query(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      return {};
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(static_cast<std::size_t>(n) + 1, L'\0');
  }
  return {};
}

UniqueHandle ProcessToken(DWORD access) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), access, &token)) {
    return UniqueHandle();
  }
  return UniqueHandle(token);
}

// The sfc library, loaded once for the life of the process.
SfcIsKeyProtectedFn SfcEntry() {
  static const SfcIsKeyProtectedFn fn = [] {
    return ProcAddress<SfcIsKeyProtectedFn>(::LoadLibraryW(L"sfc.dll"), "SfcIsKeyProtected");
  }();
  return fn;
}

std::string ShellLinkText(HRESULT hr, const std::vector<wchar_t> &buffer) {
  return hr == S_OK ? NarrowUntilNul(buffer.data(), buffer.size()) : std::string();
}

} // namespace

bool Win32System::GetEnvironmentVariable(std::string_view name, std::string &value) {
  const std::wstring wname = Wide(name);
  std::wstring buffer(256, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n =
        ::GetEnvironmentVariableW(wname.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      // 0 with no error is a variable that exists and is empty.
      if (::GetLastError() != ERROR_SUCCESS) {
        return false;
      }
      value.clear();
      return true;
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      value = Narrow(buffer);
      return true;
    }
    buffer.assign(static_cast<std::size_t>(n) + 1, L'\0');
  }
  return false;
}

bool Win32System::SetEnvironmentVariable(std::string_view name, std::string_view value) {
  return ::SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str()) != FALSE;
}

std::optional<std::string> Win32System::ExpandEnvironmentStrings(std::string_view text) {
  const std::wstring source = Wide(text);
  DWORD needed = ::ExpandEnvironmentStringsW(source.c_str(), nullptr, 0);
  for (int attempt = 0; attempt < 4 && needed != 0; ++attempt) {
    std::wstring buffer(needed, L'\0');
    const DWORD n = ::ExpandEnvironmentStringsW(source.c_str(), buffer.data(), needed);
    if (n == 0) {
      break;
    }
    if (n <= needed) {
      // n counts the terminating NUL.
      buffer.resize(n - 1);
      return Narrow(buffer);
    }
    needed = n;
  }
  return std::nullopt;
}

std::string Win32System::GetSystemDirectory() {
  return qp::WithoutTrailingBackslash(
      Narrow(QuerySized([](wchar_t *b, DWORD n) { return ::GetSystemDirectoryW(b, n); })));
}

std::string Win32System::GetWindowsDirectory() {
  return qp::WithoutTrailingBackslash(
      Narrow(QuerySized([](wchar_t *b, DWORD n) { return ::GetWindowsDirectoryW(b, n); })));
}

std::string Win32System::GetTempPath() {
  std::wstring path = QuerySized([](wchar_t *b, DWORD n) { return ::GetTempPathW(n, b); });
  if (!path.empty() && path.back() != L'\\') {
    path.push_back(L'\\');
  }
  return Narrow(path);
}

bool Win32System::GetSpecialFolder(int csidl, bool create, std::string &path) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const HRESULT hr =
      ::SHGetFolderPathW(nullptr, csidl | (create ? CSIDL_FLAG_CREATE : 0), nullptr, 0, buffer);
  if (hr != S_OK) {
    return false;
  }
  path = NarrowUntilNul(buffer, MAX_PATH + 1);
  return true;
}

bool Win32System::GetVersion(VersionInfo &info) {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  bool ok = false;
  // GetVersionEx answers with the manifest's idea of the version on newer
  // systems; the kernel's own call tells the truth.
  if (const auto rtl = Entry<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion")) {
    ok = rtl(&version) == 0;
  }
  if (!ok) {
    version = OSVERSIONINFOEXW{};
    version.dwOSVersionInfoSize = sizeof(version);
    ok = ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW *>(&version)) != FALSE;
  }
  if (!ok) {
    return false;
  }
  info.major = version.dwMajorVersion;
  info.minor = version.dwMinorVersion;
  info.build = version.dwBuildNumber;
  info.platformId = version.dwPlatformId;
  info.servicePack = NarrowUntilNul(version.szCSDVersion, 128);
  return true;
}

std::optional<bool> Win32System::IsWow64Process() {
  const auto fn = Entry<IsWow64ProcessFn>(L"kernel32.dll", "IsWow64Process");
  if (fn == nullptr) {
    return std::nullopt;
  }
  BOOL wow64 = FALSE;
  if (!fn(::GetCurrentProcess(), &wow64)) {
    return std::nullopt;
  }
  return wow64 != FALSE;
}

bool Win32System::ProcessIs64Bit() {
  return sizeof(void *) == 8;
}

bool Win32System::IsFarEastLocale() {
  if (::GetSystemMetrics(SM_DBCSENABLED) != 0) {
    return true;
  }
  switch (::GetACP()) {
  case 932: // Japanese
  case 936: // Simplified Chinese
  case 949: // Korean
  case 950: // Traditional Chinese
    return true;
  default:
    return false;
  }
}

bool Win32System::GetUserSid(std::string &sid) {
  const UniqueHandle token = ProcessToken(TOKEN_QUERY);
  if (!token) {
    return false;
  }
  DWORD length = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &length);
  if (length == 0) {
    return false;
  }
  std::vector<BYTE> buffer(length, 0);
  if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), length, &length)) {
    return false;
  }
  const auto *user = reinterpret_cast<const TOKEN_USER *>(buffer.data());
  LPWSTR text = nullptr;
  if (!::IsValidSid(user->User.Sid) || !::ConvertSidToStringSidW(user->User.Sid, &text)) {
    return false;
  }
  const UniqueLocal owner(text);
  sid = Narrow(text);
  return true;
}

bool Win32System::GetUserName(std::string &name) {
  std::wstring buffer(257, L'\0');
  DWORD length = static_cast<DWORD>(buffer.size());
  if (!::GetUserNameW(buffer.data(), &length)) {
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0) {
      return false;
    }
    buffer.assign(length, L'\0');
    if (!::GetUserNameW(buffer.data(), &length)) {
      return false;
    }
  }
  name = NarrowUntilNul(buffer.data(), buffer.size());
  return true;
}

bool Win32System::IsAdmin() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  UniqueSid admins;
  if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &admins.Out())) {
    return false;
  }
  BOOL member = FALSE;
  return ::CheckTokenMembership(nullptr, admins.Get(), &member) && member;
}

long Win32System::SetPrivilege(std::string_view name, bool enable, bool *wasEnabled) {
  const UniqueHandle token = ProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  if (!token) {
    return static_cast<long>(::GetLastError());
  }
  TOKEN_PRIVILEGES wanted{};
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!::LookupPrivilegeValueW(nullptr, Wide(name).c_str(), &wanted.Privileges[0].Luid)) {
    return static_cast<long>(::GetLastError());
  }
  TOKEN_PRIVILEGES previous{};
  DWORD previousLength = sizeof(previous);
  ::SetLastError(ERROR_SUCCESS);
  if (!::AdjustTokenPrivileges(token.Get(), FALSE, &wanted, sizeof(previous), &previous,
                               &previousLength)) {
    return static_cast<long>(::GetLastError());
  }
  // Success with ERROR_NOT_ALL_ASSIGNED means the token lacks the privilege.
  const long status = static_cast<long>(::GetLastError());
  if (wasEnabled != nullptr) {
    // The previous state lists the privilege only when the call changed
    // it; an empty list means it already was as asked.
    *wasEnabled = previous.PrivilegeCount == 0
                      ? enable
                      : (previous.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  return status;
}

bool Win32System::ExitWindows(std::uint32_t flags, std::uint32_t reason) {
  return ::ExitWindowsEx(flags, reason) != FALSE;
}

bool Win32System::QueryDosDevice(std::string_view drive, std::string &device) {
  const std::wstring name = Wide(drive);
  std::vector<wchar_t> buffer(1024, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n =
        ::QueryDosDeviceW(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n != 0) {
      // The answer is a list; its first entry is the current mapping.
      device = NarrowUntilNul(buffer.data(), n);
      return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return false;
    }
    buffer.assign(buffer.size() * 4, L'\0');
  }
  return false;
}

std::string Win32System::SystemMessage(long code) {
  LPWSTR text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  const UniqueLocal owner(text);
  if (n == 0 || text == nullptr) {
    return "Unknown error " + std::to_string(code);
  }
  std::wstring_view message(text, n);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                              message.back() == L' ' || message.back() == L'\t')) {
    message.remove_suffix(1);
  }
  if (message.empty()) {
    return "Unknown error " + std::to_string(code);
  }
  return Narrow(message);
}

std::optional<bool> Win32System::SfcIsKeyProtected(std::uint32_t root, std::string_view path,
                                                   std::uint32_t viewFlag) {
  const SfcIsKeyProtectedFn fn = SfcEntry();
  if (fn == nullptr) {
    return std::nullopt;
  }
  const auto key = reinterpret_cast<HKEY>(
      static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(root))));
  return fn(key, Wide(path).c_str(), viewFlag) != FALSE;
}

bool Win32System::ReadShellLink(std::string_view file, ShellLinkInfo &info) {
  const ComScope com;
  if (!com.Usable()) {
    return false;
  }
  ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.put_void()))) {
    return false;
  }
  ComPtr<IPersistFile> persist;
  if (FAILED(link->QueryInterface(IID_IPersistFile, persist.put_void())) ||
      FAILED(persist->Load(Wide(file).c_str(), STGM_READ))) {
    return false;
  }
  std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
  const int capacity = static_cast<int>(buffer.size());
  ShellLinkInfo result;
  // The raw path keeps environment variables as written in the link.
  result.path =
      ShellLinkText(link->GetPath(buffer.data(), capacity, nullptr, SLGP_RAWPATH), buffer);
  buffer.assign(buffer.size(), L'\0');
  result.arguments = ShellLinkText(link->GetArguments(buffer.data(), capacity), buffer);
  buffer.assign(buffer.size(), L'\0');
  result.workingDir = ShellLinkText(link->GetWorkingDirectory(buffer.data(), capacity), buffer);
  buffer.assign(buffer.size(), L'\0');
  int iconIndex = 0;
  result.iconLocation =
      ShellLinkText(link->GetIconLocation(buffer.data(), capacity, &iconIndex), buffer);
  info = std::move(result);
  return true;
}

std::uint64_t Win32System::TickCount() {
  return ::GetTickCount64();
}

void Win32System::Sleep(std::uint32_t ms) {
  ::Sleep(ms);
}

} // namespace qp::win32
