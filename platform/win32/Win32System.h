// ISystem and IProcesses over kernel32, advapi32, shell32, ole32 and user32.
#pragma once

#include "platform/Platform.h"

namespace qp::win32 {

class Win32System final : public ISystem {
public:
  bool GetEnvironmentVariable(std::string_view name, std::string &value) override;
  bool SetEnvironmentVariable(std::string_view name, std::string_view value) override;
  std::optional<std::string> ExpandEnvironmentStrings(std::string_view text) override;
  std::string GetSystemDirectory() override;
  std::string GetWindowsDirectory() override;
  std::string GetTempPath() override;
  bool GetSpecialFolder(int csidl, bool create, std::string &path) override;
  bool GetVersion(VersionInfo &info) override;
  std::optional<bool> IsWow64Process() override;
  bool ProcessIs64Bit() override;
  bool IsFarEastLocale() override;
  bool GetUserSid(std::string &sid) override;
  bool GetUserName(std::string &name) override;
  bool IsAdmin() override;
  long SetPrivilege(std::string_view name, bool enable, bool *wasEnabled) override;
  bool ExitWindows(std::uint32_t flags, std::uint32_t reason) override;
  bool QueryDosDevice(std::string_view drive, std::string &device) override;
  std::string SystemMessage(long code) override;
  std::optional<bool> SfcIsKeyProtected(std::uint32_t root, std::string_view path,
                                        std::uint32_t viewFlag) override;
  bool ReadShellLink(std::string_view file, ShellLinkInfo &info) override;
  std::uint64_t TickCount() override;
  void Sleep(std::uint32_t ms) override;
};

class Win32Processes final : public IProcesses {
public:
  ProcessResult RunHiddenAndWait(std::string_view commandLine) override;
  bool ListProcesses(std::vector<ProcessEntry> &processes) override;
  std::uint32_t CurrentProcessId() override;
  std::uint32_t CurrentSessionId() override;
  TCloseProcessResult CloseProcess(std::uint32_t id, std::uint32_t timeoutMs) override;
  bool StartProcess(std::string_view commandLine) override;
};

class Win32Desktop final : public IDesktop {
public:
  bool ReadClipboard(std::vector<ClipboardEntry> &formats) override;
  bool EmptyClipboard() override;
  bool GetUrlCacheContainer(std::uint32_t containerFlag, std::string &path) override;
  void EnumUrlCache(std::string_view pattern,
                    const std::function<bool(const UrlCacheEntry &)> &visit) override;
  long DeleteUrlCacheEntry(std::string_view sourceUrl) override;
  long ClearUrlHistory() override;
  bool ListIisSites(std::string_view service, std::vector<IisSite> &sites) override;
  void BroadcastSettingChange() override;
};

} // namespace qp::win32
