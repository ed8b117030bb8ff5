// The history cleaner's 43 categories as data: one constant table gives,
// in category order, each category's group, caption, settings key, default
// selection and whether the history page adds up the sizes of its findings.
// The order is the order in which a pass handles the categories and the
// index of every per-category array.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenlo {

enum TCleanCategory : std::uint8_t {
  ccStartMenuOrderHistory = 0,
  ccNetworkDriveHistory = 1,
  ccUserAssistHistory = 2,
  ccRunMenuHistory = 3,
  ccRecentDocuments = 4,
  ccWindowsClipboard = 5,
  ccOpenSaveHistory = 6,
  ccLastVisitedHistory = 7,
  ccTempFiles = 8,
  ccIISLogFiles = 9,
  ccHotFixes = 10,
  ccSearchAssistantHistory = 11,
  ccTrayIconHistory = 12,
  ccIECache = 13,
  ccIECookies = 14,
  ccIEVisitedURLHistory = 15,
  ccIETypedURLs = 16,
  ccIEAutoComplete = 17,
  ccIEFavoritesMenuOrderHistory = 18,
  ccFFVisitedURLHistory = 19,
  ccFFCache = 20,
  ccFFCookies = 21,
  ccFFFormHistory = 22,
  ccFFDownloadHistory = 23,
  ccFFInputHistory = 24,
  ccGCHistory = 25,
  ccGCCache = 26,
  ccGCCookies = 27,
  ccGCDownloads = 28,
  ccGCFormInfo = 29,
  ccGCPassword = 30,
  ccOBHistory = 31,
  ccOBCache = 32,
  ccOBCookies = 33,
  ccOBTypedURLs = 34,
  ccOBSession = 35,
  ccOBPassword = 36,
  ccASHistory = 37,
  ccASCache = 38,
  ccASCookies = 39,
  ccASFormInfo = 40,
  ccASSession = 41,
  ccASPassword = 42,
};

inline constexpr std::size_t kCleanCategoryCount = 43;

enum TCleanGroup : std::uint8_t {
  cgWindows = 0,
  cgInternetExplorer = 1,
  cgFirefox = 2,
  cgChrome = 3,
  cgOpera = 4,
  cgSafari = 5,
};

struct TCleanCategoryInfo {
  TCleanCategory category;
  TCleanGroup group;
  std::string_view caption;     // next to the category's check box
  std::string_view settingsKey; // key of the settings file's [clean] section
  bool selectedByDefault;
  bool sizesAdded; // the history page's summary adds up the findings' sizes
};

// Indexed by category: kCleanCategories[c].category == c.
extern const std::array<TCleanCategoryInfo, kCleanCategoryCount> kCleanCategories;

// A set of categories (bit c is category c).
using TCleanCategories = std::bitset<kCleanCategoryCount>;
TCleanCategories AllCleanCategories();
TCleanCategories DefaultCleanCategories();

const TCleanCategoryInfo &CleanCategoryInfo(TCleanCategory category);
std::string GetCategoryCaption(TCleanCategory category);
// The caption with its group's prefix ("Firefox: History"); Windows
// categories have none.
std::string GetQualifiedCaption(TCleanCategory category);
std::string_view GroupCaption(TCleanGroup group); // "Windows", "Internet Explorer" ...
// A category by its number ("8") or its settings key ("TempFiles", any
// letter case); nullopt for anything else.
std::optional<TCleanCategory> ParseCleanCategory(std::string_view text);

} // namespace quenlo
