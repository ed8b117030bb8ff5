// In-memory model of the Windows facilities the core uses, for unit tests.
//
// It models, faithfully enough for every edge case of the scanner:
//  * the registry with HKLM, HKU, HKCU (an alias of HKU\<user SID>), HKCC and
//    HKCR (HKCU\Software\Classes merged over HKLM\Software\Classes);
//  * the 32-bit and 64-bit registry views: the 32-bit view of a redirected
//    key lives below "Wow6432Node" (Windows 7 layout by default, or Wine's),
//    shared keys are the same in both views; on 32-bit Windows the view bits
//    are ignored;
//  * keys that deny access, deny writing or cannot be deleted; owners and
//    DACLs checked against the process's token on every open; a reflection
//    flag per key and a switch for whether RegQueryReflectionKey exists (and
//    what it answers); RegDeleteKeyEx present or not; injected failures;
//  * change notification, saved keys and loaded hives (in a file format of
//    the model's own), with the privileges they need;
//  * where Wine's registry answers differently from Windows', either answer
//    (RegistryQuirks);
//  * Windows status codes exactly as Windows returns them, with their texts;
//  * drive letters with drive types over an in-memory file tree, and WOW64
//    file-system redirection of the system folder;
//  * version, WOW64 and bitness facts, environment variables, special
//    folders, the user SID, sfc's protected keys, shell links and programs.
//
// HKCR lists the union of both halves' subkeys; a value in the user's half
// hides the machine's of the same name; writes and new subkeys go to the
// user's half where the key (or its nearest existing ancestor) is there,
// else to the machine's; deletes take the user's copy first. Names compare
// case-insensitively, the letters of the common scripts folded one for one
// (MemoryNames.h); all lengths and capacities count UTF-16 units, data
// capacities bytes.
//
// Builder paths name a key with its root in front, long or short
// ("HKLM\Software\X", "HKEY_CURRENT_USER\Software\Y", "HKCR\.txt"), read in
// the given view: Phys takes the path literally (no redirection); V32 and V64
// apply the view's redirection as RegOpenKeyEx with KEY_WOW64_32KEY or
// KEY_WOW64_64KEY would.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace qp::mem {

enum class View { Phys, V32, V64 };

// Where the 32-bit view of the registry lives.
enum class Wow64Layout {
  Windows7, // HKLM\Software redirected with the documented shared keys;
            // Classes shared except CLSID, DirectShow, Interface, Media Type,
            // MediaFoundation (also below HKCU\Software\Classes)
  Wine,     // HKLM\Software redirected; Classes\AppID, Classes\TypeLib, App
            // Paths, Windows NT\CurrentVersion\Fonts shared; the rest of
            // Classes (CLSID, Interface, file types, MIME ...) redirected
  None      // 32-bit Windows: one view, view bits ignored
};

// Registry operations that a test can make fail.
enum class RegOp {
  Open,
  Create,
  QueryInfo,
  EnumKey,
  EnumValue,
  QueryValue,
  SetValue,
  DeleteValue,
  DeleteKey,
  QueryReflection,
  GetSecurity,
  SetSecurity,
  Notify,
  Save,
  Load,
  Unload,
  Replace
};

