#include "cleaner/uFirefoxProfiles.h"

#include <memory>

#include "cleaner/uCleanFiles.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "platform/WinConst.h"

namespace quenlo {

namespace {

constexpr std::string_view kFirefoxBelowAppData = "Mozilla\\Firefox";
constexpr std::string_view kProfilesIni = "profiles.ini";
constexpr std::string_view kInstallsIni = "installs.ini";
constexpr std::string_view kProfilesFolder = "Profiles";
constexpr std::string_view kProfileSection = "Profile";
constexpr std::string_view kInstallSection = "Install";
constexpr std::string_view kPathKey = "Path";
constexpr std::string_view kIsRelativeKey = "IsRelative";
constexpr std::string_view kDefaultKey = "Default";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r";

constexpr std::string_view kReasonBadStep = "refused: a profile path with \".\" or \"..\" steps";
constexpr std::string_view kReasonNotAbsolute = "refused: a profile path that is not absolute";
constexpr std::string_view kReasonBadCharacter = "refused: a profile path with a control character";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos)
    return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && qp::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "X:\..." or "\\server\share\...", as the ini files write absolute paths.
bool IsAbsoluteWindowsPath(std::string_view path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\')
    return true;
  return path.size() >= 5 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
}

// The path's steps are names: none empty (but a closing one), none "." or
// "..". start: where the first step begins.
bool HasPlainSteps(std::string_view path, std::size_t start) {
  while (start < path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos)
      end = path.size();
    const std::string_view step = path.substr(start, end - start);
    if (step == "." || step == "..")
      return false;
    if (step.empty() && end != path.size() - 1 && end != path.size())
      return false;
    start = end + 1;
  }
  return true;
}

bool HasControlCharacter(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return true;
  return false;
}

std::string WithBackslash(std::string_view folder) {
  std::string path(folder);
  if (path.empty() || path.back() != '\\')
    path += '\\';
  return path;
}

std::string WithoutBackslashes(std::string_view folder) {
  while (folder.size() > 1 && folder.back() == '\\')
    folder.remove_suffix(1);
  return std::string(folder);
}

bool ReadTextFile(const std::string &path, std::string &text) {
  return qp::Platform().Files().ReadFile(path, text) == wc::ErrorSuccess;
}

void AddEntry(std::vector<TFirefoxProfileEntry> &entries, TFirefoxProfileEntry entry) {
  if (entry.path.empty())
    return;
  for (const TFirefoxProfileEntry &known : entries)
    if (known.relative == entry.relative && qp::EqualsNoCase(known.path, entry.path))
      return;
  entries.push_back(std::move(entry));
}

// An install section's Default is written relative to the Firefox folder
// when the profile lies below it, else as an absolute path.
TFirefoxProfileEntry InstallEntry(const std::string &path) {
  return TFirefoxProfileEntry{path, !IsAbsoluteWindowsPath(path)};
}

// Every folder in the Profiles folder, for a machine without profiles.ini.
std::vector<TFirefoxProfileEntry> ProfileFolders(const std::string &firefoxFolder) {
  std::vector<TFirefoxProfileEntry> entries;
  const std::string pattern = WithBackslash(firefoxFolder) + std::string(kProfilesFolder) + "\\" +
                              std::string(kAllFilesMask);
  qp::FindData entry;
  std::unique_ptr<qp::IFindHandle> find = qp::Platform().Files().FindFirst(pattern, entry);
  if (!find)
    return entries;
  do {
    if (entry.name == "." || entry.name == ".." ||
        (entry.attributes & wc::FileAttributeDirectory) == 0 || IsLink(entry) ||
        !IsPlainFileName(entry.name))
      continue;
    AddEntry(entries, {std::string(kProfilesFolder) + "/" + entry.name, true});
  } while (find->Next(entry));
  return entries;
}

} // namespace

std::string TIniSection::Value(std::string_view key) const {
  for (const auto &[name, value] : values)
    if (qp::EqualsNoCase(name, key))
      return value;
  return {};
}

