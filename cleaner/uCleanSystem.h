// The cleaner's system routines: clipboard format captions, the process
// list, closing and starting programs, and the restart of the Windows
// shell (within the current session only).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace quenlo {

// The registered name when there is one, else the standard format's
// caption, else "Unnamed clipboard format #<n>".
std::string GetClipboardFormatCaption(std::uint32_t format, std::string_view registeredName);

// The first process of the current session whose image file name part
// equals exeName (both lower-cased); nullopt when none (or no list).
std::optional<std::uint32_t> FindProcessByName(std::string_view exeName);
// Every such process of the current session, in list order.
std::vector<std::uint32_t> FindProcessesByName(std::string_view exeName);
// cpNotClosed for the own process.
qp::TCloseProcessResult CloseProcess(std::uint32_t processId, std::uint32_t timeoutMs);
// Closes every matching process of the current session, last found first,
// 500 ms each; true when each ended or was terminated.
bool CloseProcessesByName(std::string_view exeName);
bool StartProcess(std::string_view commandLine);
// Restarts "explorer.exe" of the current session; true when it runs when
// this is done. Sleeps through ISystem::Sleep.
bool RestartExplorer();

} // namespace quenlo