// What a program sees differently in Windows' registry and in Wine's. The
// defaults are Windows 7's; Wine() gives what Wine 8 answers in a 64-bit
// prefix (measured by the Wine conformance tests).
struct RegistryQuirks {
  // RegEnumValue lists values in creation order (Windows) or sorted by
  // their lower-cased names (Wine).
  bool valuesSortedByName = false;
  // RegEnumKeyEx lists subkeys sorted by their upper-cased names (Windows)
  // or by their lower-cased ones (Wine).
  bool subkeysSortedLowerCase = false;
  // Longest key name in UTF-16 units; longer ones are refused with 87.
  std::uint32_t maxKeyNameUnits = 255;
  // KEY_WOW64_32KEY | KEY_WOW64_64KEY together: 87 (Windows) or the 32-bit
  // view (Wine).
  bool bothViewBitsMean32 = false;
  // RegCreateKeyEx needs KEY_CREATE_SUB_KEY on the parent handle
  // (Windows); Wine creates through any handle.
  bool createChecksParentAccess = true;
  // RegDeleteKey needs DELETE by the key's DACL (Windows); Wine deletes
  // whatever the DACL says.
  bool deleteChecksDacl = true;
  // HKCR merges HKCU\Software\Classes over HKLM\Software\Classes
  // (Windows) or shows the machine's classes alone (Wine).
  bool classesRootMergesUser = true;
  // Deleting a watched key signals its watches (Windows); Wine leaves them
  // waiting until their handle is closed.
  bool deleteSignalsWatch = true;
  // Security changes signal REG_NOTIFY_CHANGE_SECURITY watches (Windows).
  bool securityChangesSignal = true;
  // SaveKey onto an existing file replaces it (Wine) or fails with 183.
  bool saveOverwrites = false;
  // LoadKey mounts a hive below any key (Wine) or only as a direct subkey
  // of HKLM or HKU (Windows; 87 elsewhere).
  bool loadBelowAnyKey = false;
  // Changes to a loaded hive reach its file when it is unloaded (Windows);
  // Wine forgets them.
  bool loadedHivesWriteBack = true;
  // LoadKey of a file that is not a hive leaves an empty hive mounted
  // (Wine; UnLoadKey takes it away) or nothing (Windows).
  bool failedLoadLeavesEmptyHive = false;
  // ReplaceKey answers 0 and changes nothing (Wine) or, on a hive root,
  // backs the hive up to the old file and takes the new file at the next
  // boot (Windows; see SimulateReboot).
  bool replaceIsStub = false;

  static RegistryQuirks Windows7();
  static RegistryQuirks Wine();
};

class MemoryRegistry;
class MemoryFileSystem;
class MemorySystem;
class MemoryProcesses;
class MemoryDesktop;

class MemoryPlatform : public IPlatform {
public:
  // A Windows 7 SP1 x64 machine running a 64-bit program, with drive C:
  // fixed, the usual folders and environment (see MemoryPlatform.cpp).
  MemoryPlatform();
  ~MemoryPlatform() override;

  IRegistry &Registry() override;
  IFileSystem &Files() override;
  ISystem &System() override;
  IProcesses &Processes() override;
  IDesktop &Desktop() override;

  MemoryRegistry &Reg() { return *reg_; }
  MemoryFileSystem &Fs() { return *fs_; }
  MemorySystem &Sys() { return *sys_; }
  MemoryProcesses &Procs() { return *procs_; }
  MemoryDesktop &Desk() { return *desktop_; }

  // Makes this platform the process-wide one for its lifetime (restores the
  // previous one when destroyed).
  void Install();

private:
  std::unique_ptr<MemorySystem> sys_;
  std::unique_ptr<MemoryRegistry> reg_;
  std::unique_ptr<MemoryFileSystem> fs_;
  std::unique_ptr<MemoryProcesses> procs_;
  std::unique_ptr<MemoryDesktop> desktop_;
  IPlatform *previous_ = nullptr;
  bool installed_ = false;
};

class MemoryRegistry : public IRegistry {
public:
  explicit MemoryRegistry(MemorySystem &sys);
  ~MemoryRegistry() override;

