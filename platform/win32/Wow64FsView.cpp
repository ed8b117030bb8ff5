#include "platform/win32/Wow64FsView.h"

#include <array>

#include "platform/win32/WinApi.h"
#include "platform/win32/WinText.h"

namespace qp::win32 {

namespace {

thread_local bool t_wow64View = false;

wchar_t FoldAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

bool EqualNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
  }
  return true;
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// When path is folder itself or lies below it, the rest after the folder
// (empty, or starting with a separator).
bool StripFolder(std::wstring_view path, std::wstring_view folder, std::wstring_view &rest) {
  while (!folder.empty() && IsSeparator(folder.back())) {
    folder.remove_suffix(1);
  }
  if (folder.empty() || path.size() < folder.size() ||
      !EqualNoCase(path.substr(0, folder.size()), folder)) {
    return false;
  }
  rest = path.substr(folder.size());
  return rest.empty() || IsSeparator(rest.front());
}

// The components of rest (which starts with a separator) one by one.
std::wstring_view Component(std::wstring_view rest, std::size_t &pos) {
  while (pos < rest.size() && IsSeparator(rest[pos])) {
    ++pos;
  }
  const std::size_t start = pos;
  while (pos < rest.size() && !IsSeparator(rest[pos])) {
    ++pos;
  }
  return rest.substr(start, pos - start);
}

// Folders of the system folder that a 32-bit process still sees unredirected.
bool IsSharedSystemFolder(std::wstring_view rest) {
  static constexpr std::array<std::wstring_view, 5> kShared = {
      L"catroot", L"catroot2", L"DriverStore", L"LogFiles", L"spool"};
  std::size_t pos = 0;
  const std::wstring_view first = Component(rest, pos);
  for (const std::wstring_view name : kShared) {
    if (EqualNoCase(first, name)) {
      return true;
    }
  }
  if (EqualNoCase(first, L"drivers")) {
    return EqualNoCase(Component(rest, pos), L"etc");
  }
  return false;
}

std::wstring QueryFolder(UINT(WINAPI *query)(LPWSTR, UINT)) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const UINT n = query(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n == 0) {
      return {};
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.assign(n + 1, L'\0');
  }
  while (buffer.size() > 3 && IsSeparator(buffer.back())) {
    buffer.pop_back();
  }
  return buffer;
}

} // namespace

std::wstring MapToWow64View(std::wstring_view path, const Wow64Folders &folders) {
  std::wstring_view rest;
  if (StripFolder(path, folders.system, rest)) {
    if (IsSharedSystemFolder(rest)) {
      return std::wstring(path);
    }
    return folders.sysWow64 + std::wstring(rest);
  }
  // "Sysnative" is how a redirected 32-bit process reaches the real folder.
  if (!folders.windows.empty()) {
    std::wstring sysnative = folders.windows;
    if (!IsSeparator(sysnative.back())) {
      sysnative += L'\\';
    }
    sysnative += L"Sysnative";
    if (StripFolder(path, sysnative, rest)) {
      return folders.system + std::wstring(rest);
    }
  }
  return std::wstring(path);
}

const Wow64Folders *MachineWow64Folders() {
  static const Wow64Folders folders{QueryFolder(::GetSystemDirectoryW),
                                    QueryFolder(::GetSystemWow64DirectoryW),
                                    QueryFolder(::GetSystemWindowsDirectoryW)};
  return folders.sysWow64.empty() || folders.system.empty() ? nullptr : &folders;
}

bool ThreadInWow64View() {
  return t_wow64View;
}

void SetThreadWow64View(bool on) {
  t_wow64View = on;
}

std::wstring ViewPath(std::string_view utf8Path) {
  std::wstring path = Wide(utf8Path);
  if (t_wow64View) {
    if (const Wow64Folders *folders = MachineWow64Folders()) {
      return MapToWow64View(path, *folders);
    }
  }
  return path;
}

} // namespace qp::win32
