// The folder and file routines every cleaner category shares: the two
// walkers, the in-use test, sizes, the special and browser folders, the
// removal primitives, the folder sweep and the single-file item.
//
// Invariants that keep a clean inside the folder it was meant for:
//  * The walkers never enter a junction or a symbolic link: a link is
//    handed to the callback as an entry of its own (its attributes carry
//    FILE_ATTRIBUTE_REPARSE_POINT) and removing it removes the link only.
//  * An entry that leads elsewhere without the reparse-point attribute
//    (qp::TFolderFinalPath: Wine shows a Unix symbolic link so, and
//    removing it there removes its target) is never entered nor removed:
//    the walkers hand it over with kFileAttributeElsewhere set, and the
//    removals leave it, reporting kErrorLeadsElsewhere. A base folder that
//    leads elsewhere so is taken as the folder it names. So is a link with
//    the attribute but no reparse tag (Wine's link to a folder).
//  * A folder is swept only when IsSafeBaseFolder accepts it; an empty
//    special folder is "not found", never a relative path, and nothing
//    here changes the current directory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "cleaner/uSysCleaner.h"
#include "platform/Platform.h"

namespace quenlo {

inline constexpr std::uint32_t kFileAttributeReparse = 0x400;
inline constexpr std::string_view kAllFilesMask = "*.*";
// The walkers' own mark on an entry that leads elsewhere without the
// reparse-point attribute; no attribute Windows reports uses the bit.
inline constexpr std::uint32_t kFileAttributeElsewhere = 0x80000000u;
// What a removal reports for such an entry, left in place
// (ERROR_NOT_A_REPARSE_POINT: a link the system does not mark as one).
inline constexpr long kErrorLeadsElsewhere = 4390;

// fullPath: the folder, a backslash and entry.name. Answer false to stop
// the whole walk.
using TFileCallback = std::function<bool(const std::string &fullPath, const qp::FindData &entry)>;
using TFolderCallback = std::function<bool(const std::string &fullPath)>;

// Files (and links) below folder that match mask, folder by folder,
// parents' files before their subfolders' files; subfolders are walked
// when recursive (every real subfolder, whatever the mask), and then a
// folder link, or a folder leading elsewhere, is handed over in place of
// the folder it is not entered as. A flat walk hands over the folder's
// files only: its subfolders, links among them, are WalkFolders' (so a
// clean that walks both meets each link once). False when a callback
// stopped the walk. Nothing when the folder does not exist.
bool WalkFiles(std::string_view folder, std::string_view mask, bool recursive,
               const TFileCallback &callback);
// Subfolders of folder matching mask, deepest first (a callback can
// remove them bottom-up); a folder link, or a folder leading elsewhere,
// is reported, never entered.
bool WalkFolders(std::string_view folder, std::string_view mask, bool recursive,
                 const TFolderCallback &callback);

// Nobody else holds the file open (IFileSystem::TestExclusiveOpen).
bool CanOpenExclusive(std::string_view path);
// The size of the first directory entry matching path; -1 when none.
std::int64_t GetFileSizeByName(std::string_view path);
bool IsLink(const qp::FindData &entry);
// A walker marked the entry with kFileAttributeElsewhere.
bool LeadsElsewhere(const qp::FindData &entry);
// The path is listed with FILE_ATTRIBUTE_REPARSE_POINT but no reparse tag
// (one FindFirst): Wine's link to a folder, whose removal removes an empty
// target.
bool IsTaglessLink(std::string_view path);

// A folder that a sweep may empty: not empty, relative, a drive or share
// root, the Windows or system folder (or above them), the profile root
// (or above it), the profiles folder, or a program folder. reason, when
// given, says why not.
bool IsSafeBaseFolder(std::string_view folder, std::string *reason = nullptr);

// CSIDL folders the handlers use.
inline constexpr int kCsidlRecent = 8;
inline constexpr int kCsidlAppData = 26;
inline constexpr int kCsidlLocalAppData = 28;
inline constexpr int kCsidlInternetCache = 32;
inline constexpr int kCsidlProfile = 40;
// The folder without creating it, no closing backslash; empty when the
// system has none or gives a path that is not absolute.
std::string GetSpecialFolderPath(int csidl);

// Browser folders (with a closing backslash); empty when the base special
// folder is unknown. exists tells whether the folder is there.
struct TBrowserFolder {
  std::string path;
  bool exists = false;
};
TBrowserFolder FirefoxProfileFolder(bool local);
TBrowserFolder ChromeProfileFolder(std::string_view subName = {});
TBrowserFolder OperaFolder(bool local, std::string_view subName = {});
TBrowserFolder SafariFolder(bool local, std::string_view subName = {});
TBrowserFolder SafariPreferencesFolder();

// --- removal. Each failure names the path and its status.
using TRemoveFailure = std::function<void(const std::string &path, long status)>;
// The shell delete: a file, a link (the link itself) or a whole folder,
// read-only files included; never to the recycle bin. True when nothing
// is left. Refuses (ERROR_ACCESS_DENIED) a relative path, a root and a
// folder IsSafeBaseFolder refuses.
bool ShellDelete(std::string_view path, const TRemoveFailure &onFailure = {});
// The plain delete (DeleteFile): 0 or the status.
[[nodiscard]] long PlainDelete(std::string_view path);
// DeleteFile, or RemoveDirectory for attributes with
// FILE_ATTRIBUTE_DIRECTORY, of one entry whose attributes were listed; a
// refusal for the read-only attribute clears it and asks again, as
// SHFileOperation does, and an entry that still stays keeps its attribute.
// 0 or the status.
[[nodiscard]] long RemoveEntry(const std::string &path, std::uint32_t attributes);

// The folder sweep of folder: an analysis lists each file that passes
// CanOpenExclusive (relative name, size) and each file in use as kept; a
// clean removes everything else, the folder itself included, and records
// what it could not remove. Refuses (FailCategory) an unsafe folder; a
// missing folder, or one that is itself a link, changes nothing.
void SweepFolder(TCleanPass &pass, TCleanCategory category, std::string_view folder);
// The single-file item: file name in folder.
void SingleFileItem(TCleanPass &pass, TCleanCategory category, std::string_view folder,
                    std::string_view name);

// The path text after base and the backslash that follows it (fullPath
// itself when it is not below base).
std::string RelativeName(std::string_view base, std::string_view fullPath);
// name is a plain file name: not empty, no "\", "/", ":", no "." or "..",
// no control characters, no wildcard.
bool IsPlainFileName(std::string_view name);

} // namespace quenlo
