// Registry access and views: the registry object with its view bits, walks,
// root-key names, key-path helpers, recursive delete with error texts,
// reflection and ownership, and the two file probes that see past WOW64
// file-system redirection.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/ScopedKey.h"

namespace quenlo {

using qp::HKey;

enum TRegistryView : std::uint8_t { rv32 = 0, rv64 = 1 };

enum TValueKind : std::uint8_t {
  vkUnknown = 0,
  vkNone = 1,
  vkString = 2,
  vkExpandString = 3,
  vkMultiString = 4,
  vkDWord = 5,
  vkBinary = 6
};

enum TWalkResult : std::uint8_t { wrDescend = 0, wrSkip = 1, wrStop = 2 };

// Process-wide facts, set once by InitRegistryLayer before any worker starts.
//
// ProcessOnWow64: true when this process runs on 64-bit Windows and must
// reason about two registry views and two file-system views. For a 32-bit
// process that is IsWow64Process; the 64-bit program is always in that
// situation on 64-bit Windows, so there it is simply true.
extern bool ProcessOnWow64;
extern bool LegacyWindows;
extern bool ReflectionAvailable;
// Windows version as major * 100 + minor (0 when unknown).
extern std::uint32_t WindowsVersionNumber;

void InitRegistryLayer();

std::uint32_t ViewFlag(TRegistryView view);
TValueKind ValueKindOf(std::uint32_t regType);

// Raw registry data to the core's form: string types become UTF-8 (NULs kept
// where the data has them), other types stay as they are.
std::string DataToText(std::uint32_t regType, const qp::Bytes &raw);
// The reverse of DataToText.
qp::Bytes TextToData(std::uint32_t regType, std::string_view data);
// The text of string data: UTF-8 up to the first NUL.
std::string CutAtNul(std::string_view data);

// --- root names and key paths
std::string RootKeyLongName(std::uint32_t root);
std::string RootKeyShortName(std::uint32_t root);
std::uint32_t RootKeyFromName(std::string_view name);
std::string KeyParentPath(std::string_view path);
std::string KeyTail(std::string_view path, int n);
std::uint32_t NativeKeyToRoot(std::string &path);

// A registry key handle closed on destruction.
using qp::ScopedKey;

// The system message for a status code (Platform().System().SystemMessage).
std::string SysErrorMessage(long code);

class TRegistry {
public:
  TRegistry();
  explicit TRegistry(std::uint32_t access);
  virtual ~TRegistry();
  TRegistry(const TRegistry &) = delete;
  TRegistry &operator=(const TRegistry &) = delete;

  HKey CurrentKey() const { return key_; }
  std::uint32_t RootKey() const { return root_; }
  void SetRootKey(std::uint32_t root); // closes the open key
  const std::string &CurrentPath() const { return path_; }
  std::uint32_t Access() const { return access_; }
  void SetAccess(std::uint32_t access) { access_ = access; }
  bool LazyWrite() const { return lazyWrite_; }
  void SetLazyWrite(bool lazy) { lazyWrite_ = lazy; }

  // Opens path (relative to the open key when it has no leading backslash,
  // otherwise from the root) with the access mask; optionally creates it.
  [[nodiscard]] bool OpenKey(std::string_view path, bool create);
  // The status of the last OpenKey.
  long LastStatus() const { return lastStatus_; }
  void CloseKey();

  [[nodiscard]] bool GetKeyInfo(qp::KeyInfo &info) const;
  [[nodiscard]] bool GetKeyNames(std::vector<std::string> &names) const;
  [[nodiscard]] bool GetValueNames(std::vector<std::string> &names) const;
  bool ValueExists(std::string_view name) const;
  // The kind of a value; vkUnknown also when it is missing.
  TValueKind GetDataType(std::string_view name) const;
  // Reads a string value (empty when missing or not a string).
  std::string ReadString(std::string_view name) const;
  [[nodiscard]] bool WriteString(std::string_view name, std::string_view value);
  // Raw access: status codes as Windows returns them.
  [[nodiscard]] long ReadRaw(std::string_view name, std::uint32_t &type, qp::Bytes &data) const;
  [[nodiscard]] long WriteRaw(std::string_view name, std::uint32_t type, const qp::Bytes &data);
  [[nodiscard]] long DeleteValue(std::string_view name);

protected:
  HKey key_ = 0;
  std::uint32_t root_ = wc::HkeyCurrentUser;
  bool lazyWrite_ = true;
  std::string path_;
  bool closeRootKey_ = false;
  std::uint32_t access_ = wc::KeyAllAccess;
  long lastStatus_ = 0;
};

class TRegistryAccess;

using TKeyVisitor = std::function<TWalkResult(TRegistryAccess &scratch, const std::string &path)>;
// data: DataToText of the value (string kinds as UTF-8, NULs kept).
using TValueVisitor =
    std::function<bool(TRegistryAccess &scratch, const std::string &keyPath, std::string_view data,
                       TValueKind kind, const std::string &name)>;

class TRegistryAccess : public TRegistry {
public:
  TRegistryAccess();
  explicit TRegistryAccess(std::uint32_t access);