std::vector<TIniSection> ParseIniText(std::string_view text) {
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom)
    text.remove_prefix(kUtf8Bom.size());
  std::vector<TIniSection> sections;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos)
      end = text.size();
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(end == text.size() ? end : end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#')
      continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close != std::string_view::npos)
        sections.push_back(TIniSection{std::string(Trimmed(line.substr(1, close - 1))), {}});
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || sections.empty())
      continue;
    sections.back().values.emplace_back(std::string(Trimmed(line.substr(0, equals))),
                                        std::string(Trimmed(line.substr(equals + 1))));
  }
  return sections;
}

std::vector<TFirefoxProfileEntry> FirefoxProfileEntries(std::string_view profilesIni,
                                                        std::string_view installsIni) {
  std::vector<TFirefoxProfileEntry> entries;
  std::vector<std::string> installDefaults;
  for (const TIniSection &section : ParseIniText(profilesIni)) {
    if (StartsWithNoCase(section.name, kProfileSection))
      AddEntry(entries, {section.Value(kPathKey), section.Value(kIsRelativeKey) == "1"});
    else if (StartsWithNoCase(section.name, kInstallSection))
      installDefaults.push_back(section.Value(kDefaultKey));
  }
  for (const TIniSection &section : ParseIniText(installsIni))
    installDefaults.push_back(section.Value(kDefaultKey));
  for (const std::string &path : installDefaults)
    AddEntry(entries, InstallEntry(path));
  return entries;
}

std::string ResolveFirefoxProfile(const TFirefoxProfileEntry &entry, std::string_view firefoxFolder,
                                  std::string &reason) {
  if (HasControlCharacter(entry.path)) {
    reason = kReasonBadCharacter;
    return {};
  }
  std::string path = entry.path;
  for (char &c : path)
    if (c == '/')
      c = '\\';
  if (entry.relative) {
    // A relative path that turns absolute (a drive, a leading backslash)
    // is not below the Firefox folder.
    if (path.empty() || path.front() == '\\' || path.find(':') != std::string::npos ||
        !HasPlainSteps(path, 0)) {
      reason = kReasonBadStep;
      return {};
    }
    return WithoutBackslashes(WithBackslash(firefoxFolder) + path);
  }
  if (!IsAbsoluteWindowsPath(path)) {
    reason = kReasonNotAbsolute;
    return {};
  }
  if (!HasPlainSteps(path, path[0] == '\\' ? 2 : 3)) {
    reason = kReasonBadStep;
    return {};
  }
  path = WithoutBackslashes(path);
  std::string why;
  if (!IsSafeBaseFolder(path, &why)) {
    reason = "refused: " + why;
    return {};
  }
  return path;
}

TFirefoxProfiles FindFirefoxProfiles() {
  TFirefoxProfiles found;
  const std::string appData = GetSpecialFolderPath(kCsidlAppData);
  if (appData.empty())
    return found;
  const std::string firefox = WithBackslash(appData) + std::string(kFirefoxBelowAppData);
  const std::string localAppData = GetSpecialFolderPath(kCsidlLocalAppData);
  const std::string localFirefox =
      localAppData.empty() ? std::string()
                           : WithBackslash(localAppData) + std::string(kFirefoxBelowAppData);

  std::string profilesIni;
  std::string installsIni;
  const bool listed = ReadTextFile(WithBackslash(firefox) + std::string(kProfilesIni), profilesIni);
  if (listed)
    qp::IgnoreResult(ReadTextFile(WithBackslash(firefox) + std::string(kInstallsIni), installsIni));
  std::vector<TFirefoxProfileEntry> entries = FirefoxProfileEntries(profilesIni, installsIni);
  if (entries.empty())
    entries = ProfileFolders(firefox);

  for (const TFirefoxProfileEntry &entry : entries) {
    std::string reason;
    const std::string roaming = ResolveFirefoxProfile(entry, firefox, reason);
    if (roaming.empty()) {
      found.refused.push_back(TRefusedProfile{entry.path, reason});
      continue;
    }
    TFirefoxProfile profile;
    profile.roaming = WithBackslash(roaming);
    if (!entry.relative)
      profile.local = profile.roaming;
    else if (!localFirefox.empty())
      profile.local = WithBackslash(ResolveFirefoxProfile(entry, localFirefox, reason));
    bool known = false;
    for (const TFirefoxProfile &other : found.profiles)
      known = known || qp::EqualsNoCase(other.roaming, profile.roaming);
    if (!known)
      found.profiles.push_back(std::move(profile));
  }
  return found;
}

} // namespace quenlo
