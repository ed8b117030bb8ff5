// The cleaner's file routines: walkers that never enter a link, the in-use
// test, the special and browser folders, removal that reports each entry it
// could not remove, the folder sweep and the single-file item.
#include "cleaner/uCleanFiles.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "cleaner/uItemTools.h"
#include "platform/FileOps.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr std::string_view kDots = ".";
constexpr std::string_view kDotDot = "..";
constexpr int kCsidlWindows = 0x24;
constexpr int kCsidlSystem = 0x25;
constexpr int kCsidlProgramFiles = 0x26;
constexpr int kCsidlSystemX86 = 0x29;
constexpr int kCsidlProgramFilesX86 = 0x2A;

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

bool IsDotEntry(std::string_view name) {
  return name == kDots || name == kDotDot;
}

bool IsFolderEntry(const qp::FindData &entry) {
  return (entry.attributes & wc::FileAttributeDirectory) != 0;
}

std::string WithBackslash(std::string_view folder) {
  std::string path(folder);
  if (path.empty() || path.back() != '\\')
    path += '\\';
  return path;
}

// Trailing backslashes go, except the one of a drive root ("C:\").
std::string WithoutBackslash(std::string_view folder) {
  std::string path(folder);
  while (path.size() > 1 && path.back() == '\\' && !(path.size() == 3 && path[1] == ':'))
    path.pop_back();
  return path;
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "X:\..." or "\\server\share...": what the program may take a folder
// from. "C:foo" (relative to the drive's current folder), "\foo" (relative
// to the current drive) and "foo" all depend on the current directory.
bool IsAbsolutePath(std::string_view path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\')
    return true;
  if (path.size() < 5 || path[0] != '\\' || path[1] != '\\')
    return false;
  const std::size_t server = path.find('\\', 2);
  return server != std::string_view::npos && server > 2 && server + 1 < path.size() &&
         path[server + 1] != '\\';
}

bool FolderExists(std::string_view path) {
  const std::uint32_t attributes = Files().GetAttributes(path);
  return attributes != wc::InvalidFileAttributes && (attributes & wc::FileAttributeDirectory) != 0;
}

// The folder is there and is no link, asked again just before it is
// entered: a folder listed as real may have been swapped for a junction
// since (the gap is narrowed, as far as a path-based API allows).
bool StillRealFolder(const std::string &path) {
  const std::uint32_t attributes = Files().GetAttributes(path);
  return attributes != wc::InvalidFileAttributes &&
         (attributes & wc::FileAttributeDirectory) != 0 &&
         (attributes & kFileAttributeReparse) == 0;
}

// Lists pattern, skipping "." and ".."; the visitor answers false to stop.
// False when it stopped.
template <typename Visit> bool ForEachEntry(const std::string &pattern, Visit &&visit) {
  qp::FindData entry;
  std::unique_ptr<qp::IFindHandle> find = Files().FindFirst(pattern, entry);
  if (!find)
    return true;
  do {
    if (!IsDotEntry(entry.name) && !visit(entry))
      return false;
  } while (find->Next(entry));
  return true;
}

// Sets kFileAttributeElsewhere on an entry of folder that leads elsewhere
// as a link that cannot be removed alone: without the reparse-point
// attribute (one open), or with it but without a reparse tag (Wine's
// links to folders; no open). A tagged link is handled as a link.
void MarkElsewhere(const qp::TFolderFinalPath &folder, qp::FindData &entry) {
  if (IsLink(entry) ? entry.reparseTag == 0 : folder.LeadsElsewhere(entry.name))
    entry.attributes |= kFileAttributeElsewhere;
}

// A folder a walk enters: a real folder, neither a link nor leading
// elsewhere.
bool IsEnteredFolder(const qp::FindData &entry) {
  return IsFolderEntry(entry) && !IsLink(entry) && !LeadsElsewhere(entry);
}

// The subfolders of a folder (with its closing backslash) that a walk
// enters.
std::vector<std::string> RealSubfolders(const std::string &base,
                                        const qp::TFolderFinalPath &final) {
  std::vector<std::string> names;
  qp::IgnoreResult(ForEachEntry(base + std::string(kAllFilesMask), [&](qp::FindData e) {
    if (IsFolderEntry(e) && !IsLink(e))
      MarkElsewhere(final, e);
    if (IsEnteredFolder(e))
      names.push_back(e.name);
    return true;
  }));
  return names;
}

bool WalkFilesIn(const std::string &base, std::string_view mask, bool recursive,
                 const TFileCallback &callback) {
  const bool allFiles = mask == kAllFilesMask;
  const qp::TFolderFinalPath final(base);
  std::vector<std::string> subfolders;
  // Files first, streamed; in a recursive walk a folder that is not
  // entered is handed over as an entry of its own. The subfolders of an
  // all-files listing are noted on the way.
  const bool goOn = ForEachEntry(base + std::string(mask), [&](qp::FindData entry) {
    MarkElsewhere(final, entry);
    if (IsEnteredFolder(entry)) {
      if (recursive && allFiles)
        subfolders.push_back(entry.name);
      return true;
    }
    if (IsFolderEntry(entry) && !recursive)
      return true; // a folder link: WalkFolders reports it
    return callback(base + entry.name, entry);
  });
  if (!goOn)
    return false;
  if (!recursive)
    return true;
  if (!allFiles)
    subfolders = RealSubfolders(base, final);
  for (const std::string &name : subfolders)
    if (StillRealFolder(base + name) && !WalkFilesIn(base + name + "\\", mask, recursive, callback))
      return false;
  return true;
}

bool WalkFoldersIn(const std::string &base, std::string_view mask, bool recursive,
                   const TFolderCallback &callback) {
  // The names are taken first: the callback usually removes the folder.
  const qp::TFolderFinalPath final(base);
  std::vector<std::pair<std::string, bool>> folders; // name, entered
  qp::IgnoreResult(ForEachEntry(base + std::string(mask), [&](qp::FindData entry) {
    if (!IsFolderEntry(entry))
      return true;
    MarkElsewhere(final, entry);
    folders.emplace_back(entry.name, IsEnteredFolder(entry));
    return true;
  }));
  for (const auto &[name, entered] : folders) {
    const std::string path = base + name;
    if (recursive && entered && StillRealFolder(path) &&
        !WalkFoldersIn(path + "\\", mask, recursive, callback))
      return false;
    if (!callback(path))
      return false;
  }
  return true;
}

// Removes path (whose attributes are known) with everything below it;
// links are removed, never entered; an entry marked as leading elsewhere
// is left and reported. Every failure is reported once, at the entry that
// refused: a folder that kept something is not reported again.
bool DeleteEntry(const std::string &path, std::uint32_t attributes,
                 const TRemoveFailure &onFailure) {
  if ((attributes & kFileAttributeElsewhere) != 0) {
    if (onFailure)
      onFailure(path, kErrorLeadsElsewhere);
    return false;
  }
  if ((attributes & wc::FileAttributeDirectory) != 0 && (attributes & kFileAttributeReparse) == 0 &&
      !StillRealFolder(path)) {
    attributes = Files().GetAttributes(path); // a link now, or gone
    if (attributes == wc::InvalidFileAttributes)
      return true;
  }
  const auto fail = [&](long status) {
    if (onFailure)
      onFailure(path, status);
    return false;
  };
  const bool folder = (attributes & wc::FileAttributeDirectory) != 0;
  if (folder && (attributes & kFileAttributeReparse) == 0) {
    std::vector<std::pair<std::string, std::uint32_t>> entries;
    const qp::TFolderFinalPath final(path);
    qp::IgnoreResult(ForEachEntry(path + "\\*", [&](qp::FindData entry) {
      MarkElsewhere(final, entry);
      entries.emplace_back(entry.name, entry.attributes);
      return true;
    }));
    bool emptied = true;
    for (const auto &[name, entryAttributes] : entries)
      emptied = DeleteEntry(path + "\\" + name, entryAttributes, onFailure) && emptied;
    if (!emptied)
      return false;
  }
  const long status = RemoveEntry(path, attributes);
  if (status == wc::ErrorSuccess || status == wc::ErrorFileNotFound ||
      status == wc::ErrorPathNotFound)
    return true;
  return fail(status);
}

// A removal's failure for path as the category's finding names it.
void RecordFailure(TCleanPass &pass, TCleanCategory category, std::string name, long status) {
  if (status == kErrorLeadsElsewhere)
    pass.AddKept(category, std::move(name), std::string(kReasonLink));
  else if (IsInUseStatus(status))
    pass.AddKept(category, std::move(name), std::string(kReasonInUse));
  else
    pass.AddFailure(category, std::move(name), ReasonForStatus(status));
}

// Upper-cased, separators as backslashes, no closing backslash, each name
// as Win32 reads it (trailing dots and blanks dropped, "." skipped); empty
// when the path is not absolute or goes up with "..".
std::string NormalisedFolder(std::string_view text, std::string *reason) {
  std::string path(text);
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.rfind("\\\\?\\", 0) == 0 && path.size() > 4 && path.compare(4, 4, "UNC\\") != 0)
    path.erase(0, 4);
  if (!IsAbsolutePath(path)) {
    if (reason != nullptr)
      *reason = "not an absolute path";
    return {};
  }
  const bool unc = path[0] == '\\';
  std::string root = unc ? "\\" : path.substr(0, 2);
  std::string out = qp::UpperAscii(root);
  std::size_t start = unc ? 2 : 3;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos)
      end = path.size();
    std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == kDots)
      continue;
    if (part == kDotDot) {
      if (reason != nullptr)
        *reason = "goes up with \"..\"";
      return {};
    }
    while (!part.empty() && (part.back() == '.' || part.back() == ' '))
      part.pop_back();
    if (part.empty() || part.find_first_of("*?\"<>|:") != std::string::npos) {
      if (reason != nullptr)
        *reason = "not a valid folder name";
      return {};
    }
    out += "\\" + qp::UpperAscii(part);
  }
  return out;
}