  // --- IRegistry
  long OpenKey(HKey parent, std::string_view subKey, std::uint32_t sam, HKey &out) override;
  long CreateKey(HKey parent, std::string_view subKey, std::uint32_t sam, HKey &out,
                 std::uint32_t *disposition) override;
  long CloseKey(HKey key) override;
  long QueryInfoKey(HKey key, KeyInfo &info) override;
  long EnumKey(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
               std::string &name) override;
  long EnumValue(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
                 std::uint32_t dataCapacity, std::string &name, std::uint32_t &type,
                 Bytes &data) override;
  long QueryValue(HKey key, std::string_view name, std::uint32_t *type, Bytes *data,
                  std::uint32_t *size) override;
  long SetValue(HKey key, std::string_view name, std::uint32_t type, const Bytes &data) override;
  long DeleteValue(HKey key, std::string_view name) override;
  long DeleteKey(HKey parent, std::string_view subKey) override;
  bool HasDeleteKeyEx() const override;
  long DeleteKeyEx(HKey parent, std::string_view subKey, std::uint32_t viewFlag) override;
  bool HasQueryReflectionKey() const override;
  long QueryReflectionKey(HKey key, bool &reflectionDisabled) override;
  // Owner and DACL per key as SDDL text (owner "BA" and a DACL granting
  // SYSTEM and administrators full access, users read, by default). Reading
  // needs READ_CONTROL, setting the owner WRITE_OWNER, the DACL WRITE_DAC.
  //
  // Opening a key checks its DACL against the process's token: the user's
  // SID, Everyone, LOCAL, INTERACTIVE, Authenticated Users, Users and, while
  // the system says IsAdmin, Administrators. The owner may always read the
  // security and write the DACL. Keys below HKU\<SID> also grant that SID
  // full access.
  long GetKeySecurity(HKey key, std::uint32_t securityInfo, std::string &sddl) override;
  long SetKeySecurity(HKey key, std::uint32_t securityInfo, std::string_view sddl) override;
  // Watches need KEY_NOTIFY. REG_NOTIFY_CHANGE_NAME signals for a subkey
  // created or deleted, REG_NOTIFY_CHANGE_LAST_SET for a value created,
  // changed (its type alone too) or deleted, but not for a rewrite with the
  // same type and data; with watchSubtree the same changes anywhere below
  // count. A watch signals once and stays signalled; closing its handle
  // signals it. The first watch armed through a handle fixes the filter
  // and watchSubtree of every later one through it. Changes made through
  // the builder signal as well, as changes by another program would.
  long NotifyChangeKeyValue(HKey key, bool watchSubtree, std::uint32_t filter,
                            std::unique_ptr<IChangeWatch> &watch) override;
  // "\REGISTRY\MACHINE\" or "\REGISTRY\USER\" and the physical path of the
  // key's node, as stored ("\REGISTRY\USER\<sid>\Software\X" for HKCU, the
  // Wow6432Node path for a redirected key opened in the 32-bit view; the
  // machine's classes for an HKCR key without a user's copy).
  long QueryKeyName(HKey key, std::string &kernelPath) override;
  // Saves the key's tree to a file of the platform's file system
  // (MemoryHive.h); needs SeBackupPrivilege. The file is made before the
  // privilege is checked, so a refused save leaves an empty file.
  long SaveKey(HKey key, std::string_view file) override;
  // Mount and unmount a saved tree as a new subkey; need SeRestorePrivilege.
  // LoadKey answers 183 where the subkey exists, 2 for a missing file and
  // ERROR_NOT_REGISTRY_FILE (1017) for one that is not a saved tree;
  // UnLoadKey 5 for a key that is not a loaded hive or while a handle to
  // the hive or below it is open.
  [[nodiscard]] long LoadKey(HKey key, std::string_view subKey, std::string_view file) override;
  [[nodiscard]] long UnLoadKey(HKey key, std::string_view subKey) override;
  long ReplaceKey(HKey key, std::string_view subKey, std::string_view newFile,
                  std::string_view oldFile) override;

  // --- model settings
  void SetLayout(Wow64Layout layout);
  Wow64Layout Layout() const;
  void SetDeleteKeyExAvailable(bool available);
  void SetReflectionQueryAvailable(bool available);
  // Status RegQueryReflectionKey answers (0 = it works; Wine answers 120).
  // When it answers 0 it reports the key's flag (SetReflectionDisabled),
  // which is false ("reflection not disabled") for every key by default.
  void SetReflectionQueryStatus(long status);
  void SetQuirks(const RegistryQuirks &quirks);
  [[nodiscard]] RegistryQuirks Quirks() const;
  // A restart of the machine: the replacements ReplaceKey left pending take
  // effect and every handle is closed. Loaded hives stay mounted, so that a
  // replaced hive can be looked at.
  void SimulateReboot();

