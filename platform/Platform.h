// The small set of interfaces through which the core reaches Windows.
//
// Two implementations exist: the Win32 one (platform/win32) used by the
// product, and an in-memory model (platform/memory) used by the unit tests.
//
// Conventions shared by every interface:
//  * Text (key names, value names, paths) is UTF-8.
//  * Registry value data is raw, exactly as Windows stores it: string types
//    (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are UTF-16LE with their NULs.
//    uRegAccess converts to and from UTF-8 for the core.
//  * Status codes are Windows' own (wc::ErrorFileNotFound ...), returned as
//    long; every call that can fail says so with [[nodiscard]], and a caller
//    that does not need the answer says so with qp::IgnoreResult.
//  * Outputs a caller must take are references; outputs a caller may not
//    want are pointers, nullptr when not wanted (as the Win32 API's
//    optional parameters are).
//  * Name capacities count UTF-16 code units including the terminating NUL,
//    as the wide registry API does, so that "name too long for the buffer"
//    behaves as on Windows (ERROR_MORE_DATA).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "WinConst.h"

namespace qp {

using Bytes = std::vector<std::uint8_t>;

// Opaque key handle. The predefined roots travel as their 32-bit constants
// (wc::HkeyLocalMachine ...); 0 is "no key".
using HKey = std::uint64_t;

struct KeyInfo {
  std::uint32_t subKeys = 0;
  std::uint32_t maxSubKeyLen = 0; // UTF-16 units, without NUL
  std::uint32_t values = 0;
  std::uint32_t maxValueNameLen = 0; // UTF-16 units, without NUL
  std::uint32_t maxValueLen = 0;     // bytes of raw data
  std::uint64_t lastWriteTime = 0;   // FILETIME
};

// A watch armed by NotifyChangeKeyValue; Wait returns true when signalled.
// Cancel may be called from any thread while another one waits: it signals
// the watch, so a waiting Wait returns at once (and every later one too),
// without closing the key a watch was armed through.
class IChangeWatch {
public:
  virtual ~IChangeWatch() = default;
  [[nodiscard]] virtual bool Wait(std::uint32_t timeoutMs) = 0;
  virtual void Cancel() = 0;
};

class IRegistry {
public:
  virtual ~IRegistry() = default;

  [[nodiscard]] virtual long OpenKey(HKey parent, std::string_view subKey, std::uint32_t sam,
                                     HKey &out) = 0;
  [[nodiscard]] virtual long CreateKey(HKey parent, std::string_view subKey, std::uint32_t sam,
                                       HKey &out, std::uint32_t *disposition) = 0;
  [[nodiscard]] virtual long CloseKey(HKey key) = 0;
  [[nodiscard]] virtual long QueryInfoKey(HKey key, KeyInfo &info) = 0;
  // ERROR_MORE_DATA when the name needs more than nameCapacity units (NUL
  // included); ERROR_NO_MORE_ITEMS past the end.
  [[nodiscard]] virtual long EnumKey(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
                                     std::string &name) = 0;
  // ERROR_MORE_DATA when the name or the data does not fit.
  [[nodiscard]] virtual long EnumValue(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
                                       std::uint32_t dataCapacity, std::string &name,
                                       std::uint32_t &type, Bytes &data) = 0;
  // With data == nullptr only type and size are returned.
  [[nodiscard]] virtual long QueryValue(HKey key, std::string_view name, std::uint32_t *type,
                                        Bytes *data, std::uint32_t *size) = 0;
  [[nodiscard]] virtual long SetValue(HKey key, std::string_view name, std::uint32_t type,
                                      const Bytes &data) = 0;
  [[nodiscard]] virtual long DeleteValue(HKey key, std::string_view name) = 0;
  // Deletes a key without subkeys, in the process's natural view.
  [[nodiscard]] virtual long DeleteKey(HKey parent, std::string_view subKey) = 0;
  // RegDeleteKeyEx; only meaningful when HasDeleteKeyEx().
  virtual bool HasDeleteKeyEx() const = 0;
  [[nodiscard]] virtual long DeleteKeyEx(HKey parent, std::string_view subKey,
                                         std::uint32_t viewFlag) = 0;
  // RegQueryReflectionKey; only meaningful when HasQueryReflectionKey().
  virtual bool HasQueryReflectionKey() const = 0;
  [[nodiscard]] virtual long QueryReflectionKey(HKey key, bool &reflectionDisabled) = 0;

