// The in-memory system facts: version, bitness, environment, folders, user,
// privileges, system messages, sfc, shell links and the tick count.
#include <chrono>
#include <thread>

#include "platform/Utf.h"
#include "platform/memory/MemoryPlatform.h"

namespace qp::mem {

namespace {

const char *const kProfile = "C:\\Users\\user";
const char *const kRoaming = "C:\\Users\\user\\AppData\\Roaming";
const char *const kLocal = "C:\\Users\\user\\AppData\\Local";

const char *MessageText(long code) {
  switch (code) {
  case 0:
    return "The operation completed successfully.";
  case 1:
    return "Incorrect function.";
  case 2:
    return "The system cannot find the file specified.";
  case 3:
    return "The system cannot find the path specified.";
  case 5:
    return "Access is denied.";
  case 6:
    return "The handle is invalid.";
  case 8:
    return "Not enough storage is available to process this command.";
  case 17:
    return "The system cannot move the file to a different disk drive.";
  case 21:
    return "The device is not ready.";
  case 29:
    return "The system cannot write to the specified device.";
  case 32:
    return "The process cannot access the file because it is being used by another process.";
  case 53:
    return "The network path was not found.";
  case 80:
    return "The file exists.";
  case 87:
    return "The parameter is incorrect.";
  case 112:
    return "There is not enough space on the disk.";
  case 120:
    return "This function is not supported on this system.";
  case 122:
    return "The data area passed to a system call is too small.";
  case 123:
    return "The filename, directory name, or volume label syntax is incorrect.";
  case 145:
    return "The directory is not empty.";
  case 161:
    return "The specified path is invalid.";
  case 183:
    return "Cannot create a file when that file already exists.";
  case 234:
    return "More data is available.";
  case 259:
    return "No more data is available.";
  case 267:
    return "The directory name is invalid.";
  case 1008:
    return "An attempt was made to reference a token that does not exist.";
  case 1009:
    return "The configuration registry database is corrupt.";
  case 1010:
    return "The configuration registry key is invalid.";
  case 1011:
    return "The configuration registry key could not be opened.";
  case 1012:
    return "The configuration registry key could not be read.";
  case 1013:
    return "The configuration registry key could not be written.";
  case 1018:
    return "Illegal operation attempted on a registry key that has been marked for deletion.";
  case 1021:
    return "Cannot create a stable subkey under a volatile parent key.";
  case 1300:
    return "Not all privileges or groups referenced are assigned to the caller.";
  case 1314:
    return "A required privilege is not held by the client.";
  default:
    return nullptr;
  }
}

const char *RootShortName(std::uint32_t root) {
  switch (root) {
  case wc::HkeyClassesRoot:
    return "HKCR";
  case wc::HkeyCurrentUser:
    return "HKCU";
  case wc::HkeyLocalMachine:
    return "HKLM";
  case wc::HkeyUsers:
    return "HKU";
  case wc::HkeyCurrentConfig:
    return "HKCC";
  default:
    return "";
  }
}

// The privileges of an elevated administrator's token on Windows 7; a
// standard user's token holds the few marked. Every one starts disabled but
// the three that Windows enables by default.
struct Privilege {
  std::string_view name;
  bool userHolds;
};

constexpr Privilege kPrivileges[] = {
    {"SeIncreaseQuotaPrivilege", false},
    {"SeSecurityPrivilege", false},
    {"SeTakeOwnershipPrivilege", false},
    {"SeLoadDriverPrivilege", false},
    {"SeSystemProfilePrivilege", false},
    {"SeSystemtimePrivilege", false},
    {"SeProfileSingleProcessPrivilege", false},
    {"SeIncreaseBasePriorityPrivilege", false},
    {"SeCreatePagefilePrivilege", false},
    {"SeBackupPrivilege", false},
    {"SeRestorePrivilege", false},
    {"SeShutdownPrivilege", true},
    {"SeDebugPrivilege", false},
    {"SeSystemEnvironmentPrivilege", false},
    {"SeChangeNotifyPrivilege", true},
    {"SeRemoteShutdownPrivilege", false},
    {"SeUndockPrivilege", true},
    {"SeManageVolumePrivilege", false},
    {"SeImpersonatePrivilege", false},
    {"SeCreateGlobalPrivilege", false},
    {"SeIncreaseWorkingSetPrivilege", true},
    {"SeTimeZonePrivilege", true},
    {"SeCreateSymbolicLinkPrivilege", false},
};

const Privilege *FindPrivilege(std::string_view name) {
  for (const Privilege &p : kPrivileges)
    if (EqualsNoCase(p.name, name))
      return &p;
  return nullptr;
}

} // namespace

struct MemorySystem::Impl {
  mutable std::mutex mu;
  std::vector<std::pair<std::string, std::string>> env;
  bool expandFails = false;
  std::string systemDir = "C:\\Windows\\system32";
  std::string windowsDir = "C:\\Windows";
  std::map<int, std::optional<std::string>> folderOverrides;
  VersionInfo version{6, 1, 7601, 2, "Service Pack 1"};
  bool versionFails = false;
  std::optional<bool> wow64 = false;
  bool process64 = true;
  bool os64 = true;
  bool farEast = false;
  std::optional<std::string> sid = "S-1-5-21-1004336348-1177238915-682003330-1001";
  std::string userName = "user";
  bool admin = true;
  std::map<char, std::string> dosDevices = {{'C', "\\Device\\HarddiskVolume2"}};
  std::optional<std::set<std::string>> sfcKeys = std::set<std::string>{};
  std::map<std::string, ShellLinkInfo> links;
  long privilegeResult = 0;
  std::vector<std::string> privilegeCalls;
  std::set<std::string> enabledPrivileges = {"SeChangeNotifyPrivilege", "SeImpersonatePrivilege",
                                             "SeCreateGlobalPrivilege"};
  std::vector<std::uint32_t> exitCalls;
  std::uint64_t ticks = 1000000;
  bool virtualSleep = true;
  std::function<void(std::uint32_t)> onSleep;