  // --- builder (every function creates missing parent keys)
  bool CreateKey(View view, std::string_view fullPath);
  bool SetRaw(View view, std::string_view fullPath, std::string_view name, std::uint32_t type,
              const Bytes &data);
  // REG_SZ / REG_EXPAND_SZ with the terminating NUL, stored as UTF-16LE.
  bool SetString(View view, std::string_view fullPath, std::string_view name,
                 std::string_view value, std::uint32_t type = wc::RegSz);
  bool SetMultiString(View view, std::string_view fullPath, std::string_view name,
                      const std::vector<std::string> &items);
  bool SetDword(View view, std::string_view fullPath, std::string_view name, std::uint32_t value);
  bool DeleteTree(View view, std::string_view fullPath);

  // --- inspection
  bool KeyExists(View view, std::string_view fullPath) const;
  bool ValueExists(View view, std::string_view fullPath, std::string_view name) const;
  std::optional<std::pair<std::uint32_t, Bytes>> GetRaw(View view, std::string_view fullPath,
                                                        std::string_view name) const;
  // The data of a string-type value as UTF-8, byte for byte: every NUL of
  // the data stays, the terminator included ("b" written by the API with
  // its terminator reads "b\0"). nullopt when missing or not a string type.
  std::optional<std::string> GetString(View view, std::string_view fullPath,
                                       std::string_view name) const;
  // The text of a string-type value: GetString up to its first NUL.
  std::optional<std::string> GetText(View view, std::string_view fullPath,
                                     std::string_view name) const;
  std::vector<std::string> SubKeyNames(View view, std::string_view fullPath) const;
  // Whole physical tree below a key as text lines, for before/after checks.
  std::string Dump(std::string_view physicalRoot = "") const;
  std::size_t OpenHandleCount() const;
  // "O:<owner>D:<dacl>" of a key, empty when it does not exist.
  std::string KeySecurity(View view, std::string_view fullPath) const;

  // --- behaviour of single keys (by the key's physical node)
  void SetDenyAccess(View view, std::string_view fullPath, bool deny); // every open: 5
  void SetDenyWrite(View view, std::string_view fullPath, bool deny);  // write access: 5
  void SetDenyDelete(View view, std::string_view fullPath, bool deny); // delete: 5
  void SetReflectionDisabled(View view, std::string_view fullPath, bool disabled);

  // --- fault injection: the next `count` calls of op whose key path (the
  // physical path of the key concerned, e.g. "HKLM\SOFTWARE\X") contains
  // pathPart (case-insensitive; empty matches all) fail with status.
  void InjectFailure(RegOp op, std::string_view pathPart, long status, int count = 1);
  void ClearFailures();