  // Used by later subsystems (monitor, hive backup, tweaks). The defaults
  // answer ERROR_CALL_NOT_IMPLEMENTED.
  [[nodiscard]] virtual long NotifyChangeKeyValue(HKey key, bool watchSubtree, std::uint32_t filter,
                                                  std::unique_ptr<IChangeWatch> &watch);
  // The kernel's name of an open key, e.g.
  // "\REGISTRY\MACHINE\SOFTWARE\Wow6432Node\X" for HKLM\SOFTWARE\X opened
  // in the 32-bit view: what tells whether two views name one key.
  [[nodiscard]] virtual long QueryKeyName(HKey key, std::string &kernelPath);
  [[nodiscard]] virtual long SaveKey(HKey key, std::string_view file);
  [[nodiscard]] virtual long ReplaceKey(HKey key, std::string_view subKey, std::string_view newFile,
                                        std::string_view oldFile);
  // RegLoadKey / RegUnLoadKey: mount a file written by SaveKey as the new
  // subkey `subKey` of key (HKLM or HKU) and take it away again. Both need
  // SeRestorePrivilege.
  [[nodiscard]] virtual long LoadKey(HKey key, std::string_view subKey, std::string_view file);
  [[nodiscard]] virtual long UnLoadKey(HKey key, std::string_view subKey);
  // Security descriptors travel as SDDL text.
  [[nodiscard]] virtual long GetKeySecurity(HKey key, std::uint32_t securityInfo,
                                            std::string &sddl);
  [[nodiscard]] virtual long SetKeySecurity(HKey key, std::uint32_t securityInfo,
                                            std::string_view sddl);
};

struct FindData {
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::uint64_t lastWriteTime = 0; // FILETIME
  std::string name;                // name only, no folder
  // The reparse tag (dwReserved0) of an entry with
  // FILE_ATTRIBUTE_REPARSE_POINT: a junction or symbolic link of Windows
  // always has one; Wine 8 shows a Unix link to a folder with the attribute
  // and tag 0, and removing it there removes an empty target.
  std::uint32_t reparseTag = 0;
};

// An open FindFirstFile search; closed on destruction.
class IFindHandle {
public:
  virtual ~IFindHandle() = default;
  [[nodiscard]] virtual bool Next(FindData &data) = 0;
};

// A lock file held open for its holder alone; released (and the file
// deleted) on destruction, or by the system when the holder's process ends.
class IFileLock {
public:
  virtual ~IFileLock() = default;
};

class IFileSystem {
public:
  virtual ~IFileSystem() = default;

