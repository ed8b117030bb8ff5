// Environment expansion, well-known folders, search folders and the file
// checks (ProbePath and the functions built on it).
#include "paths/uPaths.h"

#include <atomic>
#include <mutex>

#include "paths/uProbeCache.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

constexpr std::string_view kSharedDllsKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Replaces every occurrence of `from` (lower-case ASCII) in text, ignoring
// case, by `to`.
std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size() + 16);
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = i + from.size() <= text.size();
    for (std::size_t k = 0; match && k < from.size(); ++k)
      match = LowerChar(text[i + k]) == from[k];
    if (match) {
      out.append(to);
      i += from.size();
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

// Every attribute query of the file checks goes through here (memoised
// while a scan runs on this thread).
std::uint32_t QueryAttributes(std::string_view path) {
  return CachedFileAttributes(path);
}

bool IsFileAttributes(std::uint32_t attributes) {
  return attributes != wc::InvalidFileAttributes && (attributes & wc::FileAttributeDirectory) == 0;
}

bool IsFolderAttributes(std::uint32_t attributes) {
  return attributes != wc::InvalidFileAttributes && (attributes & wc::FileAttributeDirectory) != 0;
}

struct SearchDirCache {
  std::mutex mu;
  std::atomic<bool> built{false};
  std::vector<std::string> dirs;
};

SearchDirCache &DirCache() {
  static SearchDirCache cache;
  return cache;
}

// PATH entries: split at ';' outside quotes, quotes removed, blanks kept.
void AppendPathEntries(std::string_view pathVar, std::vector<std::string> &out) {
  std::string entry;
  bool inQuotes = false;
  auto flush = [&] {
    if (!entry.empty())
      out.push_back(std::move(entry));
    entry.clear();
  };
  for (char c : pathVar) {
    if (c == '"')
      inQuotes = !inQuotes;
    else if (c == ';' && !inQuotes)
      flush();
    else
      entry.push_back(c);
  }
  flush();
}

// The SharedDlls value name whose file-name part is `name` (lower-case)
// and which is an existing file; empty when none.
std::string FindSharedDll(const std::string &name) {
  auto &reg = qp::Platform().Registry();
  // The list is kept by 32-bit installers: read it in the 32-bit view.
  const std::uint32_t sam = wc::KeyAllAccess | (ProcessOnWow64 ? ViewFlag(rv32) : 0u);
  ScopedKey key;
  if (reg.OpenKey(wc::HkeyLocalMachine, kSharedDllsKey, sam, key.Out()) != wc::ErrorSuccess)
    return {};
  qp::KeyInfo info;
  if (reg.QueryInfoKey(key.Get(), info) != wc::ErrorSuccess)
    return {};
  std::string valueName;
  std::uint32_t type = 0;
  qp::Bytes data;
  for (std::uint32_t i = 0; i < info.values; ++i) {
    if (reg.EnumValue(key.Get(), i, info.maxValueNameLen + 1, info.maxValueLen, valueName, type,
                      data) != wc::ErrorSuccess)
      continue;
    const std::string_view file = ExtractFileName(valueName);
    if (file.size() != name.size() || qp::LowerAscii(file) != name)
      continue;
    if (IsFileAttributes(QueryAttributes(valueName)))
      return valueName;
  }
  return {};
}

bool ProbeWithRetry(std::string_view path, bool fileOnly) {
  std::string copy(path);
  auto wanted = [fileOnly](int r) { return fileOnly ? r == kProbeFile : r != kProbeNone; };
  if (wanted(ProbePath(copy)))
    return true;
  if (!ProcessOnWow64)
    return false;
  ScopedFsRedirectionOff off;
  if (!off.Switched())
    return false; // there is no other view: the answer stands
  return wanted(ProbePath(copy));
}

} // namespace

// --- environment and folders

