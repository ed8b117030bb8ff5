#include "cleaner/uCleanItems.h"

namespace quenlo {

void KeyItem(TCleanPass &, TCleanCategory, std::string_view) {}
void MruList(TCleanPass &, TCleanCategory, std::string_view) {}
void MruListEx(TCleanPass &, TCleanCategory, std::string_view) {}
std::string KeyFinding(std::string_view path) {
  return "HKCU\\" + std::string(path);
}
std::string ValueFinding(std::string_view path, std::string_view value) {
  return KeyFinding(path) + ", " + std::string(value);
}

void CleanStartMenuOrder(TCleanPass &) {}

void CleanNetworkDrive(TCleanPass &) {}

void CleanUserAssist(TCleanPass &) {}

void CleanRunMenu(TCleanPass &) {}

void CleanRecentDocuments(TCleanPass &) {}

void CleanClipboard(TCleanPass &) {}

void CleanOpenSave(TCleanPass &) {}

void CleanLastVisited(TCleanPass &) {}

void CleanTempFiles(TCleanPass &) {}

void CleanIisLogFiles(TCleanPass &) {}

void CleanHotFixes(TCleanPass &) {}

void CleanSearchAssistant(TCleanPass &) {}

void CleanTrayIconHistory(TCleanPass &) {}

} // namespace quenlo