  bool Holds(const Privilege &privilege) const { return admin || privilege.userHolds; }

  std::vector<std::pair<std::string, std::string>>::iterator Var(std::string_view name) {
    for (auto it = env.begin(); it != env.end(); ++it)
      if (EqualsNoCase(it->first, name))
        return it;
    return env.end();
  }
  void Set(std::string_view name, std::string_view value) {
    auto it = Var(name);
    if (it != env.end())
      it->second = value;
    else
      env.emplace_back(name, value);
  }
  void Unset(std::string_view name) {
    auto it = Var(name);
    if (it != env.end())
      env.erase(it);
  }

  // The variables WOW64 gives a process of the current bitness.
  void ApplyBitness() {
    const std::string pf = "C:\\Program Files", pf86 = "C:\\Program Files (x86)";
    const std::string common = "\\Common Files";
    if (os64) {
      Set("ProgramFiles", process64 ? pf : pf86);
      Set("CommonProgramFiles", (process64 ? pf : pf86) + common);
      Set("ProgramFiles(x86)", pf86);
      Set("CommonProgramFiles(x86)", pf86 + common);
      Set("ProgramW6432", pf);
      Set("CommonProgramW6432", pf + common);
      Set("PROCESSOR_ARCHITECTURE", process64 ? "AMD64" : "x86");
      if (process64)
        Unset("PROCESSOR_ARCHITEW6432");
      else
        Set("PROCESSOR_ARCHITEW6432", "AMD64");
    } else {
      Set("ProgramFiles", pf);
      Set("CommonProgramFiles", pf + common);
      for (const char *name : {"ProgramFiles(x86)", "CommonProgramFiles(x86)", "ProgramW6432",
                               "CommonProgramW6432", "PROCESSOR_ARCHITEW6432"})
        Unset(name);
      Set("PROCESSOR_ARCHITECTURE", "x86");
    }
  }

