#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"

namespace quenlo {

namespace {

// Placeholder until the handlers land: a browser that is not installed
// has nothing to clean; one that is cannot be cleaned yet.
void NotAvailable(TCleanPass &pass) {
  if (OperaFolder(false).exists || OperaFolder(true).exists || SafariFolder(false).exists ||
      SafariFolder(true).exists)
    pass.FailCategory(pass.Current(), std::string(kReasonNotAvailable));
}

} // namespace

void CleanOBHistory(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanOBCache(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanOBCookies(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanOBTypedUrls(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanOBSession(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanOBPasswords(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanASHistory(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanASCache(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanASCookies(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanASFormInfo(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanASSession(TCleanPass &pass) {
  NotAvailable(pass);
}
void CleanASPasswords(TCleanPass &pass) {
  NotAvailable(pass);
}

} // namespace quenlo
