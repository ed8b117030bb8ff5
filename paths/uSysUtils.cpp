// System helpers: file-system view switching, user facts, byte sizes,
// device paths, privileges, restart and shell-style file operations.
#include "paths/uSysUtils.h"

#include <cstdio>
#include <vector>

#include "paths/uProbeCache.h"
#include "platform/FileOps.h"
#include "platform/Guards.h"
#include "platform/Platform.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;
constexpr std::uint32_t kEwxReboot = 2;
// Planned, user-defined, operating system, maintenance.
constexpr std::uint32_t kRebootReason = 0xC0020001u;
constexpr std::uint32_t kMoveReplaceExisting = 1;

// Two decimals with "," between thousands: 1234.5 -> "1,234.50".
std::string FormatThousands2(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  std::string plain(buf);
  const auto dot = plain.find('.');
  std::string intPart = plain.substr(0, dot);
  std::string out;
  const std::size_t digits = intPart.size();
  for (std::size_t k = 0; k < digits; ++k) {
    if (k > 0 && (digits - k) % 3 == 0)
      out.push_back(',');
    out.push_back(intPart[k]);
  }
  out.append(plain.substr(dot));
  return out;
}

bool IsDriveRoot(std::string_view path) {
  // "C:", "C:\", or a bare UNC share.
  if (path.size() <= 3 && path.size() >= 2 && path[1] == ':')
    return true;
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    const auto server = path.find('\\', 2);
    return server == std::string_view::npos ||
           path.find('\\', server + 1) == std::string_view::npos;
  }
  return false;
}

// Clears the read-only attribute of something a delete refused and asks
// again, as SHFileOperation removes read-only files; other refusals stand.
long RetryWithoutReadOnly(qp::IFileSystem &fs, const std::string &path, std::uint32_t attr,
                          long status, long (*remove)(qp::IFileSystem &, const std::string &)) {
  if (status != wc::ErrorAccessDenied || (attr & wc::FileAttributeReadOnly) == 0)
    return status;
  if (fs.SetAttributes(path, attr & ~wc::FileAttributeReadOnly) != wc::ErrorSuccess)
    return status;
  return remove(fs, path);
}

long RemoveFile(qp::IFileSystem &fs, const std::string &path) {
  return fs.DeleteFile(path);
}

long RemoveFolder(qp::IFileSystem &fs, const std::string &path) {
  return fs.RemoveDirectory(path);
}

// Removes a file or a folder with everything below it; links (to folders or
// files) are removed themselves, never entered. An entry below that leads
// elsewhere without the reparse-point attribute (Wine's Unix links, whose
// removal removes the target) is left, and the answer is false; path
// itself is taken as what it names.
bool DeleteTree(const std::string &path) {
  auto &fs = qp::Platform().Files();
  const std::uint32_t attr = fs.GetAttributes(path);
  if (attr == wc::InvalidFileAttributes)
    return false;
  if ((attr & wc::FileAttributeDirectory) == 0)
    return RetryWithoutReadOnly(fs, path, attr, fs.DeleteFile(path), RemoveFile) ==
           wc::ErrorSuccess;
  if ((attr & kFileAttributeReparsePoint) != 0)
    return RetryWithoutReadOnly(fs, path, attr, fs.RemoveDirectory(path), RemoveFolder) ==
           wc::ErrorSuccess;

  std::vector<std::string> names;
  bool ok = true;
  const qp::TFolderFinalPath final(path);
  qp::FindData data;
  if (auto find = fs.FindFirst(path + "\\*", data)) {
    do {
      if (data.name == "." || data.name == "..")
        continue;
      // A link without a reparse tag (Wine's link to a folder) is removed
      // through to its target too.
      const bool link = (data.attributes & kFileAttributeReparsePoint) != 0;
      if (link ? data.reparseTag == 0 : final.LeadsElsewhere(data.name))
        ok = false;
      else
        names.push_back(data.name);
    } while (find->Next(data));
  }
  for (const auto &name : names)
    ok = DeleteTree(path + "\\" + name) && ok;
  return ok && RetryWithoutReadOnly(fs, path, attr, fs.RemoveDirectory(path), RemoveFolder) ==
                   wc::ErrorSuccess;
}

} // namespace

