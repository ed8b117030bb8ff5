// Start menu, whole-registry file reference and history list categories.
// Each routine is a category check called by the scan thread once per pass
// and registry view.
#pragma once

#include <string>

#include "scanner/uScanThread.h"

namespace quenlo {

void CheckStartMenu(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckFilePathRefs(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckHistoryLists(TScanThread &t, TRegistryAccess &access, bool counting);

// Puts the three checks into the table.
void RegisterDeepChecks(TCategoryChecks &table);

} // namespace quenlo