  std::optional<std::string> DefaultFolder(int csidl) const {
    const std::string profile = kProfile, roaming = kRoaming, local = kLocal;
    const std::string win = roaming + "\\Microsoft\\Windows";
    const std::string commonWin = "C:\\ProgramData\\Microsoft\\Windows";
    const std::string pf = "C:\\Program Files", pf86 = "C:\\Program Files (x86)";
    const std::string ownPf = os64 && !process64 ? pf86 : pf;
    switch (csidl) {
    case 0x00:
    case 0x10:
      return profile + "\\Desktop";
    case 0x02:
      return win + "\\Start Menu\\Programs";
    case 0x05:
      return profile + "\\Documents";
    case 0x06:
    case 0x1F:
      return profile + "\\Favorites";
    case 0x07:
      return win + "\\Start Menu\\Programs\\Startup";
    case 0x08:
      return win + "\\Recent";
    case 0x09:
      return win + "\\SendTo";
    case 0x0B:
      return win + "\\Start Menu";
    case 0x0D:
      return profile + "\\Music";
    case 0x0E:
      return profile + "\\Videos";
    case 0x13:
      return win + "\\Network Shortcuts";
    case 0x14:
      return windowsDir + "\\Fonts";
    case 0x15:
      return win + "\\Templates";
    case 0x16:
      return commonWin + "\\Start Menu";
    case 0x17:
      return commonWin + "\\Start Menu\\Programs";
    case 0x18:
      return commonWin + "\\Start Menu\\Programs\\Startup";
    case 0x19:
      return std::string("C:\\Users\\Public\\Desktop");
    case 0x1A:
      return roaming;
    case 0x1B:
      return win + "\\Printer Shortcuts";
    case 0x1C:
      return local;
    case 0x20:
      return local + "\\Microsoft\\Windows\\Temporary Internet Files";
    case 0x21:
      return win + "\\Cookies";
    case 0x22:
      return local + "\\Microsoft\\Windows\\History";
    case 0x23:
      return std::string("C:\\ProgramData");
    case 0x24:
      return windowsDir;
    case 0x25:
      return systemDir;
    case 0x26:
      return ownPf;
    case 0x27:
      return profile + "\\Pictures";
    case 0x28:
      return profile;
    case 0x29:
      return os64 ? windowsDir + "\\SysWOW64" : systemDir;
    case 0x2A:
      return os64 ? pf86 : pf;
    case 0x2B:
      return ownPf + "\\Common Files";
    case 0x2C:
      return (os64 ? pf86 : pf) + "\\Common Files";
    case 0x2D:
      return commonWin + "\\Templates";
    case 0x2E:
      return std::string("C:\\Users\\Public\\Documents");
    case 0x2F:
      return commonWin + "\\Start Menu\\Programs\\Administrative Tools";
    case 0x30:
      return win + "\\Start Menu\\Programs\\Administrative Tools";
    case 0x35:
      return std::string("C:\\Users\\Public\\Music");
    case 0x36:
      return std::string("C:\\Users\\Public\\Pictures");
    case 0x37:
      return std::string("C:\\Users\\Public\\Videos");
    case 0x38:
      return windowsDir + "\\resources";
    case 0x3B:
      return local + "\\Microsoft\\Windows\\Burn\\Burn";
    default:
      return std::nullopt;
    }
  }
};

MemorySystem::MemorySystem() : impl_(std::make_unique<Impl>()) {
  Impl &m = *impl_;
  const std::string profile = kProfile;
  for (const auto &[name, value] : std::initializer_list<std::pair<const char *, std::string>>{
           {"ALLUSERSPROFILE", "C:\\ProgramData"},
           {"APPDATA", kRoaming},
           {"COMPUTERNAME", "QUENLO-PC"},
           {"ComSpec", "C:\\Windows\\system32\\cmd.exe"},
           {"HOMEDRIVE", "C:"},
           {"HOMEPATH", "\\Users\\user"},
           {"LOCALAPPDATA", kLocal},
           {"NUMBER_OF_PROCESSORS", "2"},
           {"OS", "Windows_NT"},
           {"Path", "C:\\Windows\\system32;C:\\Windows;C:\\Windows\\System32\\Wbem"},
           {"PATHEXT", ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
           {"ProgramData", "C:\\ProgramData"},
           {"PUBLIC", "C:\\Users\\Public"},
           {"SystemDrive", "C:"},
           {"SystemRoot", "C:\\Windows"},
           {"TEMP", std::string(kLocal) + "\\Temp"},
           {"TMP", std::string(kLocal) + "\\Temp"},
           {"USERDOMAIN", "QUENLO-PC"},
           {"USERNAME", "user"},
           {"USERPROFILE", profile},
           {"windir", "C:\\Windows"}})
    m.Set(name, value);
  m.ApplyBitness();
}

MemorySystem::~MemorySystem() = default;

bool MemorySystem::GetEnvironmentVariable(std::string_view name, std::string &value) {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->Var(name);
  if (it == impl_->env.end())
    return false;
  value = it->second;
  return true;
}

bool MemorySystem::SetEnvironmentVariable(std::string_view name, std::string_view value) {
  std::lock_guard lock(impl_->mu);
  if (name.empty() || name.find('=') != std::string_view::npos)
    return false;
  impl_->Set(name, value);
  return true;
}

void MemorySystem::UnsetEnvironmentVariable(std::string_view name) {
  std::lock_guard lock(impl_->mu);
  impl_->Unset(name);
}

std::optional<std::string> MemorySystem::ExpandEnvironmentStrings(std::string_view text) {
  std::lock_guard lock(impl_->mu);
  if (impl_->expandFails)
    return std::nullopt;
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('%', pos);
    if (open == std::string_view::npos)
      break;
    out.append(text.substr(pos, open - pos));
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) {
      pos = open;
      break;
    }
    auto it = impl_->Var(text.substr(open + 1, close - open - 1));
    if (close > open + 1 && it != impl_->env.end()) {
      out += it->second;
      pos = close + 1;
    } else {
      // Not a variable: the first '%' stays, the second may open one.
      out.append(text.substr(open, close - open));
      pos = close;
    }
  }
  out.append(text.substr(std::min(pos, text.size())));
  return out;
}