ScopedFsRedirectionOff::ScopedFsRedirectionOff() {
  if (view_.Switched())
    NoteFsViewSwitch(true);
}

ScopedFsRedirectionOff::~ScopedFsRedirectionOff() {
  if (view_.Switched())
    NoteFsViewSwitch(false);
}

bool GetUserSidText(std::string &text) {
  std::string sid;
  if (!qp::Platform().System().GetUserSid(sid) || sid.empty())
    return false;
  text = std::move(sid);
  return true;
}

bool GetLogonUserName(std::string &name) {
  std::string user;
  if (!qp::Platform().System().GetUserName(user))
    return false;
  name = std::move(user);
  return true;
}

std::string FormatByteSize(std::int64_t bytes) {
  constexpr std::int64_t kKB = 1024;
  constexpr std::int64_t kMB = 1048576;
  constexpr std::int64_t kGB = 1073741824;
  if (bytes > kGB)
    return FormatThousands2(static_cast<double>(bytes) / static_cast<double>(kGB)) + " GB";
  if (bytes > kMB)
    return FormatThousands2(static_cast<double>(bytes) / static_cast<double>(kMB)) + " MB";
  if (bytes > kKB)
    return std::to_string(bytes / kKB) + " KB";
  return std::to_string(bytes) + " B";
}

std::string DevicePathToDosPath(std::string_view path) {
  auto &sys = qp::Platform().System();
  const std::string upperPath = qp::UpperAscii(path);
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const char drive[3] = {letter, ':', '\0'};
    std::string device;
    if (!sys.QueryDosDevice(std::string_view(drive, 2), device))
      continue;
    // The answer may hold several NUL-separated names: the first counts.
    if (const auto nul = device.find('\0'); nul != std::string::npos)
      device.resize(nul);
    if (device.empty() || device.size() > upperPath.size())
      continue;
    if (upperPath.compare(0, device.size(), qp::UpperAscii(device)) != 0)
      continue;
    // "\Device\HarddiskVolume1" must not match "\Device\HarddiskVolume10\...".
    if (device.back() != '\\' && upperPath.size() > device.size() &&
        upperPath[device.size()] != '\\')
      continue;
    std::string out(drive, 2);
    out.append(path.substr(device.size()));
    return out;
  }
  return std::string(path);
}

bool SetPrivilege(std::string_view name, bool enable) {
  return qp::AdjustPrivilege(name, enable) == wc::ErrorSuccess;
}

bool RestartWindows() {
  const qp::TPrivilegeScope shutdown("SeShutdownPrivilege");
  if (!shutdown.Held())
    return false;
  return qp::Platform().System().ExitWindows(kEwxReboot, kRebootReason);
}

bool ShellDeleteFile(std::string_view path, bool toRecycleBin) {
  std::string target(path);
  while (target.size() > 1 && target.back() == '\\' && !IsDriveRoot(target))
    target.pop_back();
  // Never a whole drive or share.
  if (target.empty() || IsDriveRoot(target))
    return false;
  if (toRecycleBin)
    return qp::Platform().Files().RecycleFile(target) == 0;
  return DeleteTree(target);
}

bool ShellRenameFile(std::string_view from, std::string_view to) {
  if (from.empty() || to.empty())
    return false;
  return qp::Platform().Files().MoveFile(from, to, kMoveReplaceExisting) == wc::ErrorSuccess;
}

bool ShellCopyFile(std::string_view from, std::string_view to) {
  if (from.empty() || to.empty())
    return false;
  return qp::Platform().Files().CopyFile(from, to, false) == wc::ErrorSuccess;
}

} // namespace quenlo
