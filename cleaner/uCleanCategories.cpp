#include "cleaner/uCleanCategories.h"

#include <cctype>
#include <charconv>

namespace quenlo {

// One row per category, in category order; the settings key is always the
// enumerator without its "cc".
const std::array<TCleanCategoryInfo, kCleanCategoryCount> kCleanCategories = {{
    {ccStartMenuOrderHistory, cgWindows, "Start Menu Order", "StartMenuOrderHistory", true, false},
    {ccNetworkDriveHistory, cgWindows, "Network Drive", "NetworkDriveHistory", true, false},
    {ccUserAssistHistory, cgWindows, "User Assist", "UserAssistHistory", true, false},
    {ccRunMenuHistory, cgWindows, "Run Menu", "RunMenuHistory", true, false},
    {ccRecentDocuments, cgWindows, "Recent Docs", "RecentDocuments", true, true},
    {ccWindowsClipboard, cgWindows, "Clipboard", "WindowsClipboard", true, false},
    {ccOpenSaveHistory, cgWindows, "Open/Save Dialog", "OpenSaveHistory", true, false},
    {ccLastVisitedHistory, cgWindows, "Last Visited", "LastVisitedHistory", true, false},
    {ccTempFiles, cgWindows, "Temp Files", "TempFiles", true, true},
    {ccIISLogFiles, cgWindows, "IIS Log Files", "IISLogFiles", false, true},
    {ccHotFixes, cgWindows, "Update Uninstallers", "HotFixes", false, true},
    {ccSearchAssistantHistory, cgWindows, "Search Assistant", "SearchAssistantHistory", true,
     false},
    {ccTrayIconHistory, cgWindows, "Tray Icon History", "TrayIconHistory", false, false},
    {ccIECache, cgInternetExplorer, "Temporary Files", "IECache", true, true},
    {ccIECookies, cgInternetExplorer, "Cookies", "IECookies", false, true},
    {ccIEVisitedURLHistory, cgInternetExplorer, "Visited URLs", "IEVisitedURLHistory", true, false},
    {ccIETypedURLs, cgInternetExplorer, "Typed URLs", "IETypedURLs", true, false},
    {ccIEAutoComplete, cgInternetExplorer, "Autocomplete Data", "IEAutoComplete", false, false},
    {ccIEFavoritesMenuOrderHistory, cgInternetExplorer, "Favorites Menu",
     "IEFavoritesMenuOrderHistory", true, false},
    {ccFFVisitedURLHistory, cgFirefox, "History", "FFVisitedURLHistory", true, false},
    {ccFFCache, cgFirefox, "Cache", "FFCache", true, true},
    {ccFFCookies, cgFirefox, "Cookies", "FFCookies", false, false},
    {ccFFFormHistory, cgFirefox, "Form Info", "FFFormHistory", false, false},
    {ccFFDownloadHistory, cgFirefox, "Downloads", "FFDownloadHistory", true, true},
    {ccFFInputHistory, cgFirefox, "Address Bar", "FFInputHistory", true, false},
    {ccGCHistory, cgChrome, "History", "GCHistory", true, true},
    {ccGCCache, cgChrome, "Cache", "GCCache", true, true},
    {ccGCCookies, cgChrome, "Cookies", "GCCookies", false, false},
    {ccGCDownloads, cgChrome, "Downloads", "GCDownloads", true, true},
    {ccGCFormInfo, cgChrome, "Form Info", "GCFormInfo", true, false},
    {ccGCPassword, cgChrome, "Passwords", "GCPassword", false, false},
    {ccOBHistory, cgOpera, "History", "OBHistory", true, true},
    {ccOBCache, cgOpera, "Cache", "OBCache", true, true},
    {ccOBCookies, cgOpera, "Cookies", "OBCookies", false, true},
    {ccOBTypedURLs, cgOpera, "Typed URLs", "OBTypedURLs", true, true},
    {ccOBSession, cgOpera, "Session", "OBSession", true, true},
    {ccOBPassword, cgOpera, "Passwords", "OBPassword", false, true},
    {ccASHistory, cgSafari, "History", "ASHistory", true, true},
    {ccASCache, cgSafari, "Cache", "ASCache", true, true},
    {ccASCookies, cgSafari, "Cookies", "ASCookies", false, true},
    {ccASFormInfo, cgSafari, "Form Info", "ASFormInfo", true, true},
    {ccASSession, cgSafari, "Session", "ASSession", true, true},
    {ccASPassword, cgSafari, "Passwords", "ASPassword", false, true},
}};

TCleanCategories AllCleanCategories() {
  return TCleanCategories().set();
}

TCleanCategories DefaultCleanCategories() {
  TCleanCategories set;
  for (const auto &info : kCleanCategories)
    set[info.category] = info.selectedByDefault;
  return set;
}

const TCleanCategoryInfo &CleanCategoryInfo(TCleanCategory category) {
  return kCleanCategories.at(category);
}

std::string GetCategoryCaption(TCleanCategory category) {
  return std::string(CleanCategoryInfo(category).caption);
}

std::string_view GroupCaption(TCleanGroup group) {
  switch (group) {
  case cgWindows:
    return "Windows";
  case cgInternetExplorer:
    return "Internet Explorer";
  case cgFirefox:
    return "Firefox";
  case cgChrome:
    return "Chrome";
  case cgOpera:
    return "Opera";
  case cgSafari:
    return "Safari";
  }
  return {};
}

std::string GetQualifiedCaption(TCleanCategory category) {
  const auto &info = CleanCategoryInfo(category);
  if (info.group == cgWindows)
    return std::string(info.caption);
  return std::string(GroupCaption(info.group)) + ": " + std::string(info.caption);
}

std::optional<TCleanCategory> ParseCleanCategory(std::string_view text) {
  if (text.empty())
    return std::nullopt;
  unsigned number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error == std::errc() && end == text.data() + text.size())
    return number < kCleanCategoryCount ? std::optional(static_cast<TCleanCategory>(number))
                                        : std::nullopt;
  auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  for (const auto &info : kCleanCategories) {
    if (info.settingsKey.size() != text.size())
      continue;
    bool same = true;
    for (std::size_t i = 0; i < text.size() && same; ++i)
      same = lower(info.settingsKey[i]) == lower(text[i]);
    if (same)
      return info.category;
  }
  return std::nullopt;
}

} // namespace quenlo
