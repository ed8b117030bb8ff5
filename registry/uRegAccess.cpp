#include "registry/uRegAccess.h"

#include <algorithm>
#include <array>

#include "platform/Guards.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "registry/uProtectedKeys.h"

namespace quenlo {

bool ProcessOnWow64 = false;
bool LegacyWindows = false;
bool ReflectionAvailable = false;
std::uint32_t WindowsVersionNumber = 0;

namespace {

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

struct RootName {
  std::uint32_t root;
  const char *longName;
  const char *shortName;
};

constexpr std::array<RootName, 7> kRootNames{{
    {wc::HkeyClassesRoot, "HKEY_CLASSES_ROOT", "HKCR"},
    {wc::HkeyCurrentUser, "HKEY_CURRENT_USER", "HKCU"},
    {wc::HkeyLocalMachine, "HKEY_LOCAL_MACHINE", "HKLM"},
    {wc::HkeyUsers, "HKEY_USERS", "HKU"},
    {wc::HkeyPerformanceData, "HKEY_PERFORMANCE_DATA", "HKEY_PERFORMANCE_DATA"},
    {wc::HkeyCurrentConfig, "HKEY_CURRENT_CONFIG", "HKCC"},
    {wc::HkeyDynData, "HKEY_DYN_DATA", "HKDD"},
}};

// Windows 7 removed registry reflection; earlier 64-bit systems had it.
constexpr std::uint32_t kWindows7 = 601;

std::string JoinPath(const std::string &parent, const std::string &name) {
  return parent.empty() ? name : parent + "\\" + name;
}

} // namespace

void InitRegistryLayer() {
  qp::ISystem &sys = qp::Platform().System();
  const std::optional<bool> wow64 = sys.IsWow64Process();
  ProcessOnWow64 = (wow64.has_value() && *wow64) || sys.ProcessIs64Bit();
  qp::VersionInfo version;
  WindowsVersionNumber = sys.GetVersion(version) ? version.major * 100 + version.minor : 0;
  LegacyWindows = WindowsVersionNumber <= 500;
  ReflectionAvailable = Reg().HasQueryReflectionKey();
}

std::uint32_t ViewFlag(TRegistryView view) {
  if (view == rv64)
    return wc::KeyWow64_64Key;
  return LegacyWindows ? 0 : wc::KeyWow64_32Key;
}

TValueKind ValueKindOf(std::uint32_t regType) {
  switch (regType) {
  case wc::RegNone:
    return vkNone;
  case wc::RegSz:
    return vkString;
  case wc::RegExpandSz:
    return vkExpandString;
  case wc::RegMultiSz:
    return vkMultiString;
  case wc::RegDword:
    return vkDWord;
  case wc::RegBinary:
    return vkBinary;
  default:
    return vkUnknown;
  }
}

namespace {
bool IsStringType(std::uint32_t regType) {
  return regType == wc::RegSz || regType == wc::RegExpandSz || regType == wc::RegMultiSz;
}
} // namespace

std::string DataToText(std::uint32_t regType, const qp::Bytes &raw) {
  if (IsStringType(regType))
    return qp::RawUtf16ToUtf8(raw);
  return std::string(raw.begin(), raw.end());
}

qp::Bytes TextToData(std::uint32_t regType, std::string_view data) {
  if (IsStringType(regType))
    return qp::Utf8ToRawUtf16(data);
  return qp::Bytes(data.begin(), data.end());
}

std::string CutAtNul(std::string_view data) {
  const auto nul = data.find('\0');
  return std::string(nul == std::string_view::npos ? data : data.substr(0, nul));
}

std::string SysErrorMessage(long code) {
  return qp::Platform().System().SystemMessage(code);
}

// --- root names and key paths

std::string RootKeyLongName(std::uint32_t root) {
  for (const auto &r : kRootNames)
    if (r.root == root)
      return r.longName;
  return {};
}

std::string RootKeyShortName(std::uint32_t root) {
  for (const auto &r : kRootNames)
    if (r.root == root)
      return r.shortName;
  return {};
}

std::uint32_t RootKeyFromName(std::string_view name) {
  const std::string upper = qp::UpperAscii(name);
  for (const auto &r : kRootNames)
    if (upper == r.longName || upper == r.shortName)
      return r.root;
  return 0;
}

std::string KeyParentPath(std::string_view path) {
  const auto pos = path.rfind('\\');
  return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos + 1));
}

