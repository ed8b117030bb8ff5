#include "platform/FileOps.h"

#include <string>

#include "platform/PathText.h"
#include "platform/Platform.h"

namespace qp {

bool FileExists(std::string_view path) {
  const std::uint32_t attributes = Platform().Files().GetAttributes(path);
  return attributes != wc::InvalidFileAttributes && (attributes & wc::FileAttributeDirectory) == 0;
}

bool FolderExists(std::string_view path) {
  // "C:\dir\" and "C:\dir" name the same folder; "C:\" keeps its backslash.
  if (path.size() > 3 && path.back() == '\\')
    path.remove_suffix(1);
  if (path.empty())
    return false;
  const std::uint32_t attributes = Platform().Files().GetAttributes(path);
  return attributes != wc::InvalidFileAttributes && (attributes & wc::FileAttributeDirectory) != 0;
}

bool ForceDirectories(std::string_view folder, long &lastError) {
  lastError = 0;
  std::string path = WithoutTrailingBackslash(folder);
  // A drive root is there or cannot be made.
  if (path.size() == 3 && path[1] == ':')
    path.pop_back();
  if (path.empty())
    return false;
  if (FolderExists(path))
    return true;
  const std::string parent = FolderOf(path);
  // A drive root ("C:") or a share has no parent to create.
  if (!parent.empty() && parent.back() != ':' && !FolderExists(parent) &&
      !ForceDirectories(parent, lastError))
    return false;
  const long st = Platform().Files().CreateDirectory(path);
  if (st == wc::ErrorSuccess || (st == wc::ErrorAlreadyExists && FolderExists(path)))
    return true;
  lastError = st;
  return false;
}

} // namespace qp