std::string ExpandEnvPath(std::string_view text, bool use64) {
  if (text.empty())
    return {};
  if (text.find('%') == std::string_view::npos)
    return std::string(text); // nothing to expand
  std::string work;
  if (use64) {
    work = ReplaceAllNoCase(text, "%programfiles%", "%ProgramW6432%");
    work = ReplaceAllNoCase(work, "%commonprogramfiles%", "%CommonProgramW6432%");
  } else if (ProcessOnWow64 && qp::Platform().System().ProcessIs64Bit()) {
    // The checks reason as a 32-bit process, which sees the x86 program
    // folders under the usual names.
    work = ReplaceAllNoCase(text, "%programfiles%", "%ProgramFiles(x86)%");
    work = ReplaceAllNoCase(work, "%commonprogramfiles%", "%CommonProgramFiles(x86)%");
  } else {
    work = std::string(text);
  }
  auto expanded = qp::Platform().System().ExpandEnvironmentStrings(work);
  if (!expanded)
    return std::string(text);
  return std::move(*expanded);
}

std::string GetSystemDir() {
  return qp::WithTrailingBackslash(qp::LowerAscii(qp::Platform().System().GetSystemDirectory()));
}

std::string GetWindowsDir() {
  return qp::WithTrailingBackslash(qp::LowerAscii(qp::Platform().System().GetWindowsDirectory()));
}

std::string GetTempDir() {
  return qp::WithTrailingBackslash(qp::Platform().System().GetTempPath());
}

bool GetSpecialFolder(std::uintptr_t /*owner*/, int csidl, bool create, std::string &path) {
  std::string found;
  if (!qp::Platform().System().GetSpecialFolder(csidl, create, found))
    return false;
  path = std::move(found);
  return true;
}

// --- search folders

std::vector<std::string> BuildSearchDirs() {
  std::vector<std::string> candidates;
  const std::string systemDir = GetSystemDir();
  candidates.push_back(systemDir);
  candidates.push_back(GetWindowsDir());
  const std::string_view drive = ExtractFileDrive(systemDir);
  if (!drive.empty())
    candidates.push_back(std::string(drive) + "\\");
  std::string pathVar;
  if (qp::Platform().System().GetEnvironmentVariable("PATH", pathVar))
    AppendPathEntries(pathVar, candidates);

  // The first occurrence of a folder decides; later duplicates would only
  // repeat the same probes.
  std::vector<std::string> dirs;
  std::vector<std::string> seen;
  for (auto &dir : candidates) {
    dir = qp::WithTrailingBackslash(std::move(dir));
    std::string folded = qp::LowerAscii(dir);
    bool duplicate = false;
    for (const auto &s : seen)
      if (s == folded) {
        duplicate = true;
        break;
      }
    if (duplicate)
      continue;
    seen.push_back(std::move(folded));
    dirs.push_back(std::move(dir));
  }
  return dirs;
}

const std::vector<std::string> &SearchDirs() {
  auto &cache = DirCache();
  if (!cache.built.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(cache.mu);
    if (!cache.built.load(std::memory_order_relaxed)) {
      cache.dirs = BuildSearchDirs();
      cache.built.store(true, std::memory_order_release);
    }
  }
  return cache.dirs;
}

void ResetSearchDirsForTests() {
  auto &cache = DirCache();
  std::lock_guard<std::mutex> lock(cache.mu);
  cache.dirs.clear();
  cache.built.store(false, std::memory_order_release);
}

// --- file checks

int ProbePath(std::string &path) {
  // 1. The whole text, when it is on a fixed drive.
  const bool fixed = IsOnFixedDrive(path);
  if (fixed) {
    const std::uint32_t attr = QueryAttributes(path);
    if (IsFileAttributes(attr))
      return kProbeFile;
    if (IsFolderAttributes(attr))
      return kProbeFolder;
  }

  // 2./3. Start at the drive letter of the first ":\".
  const auto colon = path.find(":\\");
  if (colon == std::string::npos || colon == 0)
    return kProbeNone; // no drive letter in front of it
  if (colon >= 2) {
    path.erase(0, colon - 1);
    // 4. The drive of what is left must be fixed.
    if (!IsOnFixedDrive(path))
      return kProbeNone;
  } else if (!fixed) {
    return kProbeNone; // the same drive as tested above
  }

  // 5. Cut at the first character that cannot occur in a file name.
  const auto bad = path.find_first_of(kInvalidNameChars, 2);
  if (bad != std::string::npos)
    path.resize(bad);

  // 6. Try every place where the path may end (1-based positions).
  const std::string_view text = path;
  const std::size_t len = text.size();
  std::size_t i = 1;
  while (true) {
    const std::size_t e = FindCharFrom(i, text, kPathSeparatorChars);
    std::string_view candidate;
    if (e > 0) {
      candidate = text.substr(0, e - 1);
      i = e;
    } else {
      candidate = text;
      i = len;
    }
    if (!candidate.empty() && candidate.back() == '\\')
      candidate.remove_suffix(1);
    const std::uint32_t attr =
        candidate.empty() ? wc::InvalidFileAttributes : QueryAttributes(candidate);
    if (IsFileAttributes(attr)) {
      path.resize(candidate.size());
      return kProbeFile;
    }
    if (IsFolderAttributes(attr)) {
      // A folder only counts at the end of the text or before a blank or
      // comma, and when no deeper path follows.
      const bool noDeeper = i >= len || text.find('\\', i) == std::string_view::npos;
      const bool atEnd = i == len || (i < len && (text[i] == ' ' || text[i] == ','));
      if (noDeeper && atEnd) {
        path.resize(candidate.size());
        return kProbeFolder;
      }
    }
    ++i;
    if (e == 0 || i > len)
      return kProbeNone;
  }
}