std::string MemorySystem::GetSystemDirectory() {
  std::lock_guard lock(impl_->mu);
  return impl_->systemDir;
}

std::string MemorySystem::GetWindowsDirectory() {
  std::lock_guard lock(impl_->mu);
  return impl_->windowsDir;
}

std::string MemorySystem::GetTempPath() {
  std::lock_guard lock(impl_->mu);
  std::string path = impl_->windowsDir;
  for (const char *name : {"USERPROFILE", "TEMP", "TMP"}) {
    auto it = impl_->Var(name);
    if (it != impl_->env.end() && !it->second.empty())
      path = it->second;
  }
  if (path.back() != '\\')
    path += '\\';
  return path;
}

bool MemorySystem::GetSpecialFolder(int csidl, bool, std::string &path) {
  std::lock_guard lock(impl_->mu);
  csidl &= 0xFF;
  auto it = impl_->folderOverrides.find(csidl);
  const std::optional<std::string> folder =
      it != impl_->folderOverrides.end() ? it->second : impl_->DefaultFolder(csidl);
  if (!folder)
    return false;
  path = *folder;
  return true;
}

bool MemorySystem::GetVersion(VersionInfo &info) {
  std::lock_guard lock(impl_->mu);
  if (impl_->versionFails)
    return false;
  info = impl_->version;
  return true;
}

std::optional<bool> MemorySystem::IsWow64Process() {
  std::lock_guard lock(impl_->mu);
  return impl_->wow64;
}

bool MemorySystem::ProcessIs64Bit() {
  std::lock_guard lock(impl_->mu);
  return impl_->process64;
}

bool MemorySystem::IsFarEastLocale() {
  std::lock_guard lock(impl_->mu);
  return impl_->farEast;
}

bool MemorySystem::GetUserSid(std::string &sid) {
  std::lock_guard lock(impl_->mu);
  if (!impl_->sid)
    return false;
  sid = *impl_->sid;
  return true;
}

