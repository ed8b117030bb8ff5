#include "cleaner/uCleanItems.h"

namespace quenlo {

void CleanIECache(TCleanPass &) {}

void CleanIECookies(TCleanPass &) {}

void CleanIEVisitedUrls(TCleanPass &) {}

void CleanIETypedUrls(TCleanPass &) {}

void CleanIEAutoComplete(TCleanPass &) {}

void CleanIEFavoritesMenu(TCleanPass &) {}

} // namespace quenlo
