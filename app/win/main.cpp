// quenlo.exe: installs the Win32 platform, reads the environment and the
// settings, and runs the window.
#include "platform/win32/WinApi.h"

#include <string>
#include <vector>

#include "app/uEnvironment.h"
#include "app/win/uApp.h"
#include "platform/MainThread.h"
#include "platform/Utf.h"
#include "platform/win32/Win32Platform.h"
#include "registry/uRegAccess.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  qp::win32::InstallWin32Platform();
  qp::MainThread().BindToCurrentThread();
  quenlo::InitRegistryLayer();
  quenlo::InitEnvironment();
  std::vector<std::string> args;
  for (int i = 1; i < __argc; ++i)
    args.push_back(qp::Utf16ToUtf8(reinterpret_cast<const char16_t *>(__wargv[i])));
  return quenlo::win::RunQuenlo(args);
}