  struct Node;
  struct Handle;

private:
  friend class MemoryPlatform;
  struct KeyAccess;
  // Where saved keys go; set by MemoryPlatform (without one SaveKey and
  // LoadKey answer ERROR_CALL_NOT_IMPLEMENTED).
  void AttachFileSystem(IFileSystem &files);
  void SetFlag(View view, std::string_view fullPath, bool Node::*flag, bool value);
  // Runs an operation on an open key under the lock, once the key is known
  // to be usable with `right` and no failure is injected for `op`.
  template <typename Body> long OnKey(HKey key, std::uint32_t right, RegOp op, Body &&body);
  mutable std::mutex mu_;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class MemoryFileSystem : public IFileSystem {
public:
  explicit MemoryFileSystem(MemorySystem &sys);
  ~MemoryFileSystem() override;

  // --- IFileSystem
  std::uint32_t GetAttributes(std::string_view path, long *error = nullptr) override;
  std::uint32_t GetDriveType(std::string_view root) override;
  std::unique_ptr<IFindHandle> FindFirst(std::string_view pattern, FindData &first,
                                         long *error = nullptr) override;
  long CreateDirectory(std::string_view path) override;
  long RemoveDirectory(std::string_view path) override;
  long DeleteFile(std::string_view path) override;
  long MoveFile(std::string_view from, std::string_view to, std::uint32_t flags) override;
  long CopyFile(std::string_view from, std::string_view to, bool failIfExists) override;
  long ReadFile(std::string_view path, std::string &data) override;
  long WriteFile(std::string_view path, std::string_view data) override;
  long AppendFile(std::string_view path, std::string_view data) override;
  // The file must exist; the model's files are always on its "disk", so
  // this only records the call (Flushed()).
  long FlushFile(std::string_view path) override;
  // The lock must be released before the file system goes.
  long OpenLockFile(std::string_view path, std::unique_ptr<IFileLock> &lock) override;
  // Every file and folder has an owner and a DACL as SDDL; a new one
  // takes the owner "BA" and, in a folder whose DACL was set, that
  // folder's DACL entries (the "P" flag dropped), else the default
  // DefaultFileDacl. The model does not check access against them.
  // Setting the owner needs SeTakeOwnershipPrivilege enabled when the
  // new owner is the process user and SeRestorePrivilege for any other;
  // malformed SDDL answers 87 as the registry's security calls do.
  long GetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                       std::string &sddl) override;
  long SetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                       std::string_view sddl) override;
  static constexpr const char *DefaultFileDacl =
      "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";
  long RecycleFile(std::string_view path) override;
  // The directory and reparse-point bits stay as they are; a file left
  // without attributes reads FILE_ATTRIBUTE_NORMAL.
  long SetAttributes(std::string_view path, std::uint32_t attributes) override;
  // 0 for a file nobody holds (read-only ones too), 32 for one in use or
  // locked, 5 for a folder, the path's status when missing.
  long TestExclusiveOpen(std::string_view path) override;
  // Every link on the way followed, 8.3 names in full, each name as
  // stored ("C:\Program Files\x.txt" for "c:\progra~1\X.TXT"); the
  // drive letter upper-case, a root with its backslash.
  long GetFinalPath(std::string_view path, std::string &finalPath) override;
  bool SwitchFsView(std::uintptr_t &previous) override;
  void RevertFsView(std::uintptr_t previous) override;

  // --- builder. Paths are physical ("C:\Windows\SysWOW64\x.dll"); parents
  // are created. Drive letters must be declared (C: is fixed by default).
  void SetDrive(char letter, std::uint32_t driveType);
  // DRIVE_NO_ROOT_DIR removes the drive. UNC roots ("\\server\share")
  // exist once something is added below them and are DRIVE_REMOTE. Adding
  // below an undeclared drive letter declares it fixed.
  // Relative paths are taken from the current directory (default
  // "C:\Program Files\Quenlo", which does not exist).
  void SetCurrentDirectory(std::string path);
  void AddFile(std::string_view path, std::string_view content = "",
               std::uint32_t attributes = wc::FileAttributeArchive);
  void AddDir(std::string_view path);
  // FindFirst reports `size` bytes for an existing file until it is written
  // again: a file larger than a test can hold (a hive beyond 4 GiB).
  void SetReportedSize(std::string_view path, std::uint64_t size);
  // A junction or symbolic link at path pointing at target (a physical
  // path, which may be missing: a dangling link). Its kind is fixed when it
  // is made: a folder link for a folder target (FromTarget with a missing
  // target too), else a file link. Its attributes, and those of its entry
  // in its folder's listing, are the kind's (FILE_ATTRIBUTE_DIRECTORY or
  // FILE_ATTRIBUTE_ARCHIVE) with FILE_ATTRIBUTE_REPARSE_POINT; its listed
  // size is 0. Paths through the link reach the target, as Windows follows
  // links: FindFirst("link\*") lists the target's content and
  // DeleteFile("link\x") deletes the target's x. ReadFile, WriteFile,
  // CopyFile (source) and TestExclusiveOpen of a file link reach its
  // target; RemoveDirectory of a folder link, DeleteFile of a file link,
  // MoveFile, RecycleFile and Remove take the link alone, whatever the
  // target holds. A chain of more than 31 links answers 1921.
  //
  // An unmarked link is what Wine shows of a Unix symbolic link: its
  // attributes and listed entry lack FILE_ATTRIBUTE_REPARSE_POINT, and
  // removing it reaches the target: DeleteFile of a file link deletes the
  // target and leaves the link; RemoveDirectory of a folder link removes
  // an empty target folder (and answers 145 for a full one), the link
  // staying. GetFinalPath names the target, as for a marked link.
  // A tagless link is how Wine 8 shows a Unix link to a folder: the
  // reparse-point attribute, but reparse tag 0 in its listed entry (a
  // marked link has IO_REPARSE_TAG_MOUNT_POINT or _SYMLINK), and removal
  // reaching the target as for an unmarked link.
  enum class LinkKind { FromTarget, Folder, File };
  enum class LinkMark { Reparse, Unmarked, Tagless };
  void AddLink(std::string_view path, std::string_view target, LinkKind kind = LinkKind::FromTarget,
               LinkMark mark = LinkMark::Reparse);
  bool IsLink(std::string_view path) const;
  // An 8.3 name for an existing entry ("PROGRA~1"): paths may use it in
  // place of the name, FindFirst matches patterns against both and reports
  // the long name, as Windows does.
  void SetShortName(std::string_view path, std::string_view shortName);
  // A file another program holds open: TestExclusiveOpen, DeleteFile,
  // MoveFile, RecycleFile and WriteFile answer ERROR_SHARING_VIOLATION
  // (also for a folder holding it, as for OpenLockFile's locks); reading
  // it still works, as another program's open usually shares reading.
  void SetInUse(std::string_view path, bool inUse);
  void Remove(std::string_view path); // file or whole folder
  bool Exists(std::string_view path) const;
  std::optional<std::string> Content(std::string_view path) const;
  std::vector<std::string> Recycled() const;                    // paths given to RecycleFile
  std::vector<std::string> Flushed() const;                     // paths given to FlushFile
  std::vector<std::string> List(std::string_view folder) const; // names in a folder

  // Fault injection on operations whose path contains pathPart.
  enum class Op {
    Attributes,
    Find,
    CreateDir,
    RemoveDir,
    Delete,
    Move,
    Copy,
    Read,
    Write,
    Recycle,
    Flush,
    Lock,
    Append,
    Security,
    SetAttributes
  };
  void InjectFailure(Op op, std::string_view pathPart, long status, int count = 1);
  void ClearFailures();
  // Count of GetAttributes calls, to check that probes are not repeated.
  std::uint64_t AttributeQueries() const;