// The long form of a normalised path whose names may be 8.3 names
// ("C:\PROGRA~1" is "C:\PROGRAM FILES", and GetTempPath often answers
// in short names): each name holding a "~" is looked up as far as the
// folders exist, FindFirst reporting the long name.
std::string WithLongNames(const std::string &normalised) {
  if (normalised.find('~') == std::string::npos)
    return normalised;
  std::size_t start = 2; // after "C:"
  if (normalised.rfind("\\\\", 0) == 0) {
    const std::size_t server = normalised.find('\\', 2);
    start = server == std::string::npos ? std::string::npos : normalised.find('\\', server + 1);
    if (start == std::string::npos)
      return normalised; // a share root has no names to look up
  }
  std::string out = normalised.substr(0, start);
  while (start < normalised.size()) {
    std::size_t end = normalised.find('\\', start + 1);
    if (end == std::string::npos)
      end = normalised.size();
    std::string part = normalised.substr(start + 1, end - start - 1);
    qp::FindData entry;
    if (part.find('~') != std::string::npos && Files().FindFirst(out + "\\" + part, entry) &&
        !IsDotEntry(entry.name))
      part = qp::UpperAscii(entry.name);
    out += "\\" + part;
    start = end;
  }
  return out;
}

// Drive ("C:") or share ("\\SERVER\SHARE") root of a normalised path.
bool IsRootOf(const std::string &normalised) {
  if (normalised.size() == 2 && normalised[1] == ':')
    return true;
  if (normalised.rfind("\\\\", 0) != 0)
    return false;
  const std::size_t server = normalised.find('\\', 2);
  return server == std::string::npos || normalised.find('\\', server + 1) == std::string::npos;
}

