#include "app/pages/uSettingsPageLogic.h"

namespace quenlo {

const char *IgnoreRowKindText(TIgnoreRowKind kind) {
  switch (kind) {
  case irAll:
    return "All";
  case irPermanent:
    return "Permanent";
  case irIgnoreList:
    return "Ignore List";
  }
  return "";
}

TSettingsPageLogic::TSettingsPageLogic(TSettingsPageDeps deps) : d_(deps) {}

void TSettingsPageLogic::Show() {}
void TSettingsPageLogic::Hide() {}
void TSettingsPageLogic::SelectTab(TSettingsTab tab) { tab_ = tab; }
void TSettingsPageLogic::SetAction(int index) { action_ = index; }
void TSettingsPageLogic::SetFrequency(int index) { frequency_ = index; }
void TSettingsPageLogic::Save() {}
void TSettingsPageLogic::SetBackupBeforeScan(bool on) { backupBeforeScan_ = on; }
void TSettingsPageLogic::SetFullBackupWeekly(bool on) { fullBackupWeekly_ = on; }
void TSettingsPageLogic::ResetCounters() {}
void TSettingsPageLogic::FullBackup() {}
void TSettingsPageLogic::FullRestore() {}
void TSettingsPageLogic::AddIgnoreKey() {}
void TSettingsPageLogic::RemoveIgnoreRows(const std::vector<int> &) {}
void TSettingsPageLogic::AddMonitoredKey() {}
void TSettingsPageLogic::RemoveMonitoredKeys(const std::vector<int> &) {}
bool TSettingsPageLogic::SetMonitorPromptText(const std::string &) { return false; }

} // namespace quenlo