  // wc::InvalidFileAttributes when nothing is there; error receives the code.
  [[nodiscard]] virtual std::uint32_t GetAttributes(std::string_view path,
                                                    long *error = nullptr) = 0;
  // root: "C:\" or "\\server\share\"; the GetDriveType answer.
  virtual std::uint32_t GetDriveType(std::string_view root) = 0;
  // Null when nothing matches (error, when given, says why).
  [[nodiscard]] virtual std::unique_ptr<IFindHandle>
  FindFirst(std::string_view pattern, FindData &first, long *error = nullptr) = 0;
  [[nodiscard]] virtual long CreateDirectory(std::string_view path) = 0;
  [[nodiscard]] virtual long RemoveDirectory(std::string_view path) = 0;
  [[nodiscard]] virtual long DeleteFile(std::string_view path) = 0;
  // MOVEFILE_REPLACE_EXISTING = 1 is the only flag the core passes; the move
  // is written through to the disk before it returns.
  [[nodiscard]] virtual long MoveFile(std::string_view from, std::string_view to,
                                      std::uint32_t flags) = 0;
  [[nodiscard]] virtual long CopyFile(std::string_view from, std::string_view to,
                                      bool failIfExists) = 0;
  [[nodiscard]] virtual long ReadFile(std::string_view path, std::string &data) = 0;
  // The data is on the disk when this returns 0 (written through, not left
  // in the system's cache): an undo backup must survive a crash that follows
  // the change it protects.
  [[nodiscard]] virtual long WriteFile(std::string_view path, std::string_view data) = 0;
  // Adds the data at the end of the file, creating the file when it is
  // missing; written through like WriteFile. What was there is never
  // rewritten, so a log that grows for years costs only what is added.
  [[nodiscard]] virtual long AppendFile(std::string_view path, std::string_view data) = 0;
  // Puts what the system still holds of a file written by another program
  // (the registry editor's export) on the disk.
  [[nodiscard]] virtual long FlushFile(std::string_view path) = 0;
  // Creates (or opens) the file for this caller alone and keeps it so: until
  // `lock` is released every other caller, in this process or another, gets
  // ERROR_SHARING_VIOLATION (ERROR_ACCESS_DENIED for the moment its deletion
  // is pending). What serialises a read-modify-write of a shared file
  // between processes: CreateFile without sharing, FILE_FLAG_DELETE_ON_CLOSE.
  [[nodiscard]] virtual long OpenLockFile(std::string_view path,
                                          std::unique_ptr<IFileLock> &lock) = 0;
  // The owner and access list of a file or folder (GetNamedSecurityInfo /
  // SetNamedSecurityInfo), as SDDL text of the parts securityInfo names
  // (wc::OwnerSecurityInformation, wc::DaclSecurityInformation). A DACL set
  // with the "P" flag ("D:P(...)") is protected: it inherits nothing from
  // the folder above, and the files made in the folder later inherit its
  // inheritable entries. Setting the owner to another account than the
  // caller needs SeRestorePrivilege; taking ownership for oneself needs
  // SeTakeOwnershipPrivilege or WRITE_OWNER.
  [[nodiscard]] virtual long GetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                                             std::string &sddl) = 0;
  [[nodiscard]] virtual long SetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                                             std::string_view sddl) = 0;
  // Moves a file or folder to the recycle bin (SHFileOperation with
  // FOF_ALLOWUNDO). 0 on success.
  [[nodiscard]] virtual long RecycleFile(std::string_view path) = 0;
  // SetFileAttributes: what a delete needs first for a read-only file.
  [[nodiscard]] virtual long SetAttributes(std::string_view path, std::uint32_t attributes) = 0;
  // Opens the file for reading with no sharing and closes it again: 0 when
  // nobody else holds it open, ERROR_SHARING_VIOLATION when somebody does,
  // else the open's status (missing, a folder, access denied). Read access
  // alone, so that a read-only file that a delete can remove passes.
  [[nodiscard]] virtual long TestExclusiveOpen(std::string_view path) = 0;
  // The path as the system finally reaches it: every junction and symbolic
  // link on the way (the last name's too) followed, 8.3 names given in
  // full, "C:\..." or "\\server\share\..." (GetFinalPathNameByHandle of
  // a handle opened without access). 0, or the open's status (2 or 3 for
  // a missing path). What tells a link that Wine shows without the
  // reparse-point attribute from the file or folder it names.
  [[nodiscard]] virtual long GetFinalPath(std::string_view path, std::string &finalPath) = 0;

  // Switches the calling thread to the other file-system view and back: for
  // a 32-bit process on 64-bit Windows this is switching WOW64 redirection
  // off; for a 64-bit process it is seeing the system folder as a 32-bit
  // process does. Returns false (and does nothing) where there is no other
  // view.
  [[nodiscard]] virtual bool SwitchFsView(std::uintptr_t &previous) = 0;
  virtual void RevertFsView(std::uintptr_t previous) = 0;
};

struct VersionInfo {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t platformId = 2; // VER_PLATFORM_WIN32_NT
  std::string servicePack;
};

struct ShellLinkInfo {
  std::string path; // target path
  std::string arguments;
  std::string workingDir;
  std::string iconLocation;
};

class ISystem {
public:
  virtual ~ISystem() = default;

