#include "scanner/uFileTests.h"

#include <string>

#include "paths/uPaths.h"
#include "paths/uProbeCache.h"
#include "platform/Platform.h"

namespace quenlo {

bool IsExistingFolder(std::string_view path) {
  // "C:\dir\" and "C:\dir" name the same folder; "C:\" keeps its backslash
  // ("C:" alone would be the drive's current folder).
  if (path.size() > 3 && path.back() == '\\')
    path.remove_suffix(1);
  if (path.empty())
    return false;
  const std::uint32_t attributes = CachedFileAttributes(path);
  return attributes != wc::InvalidFileAttributes && (attributes & wc::FileAttributeDirectory) != 0;
}

bool IsOnFixedDrive(std::string_view path) {
  const std::string_view drive = ExtractFileDrive(path);
  if (drive.empty())
    return false;
  std::string root(drive);
  root.push_back('\\');
  return CachedDriveType(root) == wc::DriveFixed;
}

} // namespace quenlo