// folder is guarded itself, or lies above it.
bool IsOrAbove(const std::string &folder, const std::string &guarded) {
  if (guarded.empty())
    return false;
  return guarded == folder ||
         (guarded.size() > folder.size() && guarded.compare(0, folder.size(), folder) == 0 &&
          guarded[folder.size()] == '\\');
}

struct TGuardedFolder {
  std::string path; // normalised
  std::string_view what;
};

std::vector<TGuardedFolder> GuardedFolders() {
  qp::ISystem &sys = qp::Platform().System();
  std::vector<TGuardedFolder> guarded;
  const auto add = [&](std::string_view path, std::string_view what) {
    std::string normalised = WithLongNames(NormalisedFolder(path, nullptr));
    if (!normalised.empty())
      guarded.push_back(TGuardedFolder{std::move(normalised), what});
  };
  const auto addSpecial = [&](int csidl, std::string_view what) {
    std::string path;
    if (sys.GetSpecialFolder(csidl, false, path))
      add(path, what);
  };
  const auto addVariable = [&](std::string_view name, std::string_view what) {
    std::string value;
    if (sys.GetEnvironmentVariable(name, value))
      add(value, what);
  };
  add(sys.GetWindowsDirectory(), "the Windows folder");
  addSpecial(kCsidlWindows, "the Windows folder");
  addVariable("SystemRoot", "the Windows folder");
  addVariable("windir", "the Windows folder");
  add(sys.GetSystemDirectory(), "the system folder");
  addSpecial(kCsidlSystem, "the system folder");
  addSpecial(kCsidlSystemX86, "the system folder");
  // The profiles folder (C:\Users) lies above every profile, the shared
  // one (%PUBLIC%) too.
  addSpecial(kCsidlProfile, "the profile folder");
  addVariable("USERPROFILE", "the profile folder");
  addVariable("PUBLIC", "the shared profile folder");
  addSpecial(kCsidlProgramFiles, "a program folder");
  addSpecial(kCsidlProgramFilesX86, "a program folder");
  for (const char *name : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"})
    addVariable(name, "a program folder");
  return guarded;
}

TBrowserFolder BrowserFolder(int csidl, std::string_view below, std::string_view subName) {
  const std::string base = GetSpecialFolderPath(csidl);
  if (base.empty())
    return {};
  TBrowserFolder folder;
  folder.path = WithBackslash(base) + std::string(below);
  if (!subName.empty())
    folder.path = WithBackslash(folder.path + std::string(subName));
  folder.exists = FolderExists(folder.path);
  return folder;
}

} // namespace