  [[nodiscard]] virtual bool GetEnvironmentVariable(std::string_view name, std::string &value) = 0;
  [[nodiscard]] virtual bool SetEnvironmentVariable(std::string_view name,
                                                    std::string_view value) = 0;
  // ExpandEnvironmentStrings; nullopt when the call fails. Variables that do
  // not exist stay in the text as written.
  [[nodiscard]] virtual std::optional<std::string>
  ExpandEnvironmentStrings(std::string_view text) = 0;

  virtual std::string GetSystemDirectory() = 0;  // no trailing backslash
  virtual std::string GetWindowsDirectory() = 0; // no trailing backslash
  virtual std::string GetTempPath() = 0;         // with trailing backslash
  [[nodiscard]] virtual bool GetSpecialFolder(int csidl, bool create, std::string &path) = 0;

  [[nodiscard]] virtual bool GetVersion(VersionInfo &info) = 0;
  // IsWow64Process of the current process; nullopt when not exported.
  [[nodiscard]] virtual std::optional<bool> IsWow64Process() = 0;
  // True for a 64-bit program (which implies 64-bit Windows).
  [[nodiscard]] virtual bool ProcessIs64Bit() = 0;
  [[nodiscard]] virtual bool IsFarEastLocale() = 0;

  [[nodiscard]] virtual bool GetUserSid(std::string &sid) = 0;
  [[nodiscard]] virtual bool GetUserName(std::string &name) = 0;
  [[nodiscard]] virtual bool IsAdmin() = 0;
  // AdjustTokenPrivileges; 0 on success, else the status (1300 included).
  // wasEnabled, when given, receives whether the privilege was enabled
  // before the call (from the call's previous-state answer), so that a
  // caller can put it back as it found it.
  [[nodiscard]] virtual long SetPrivilege(std::string_view name, bool enable, bool *wasEnabled) = 0;
  [[nodiscard]] virtual bool ExitWindows(std::uint32_t flags, std::uint32_t reason) = 0;
  // QueryDosDevice of "C:" and the like.
  [[nodiscard]] virtual bool QueryDosDevice(std::string_view drive, std::string &device) = 0;

  // The system message text for a status code, without trailing line breaks.
  virtual std::string SystemMessage(long code) = 0;

  // SfcIsKeyProtected from "sfc.dll"; nullopt when it cannot be called.
  [[nodiscard]] virtual std::optional<bool>
  SfcIsKeyProtected(std::uint32_t root, std::string_view path, std::uint32_t viewFlag) = 0;

  // Reads a shortcut file through the shell link object.
  [[nodiscard]] virtual bool ReadShellLink(std::string_view file, ShellLinkInfo &info) = 0;

  virtual std::uint64_t TickCount() = 0;
  virtual void Sleep(std::uint32_t ms) = 0;
};

struct ProcessResult {
  bool started = false;
  long startError = 0;    // when not started
  long waitError = 0;     // WaitForSingleObject failed
  long exitCodeError = 0; // GetExitCodeProcess failed
  std::uint32_t exitCode = 0;
};

// One running process as the process list shows it.
struct ProcessEntry {
  std::uint32_t id = 0;
  // The terminal-services session it runs in: another user logged on to
  // the same machine has a shell of their own, in another session.
  std::uint32_t sessionId = 0;
  std::string imagePath; // GetProcessImageFileName: a device path ("\Device\...\explorer.exe")
};

enum TCloseProcessResult : std::uint8_t {
  cpNotClosed = 0,  // still running, or it could not be opened (and the own process)
  cpEnded = 1,      // ended by itself after WM_CLOSE within the time-out
  cpTerminated = 2, // TerminateProcess succeeded after the time-out
};

class IProcesses {
public:
  virtual ~IProcesses() = default;
  // Starts a program with a hidden window and waits for it without limit.
  [[nodiscard]] virtual ProcessResult RunHiddenAndWait(std::string_view commandLine) = 0;

