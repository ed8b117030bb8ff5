#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"

namespace quenlo {

namespace {

// Placeholder until the handlers land: a browser that is not installed
// has nothing to clean; one that is cannot be cleaned yet.
void NotAvailable(TCleanPass &pass) {
  if (FirefoxProfileFolder(false).exists || FirefoxProfileFolder(true).exists)
    pass.FailCategory(pass.Current(), std::string(kReasonNotAvailable));
}

} // namespace

void CleanFFVisitedUrls(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanFFCache(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanFFCookies(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanFFFormHistory(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanFFDownloads(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanFFInputHistory(TCleanPass &pass) {
  NotAvailable(pass);
}

} // namespace quenlo
