// What the Windows and Internet Explorer handlers share beyond the file
// routines: keys opened with the pass's access, key trees deleted with the
// status that stopped them, and the one place that decides, file by file,
// what an analysis lists and what a clean removes, so that the two agree.
//
// Invariants:
//  * An analysis opens keys with KEY_READ and changes nothing: every
//    deletion below is reached only in a clean pass.
//  * A file in use (TestExclusiveOpen answers a sharing or lock violation)
//    is neither listed nor removed: it is kept, "in use", in both modes.
//  * A link (a reparse point) is listed with size 0 and removed as a link;
//    nothing here walks into one. An entry that leads elsewhere without
//    the reparse-point attribute is kept, kReasonLink, in both modes:
//    under Wine removing it removes its target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cleaner/uSysCleaner.h"
#include "platform/Platform.h"

namespace quenlo {

// A key of HKEY_CURRENT_USER in the pass's view, opened with the pass's
// access (read-only in an analysis); closed on destruction.
class TPassKey {
public:
  TPassKey(TCleanPass &pass, std::string_view path);
  long Status() const { return status_; } // of the open
  bool IsOpen() const { return status_ == 0; }
  TRegistryAccess &Reg() { return reg_; }

private:
  TRegistryAccess reg_;
  long status_ = 0;
};

// True when the key opened; a key that exists marks the category found,
// and one that exists but cannot be opened is recorded as a failure.
bool OpenCategoryKey(TCleanPass &pass, TCleanCategory category, TPassKey &key,
                     std::string_view path);

// Deletes the key of HKEY_CURRENT_USER (32-bit view) with everything below
// it, deepest first: 0, or the status of the step that failed (2 when the
// key is not there). An empty path is refused (87).
[[nodiscard]] long DeleteKeyTreeStatus(std::string_view path);

// A deletion's status: nothing for 0 or for a value or key that is already
// gone, else a failure with its reason.
void RecordDeleteStatus(TCleanPass &pass, TCleanCategory category, std::string name, long status);

bool IsInUseStatus(long status);
bool IsGoneStatus(long status);

// Which files that stay because they are in use go to the pass's
// FilesInUse (for deletion when Windows restarts).
enum TInUseRecord : std::uint8_t {
  irNone = 0,
  irAll = 1,      // every one
  irIndexDat = 2, // the cache index files ("index.dat") only
};

struct TFileRules {
  bool plainDelete = false; // DeleteFile instead of the shell delete
  TInUseRecord filesInUse = irNone;
  bool fullNames = false; // findings name the full path, not the path below BasePath
};

// One file (or link) of a category: an analysis lists it or keeps it (in
// use); a clean removes it, or keeps it, and records what failed.
void HandleFile(TCleanPass &pass, TCleanCategory category, const std::string &fullPath,
                const qp::FindData &entry, const TFileRules &rules);

// Clean passes: removes one folder whose subfolders were handled already
// (WalkFolders reports them deepest first): its files one by one through
// HandleFile, then the folder when nothing is left in it. A link is
// removed as a link and never entered.
void RemoveWalkedFolder(TCleanPass &pass, TCleanCategory category, const std::string &folder,
                        const TFileRules &rules);

// A downloaded file a browser's download list names, handled only when the
// user asked for the files too (TCleanPass::DeleteDownloadedFiles): an
// analysis keeps what a clean would keep, a clean removes the file with a
// plain delete. A list can be forged, so only a regular file at a plain
// absolute path ("X:\..." or "\\server\share\...", no "." or ".."
// names, no wildcards) in a folder IsSafeBaseFolder accepts is ever
// removed; never a folder, a link or what leads elsewhere, nor a file in
// use. Each of those is kept with its reason.
void HandleDownloadedFile(TCleanPass &pass, TCleanCategory category, const std::string &path);
bool IsPlainAbsolutePath(std::string_view path);

// The path names a folder that is not a link.
bool IsRealFolder(std::string_view path);

} // namespace quenlo
