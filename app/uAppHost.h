// Facts about the running program and the few shell services the settings
// code needs beyond the platform interfaces: the executable's path and its
// version resource, the local clock, and creating a shell link.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace quenlo {

struct TLocalTime {
  int year = 0;
  int month = 0; // 1..12
  int day = 0;   // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

class IAppHost {
public:
  virtual ~IAppHost() = default;
  // Full path of the running executable; empty when unknown.
  virtual std::string ExePath() = 0;
  // The raw VS_VERSIONINFO resource of the running executable; empty when it
  // has none.
  virtual qp::Bytes VersionResource() = 0;
  // Saves a shortcut file; true when the file was written.
  virtual bool CreateShellLink(std::string_view linkFile, std::string_view target,
                               std::string_view arguments, std::string_view description) = 0;
  // The local date and time.
  virtual TLocalTime Now();
};

// The process-wide host: the one set with SetAppHost, else the built-in one
// (the Win32 one in the Windows build).
IAppHost &AppHost();
// Not owned; nullptr returns to the built-in host.
void SetAppHost(IAppHost *host);

} // namespace quenlo
