// The handlers of the Opera (31-36) and Safari (37-42) categories: files
// only, through the folder sweep and the single-file item. Both browsers
// kept their history in their own file formats, in folders of the user's
// profile named by uCleanFiles.h.
#include <initializer_list>
#include <string>
#include <string_view>

#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"

namespace quenlo {

namespace {

// The browser's folder (with its closing backslash) and a name in it:
// empty when the folder is missing, which a sweep or a single-file item
// takes as nothing there.
std::string In(const TBrowserFolder &folder, std::string_view name = {}) {
  return folder.exists ? folder.path + std::string(name) : std::string();
}

void Files(TCleanPass &pass, TCleanCategory category, const TBrowserFolder &folder,
           std::initializer_list<std::string_view> names) {
  if (!folder.exists)
    return;
  for (std::string_view name : names) {
    if (pass.Terminated())
      return;
    SingleFileItem(pass, category, folder.path, name);
  }
}

void Sweeps(TCleanPass &pass, TCleanCategory category, const TBrowserFolder &folder,
            std::initializer_list<std::string_view> names) {
  if (!folder.exists)
    return;
  for (std::string_view name : names) {
    if (pass.Terminated())
      return;
    SweepFolder(pass, category, In(folder, name));
  }
}

} // namespace

void CleanOBHistory(TCleanPass &pass) {
  Sweeps(pass, ccOBHistory, OperaFolder(true), {"vps"});
  // "global_history.dat" is also a typed address list's: both categories
  // name it.
  Files(pass, ccOBHistory, OperaFolder(false),
        {"global_history.dat", "download.dat", "vlink4.dat"});
}

void CleanOBCache(TCleanPass &pass) {
  Sweeps(pass, ccOBCache, OperaFolder(true), {"icons", "cache", "opcache", "temporary_downloads"});
}

void CleanOBCookies(TCleanPass &pass) {
  Files(pass, ccOBCookies, OperaFolder(false), {"cookies4.dat"});
}

void CleanOBTypedUrls(TCleanPass &pass) {
  Files(pass, ccOBTypedURLs, OperaFolder(false), {"typed_history.xml", "global_history.dat"});
}

void CleanOBSession(TCleanPass &pass) {
  Sweeps(pass, ccOBSession, OperaFolder(false), {"sessions"});
}

void CleanOBPasswords(TCleanPass &pass) {
  Files(pass, ccOBPassword, OperaFolder(false), {"wand.dat"});
}

void CleanASHistory(TCleanPass &pass) {
  Sweeps(pass, ccASHistory, SafariFolder(true), {"History", "Webpage Previews"});
  Files(pass, ccASHistory, SafariFolder(false),
        {"History.plist", "TopSites.plist", "Downloads.plist"});
}

void CleanASCache(TCleanPass &pass) {
  Files(pass, ccASCache, SafariFolder(true), {"Cache.db"});
}

void CleanASCookies(TCleanPass &pass) {
  Sweeps(pass, ccASCookies, SafariFolder(true), {"LocalStorage"});
  // Only in its "Cookies" folder: a file of that name elsewhere is not
  // the browser's store.
  if (!pass.Terminated())
    Files(pass, ccASCookies, SafariFolder(false, "Cookies"), {"Cookies.binarycookies"});
}

void CleanASFormInfo(TCleanPass &pass) {
  Files(pass, ccASFormInfo, SafariFolder(false), {"Form values.plist"});
}

void CleanASSession(TCleanPass &pass) {
  Files(pass, ccASSession, SafariFolder(false), {"LastSession.plist"});
}

void CleanASPasswords(TCleanPass &pass) {
  Files(pass, ccASPassword, SafariPreferencesFolder(), {"keychain.plist"});
}

} // namespace quenlo