bool MemorySystem::GetUserName(std::string &name) {
  std::lock_guard lock(impl_->mu);
  name = impl_->userName;
  return true;
}

bool MemorySystem::IsAdmin() {
  std::lock_guard lock(impl_->mu);
  return impl_->admin;
}

long MemorySystem::SetPrivilege(std::string_view name, bool enable, bool *wasEnabled) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  m.privilegeCalls.push_back(std::string(name) + (enable ? ":on" : ":off"));
  if (m.privilegeResult != wc::ErrorSuccess)
    return m.privilegeResult;
  const Privilege *privilege = FindPrivilege(name);
  if (privilege == nullptr)
    return wc::ErrorNoSuchPrivilege;
  // AdjustTokenPrivileges "succeeds" for a privilege the token lacks and
  // leaves it as it was; the status says so.
  if (!m.Holds(*privilege))
    return wc::ErrorNotAllAssigned;
  if (wasEnabled != nullptr)
    *wasEnabled = m.enabledPrivileges.count(std::string(privilege->name)) != 0;
  if (enable)
    m.enabledPrivileges.insert(std::string(privilege->name));
  else
    m.enabledPrivileges.erase(std::string(privilege->name));
  return wc::ErrorSuccess;
}

bool MemorySystem::PrivilegeEnabled(std::string_view name) const {
  std::lock_guard lock(impl_->mu);
  const Privilege *privilege = FindPrivilege(name);
  return privilege != nullptr && impl_->Holds(*privilege) &&
         impl_->enabledPrivileges.count(std::string(privilege->name)) != 0;
}

bool MemorySystem::ExitWindows(std::uint32_t flags, std::uint32_t) {
  std::lock_guard lock(impl_->mu);
  impl_->exitCalls.push_back(flags);
  return true;
}

bool MemorySystem::QueryDosDevice(std::string_view drive, std::string &device) {
  std::lock_guard lock(impl_->mu);
  if (drive.size() < 2 || drive[1] != ':')
    return false;
  auto it = impl_->dosDevices.find(UpperAscii(drive.substr(0, 1))[0]);
  if (it == impl_->dosDevices.end())
    return false;
  device = it->second;
  return true;
}

std::string MemorySystem::SystemMessage(long code) {
  const char *text = MessageText(code);
  return text != nullptr ? text : "Unknown error " + std::to_string(code);
}

std::optional<bool> MemorySystem::SfcIsKeyProtected(std::uint32_t root, std::string_view path,
                                                    std::uint32_t) {
  std::lock_guard lock(impl_->mu);
  if (!impl_->sfcKeys)
    return std::nullopt;
  while (!path.empty() && path.front() == '\\')
    path.remove_prefix(1);
  return impl_->sfcKeys->count(
             UpperAscii(std::string(RootShortName(root)) + "\\" + std::string(path))) > 0;
}

bool MemorySystem::ReadShellLink(std::string_view file, ShellLinkInfo &info) {
  std::lock_guard lock(impl_->mu);
  auto it = impl_->links.find(UpperAscii(file));
  if (it == impl_->links.end())
    return false;
  info = it->second;
  return true;
}

std::uint64_t MemorySystem::TickCount() {
  std::lock_guard lock(impl_->mu);
  return impl_->ticks;
}

void MemorySystem::Sleep(std::uint32_t ms) {
  bool real = false;
  std::function<void(std::uint32_t)> onSleep;
  {
    std::lock_guard lock(impl_->mu);
    impl_->ticks += ms;
    real = !impl_->virtualSleep;
    onSleep = impl_->onSleep;
  }
  if (real)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  if (onSleep)
    onSleep(ms);
}

// --- settings

void MemorySystem::SetVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
  std::lock_guard lock(impl_->mu);
  impl_->version = VersionInfo{major, minor, build, 2, ""};
}

void MemorySystem::SetServicePack(std::string servicePack) {
  std::lock_guard lock(impl_->mu);
  impl_->version.servicePack = std::move(servicePack);
}

void MemorySystem::SetVersionFails(bool fails) {
  std::lock_guard lock(impl_->mu);
  impl_->versionFails = fails;
}