bool ProbeFile(std::string_view path) {
  return ProbeWithRetry(path, true);
}

bool ProbeFileOrFolder(std::string_view path) {
  return ProbeWithRetry(path, false);
}

std::string ResolveFilePath(std::string_view text) {
  std::string t = ExpandEnvPath(text, false);
  if (!t.empty() && t.front() == '"')
    t.erase(0, 1);

  if (t.empty())
    return {}; // names nothing (not even a PATH entry that is a file)
  std::string probe = t;
  if (ProbePath(probe) == kProbeFile)
    return probe;
  if (t.find(":\\") != std::string::npos)
    return {};

  for (const auto &dir : SearchDirs()) {
    probe.assign(dir);
    probe.append(t);
    if (ProbePath(probe) == kProbeFile)
      return probe;
  }
  return FindSharedDll(qp::LowerAscii(t));
}

std::string LocateFile(std::string_view text) {
  std::string found = ResolveFilePath(text);
  if (!found.empty() || !ProcessOnWow64)
    return found;
  ScopedFsRedirectionOff off;
  if (!off.Switched())
    return found;
  return ResolveFilePath(text);
}

bool FileReferenceExists(std::string_view text) {
  return !LocateFile(text).empty();
}

std::string ExtractCommandFile(std::string_view commandLine) {
  if (commandLine.size() >= 2 && commandLine.front() == '"') {
    const auto close = commandLine.find('"', 1);
    if (close != std::string_view::npos)
      return std::string(commandLine.substr(1, close - 1));
  }
  const auto stop = commandLine.find_first_of(kPathStopChars);
  return std::string(stop == std::string_view::npos ? commandLine : commandLine.substr(0, stop));
}

bool CommandTargetExists(std::string_view commandLine) {
  const std::string file = qp::LowerAscii(ExtractCommandFile(commandLine));
  if (file == "%1" || file == "explorer" || file == "rundll32" || file == "svchost")
    return true;
  // Nothing to search for: the command names no program of its own.
  if (file.empty())
    return true;
  if (FileReferenceExists(commandLine))
    return true;
  if (!ExtractFileExt(file).empty())
    return FileReferenceExists(file);
  for (const char *ext : {".exe", ".com", ".bat", ""})
    if (FileReferenceExists(file + ext))
      return true;
  return false;
}

// Only fixed drives count; a path without a drive part is never on one.
bool IsOnFixedDrive(std::string_view path) {
  const std::string_view drive = ExtractFileDrive(path);
  if (drive.empty())
    return false;
  std::string root(drive);
  root.push_back('\\');
  return CachedDriveType(root) == wc::DriveFixed;
}

bool IsExistingFile(std::string_view path) {
  return IsFileAttributes(QueryAttributes(path));
}

bool IsExistingFolder(std::string_view path) {
  // "C:\dir\" and "C:\dir" name the same folder; "C:\" keeps its backslash
  // ("C:" alone would be the drive's current folder).
  if (path.size() > 3 && path.back() == '\\')
    path.remove_suffix(1);
  return !path.empty() && IsFolderAttributes(QueryAttributes(path));
}

} // namespace quenlo