std::string KeyTail(std::string_view path, int n) {
  std::size_t end = path.size();
  for (int i = 0; i <= n; ++i) {
    if (end == 0)
      return std::string(path);
    const auto pos = path.rfind('\\', end - 1);
    if (pos == std::string_view::npos)
      return std::string(path);
    if (i == n)
      return std::string(path.substr(pos + 1));
    end = pos;
  }
  return std::string(path);
}

std::uint32_t NativeKeyToRoot(std::string &path) {
  static constexpr std::string_view kMachine = "\\REGISTRY\\MACHINE\\";
  static constexpr std::string_view kUser = "\\REGISTRY\\USER\\";
  const std::string parent = qp::UpperAscii(KeyParentPath(path));
  if (parent == kMachine) {
    path.erase(0, kMachine.size());
    return wc::HkeyLocalMachine;
  }
  if (parent == kUser) {
    path.erase(0, kUser.size());
    return wc::HkeyUsers;
  }
  return 0;
}

// --- TRegistry

TRegistry::TRegistry() = default;

TRegistry::TRegistry(std::uint32_t access) : access_(access) {}

TRegistry::~TRegistry() {
  CloseKey();
}

void TRegistry::SetRootKey(std::uint32_t root) {
  CloseKey();
  root_ = root;
}

bool TRegistry::OpenKey(std::string_view path, bool create) {
  const bool relative = path.empty() || path.front() != '\\';
  std::string_view sub = relative ? path : path.substr(1);
  const HKey base = (relative && key_ != 0) ? key_ : static_cast<HKey>(root_);
  HKey opened = 0;
  if (create) {
    lastStatus_ = Reg().CreateKey(base, sub, access_, opened, nullptr);
  } else {
    lastStatus_ = Reg().OpenKey(base, sub, access_, opened);
  }
  if (lastStatus_ != wc::ErrorSuccess)
    return false;
  std::string newPath = (relative && key_ != 0 && !path_.empty()) ? path_ + "\\" + std::string(sub)
                                                                  : std::string(sub);
  CloseKey();
  key_ = opened;
  path_ = std::move(newPath);
  return true;
}

void TRegistry::CloseKey() {
  if (key_ != 0) {
    qp::IgnoreResult(Reg().CloseKey(key_));
    key_ = 0;
    path_.clear();
  }
}

bool TRegistry::GetKeyInfo(qp::KeyInfo &info) const {
  info = qp::KeyInfo{};
  return key_ != 0 && Reg().QueryInfoKey(key_, info) == wc::ErrorSuccess;
}

bool TRegistry::GetKeyNames(std::vector<std::string> &names) const {
  names.clear();
  qp::KeyInfo info;
  if (!GetKeyInfo(info))
    return false;
  std::string name;
  for (std::uint32_t i = 0; i < info.subKeys; ++i)
    if (Reg().EnumKey(key_, i, info.maxSubKeyLen + 1, name) == wc::ErrorSuccess)
      names.push_back(name);
  return true;
}

bool TRegistry::GetValueNames(std::vector<std::string> &names) const {
  names.clear();
  qp::KeyInfo info;
  if (!GetKeyInfo(info))
    return false;
  std::string name;
  std::uint32_t type = 0;
  qp::Bytes data;
  for (std::uint32_t i = 0; i < info.values; ++i)
    if (Reg().EnumValue(key_, i, info.maxValueNameLen + 1, info.maxValueLen, name, type, data) ==
        wc::ErrorSuccess)
      names.push_back(name);
  return true;
}

