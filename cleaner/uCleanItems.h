// The handlers of the cleaner's categories, one per category, and the
// table the pass loop looks them up in.
#pragma once

#include <array>

#include "cleaner/uSysCleaner.h"

namespace quenlo {

// Indexed by category.
const std::array<TCategoryHandler, kCleanCategoryCount> &DefaultCleanHandlers();

// --- shared procedures of the registry categories (uWindowsItems.cpp)
// The key item: an analysis lists "HKCU\<path>", a clean deletes the tree.
void KeyItem(TCleanPass &pass, TCleanCategory category, std::string_view path);
// The "MRUList" procedure, and the extended "MRUListEx" one.
void MruList(TCleanPass &pass, TCleanCategory category, std::string_view path);
void MruListEx(TCleanPass &pass, TCleanCategory category, std::string_view path);
// "HKCU\<path>" and "HKCU\<path>, <value>".
std::string KeyFinding(std::string_view path);
std::string ValueFinding(std::string_view path, std::string_view value);

// --- Windows (uWindowsItems.cpp)
void CleanStartMenuOrder(TCleanPass &pass);
void CleanNetworkDrive(TCleanPass &pass);
void CleanUserAssist(TCleanPass &pass);
void CleanRunMenu(TCleanPass &pass);
void CleanRecentDocuments(TCleanPass &pass);
void CleanClipboard(TCleanPass &pass);
void CleanOpenSave(TCleanPass &pass);
void CleanLastVisited(TCleanPass &pass);
void CleanTempFiles(TCleanPass &pass);
void CleanIisLogFiles(TCleanPass &pass);
void CleanHotFixes(TCleanPass &pass);
void CleanSearchAssistant(TCleanPass &pass);
void CleanTrayIconHistory(TCleanPass &pass);

// --- Internet Explorer (uIEItems.cpp)
void CleanIECache(TCleanPass &pass);
void CleanIECookies(TCleanPass &pass);
void CleanIEVisitedUrls(TCleanPass &pass);
void CleanIETypedUrls(TCleanPass &pass);
void CleanIEAutoComplete(TCleanPass &pass);
void CleanIEFavoritesMenu(TCleanPass &pass);

// --- Firefox (uFirefoxItems.cpp)
void CleanFFVisitedUrls(TCleanPass &pass);
void CleanFFCache(TCleanPass &pass);
void CleanFFCookies(TCleanPass &pass);
void CleanFFFormHistory(TCleanPass &pass);
void CleanFFDownloads(TCleanPass &pass);
void CleanFFInputHistory(TCleanPass &pass);

// --- Chrome (uChromeItems.cpp)
void CleanGCHistory(TCleanPass &pass);
void CleanGCCache(TCleanPass &pass);
void CleanGCCookies(TCleanPass &pass);
void CleanGCDownloads(TCleanPass &pass);
void CleanGCFormInfo(TCleanPass &pass);
void CleanGCPasswords(TCleanPass &pass);

// --- Opera and Safari (uOperaSafariItems.cpp)
void CleanOBHistory(TCleanPass &pass);
void CleanOBCache(TCleanPass &pass);
void CleanOBCookies(TCleanPass &pass);
void CleanOBTypedUrls(TCleanPass &pass);
void CleanOBSession(TCleanPass &pass);
void CleanOBPasswords(TCleanPass &pass);
void CleanASHistory(TCleanPass &pass);
void CleanASCache(TCleanPass &pass);
void CleanASCookies(TCleanPass &pass);
void CleanASFormInfo(TCleanPass &pass);
void CleanASSession(TCleanPass &pass);
void CleanASPasswords(TCleanPass &pass);

} // namespace quenlo
