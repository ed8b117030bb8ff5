// IFileSystem over the wide kernel32 file API and SHFileOperation.
#pragma once

#include "platform/Platform.h"

namespace qp::win32 {

class Win32FileSystem final : public IFileSystem {
public:
  std::uint32_t GetAttributes(std::string_view path, long *error) override;
  std::uint32_t GetDriveType(std::string_view root) override;
  std::unique_ptr<IFindHandle> FindFirst(std::string_view pattern, FindData &first,
                                         long *error) override;
  long CreateDirectory(std::string_view path) override;
  long RemoveDirectory(std::string_view path) override;
  long DeleteFile(std::string_view path) override;
  long MoveFile(std::string_view from, std::string_view to, std::uint32_t flags) override;
  long CopyFile(std::string_view from, std::string_view to, bool failIfExists) override;
  long ReadFile(std::string_view path, std::string &data) override;
  long WriteFile(std::string_view path, std::string_view data) override;
  long AppendFile(std::string_view path, std::string_view data) override;
  long FlushFile(std::string_view path) override;
  long OpenLockFile(std::string_view path, std::unique_ptr<IFileLock> &lock) override;
  long GetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                       std::string &sddl) override;
  long SetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                       std::string_view sddl) override;
  long RecycleFile(std::string_view path) override;
  long SetAttributes(std::string_view path, std::uint32_t attributes) override;
  long TestExclusiveOpen(std::string_view path) override;
  long GetFinalPath(std::string_view path, std::string &finalPath) override;

  bool SwitchFsView(std::uintptr_t &previous) override;
  void RevertFsView(std::uintptr_t previous) override;
};

} // namespace qp::win32
