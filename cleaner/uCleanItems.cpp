#include "cleaner/uCleanItems.h"

#include "cleaner/uCleanFiles.h"

namespace quenlo {

namespace {

// The browser categories have no handler yet: a browser that is not
// installed has nothing to clean; one that is cannot be cleaned by this
// version, which must not pass for success.
void ReportBrowser(TCleanPass &pass, bool installed) {
  if (installed)
    pass.FailCategory(pass.Current(), std::string(kReasonNotAvailable));
}

void FirefoxNotAvailable(TCleanPass &pass) {
  ReportBrowser(pass, FirefoxProfileFolder(false).exists || FirefoxProfileFolder(true).exists);
}

void ChromeNotAvailable(TCleanPass &pass) {
  ReportBrowser(pass, ChromeProfileFolder().exists);
}

void OperaNotAvailable(TCleanPass &pass) {
  ReportBrowser(pass, OperaFolder(false).exists || OperaFolder(true).exists);
}

void SafariNotAvailable(TCleanPass &pass) {
  ReportBrowser(pass, SafariFolder(false).exists || SafariFolder(true).exists);
}

std::array<TCategoryHandler, kCleanCategoryCount> MakeHandlers() {
  std::array<TCategoryHandler, kCleanCategoryCount> table{};
  table[ccStartMenuOrderHistory] = CleanStartMenuOrder;
  table[ccNetworkDriveHistory] = CleanNetworkDrive;
  table[ccUserAssistHistory] = CleanUserAssist;
  table[ccRunMenuHistory] = CleanRunMenu;
  table[ccRecentDocuments] = CleanRecentDocuments;
  table[ccWindowsClipboard] = CleanClipboard;
  table[ccOpenSaveHistory] = CleanOpenSave;
  table[ccLastVisitedHistory] = CleanLastVisited;
  table[ccTempFiles] = CleanTempFiles;
  table[ccIISLogFiles] = CleanIisLogFiles;
  table[ccHotFixes] = CleanHotFixes;
  table[ccSearchAssistantHistory] = CleanSearchAssistant;
  table[ccTrayIconHistory] = CleanTrayIconHistory;
  table[ccIECache] = CleanIECache;
  table[ccIECookies] = CleanIECookies;
  table[ccIEVisitedURLHistory] = CleanIEVisitedUrls;
  table[ccIETypedURLs] = CleanIETypedUrls;
  table[ccIEAutoComplete] = CleanIEAutoComplete;
  table[ccIEFavoritesMenuOrderHistory] = CleanIEFavoritesMenu;
  for (std::size_t c = ccFFVisitedURLHistory; c < kCleanCategoryCount; ++c) {
    switch (CleanCategoryInfo(static_cast<TCleanCategory>(c)).group) {
    case cgFirefox:
      table[c] = FirefoxNotAvailable;
      break;
    case cgChrome:
      table[c] = ChromeNotAvailable;
      break;
    case cgOpera:
      table[c] = OperaNotAvailable;
      break;
    case cgSafari:
      table[c] = SafariNotAvailable;
      break;
    default:
      break;
    }
  }
  return table;
}

} // namespace

const std::array<TCategoryHandler, kCleanCategoryCount> &DefaultCleanHandlers() {
  static const std::array<TCategoryHandler, kCleanCategoryCount> table = MakeHandlers();
  return table;
}

} // namespace quenlo
