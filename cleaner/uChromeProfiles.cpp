#include "cleaner/uChromeProfiles.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <tuple>

#include "cleaner/uCleanFiles.h"
#include "cleaner/uItemTools.h"
#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr std::string_view kUserData = "Google\\Chrome\\User Data\\";
constexpr std::string_view kDefault = "Default";
constexpr std::string_view kProfilePrefix = "Profile ";
constexpr std::string_view kPreferences = "Preferences";
constexpr std::string_view kHistory = "History";
constexpr std::string_view kBrowserOwnProfiles[] = {"System Profile", "Guest Profile"};
// "Profile 99999999999999999999" is no number the browser writes; longer
// numbers are compared as text.
constexpr std::size_t kMaxProfileDigits = 9;

bool IsFile(std::string_view path) {
  const std::uint32_t attributes = qp::Platform().Files().GetAttributes(path);
  return attributes != wc::InvalidFileAttributes && (attributes & wc::FileAttributeDirectory) == 0;
}

bool IsBrowserOwnProfile(std::string_view name) {
  return std::any_of(std::begin(kBrowserOwnProfiles), std::end(kBrowserOwnProfiles),
                     [&](std::string_view own) { return qp::EqualsNoCase(name, own); });
}

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Sorting key: Default first, then numbered profiles by number, then the
// rest by name.
std::tuple<int, std::uint64_t, std::string> OrderKey(const std::string &name) {
  if (qp::EqualsNoCase(name, kDefault))
    return {0, 0, {}};
  if (IsChromeProfileName(name)) {
    const std::string_view number = std::string_view(name).substr(kProfilePrefix.size());
    if (number.size() <= kMaxProfileDigits)
      return {1, std::stoull(std::string(number)), {}};
  }
  return {2, 0, qp::LowerAscii(name)};
}

bool IsProfileFolder(const std::string &folder, const std::string &name) {
  if (IsBrowserOwnProfile(name))
    return IsFile(folder + std::string(kHistory));
  return IsChromeProfileName(name) || IsFile(folder + std::string(kPreferences));
}

} // namespace

std::string ChromeUserDataFolder() {
  const std::string base = GetSpecialFolderPath(kCsidlLocalAppData);
  if (base.empty())
    return {};
  return base + "\\" + std::string(kUserData);
}

bool IsChromeProfileName(std::string_view name) {
  if (qp::EqualsNoCase(name, kDefault))
    return true;
  return name.size() > kProfilePrefix.size() &&
         qp::EqualsNoCase(name.substr(0, kProfilePrefix.size()), kProfilePrefix) &&
         IsDigits(name.substr(kProfilePrefix.size()));
}

std::vector<TChromeProfile> ChromeProfiles() {
  std::vector<TChromeProfile> profiles;
  const std::string userData = ChromeUserDataFolder();
  if (userData.empty() || !IsRealFolder(qp::WithoutTrailingBackslash(userData)) ||
      qp::LeadsElsewhere(qp::WithoutTrailingBackslash(userData)))
    return profiles;
  const qp::TFolderFinalPath final(userData);
  qp::FindData entry;
  std::unique_ptr<qp::IFindHandle> find =
      qp::Platform().Files().FindFirst(userData + std::string(kAllFilesMask), entry);
  if (!find)
    return profiles;
  do {
    if (entry.name == "." || entry.name == ".." ||
        (entry.attributes & wc::FileAttributeDirectory) == 0 || IsLink(entry) ||
        final.LeadsElsewhere(entry.name))
      continue;
    const std::string folder = userData + entry.name + "\\";
    if (IsProfileFolder(folder, entry.name))
      profiles.push_back(TChromeProfile{entry.name, folder});
  } while (find->Next(entry));
  std::sort(profiles.begin(), profiles.end(), [](const TChromeProfile &a, const TChromeProfile &b) {
    return OrderKey(a.name) < OrderKey(b.name);
  });
  return profiles;
}

} // namespace quenlo