bool TRegistry::ValueExists(std::string_view name) const {
  return key_ != 0 && Reg().QueryValue(key_, name, nullptr, nullptr, nullptr) == wc::ErrorSuccess;
}

TValueKind TRegistry::GetDataType(std::string_view name) const {
  std::uint32_t type = 0;
  if (key_ == 0 || Reg().QueryValue(key_, name, &type, nullptr, nullptr) != wc::ErrorSuccess)
    return vkUnknown;
  return ValueKindOf(type);
}

std::string TRegistry::ReadString(std::string_view name) const {
  std::uint32_t type = 0;
  qp::Bytes data;
  if (ReadRaw(name, type, data) != wc::ErrorSuccess || !IsStringType(type))
    return {};
  return CutAtNul(DataToText(type, data));
}

bool TRegistry::WriteString(std::string_view name, std::string_view value) {
  qp::Bytes data = qp::Utf8ToRawUtf16(value);
  data.push_back(0);
  data.push_back(0);
  return WriteRaw(name, wc::RegSz, data) == wc::ErrorSuccess;
}

long TRegistry::ReadRaw(std::string_view name, std::uint32_t &type, qp::Bytes &data) const {
  data.clear();
  if (key_ == 0)
    return wc::ErrorInvalidHandle;
  return Reg().QueryValue(key_, name, &type, &data, nullptr);
}

long TRegistry::WriteRaw(std::string_view name, std::uint32_t type, const qp::Bytes &data) {
  if (key_ == 0)
    return wc::ErrorInvalidHandle;
  return Reg().SetValue(key_, name, type, data);
}

long TRegistry::DeleteValue(std::string_view name) {
  if (key_ == 0)
    return wc::ErrorInvalidHandle;
  return Reg().DeleteValue(key_, name);
}

// --- TRegistryAccess

TRegistryAccess::TRegistryAccess() : TRegistryAccess(wc::KeyAllAccess) {}

TRegistryAccess::TRegistryAccess(std::uint32_t access) : TRegistry(access) {
  SetView(ProcessOnWow64 ? rv64 : rv32);
}

void TRegistryAccess::SetView(TRegistryView view) {
  access_ = (access_ & ~wc::KeyWow64Res) | ViewFlag(view);
}

bool TRegistryAccess::DeleteKeyTree(std::string_view path) {
  return quenlo::DeleteKeyTree(root_, View(), path);
}

TWalkResult TRegistryAccess::WalkSubKeys(bool recursive, int maxDepth, const TKeyVisitor &visitor) {
  TRegistryAccess scratch(access_);
  scratch.access_ = access_;
  scratch.root_ = root_;
  scratch.depth_ = 0;
  scratch.maxDepth_ = maxDepth < 0 ? 0 : maxDepth;
  return scratch.WalkPath(path_, recursive, visitor, scratch);
}

TWalkResult TRegistryAccess::WalkPath(const std::string &path, bool recursive,
                                      const TKeyVisitor &visitor, TRegistryAccess &scratch) {
  const std::uint32_t walkRoot = root_;
  const std::uint32_t walkAccess = access_;
  ScopedKey key;
  if (Reg().OpenKey(walkRoot, path, walkAccess, key.Out()) != wc::ErrorSuccess)
    return wrDescend;
  qp::KeyInfo info;
  if (Reg().QueryInfoKey(key.Get(), info) != wc::ErrorSuccess)
    return wrDescend;
  const std::uint32_t capacity = std::min<std::uint32_t>(info.maxSubKeyLen + 1, 256);
  ++depth_;
  TWalkResult last = wrDescend;
  std::string name;
  for (std::uint32_t index = 0; last < wrStop && index < info.subKeys; ++index) {
    if (Reg().EnumKey(key.Get(), index, capacity, name) != wc::ErrorSuccess)
      continue;
    const std::string subPath = JoinPath(path, name);
    scratch.CloseKey();
    scratch.root_ = walkRoot;
    scratch.access_ = walkAccess;
    last = visitor(scratch, subPath);
    if (last == wrDescend && recursive && (maxDepth_ == 0 || maxDepth_ > depth_)) {
      root_ = walkRoot;
      access_ = walkAccess;
      last = WalkPath(subPath, recursive, visitor, scratch);
    }
  }
  --depth_;
  return last;
}

