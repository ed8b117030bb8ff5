// The 32-bit view of the system folder for a 64-bit program.
//
// A 32-bit process on 64-bit Windows sees <system folder> (and everything
// below it) in the WOW64 system folder, except a few folders that stay shared;
// "<windows>\Sysnative" reaches the real system folder. A thread that switched
// to this view gets its paths mapped by MapToWow64View before they reach the
// file API.
#pragma once

#include <string>
#include <string_view>

namespace qp::win32 {

struct Wow64Folders {
  std::wstring system;   // e.g. C:\Windows\System32, no trailing backslash
  std::wstring sysWow64; // e.g. C:\Windows\SysWOW64
  std::wstring windows;  // e.g. C:\Windows
};

// The path as a 32-bit process with redirection on would reach it; other
// paths come back unchanged. Case-insensitive.
std::wstring MapToWow64View(std::wstring_view path, const Wow64Folders &folders);

// The machine's folders; null when there is no WOW64 system folder (32-bit
// Windows). Computed once.
const Wow64Folders *MachineWow64Folders();

// Whether the calling thread currently sees the 32-bit view.
bool ThreadInWow64View();
void SetThreadWow64View(bool on);
// The path the file API must be given for the calling thread's view.
std::wstring ViewPath(std::string_view utf8Path);

} // namespace qp::win32
