// The COM and ActiveX categories: type libraries, classes, interfaces and
// application IDs. Each routine is a category check called by the scan
// thread once per pass and registry view.
#pragma once

#include "scanner/uScanThread.h"

namespace quenlo {

void CheckTypeLib(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckCLSIDs(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckInterfaces(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckAppIDs(TScanThread &t, TRegistryAccess &access, bool counting);

} // namespace quenlo