void TRegistryAccess::WalkValues(const TValueVisitor &visitor) {
  qp::KeyInfo info;
  if (!GetKeyInfo(info))
    return;
  const std::uint32_t nameCapacity = std::min<std::uint32_t>(info.maxValueNameLen + 1, 32768);
  const std::uint32_t dataCapacity = std::min<std::uint32_t>(info.maxValueLen, 65536);
  TRegistryAccess scratch(access_);
  std::string name;
  std::uint32_t type = 0;
  qp::Bytes data;
  for (std::uint32_t index = 0; index < info.values; ++index) {
    if (Reg().EnumValue(key_, index, nameCapacity, dataCapacity, name, type, data) !=
        wc::ErrorSuccess)
      continue;
    scratch.CloseKey();
    scratch.root_ = root_;
    scratch.access_ = access_;
    const std::string text = DataToText(type, data);
    if (!visitor(scratch, path_, text, ValueKindOf(type), name))
      return;
  }
}

// --- free key functions

bool KeyExists(std::uint32_t root, TRegistryView view, std::string_view path) {
  ScopedKey key;
  return Reg().OpenKey(root, path, wc::KeyRead | ViewFlag(view), key.Out()) == wc::ErrorSuccess;
}

long OpenKeyFull(std::uint32_t root, TRegistryView view, std::string_view path, ScopedKey &key) {
  return Reg().OpenKey(root, path, wc::KeyAllAccess | ViewFlag(view), key.Out());
}

bool OpenKeyFull(std::uint32_t root, TRegistryView view, std::string_view path, ScopedKey &key,
                 std::string &errorText) {
  const long status = OpenKeyFull(root, view, path, key);
  if (status == wc::ErrorSuccess)
    return true;
  errorText = SysErrorMessage(status);
  return false;
}

bool ValueExists(HKey key, std::string_view name) {
  return Reg().QueryValue(key, name, nullptr, nullptr, nullptr) != wc::ErrorFileNotFound;
}

bool KeyIsEmpty(const TRegistry &reg) {
  qp::KeyInfo info;
  return reg.GetKeyInfo(info) && info.subKeys == 0 && info.values == 0;
}

// A key counts as reflected only where registry reflection exists (64-bit
// Windows before Windows 7) and the system confirms it for this key. Where
// the query is missing or fails (Windows 7 and later, Wine) nothing is
// reflected, so the 64-bit view is examined on its own.
bool IsKeyReflected(const TRegistry &reg) {
  if (!ReflectionAvailable || WindowsVersionNumber >= kWindows7 || reg.CurrentKey() == 0)
    return false;
  bool disabled = true;
  if (Reg().QueryReflectionKey(reg.CurrentKey(), disabled) != wc::ErrorSuccess)
    return false;
  return !disabled;
}

bool IsKeyReflected(std::uint32_t root, TRegistryView view, std::string_view path) {
  TRegistryAccess reg(wc::KeyRead);
  reg.SetView(view);
  reg.SetRootKey(root);
  if (!reg.OpenKey(path, false))
    return false;
  return IsKeyReflected(reg);
}

