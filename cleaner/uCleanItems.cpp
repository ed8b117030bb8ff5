#include "cleaner/uCleanItems.h"

namespace quenlo {

namespace {

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
  table[ccFFVisitedURLHistory] = CleanFFVisitedUrls;
  table[ccFFCache] = CleanFFCache;
  table[ccFFCookies] = CleanFFCookies;
  table[ccFFFormHistory] = CleanFFFormHistory;
  table[ccFFDownloadHistory] = CleanFFDownloads;
  table[ccFFInputHistory] = CleanFFInputHistory;
  table[ccGCHistory] = CleanGCHistory;
  table[ccGCCache] = CleanGCCache;
  table[ccGCCookies] = CleanGCCookies;
  table[ccGCDownloads] = CleanGCDownloads;
  table[ccGCFormInfo] = CleanGCFormInfo;
  table[ccGCPassword] = CleanGCPasswords;
  table[ccOBHistory] = CleanOBHistory;
  table[ccOBCache] = CleanOBCache;
  table[ccOBCookies] = CleanOBCookies;
  table[ccOBTypedURLs] = CleanOBTypedUrls;
  table[ccOBSession] = CleanOBSession;
  table[ccOBPassword] = CleanOBPasswords;
  table[ccASHistory] = CleanASHistory;
  table[ccASCache] = CleanASCache;
  table[ccASCookies] = CleanASCookies;
  table[ccASFormInfo] = CleanASFormInfo;
  table[ccASSession] = CleanASSession;
  table[ccASPassword] = CleanASPasswords;
  return table;
}

} // namespace

const std::array<TCategoryHandler, kCleanCategoryCount> &DefaultCleanHandlers() {
  static const std::array<TCategoryHandler, kCleanCategoryCount> table = MakeHandlers();
  return table;
}

} // namespace quenlo