private:
  template <typename Write> long WriteThrough(Op op, std::string_view path, Write &&write);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class MemorySystem : public ISystem {
public:
  MemorySystem();
  ~MemorySystem() override;

  // --- ISystem
  bool GetEnvironmentVariable(std::string_view name, std::string &value) override;
  bool SetEnvironmentVariable(std::string_view name, std::string_view value) override;
  // Special folders: the `create` flag is ignored (MemoryPlatform creates
  // every default folder).
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

  // --- settings
  void SetVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t build = 0);
  void SetVersionFails(bool fails);
  void SetServicePack(std::string servicePack); // SetVersion clears it
  // IsWow64Process answer; nullopt = not exported. SetProcessIs64Bit and
  // SetOs64Bit set it to match (call this one after them to differ).
  void SetWow64Process(std::optional<bool> value);
  // A 64-bit process implies 64-bit Windows. The program-folder variables
  // (ProgramFiles, CommonProgramFiles, the (x86) and W6432 forms) and
  // PROCESSOR_ARCHITECTURE follow the bitness as WOW64 sets them.
  void SetProcessIs64Bit(bool value);
  // Whether Windows itself is 64-bit (default true). With false the
  // registry has one view, the file system no redirection and the process
  // is 32-bit.
  void SetOs64Bit(bool value);
  bool Os64Bit() const;
  void SetFarEastLocale(bool value);
  void SetUserSid(std::optional<std::string> sid); // nullopt: cannot be read
  void SetUserName(std::string name);
  void SetAdmin(bool admin);
  void SetSystemDirectory(std::string dir);
  void SetWindowsDirectory(std::string dir);
  void SetSpecialFolder(int csidl, std::optional<std::string> path);
  void SetDosDevice(char letter, std::string device);
  // sfc.dll: nullopt = SfcIsKeyProtected unavailable; otherwise the keys
  // (short root name + "\" + path, case-insensitive) reported protected.
  // Default: available, no key protected.
  void SetSfcProtectedKeys(std::optional<std::set<std::string>> keys);
  void SetShellLink(std::string_view file, ShellLinkInfo info);
  // A status every SetPrivilege call answers while it is not 0 (default 0:
  // SetPrivilege enables and disables the privileges the token holds, which
  // are an administrator's while IsAdmin, else a standard user's; others
  // give ERROR_NOT_ALL_ASSIGNED, unknown names ERROR_NO_SUCH_PRIVILEGE).
  void SetPrivilegeResult(long status);
  // Whether the token holds the privilege and it is enabled.
  [[nodiscard]] bool PrivilegeEnabled(std::string_view name) const;
  void AdvanceTicks(std::uint64_t ms);
  // Sleep advances the tick count instead of waiting when set (default).
  void SetVirtualSleep(bool virtualSleep);
  // Called (outside the model's lock) after every Sleep: what another
  // program does meanwhile (Windows starting its shell again).
  void SetOnSleep(std::function<void(std::uint32_t ms)> hook);
  // "SeShutdownPrivilege:on" / ":off" per SetPrivilege call.
  std::vector<std::string> PrivilegeCalls() const;
  // ExpandEnvironmentStrings fails (nullopt) while set.
  void SetExpandFails(bool fails);
  void UnsetEnvironmentVariable(std::string_view name);
  // The flags of every ExitWindows call (each one succeeds).
  std::vector<std::uint32_t> ExitWindowsCalls() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The process list a test builds. The own process (CurrentProcessId, 100)