namespace {

// A path that names the hive root itself once its backslashes are trimmed.
bool NamesHiveRoot(std::string_view path) {
  return path.find_first_not_of('\\') == std::string_view::npos;
}

// Deletes the key and what is below it, deepest first. The caller checked
// the key itself; the keys below it are never protected on their own.
bool DeleteSubTree(std::string &errorText, std::uint32_t root, TRegistryView view,
                   std::string_view path) {
  const std::uint32_t flag = ViewFlag(view);
  {
    ScopedKey key;
    long status = Reg().OpenKey(root, path, wc::KeyAllAccess | flag, key.Out());
    if (status != wc::ErrorSuccess) {
      errorText = "RegKeyOpenEx: " + SysErrorMessage(status);
      return false;
    }
    qp::KeyInfo info;
    status = Reg().QueryInfoKey(key.Get(), info);
    if (status != wc::ErrorSuccess) {
      errorText = "RegQueryInfoKey: " + SysErrorMessage(status);
      return false;
    }
    std::string name;
    for (std::uint32_t index = info.subKeys; index-- > 0;) {
      if (Reg().EnumKey(key.Get(), index, info.maxSubKeyLen + 1, name) != wc::ErrorSuccess)
        continue;
      const std::string sub = std::string(path) + "\\" + name;
      if (!DeleteSubTree(errorText, root, view, sub))
        return false;
    }
  }
  if (Reg().HasDeleteKeyEx()) {
    const long status = Reg().DeleteKeyEx(root, path, flag);
    if (status != wc::ErrorSuccess) {
      errorText = "RegDeleteKeyEx: " + SysErrorMessage(status);
      return false;
    }
    return true;
  }
  const long status = Reg().DeleteKey(root, path);
  if (status != wc::ErrorSuccess) {
    errorText = "RegDeleteKey: " + SysErrorMessage(status);
    return false;
  }
  return true;
}

} // namespace

bool DeleteKeyTree(std::string &errorText, std::uint32_t root, TRegistryView view,
                   std::string_view path) {
  // A hive root is never deleted: an empty path would otherwise empty the
  // whole hive.
  if (NamesHiveRoot(path)) {
    errorText = "DeleteKeyTree: refusing to delete the hive root " + RootKeyLongName(root);
    return false;
  }
  // Nor a key the scan starts from, a key above one or a view's
  // "Wow6432Node", whatever asked for it (a repair, a backup being played).
  if (IsProtectedKey(root, path)) {
    errorText = ProtectedKeyError(root, path);
    return false;
  }
  return DeleteSubTree(errorText, root, view, path);
}

bool DeleteKeyTree(std::uint32_t root, TRegistryView view, std::string_view path) {
  std::string ignored;
  return DeleteKeyTree(ignored, root, view, path);
}

std::string CurrentUserSid(std::string_view defaultText) {
  std::string sid;
  if (qp::Platform().System().GetUserSid(sid) && !sid.empty())
    return sid;
  return std::string(defaultText);
}

namespace {

// A saved key security as TakeKeyOwnership hands it out: "O:<owner>" (when
// the owner could be read) followed by "D:<dacl>". A text without an owner
// part is a DACL alone.
struct TSavedKeySecurity {
  std::string owner; // "O:..." or empty
  std::string dacl;  // "D:..." or empty
};

TSavedKeySecurity SplitSavedSecurity(std::string_view text) {
  TSavedKeySecurity saved;
  if (!text.starts_with("O:")) {
    saved.dacl = std::string(text);
    return saved;
  }
  // An owner is a SID or a two-letter alias; neither holds "D:".
  const std::size_t dacl = text.find("D:", 2);
  saved.owner = std::string(text.substr(0, dacl));
  if (dacl != std::string_view::npos)
    saved.dacl = std::string(text.substr(dacl));
  return saved;
}

std::uint32_t OwnershipViewFlag() {
  return ProcessOnWow64 ? wc::KeyWow64_64Key : (LegacyWindows ? 0 : wc::KeyWow64_32Key);
}

// "O:..." of the key, or empty when it cannot be read.
std::string KeyOwnerText(std::uint32_t root, std::string_view path, std::uint32_t view) {
  ScopedKey key;
  if (Reg().OpenKey(root, path, wc::ReadControl | view, key.Out()) != wc::ErrorSuccess)
    return {};
  std::string owner;
  if (Reg().GetKeySecurity(key.Get(), wc::OwnerSecurityInformation, owner) != wc::ErrorSuccess ||
      !owner.starts_with("O:"))
    return {};
  return owner;
}

// Gives the key the owner ("O:..."). Naming another account than the
// process user needs SeRestorePrivilege; it is held for this call only.
bool SetKeyOwner(HKey key, std::string_view owner) {
  const qp::TPrivilegeScope restore("SeRestorePrivilege");
  return Reg().SetKeySecurity(key, wc::OwnerSecurityInformation, owner) == wc::ErrorSuccess;
}

// Opens the key to put a saved owner and DACL back: WRITE_OWNER comes from
// SeTakeOwnershipPrivilege whatever the DACL says. Falls back to the DACL
// rights alone (the owner then cannot be given back).
long OpenForGiveBack(std::uint32_t root, std::string_view path, std::uint32_t view, bool owner,
                     ScopedKey &key, bool &ownerWritable) {
  ownerWritable = false;
  if (owner) {
    const qp::TPrivilegeScope takeOwnership("SeTakeOwnershipPrivilege");
    if (Reg().OpenKey(root, path, wc::ReadControl | wc::WriteDac | wc::WriteOwner | view,
                      key.Out()) == wc::ErrorSuccess) {
      ownerWritable = true;
      return wc::ErrorSuccess;
    }
  }
  return Reg().OpenKey(root, path, wc::ReadControl | wc::WriteDac | view, key.Out());
}

} // namespace

