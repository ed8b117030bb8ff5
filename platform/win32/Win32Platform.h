// The real Windows platform: registry, files, system and processes through
// the wide Win32 API.
#pragma once

#include "platform/Platform.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32System.h"

namespace qp::win32 {

class Win32Platform final : public IPlatform {
public:
  IRegistry &Registry() override { return registry_; }
  IFileSystem &Files() override { return files_; }
  ISystem &System() override { return system_; }
  IProcesses &Processes() override { return processes_; }
  IDesktop &Desktop() override { return desktop_; }

private:
  Win32Registry registry_;
  Win32FileSystem files_;
  Win32System system_;
  Win32Processes processes_;
  Win32Desktop desktop_;
};

// The process's Win32 platform (created on first use, lives until exit).
Win32Platform &Win32PlatformInstance();
// Makes the Win32 platform the process-wide platform (qp::SetPlatform).
void InstallWin32Platform();

} // namespace qp::win32