// is always listed, in the current session; ids handed out for started
// processes begin at 1000.
class MemoryProcesses : public IProcesses {
public:
  static constexpr std::uint32_t kOwnProcessId = 100;

  ProcessResult RunHiddenAndWait(std::string_view commandLine) override;
  // False while the list is switched off (SetProcessListAvailable).
  bool ListProcesses(std::vector<ProcessEntry> &processes) override;
  std::uint32_t CurrentProcessId() override;
  std::uint32_t CurrentSessionId() override;
  // By the process's CloseBehaviour; an ended or terminated process leaves
  // the list. The own process and unknown ids: cpNotClosed.
  TCloseProcessResult CloseProcess(std::uint32_t id, std::uint32_t timeoutMs) override;
  // Records the command line and asks the start hook which process, if
  // any, now runs; false (nothing recorded) while starts fail.
  bool StartProcess(std::string_view commandLine) override;

  // The answer for the next runs; by default a program "runs" and exits 0.
  void SetHandler(std::function<ProcessResult(std::string_view commandLine)> handler);
  std::vector<std::string> CommandLines() const;

  // --- the process list
  enum class CloseBehaviour {
    EndsOnClose,    // ends when its windows get WM_CLOSE: cpEnded
    OnlyTerminable, // ignores WM_CLOSE; TerminateProcess ends it: cpTerminated
    CannotOpen      // OpenProcess is refused: cpNotClosed, it keeps running
  };
  // id 0 takes the next free id; returns the id.
  std::uint32_t AddProcess(ProcessEntry entry,
                           CloseBehaviour behaviour = CloseBehaviour::EndsOnClose);
  void SetProcessListAvailable(bool available);
  void SetCurrentSession(std::uint32_t sessionId); // default 1
  // Called (outside the model's lock) for every started command line; the
  // process it answers is added (EndsOnClose), nullopt adds none. Without
  // a hook nothing is added.
  void SetOnStart(std::function<std::optional<ProcessEntry>(std::string_view commandLine)> hook);
  // Called (outside the lock) with every process that ended by
  // CloseProcess, so that a test can model a program that comes back.
  void SetOnEnd(std::function<void(const ProcessEntry &ended)> hook);
  void SetStartFails(bool fails);
  // The processes other than the own one, in list order.
  std::vector<ProcessEntry> Running() const;
  std::vector<std::string> StartedCommandLines() const;
  struct CloseCall {
    std::uint32_t id = 0;
    std::uint32_t timeoutMs = 0;
  };
  std::vector<CloseCall> CloseCalls() const;

private:
  struct Process {
    ProcessEntry entry;
    CloseBehaviour behaviour = CloseBehaviour::EndsOnClose;
  };
  std::uint32_t AddLocked(ProcessEntry entry, CloseBehaviour behaviour);
  mutable std::mutex mu_;
  std::function<ProcessResult(std::string_view)> handler_;
  std::vector<std::string> commandLines_;
  std::vector<Process> processes_;
  bool listAvailable_ = true;
  bool startFails_ = false;
  std::uint32_t session_ = 1;
  std::uint32_t nextId_ = 1000;
  std::function<std::optional<ProcessEntry>(std::string_view)> onStart_;
  std::function<void(const ProcessEntry &)> onEnd_;
  std::vector<std::string> started_;
  std::vector<CloseCall> closeCalls_;
};