  // Every process the caller may query (EnumProcesses with
  // GetProcessImageFileName); false when the system lacks the functions.
  [[nodiscard]] virtual bool ListProcesses(std::vector<ProcessEntry> &processes) = 0;
  virtual std::uint32_t CurrentProcessId() = 0;
  // ProcessIdToSessionId of the current process.
  virtual std::uint32_t CurrentSessionId() = 0;
  // Posts WM_CLOSE to each top-level window of the process and waits up
  // to timeoutMs for it to end, then terminates it (exit code 0).
  [[nodiscard]] virtual TCloseProcessResult CloseProcess(std::uint32_t id,
                                                         std::uint32_t timeoutMs) = 0;
  // CreateProcess, window shown normally, CREATE_NEW_PROCESS_GROUP |
  // NORMAL_PRIORITY_CLASS; both handles closed. Does not wait.
  [[nodiscard]] virtual bool StartProcess(std::string_view commandLine) = 0;
};

// --- the parts of the user's desktop session the history cleaner reaches

// A clipboard format and the size of its data (GlobalSize of its handle).
struct ClipboardEntry {
  std::uint32_t format = 0;
  std::string registeredName; // GetClipboardFormatName; empty for standard formats
  std::uint64_t size = 0;
};

// One entry of the WinINet URL cache (INTERNET_CACHE_ENTRY_INFO).
struct UrlCacheEntry {
  std::string sourceUrl; // "Cookie:user@example.com/", "Visited: user@http://..."
  std::string localFile; // may be empty
  std::uint32_t entryType = 0;
  std::uint64_t size = 0;
};

// WinINet cache container flags (GetUrlCacheConfigInfo).
inline constexpr std::uint32_t kCacheContainerContent = 0x100;
inline constexpr std::uint32_t kCacheContainerCookies = 0x200;
inline constexpr std::uint32_t kCacheContainerHistory = 0x400;
inline constexpr std::uint32_t kCookieCacheEntry = 0x00100000;
inline constexpr std::uint32_t kUrlHistoryCacheEntry = 0x00200000;

// One child of an IIS service's metabase container ("IIS://LocalHost/W3SVC").
struct IisSite {
  std::string name;             // "1"
  std::string keyType;          // "IIsWebServer"
  std::string logFileDirectory; // "C:\WINDOWS\system32\LogFiles"
};

class IDesktop {
public:
  virtual ~IDesktop() = default;

  // The formats on the clipboard in enumeration order; false when the
  // clipboard cannot be opened. Opens and closes it.
  [[nodiscard]] virtual bool ReadClipboard(std::vector<ClipboardEntry> &formats) = 0;
  [[nodiscard]] virtual bool EmptyClipboard() = 0;

  // The folder of a WinINet cache container (kCacheContainer*); false when
  // WinINet or the container is missing. WinINet is loaded at run time.
  [[nodiscard]] virtual bool GetUrlCacheContainer(std::uint32_t containerFlag,
                                                  std::string &path) = 0;
  // The cache entries a search pattern ("cookie:", "visited:") finds, in
  // the cache's order; the visitor answers false to stop.
  virtual void EnumUrlCache(std::string_view pattern,
                            const std::function<bool(const UrlCacheEntry &)> &visit) = 0;
  [[nodiscard]] virtual long DeleteUrlCacheEntry(std::string_view sourceUrl) = 0;
  // IUrlHistoryStg2::ClearHistory of the URL history object (an HRESULT).
  [[nodiscard]] virtual long ClearUrlHistory() = 0;

  // The children of "IIS://LocalHost/" + service that offer IADs, with
  // their KeyType and LogFileDirectory (ADSI from "Activeds.dll", loaded
  // at run time); false when the container cannot be had.
  [[nodiscard]] virtual bool ListIisSites(std::string_view service,
                                          std::vector<IisSite> &sites) = 0;

  // SendMessage(HWND_BROADCAST, WM_WININICHANGE, 0, 0).
  virtual void BroadcastSettingChange() = 0;
};

class IPlatform {
public:
  virtual ~IPlatform() = default;
  virtual IRegistry &Registry() = 0;
  virtual IFileSystem &Files() = 0;
  virtual ISystem &System() = 0;
  virtual IProcesses &Processes() = 0;
  virtual IDesktop &Desktop() = 0;
};

// The process-wide platform. Set once at start-up (or per test) before any
// worker thread starts; not owned.
IPlatform &Platform();
void SetPlatform(IPlatform *platform);
bool HasPlatform();

} // namespace qp