void MemorySystem::SetWow64Process(std::optional<bool> value) {
  std::lock_guard lock(impl_->mu);
  impl_->wow64 = value;
}

void MemorySystem::SetProcessIs64Bit(bool value) {
  std::lock_guard lock(impl_->mu);
  impl_->process64 = value;
  if (value)
    impl_->os64 = true;
  impl_->wow64 = impl_->os64 && !value;
  impl_->ApplyBitness();
}

void MemorySystem::SetOs64Bit(bool value) {
  std::lock_guard lock(impl_->mu);
  impl_->os64 = value;
  if (!value)
    impl_->process64 = false;
  impl_->wow64 = value && !impl_->process64;
  impl_->ApplyBitness();
}

bool MemorySystem::Os64Bit() const {
  std::lock_guard lock(impl_->mu);
  return impl_->os64;
}

void MemorySystem::SetFarEastLocale(bool value) {
  std::lock_guard lock(impl_->mu);
  impl_->farEast = value;
}

void MemorySystem::SetUserSid(std::optional<std::string> sid) {
  std::lock_guard lock(impl_->mu);
  impl_->sid = std::move(sid);
}

void MemorySystem::SetUserName(std::string name) {
  std::lock_guard lock(impl_->mu);
  impl_->userName = std::move(name);
}

void MemorySystem::SetAdmin(bool admin) {
  std::lock_guard lock(impl_->mu);
  impl_->admin = admin;
}

void MemorySystem::SetSystemDirectory(std::string dir) {
  std::lock_guard lock(impl_->mu);
  impl_->systemDir = std::move(dir);
}

void MemorySystem::SetWindowsDirectory(std::string dir) {
  std::lock_guard lock(impl_->mu);
  impl_->windowsDir = std::move(dir);
}

void MemorySystem::SetSpecialFolder(int csidl, std::optional<std::string> path) {
  std::lock_guard lock(impl_->mu);
  impl_->folderOverrides[csidl & 0xFF] = std::move(path);
}

void MemorySystem::SetDosDevice(char letter, std::string device) {
  std::lock_guard lock(impl_->mu);
  impl_->dosDevices[UpperAscii(std::string(1, letter))[0]] = std::move(device);
}

void MemorySystem::SetSfcProtectedKeys(std::optional<std::set<std::string>> keys) {
  std::lock_guard lock(impl_->mu);
  if (!keys) {
    impl_->sfcKeys.reset();
    return;
  }
  std::set<std::string> upper;
  for (const std::string &key : *keys)
    upper.insert(UpperAscii(key));
  impl_->sfcKeys = std::move(upper);
}

void MemorySystem::SetShellLink(std::string_view file, ShellLinkInfo info) {
  std::lock_guard lock(impl_->mu);
  impl_->links[UpperAscii(file)] = std::move(info);
}

void MemorySystem::SetPrivilegeResult(long status) {
  std::lock_guard lock(impl_->mu);
  impl_->privilegeResult = status;
}

void MemorySystem::AdvanceTicks(std::uint64_t ms) {
  std::lock_guard lock(impl_->mu);
  impl_->ticks += ms;
}

void MemorySystem::SetOnSleep(std::function<void(std::uint32_t ms)> hook) {
  std::lock_guard lock(impl_->mu);
  impl_->onSleep = std::move(hook);
}

void MemorySystem::SetVirtualSleep(bool virtualSleep) {
  std::lock_guard lock(impl_->mu);
  impl_->virtualSleep = virtualSleep;
}

std::vector<std::string> MemorySystem::PrivilegeCalls() const {
  std::lock_guard lock(impl_->mu);
  return impl_->privilegeCalls;
}

void MemorySystem::SetExpandFails(bool fails) {
  std::lock_guard lock(impl_->mu);
  impl_->expandFails = fails;
}

std::vector<std::uint32_t> MemorySystem::ExitWindowsCalls() const {
  std::lock_guard lock(impl_->mu);
  return impl_->exitCalls;
}

} // namespace qp::mem