long RemoveEntry(const std::string &path, std::uint32_t attributes) {
  const bool folder = (attributes & wc::FileAttributeDirectory) != 0;
  const auto remove = [&] {
    return folder ? Files().RemoveDirectory(path) : Files().DeleteFile(path);
  };
  long status = remove();
  if (status != wc::ErrorAccessDenied || (attributes & wc::FileAttributeReadOnly) == 0)
    return status;
  if (Files().SetAttributes(path, attributes & ~wc::FileAttributeReadOnly) != wc::ErrorSuccess)
    return status;
  status = remove();
  // Still there (in use, most likely): it keeps the attribute it had.
  if (status != wc::ErrorSuccess && status != wc::ErrorFileNotFound &&
      status != wc::ErrorPathNotFound)
    qp::IgnoreResult(Files().SetAttributes(path, attributes));
  return status;
}

bool WalkFiles(std::string_view folder, std::string_view mask, bool recursive,
               const TFileCallback &callback) {
  if (folder.empty() || !FolderExists(folder))
    return true;
  return WalkFilesIn(WithBackslash(folder), mask, recursive, callback);
}

bool WalkFolders(std::string_view folder, std::string_view mask, bool recursive,
                 const TFolderCallback &callback) {
  if (folder.empty() || !FolderExists(folder))
    return true;
  return WalkFoldersIn(WithBackslash(folder), mask, recursive, callback);
}

bool CanOpenExclusive(std::string_view path) {
  return Files().TestExclusiveOpen(path) == wc::ErrorSuccess;
}

std::int64_t GetFileSizeByName(std::string_view path) {
  qp::FindData entry;
  if (!Files().FindFirst(path, entry))
    return -1;
  return static_cast<std::int64_t>(entry.size);
}

bool IsLink(const qp::FindData &entry) {
  return (entry.attributes & kFileAttributeReparse) != 0;
}

bool LeadsElsewhere(const qp::FindData &entry) {
  return (entry.attributes & kFileAttributeElsewhere) != 0;
}

bool IsTaglessLink(std::string_view path) {
  qp::FindData entry;
  return Files().FindFirst(path, entry) && IsLink(entry) && entry.reparseTag == 0;
}

