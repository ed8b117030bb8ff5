#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"

namespace quenlo {

namespace {

// Placeholder until the handlers land: a browser that is not installed
// has nothing to clean; one that is cannot be cleaned yet.
void NotAvailable(TCleanPass &pass) {
  if (ChromeProfileFolder().exists)
    pass.FailCategory(pass.Current(), std::string(kReasonNotAvailable));
}

} // namespace

void CleanGCHistory(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanGCCache(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanGCCookies(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanGCDownloads(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanGCFormInfo(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanGCPasswords(TCleanPass &pass) {
  NotAvailable(pass);
}

} // namespace quenlo