// The user's desktop session: the clipboard, the WinINet URL cache and its
// containers, the URL history object, the IIS metabase and the settings
// broadcast, each as a test sets it up. Thread-safe: the cleaner calls it
// from its worker.
class MemoryDesktop : public IDesktop {
public:
  // False (nothing read) while the clipboard cannot be opened.
  bool ReadClipboard(std::vector<ClipboardEntry> &formats) override;
  // Clears the formats and counts the call; false while it cannot be opened.
  bool EmptyClipboard() override;
  bool GetUrlCacheContainer(std::uint32_t containerFlag, std::string &path) override;
  // A pattern ending in ":" ("cookie:", "visited:") finds the entries
  // whose source URL starts with it, letter case aside, as WinINet does;
  // an empty pattern or "*.*" finds every entry. The entries found are
  // taken before the first visit, so a visitor may delete them.
  void EnumUrlCache(std::string_view pattern,
                    const std::function<bool(const UrlCacheEntry &)> &visit) override;
  // By exact source URL; 2 when there is none.
  long DeleteUrlCacheEntry(std::string_view sourceUrl) override;
  // Counts the call; answers SetClearUrlHistoryResult's status (default 0).
  long ClearUrlHistory() override;
  // False for a service that was not set.
  bool ListIisSites(std::string_view service, std::vector<IisSite> &sites) override;
  void BroadcastSettingChange() override; // counted

  void SetClipboard(std::vector<ClipboardEntry> formats);
  void SetClipboardOpenFails(bool fails);
  std::vector<ClipboardEntry> Clipboard() const;
  int ClipboardEmpties() const;
  // An empty path takes the container away.
  void SetCacheContainer(std::uint32_t containerFlag, std::string path);
  void AddUrlCacheEntry(UrlCacheEntry entry);
  // DeleteUrlCacheEntry of that source URL answers status (an entry in use).
  void SetUrlCacheDeleteFails(std::string sourceUrl, long status);
  std::vector<UrlCacheEntry> UrlCacheEntries() const;
  void SetClearUrlHistoryResult(long status);
  int UrlHistoryClears() const;
  void SetIisSites(std::string service, std::vector<IisSite> sites);
  int Broadcasts() const;

private:
  mutable std::mutex mu_;
  std::vector<ClipboardEntry> clipboard_;
  bool clipboardFails_ = false;
  int clipboardEmpties_ = 0;
  std::map<std::uint32_t, std::string> containers_;
  std::vector<UrlCacheEntry> urlCache_;
  std::map<std::string, long> urlDeleteFailures_;
  long clearHistoryResult_ = 0;
  int historyClears_ = 0;
  std::map<std::string, std::vector<IisSite>> iisSites_; // upper-case service name
  int broadcasts_ = 0;
};

} // namespace qp::mem