bool TakeKeyOwnership(std::uint32_t root, std::string_view path, std::string &savedDescriptor) {
  const std::uint32_t view = OwnershipViewFlag();
  qp::ISystem &sys = qp::Platform().System();

  if (!savedDescriptor.empty()) {
    // Giving back: the saved DACL first (the handle keeps its rights when
    // the DACL no longer grants them), then the saved owner.
    const TSavedKeySecurity saved = SplitSavedSecurity(savedDescriptor);
    const std::string ownerNow = KeyOwnerText(root, path, view);
    ScopedKey key;
    bool ownerWritable = false;
    const long status = OpenForGiveBack(root, path, view, !saved.owner.empty(), key, ownerWritable);
    if (status != wc::ErrorSuccess)
      throw ERegistryException(SysErrorMessage(status));
    std::string current;
    const long read = Reg().GetKeySecurity(key.Get(), wc::DaclSecurityInformation, current);
    if (read != wc::ErrorSuccess)
      throw ERegistryException(SysErrorMessage(read));
    if (!saved.dacl.empty() && Reg().SetKeySecurity(key.Get(), wc::DaclSecurityInformation,
                                                    saved.dacl) != wc::ErrorSuccess)
      return false;
    if (!saved.owner.empty() && (!ownerWritable || !SetKeyOwner(key.Get(), saved.owner)))
      return false;
    savedDescriptor = ownerNow + current;
    return true;
  }

  const std::string previousOwner = KeyOwnerText(root, path, view);
  // Become the owner first; the outcome of this step does not decide.
  {
    const qp::TPrivilegeScope takeOwnership("SeTakeOwnershipPrivilege");
    ScopedKey key;
    if (Reg().OpenKey(root, path, wc::WriteOwner | view, key.Out()) == wc::ErrorSuccess) {
      std::string sid;
      if (sys.GetUserSid(sid) && !sid.empty())
        qp::IgnoreResult(Reg().SetKeySecurity(key.Get(), wc::OwnerSecurityInformation, "O:" + sid));
    }
  }

  ScopedKey key;
  long status = Reg().OpenKey(root, path, wc::ReadControl | wc::WriteDac | view, key.Out());
  if (status != wc::ErrorSuccess)
    throw ERegistryException(SysErrorMessage(status));
  std::string current;
  status = Reg().GetKeySecurity(key.Get(), wc::DaclSecurityInformation, current);
  if (status != wc::ErrorSuccess)
    throw ERegistryException(SysErrorMessage(status));

  const std::string wanted = current + "(A;OICI;GA;;;" + CurrentUserSid("BA") + ")";
  if (Reg().SetKeySecurity(key.Get(), wc::DaclSecurityInformation, wanted) != wc::ErrorSuccess) {
    // Nothing was opened up: the owner taken above goes back at once.
    if (!previousOwner.empty() && previousOwner != KeyOwnerText(root, path, view)) {
      ScopedKey back;
      bool ownerWritable = false;
      if (OpenForGiveBack(root, path, view, true, back, ownerWritable) == wc::ErrorSuccess &&
          ownerWritable)
        qp::IgnoreResult(SetKeyOwner(back.Get(), previousOwner));
    }
    return false;
  }
  savedDescriptor = previousOwner + current;
  return true;
}