bool IsSafeBaseFolder(std::string_view folder, std::string *reason) {
  std::string why;
  const auto refuse = [&](std::string text) {
    if (reason != nullptr)
      *reason = std::move(text);
    return false;
  };
  if (folder.empty())
    return refuse("empty");
  const std::string normalised = WithLongNames(NormalisedFolder(folder, &why));
  if (normalised.empty())
    return refuse(why);
  if (IsRootOf(normalised))
    return refuse("a drive or share root");
  for (const TGuardedFolder &guarded : GuardedFolders())
    if (IsOrAbove(normalised, guarded.path))
      return refuse(guarded.path == normalised ? std::string(guarded.what)
                                               : "above " + std::string(guarded.what));
  return true;
}

std::string GetSpecialFolderPath(int csidl) {
  std::string path;
  if (!qp::Platform().System().GetSpecialFolder(csidl, false, path))
    return {};
  if (!IsAbsolutePath(path))
    return {};
  return WithoutBackslash(path);
}

TBrowserFolder FirefoxProfileFolder(bool local) {
  const std::string base = GetSpecialFolderPath(local ? kCsidlLocalAppData : kCsidlAppData);
  if (base.empty())
    return {};
  const std::string profiles = WithBackslash(base) + "Mozilla\\Firefox\\Profiles\\";
  TBrowserFolder folder;
  qp::IgnoreResult(ForEachEntry(profiles + "*.default", [&](const qp::FindData &entry) {
    if (!IsFolderEntry(entry))
      return true;
    folder.path = profiles + entry.name + "\\";
    folder.exists = true;
    return false;
  }));
  return folder;
}

TBrowserFolder ChromeProfileFolder(std::string_view subName) {
  return BrowserFolder(kCsidlLocalAppData, "Google\\Chrome\\User Data\\Default\\", subName);
}

TBrowserFolder OperaFolder(bool local, std::string_view subName) {
  return BrowserFolder(local ? kCsidlLocalAppData : kCsidlAppData, "Opera\\Opera\\", subName);
}

TBrowserFolder SafariFolder(bool local, std::string_view subName) {
  return BrowserFolder(local ? kCsidlLocalAppData : kCsidlAppData, "Apple Computer\\Safari\\",
                       subName);
}

TBrowserFolder SafariPreferencesFolder() {
  return BrowserFolder(kCsidlAppData, "Apple Computer\\Preferences\\", {});
}

bool ShellDelete(std::string_view path, const TRemoveFailure &onFailure) {
  const std::string target = WithoutBackslash(path);
  // Never a whole drive or share, nor a path that depends on the current
  // directory.
  const std::string normalised = NormalisedFolder(target, nullptr);
  if (normalised.empty() || IsRootOf(normalised)) {
    if (onFailure)
      onFailure(target, wc::ErrorAccessDenied);
    return false;
  }
  long status = 0;
  const std::uint32_t attributes = Files().GetAttributes(target, &status);
  if (attributes == wc::InvalidFileAttributes) {
    if (status == wc::ErrorFileNotFound || status == wc::ErrorPathNotFound)
      return true;
    if (onFailure)
      onFailure(target, status);
    return false;
  }
  // A link the system lists without a reparse tag is removed through to
  // its target (Wine's): it stays.
  if ((attributes & kFileAttributeReparse) != 0 && IsTaglessLink(target)) {
    if (onFailure)
      onFailure(target, kErrorLeadsElsewhere);
    return false;
  }
  // Nor one of the folders a sweep is refused (a link to one is only a
  // link, removed alone).
  if ((attributes & wc::FileAttributeDirectory) != 0 && (attributes & kFileAttributeReparse) == 0 &&
      !IsSafeBaseFolder(target)) {
    if (onFailure)
      onFailure(target, wc::ErrorAccessDenied);
    return false;
  }
  return DeleteEntry(target, attributes, onFailure);
}

long PlainDelete(std::string_view path) {
  return Files().DeleteFile(path);
}

