// Shared helpers of the Win32 platform tests that run under Wine.
#pragma once

#include <string>

#include "platform/Platform.h"
#include "platform/ScopedKey.h"
#include "platform/win32/WinApi.h"

namespace quenlo_wine {

// True when the tests run under Wine (ntdll exports wine_get_version).
inline bool RunningOnWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Removes a key and everything below it in the given view; missing is fine.
inline void RemoveKeyTree(HKEY root, const wchar_t *path, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
    ::RegDeleteTreeW(key, nullptr);
    ::RegCloseKey(key);
    ::RegDeleteKeyExW(root, path, view, 0);
  }
}

// An open key from the platform, closed on destruction.
using qp::ScopedKey;

} // namespace quenlo_wine
