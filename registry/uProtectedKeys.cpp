#include "registry/uProtectedKeys.h"

#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos)
      end = path.size();
    if (end > start)
      parts.push_back(qp::UpperAscii(path.substr(start, end - start)));
    start = end + 1;
  }
  return parts;
}

bool IsNumberedControlSet(const std::string &upper) {
  if (upper.size() != 13 || upper.compare(0, 10, "CONTROLSET") != 0)
    return false;
  for (std::size_t i = 10; i < 13; ++i)
    if (upper[i] < '0' || upper[i] > '9')
      return false;
  return true;
}

// True when `path` names one of the start keys or a key above one.
bool CoversStartKey(const std::vector<std::string> &path) {
  static const std::vector<std::vector<std::string>> starts = [] {
    std::vector<std::vector<std::string>> split;
    for (const std::string &key : ScanStartKeys())
      split.push_back(SplitPath(key));
    return split;
  }();
  for (const auto &start : starts) {
    if (path.size() > start.size())
      continue;
    bool prefix = true;
    for (std::size_t i = 0; i < path.size() && prefix; ++i)
      prefix = path[i] == start[i];
    if (prefix)
      return true;
  }
  return false;
}

} // namespace

const std::vector<std::string> &ScanStartKeys() {
  static const std::vector<std::string> keys = {
      // COM and ActiveX, file associations, code pages, content types
      "Software\\Classes\\TypeLib",
      "Software\\Classes\\CLSID",
      "Software\\Classes\\Interface",
      "Software\\Classes\\AppID",
      "Software\\Classes\\Directory\\Background",
      "Software\\Classes\\Network\\Type",
      "Software\\Classes\\MIME\\Database\\Charset",
      "Software\\Classes\\MIME\\Database\\CodePage",
      "Software\\Classes\\MIME\\Database\\Content Type",
      "Software\\Classes\\Applications",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Extensions",
      // software, startup and system files
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
      "System\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs",
      "System\\CurrentControlSet\\Control\\Session Manager\\Known16DLLs",
      "System\\CurrentControlSet\\Control\\SessionManager\\KnownDLLs",
      "System\\CurrentControlSet\\Control\\SessionManager\\Known16DLLs",
      "System\\CurrentControlSet\\Control\\InstalledFiles",
      "System\\CurrentControlSet\\Services\\VXD",
      "System\\CurrentControlSet\\Services",
      "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Run-",
      "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
      "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices-",
      "Software\\Microsoft\\Windows\\Help",
      "Software\\Microsoft\\Windows\\HTML Help",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts",
      "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
      "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
      "Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
      "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache",
      // start menu and history lists
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu2\\Programs",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSaveMRU",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Paint\\Recent File List",
      "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Wordpad\\Recent File List",
  };
  return keys;
}

bool IsProtectedKey(std::uint32_t root, std::string_view path) {
  std::vector<std::string> parts = SplitPath(path);
  if (!parts.empty() && parts.back() == "WOW6432NODE")
    return true;
  switch (root) {
  case wc::HkeyLocalMachine:
  case wc::HkeyCurrentUser:
    break;
  case wc::HkeyClassesRoot:
    parts.insert(parts.begin(), {"SOFTWARE", "CLASSES"});
    break;
  case wc::HkeyUsers: {
    if (parts.size() <= 1)
      return true; // the root or a user's hive
    const std::string hive = parts.front();
    parts.erase(parts.begin());
    if (hive.size() > 8 && hive.compare(hive.size() - 8, 8, "_CLASSES") == 0)
      parts.insert(parts.begin(), {"SOFTWARE", "CLASSES"});
    break;
  }
  default:
    return parts.empty();
  }
  std::vector<std::string> normal;
  for (std::string &part : parts) {
    if (part == "WOW6432NODE")
      continue; // the other view's copy of the same key
    if (normal.size() == 1 && normal[0] == "SYSTEM" && IsNumberedControlSet(part))
      part = "CURRENTCONTROLSET";
    normal.push_back(std::move(part));
  }
  return normal.empty() || CoversStartKey(normal);
}

std::string ProtectedKeyError(std::uint32_t root, std::string_view path) {
  std::string text = "Refusing to delete a protected key: " + RootKeyShortName(root);
  if (!path.empty())
    text += "\\" + std::string(path);
  return text;
}

} // namespace quenlo
