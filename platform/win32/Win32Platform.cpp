#include "platform/win32/Win32Platform.h"

namespace qp::win32 {

Win32Platform &Win32PlatformInstance() {
  static Win32Platform platform;
  return platform;
}

void InstallWin32Platform() {
  SetPlatform(&Win32PlatformInstance());
}

} // namespace qp::win32
