#include "platform/FileOps.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "platform/PathText.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"

namespace qp {

namespace {

constexpr std::uint32_t kMoveReplaceExisting = 1; // MOVEFILE_REPLACE_EXISTING
constexpr int kRandomBits = 32;                   // one random_device draw
constexpr std::size_t kTagChars = 40;             // 16 + up to 16 hex digits and the NUL

// "<path>.<tag>.tmp" with a tag no other write shares: two writers at the
// same time (a scheduled scan and the user) each fill their own file, so
// neither moves the other's half-written text into place.
std::string UniqueTemporaryName(std::string_view path) {
  static const std::uint64_t processTag =
      std::random_device{}() | (static_cast<std::uint64_t>(std::random_device{}()) << kRandomBits);
  static std::atomic<std::uint64_t> writes{0};
  char tag[kTagChars];
  std::snprintf(tag, sizeof tag, "%016llx%08llx", static_cast<unsigned long long>(processTag),
                static_cast<unsigned long long>(++writes));
  return std::string(path) + "." + tag + ".tmp";
}

} // namespace

TFolderFinalPath::TFolderFinalPath(std::string_view folder) : folder_(folder) {
  if (folder_.empty())
    return;
  if (folder_.back() != '\\')
    folder_ += '\\';
  known_ = Platform().Files().GetFinalPath(folder_, finalPath_) == 0 && !finalPath_.empty();
  if (known_ && finalPath_.back() != '\\')
    finalPath_ += '\\';
}

bool TFolderFinalPath::LeadsElsewhere(std::string_view name) const {
  if (!known_ || name.empty())
    return false;
  std::string entryFinal;
  if (Platform().Files().GetFinalPath(folder_ + std::string(name), entryFinal) != 0)
    return false;
  return !EqualsNoCase(entryFinal, finalPath_ + std::string(name));
}

bool LeadsElsewhere(std::string_view path) {
  while (path.size() > 1 && path.back() == '\\')
    path.remove_suffix(1);
  const std::size_t slash = path.find_last_of('\\');
  if (slash == std::string_view::npos || slash + 1 >= path.size())
    return false;
  const std::string_view folder = path.substr(0, slash + 1);
  // "C:" alone is the drive's current folder, "\\server" no folder.
  if (folder.size() < 3)
    return false;
  return TFolderFinalPath(folder).LeadsElsewhere(path.substr(slash + 1));
}

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

long ReplaceFileContent(std::string_view path, std::string_view data, std::string *failedCall) {
  IFileSystem &files = Platform().Files();
  const std::string temp = UniqueTemporaryName(path);
  const char *call = "WriteFile";
  long st = files.WriteFile(temp, data);
  if (st == wc::ErrorSuccess) {
    call = "MoveFileEx";
    st = files.MoveFile(temp, path, kMoveReplaceExisting);
  }
  if (st == wc::ErrorSuccess)
    return st;
  IgnoreResult(files.DeleteFile(temp));
  if (failedCall != nullptr)
    *failedCall = call;
  return st;
}

} // namespace qp