  void SetView(TRegistryView view);
  bool IsView64() const { return (access_ & wc::KeyWow64_64Key) != 0; }
  TRegistryView View() const { return IsView64() ? rv64 : rv32; }
  [[nodiscard]] bool DeleteKeyTree(std::string_view path);

  TWalkResult WalkSubKeys(bool recursive, int maxDepth, const TKeyVisitor &visitor);
  void WalkValues(const TValueVisitor &visitor);

  int Depth() const { return depth_; }
  int MaxDepth() const { return maxDepth_; }

private:
  TWalkResult WalkPath(const std::string &path, bool recursive, const TKeyVisitor &visitor,
                       TRegistryAccess &scratch);
  int depth_ = 0;
  int maxDepth_ = 0;
};

// --- free key functions (never raise)
bool KeyExists(std::uint32_t root, TRegistryView view, std::string_view path);
[[nodiscard]] long OpenKeyFull(std::uint32_t root, TRegistryView view, std::string_view path,
                               ScopedKey &key);
[[nodiscard]] bool OpenKeyFull(std::uint32_t root, TRegistryView view, std::string_view path,
                               ScopedKey &key, std::string &errorText);
bool ValueExists(HKey key, std::string_view name);
bool KeyIsEmpty(const TRegistry &reg);
bool IsKeyReflected(const TRegistry &reg);
bool IsKeyReflected(std::uint32_t root, TRegistryView view, std::string_view path);
[[nodiscard]] bool DeleteKeyTree(std::string &errorText, std::uint32_t root, TRegistryView view,
                                 std::string_view path);
[[nodiscard]] bool DeleteKeyTree(std::uint32_t root, TRegistryView view, std::string_view path);
std::string CurrentUserSid(std::string_view defaultText);

// Raised by TakeKeyOwnership and TNTRegistry.
class ERegistryException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Gives the current user full control of a key and makes the user its
// owner, or gives both back. savedDescriptor in: empty to take, or what an
// earlier call handed out to give back; out on success: the key's security
// before the call, "O:<owner>D:<dacl>" (the owner part only when it could be
// read). Giving back puts the saved DACL back and then the saved owner (with
// SeRestorePrivilege held for that step alone, as another account's
// ownership needs it); a text that is a DACL alone ("D:...") restores only
// the DACL. Raises ERegistryException when the key cannot be opened for its
// DACL or the DACL cannot be read; false when the new security cannot be
// applied (savedDescriptor unchanged; an owner taken is given back then).
[[nodiscard]] bool TakeKeyOwnership(std::uint32_t root, std::string_view path,
                                    std::string &savedDescriptor);

// File probes that see past WOW64 file-system redirection.
bool FileExistsNoRedirect(std::string_view path);
std::uint64_t FileSizeNoRedirect(std::string_view path);

// The settings code's registry object: opens with an access fallback.
class TNTRegistry {
public:
  TNTRegistry() = default;
  ~TNTRegistry();
  TNTRegistry(const TNTRegistry &) = delete;
  TNTRegistry &operator=(const TNTRegistry &) = delete;

  std::uint32_t RootKey() const { return root_; }
  void SetRootKey(std::uint32_t root);
  const std::string &CurrentPath() const { return path_; }
  HKey CurrentKey() const { return key_; }
  [[nodiscard]] bool OpenKey(std::string_view path, bool create);
  void CloseKey();
  std::string ReadString(std::string_view name) const; // raises ERegistryException
  [[nodiscard]] bool WriteString(std::string_view name, std::string_view value);

private:
  HKey key_ = 0;
  std::uint32_t root_ = wc::HkeyCurrentUser;
  std::string path_;
};

} // namespace quenlo
