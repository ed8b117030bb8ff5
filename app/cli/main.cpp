// quenlo-cli for Windows: installs the Win32 platform and runs one command.
#include "platform/win32/WinApi.h"
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/uCli.h"
#include "app/cli/uCliMonitor.h"
#include "app/uEnvironment.h"
#include "platform/MainThread.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "platform/win32/Win32Platform.h"
#include "registry/uRegAccess.h"

namespace {

// Ctrl+C and Ctrl+Break end a running monitor the way its deadline would
// (its last lines written, exit code 0); for every other command, and for
// the console being closed, the default handling ends the process.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
    return FALSE;
  return quenlo::cli::RequestMonitorStop() ? TRUE : FALSE;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  qp::win32::InstallWin32Platform();
  qp::MainThread().BindToCurrentThread();
  quenlo::InitRegistryLayer();
  quenlo::InitEnvironment();
  // Without the handler Ctrl+C still ends a monitor, only without its exit code 0.
  qp::IgnoreResult(SetConsoleCtrlHandler(OnConsoleControl, TRUE));

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(qp::Utf16ToUtf8(reinterpret_cast<const char16_t *>(argv[i])));
  DWORD mode = 0;
  const bool errIsTerminal = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  const int code = quenlo::cli::RunCli(args, {std::cout, std::cerr, errIsTerminal});
  std::cout.flush();
  std::cerr.flush();
  return code;
}
