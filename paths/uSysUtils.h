// Small system helpers shared by many subsystems: file-system view
// switching, the user's SID and logon name, byte-size texts, device paths,
// privileges, restarting Windows and shell-style file operations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Guards.h"

namespace quenlo {

// --- file-system redirection
// Keeps the calling thread in the other file-system view (WOW64 redirection
// off) for its lifetime and tells the probe memo, so that answers of the two
// views stay apart; does nothing where there is no other view.
class ScopedFsRedirectionOff {
public:
  ScopedFsRedirectionOff();
  ~ScopedFsRedirectionOff();
  ScopedFsRedirectionOff(const ScopedFsRedirectionOff &) = delete;
  ScopedFsRedirectionOff &operator=(const ScopedFsRedirectionOff &) = delete;
  bool Switched() const { return view_.Switched(); }

private:
  qp::TFsViewSwitch view_;
};

// --- user facts
[[nodiscard]] bool GetUserSidText(std::string &text); // "S-1-5-21-..."
[[nodiscard]] bool GetLogonUserName(std::string &name);

// "0 B", "1 KB", "1,024 KB"... : bytes up to 1024, whole KB up to 1 MB, then
// MB and GB with thousands separators (",") and two decimals (".").
std::string FormatByteSize(std::int64_t bytes);

// "\Device\HarddiskVolume1\x" -> "C:\x" (unchanged when no drive matches).
std::string DevicePathToDosPath(std::string_view path);

[[nodiscard]] bool SetPrivilege(std::string_view name, bool enable);
// Reboots Windows (planned maintenance); false when it cannot be started.
[[nodiscard]] bool RestartWindows();

// Deletes a file or a whole folder (reparse points are removed, not
// entered); with toRecycleBin it goes to the recycle bin instead.
[[nodiscard]] bool ShellDeleteFile(std::string_view path, bool toRecycleBin);
// Renames/moves a file or folder; an existing target file is replaced.
[[nodiscard]] bool ShellRenameFile(std::string_view from, std::string_view to);
// Copies a file, replacing an existing target.
[[nodiscard]] bool ShellCopyFile(std::string_view from, std::string_view to);

} // namespace quenlo
