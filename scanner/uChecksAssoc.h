// The file association and shell categories: file types, character sets,
// content types, applications and file extensions. Each routine is a
// category check called by the scan thread once per pass and registry view.
#pragma once

#include "scanner/uScanThread.h"

namespace quenlo {

void CheckFileTypes(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckCodePages(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckContentTypes(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckApplications(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckFileExtensions(TScanThread &t, TRegistryAccess &access, bool counting);

} // namespace quenlo