namespace {
// Runs one FindFirstFile, past redirection when this is a WOW64 process.
bool FindNoRedirect(std::string_view path, qp::FindData &found) {
  const std::optional<bool> wow64 = qp::Platform().System().IsWow64Process();
  const qp::TFsViewSwitch view(wow64.value_or(false));
  return qp::Platform().Files().FindFirst(path, found) != nullptr;
}
} // namespace

bool FileExistsNoRedirect(std::string_view path) {
  qp::FindData found;
  return FindNoRedirect(path, found);
}

std::uint64_t FileSizeNoRedirect(std::string_view path) {
  qp::FindData found;
  return FindNoRedirect(path, found) ? found.size : 0;
}

// --- TNTRegistry

TNTRegistry::~TNTRegistry() {
  CloseKey();
}

void TNTRegistry::SetRootKey(std::uint32_t root) {
  CloseKey();
  root_ = root;
}

bool TNTRegistry::OpenKey(std::string_view path, bool create) {
  const bool absolute = !path.empty() && path.front() == '\\';
  const std::string_view sub = absolute ? path.substr(1) : path;
  const bool relative = !absolute && key_ != 0;
  const HKey base = relative ? key_ : static_cast<HKey>(root_);
  HKey opened = 0;
  bool ok = false;
  if (create) {
    ok = Reg().CreateKey(base, sub, wc::KeyAllAccess, opened, nullptr) == wc::ErrorSuccess ||
         Reg().CreateKey(base, sub, wc::KeyRead | wc::KeyCreateSubKey | wc::KeySetValue, opened,
                         nullptr) == wc::ErrorSuccess;
  } else {
    for (const std::uint32_t access :
         {wc::KeyAllAccess, wc::KeyRead | wc::KeyCreateSubKey | wc::KeySetValue, wc::KeyRead}) {
      if (Reg().OpenKey(base, sub, access, opened) == wc::ErrorSuccess) {
        ok = true;
        break;
      }
    }
  }
  if (!ok)
    return false;
  std::string newPath = relative ? path_ + "\\" + std::string(sub) : std::string(sub);
  if (key_ != 0)
    qp::IgnoreResult(Reg().CloseKey(key_));
  key_ = opened;
  path_ = std::move(newPath);
  return true;
}

void TNTRegistry::CloseKey() {
  if (key_ != 0) {
    qp::IgnoreResult(Reg().CloseKey(key_));
    key_ = 0;
  }
}

std::string TNTRegistry::ReadString(std::string_view name) const {
  if (key_ == 0)
    return {};
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (Reg().QueryValue(key_, name, &type, nullptr, &size) != wc::ErrorSuccess || size == 0)
    return {};
  qp::Bytes data;
  if (Reg().QueryValue(key_, name, &type, &data, &size) != wc::ErrorSuccess)
    throw ERegistryException("Failed to get data for '" + std::string(name) + "'");
  if (!IsStringType(type))
    throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
  return CutAtNul(DataToText(type, data));
}

bool TNTRegistry::WriteString(std::string_view name, std::string_view value) {
  if (key_ == 0)
    return false;
  qp::Bytes data = qp::Utf8ToRawUtf16(value);
  data.push_back(0);
  data.push_back(0);
  return Reg().SetValue(key_, name, wc::RegSz, data) == wc::ErrorSuccess;
}

} // namespace quenlo