void SweepFolder(TCleanPass &pass, TCleanCategory category, std::string_view folder) {
  if (folder.empty())
    return; // an unknown special folder: nothing of the category exists
  if (!IsSafeBaseFolder(folder)) {
    pass.FailCategory(category, std::string(kReasonUnsafeFolder));
    return;
  }
  // A base folder that is itself a link is not swept: what it points at
  // is not the folder the category names (the handlers' rule too).
  const std::string base = WithoutBackslash(folder);
  const std::uint32_t baseAttributes = Files().GetAttributes(base);
  if (baseAttributes == wc::InvalidFileAttributes ||
      (baseAttributes & wc::FileAttributeDirectory) == 0 ||
      (baseAttributes & kFileAttributeReparse) != 0)
    return;
  pass.MarkFound(category);
  pass.BasePath = base;
  if (pass.Reporting()) {
    qp::IgnoreResult(WalkFiles(base, kAllFilesMask, true,
                               [&](const std::string &fullPath, const qp::FindData &entry) {
                                 if (pass.Terminated())
                                   return false;
                                 HandleFile(pass, category, fullPath, entry, TFileRules{});
                                 return true;
                               }));
    return;
  }
  // The content entry by entry, so that a stop request ends the clean
  // between them; then the folder itself once it is empty.
  const auto record = [&](const std::string &failed, long status) {
    RecordFailure(pass, category, RelativeName(base, failed), status);
  };
  const std::string prefix = WithBackslash(base);
  std::vector<std::pair<std::string, std::uint32_t>> entries;
  const qp::TFolderFinalPath final(prefix);
  qp::IgnoreResult(ForEachEntry(prefix + "*", [&](qp::FindData entry) {
    MarkElsewhere(final, entry);
    entries.emplace_back(entry.name, entry.attributes);
    return true;
  }));
  bool emptied = true;
  for (const auto &[name, attributes] : entries) {
    if (pass.Terminated())
      return;
    emptied = DeleteEntry(prefix + name, attributes, record) && emptied;
  }
  if (!emptied || pass.Terminated())
    return;
  const long status = RemoveEntry(base, baseAttributes);
  if (status != wc::ErrorSuccess && status != wc::ErrorFileNotFound &&
      status != wc::ErrorPathNotFound)
    RecordFailure(pass, category, base, status);
}

void SingleFileItem(TCleanPass &pass, TCleanCategory category, std::string_view folder,
                    std::string_view name) {
  if (!IsPlainFileName(name) || !IsAbsolutePath(folder))
    return;
  const std::string path = WithBackslash(folder) + std::string(name);
  const std::uint32_t attributes = Files().GetAttributes(path);
  if (attributes == wc::InvalidFileAttributes)
    return;
  const bool link = (attributes & kFileAttributeReparse) != 0;
  if ((attributes & wc::FileAttributeDirectory) != 0 && !link)
    return; // a folder of that name is not the file
  pass.MarkFound(category);
  if (!link && qp::LeadsElsewhere(path)) {
    pass.AddKept(category, std::string(name), std::string(kReasonLink));
    return;
  }
  if (!pass.Reporting()) {
    qp::IgnoreResult(ShellDelete(path, [&](const std::string &, long status) {
      RecordFailure(pass, category, std::string(name), status);
    }));
    return;
  }
  if (link) {
    pass.AddItem(category, std::string(name), 0); // never opened: that reaches the target
    return;
  }
  const long open = Files().TestExclusiveOpen(path);
  if (open == wc::ErrorFileNotFound || open == wc::ErrorPathNotFound)
    return;
  if (IsInUseStatus(open)) {
    pass.AddKept(category, std::string(name), std::string(kReasonInUse));
    return;
  }
  pass.AddItem(category, std::string(name), std::max<std::int64_t>(GetFileSizeByName(path), 0));
}

std::string RelativeName(std::string_view base, std::string_view fullPath) {
  std::string_view trimmed = base;
  while (!trimmed.empty() && trimmed.back() == '\\')
    trimmed.remove_suffix(1);
  if (trimmed.empty() || fullPath.size() <= trimmed.size() + 1 ||
      fullPath[trimmed.size()] != '\\' ||
      !qp::EqualsNoCase(fullPath.substr(0, trimmed.size()), trimmed))
    return std::string(fullPath);
  return std::string(fullPath.substr(trimmed.size() + 1));
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == kDots || name == kDotDot)
    return false;
  // Win32 drops trailing dots and blanks: "..." would name the folder
  // itself, "a." another file than the one read.
  if (name.back() == '.' || name.back() == ' ')
    return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 32 ||
           std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos;
  });
}

} // namespace quenlo
