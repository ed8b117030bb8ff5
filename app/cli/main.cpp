// quenlo-cli for Windows: installs the Win32 platform and runs one command.
#include "platform/win32/WinApi.h"
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/uCli.h"
#include "app/uEnvironment.h"
#include "platform/MainThread.h"
#include "platform/Utf.h"
#include "platform/win32/Win32Platform.h"
#include "registry/uRegAccess.h"

int wmain(int argc, wchar_t **argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  qp::win32::InstallWin32Platform();
  qp::MainThread().BindToCurrentThread();
  quenlo::InitRegistryLayer();
  quenlo::InitEnvironment();

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
