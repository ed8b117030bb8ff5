// Software, startup and system file categories: shell folders, known DLLs,
// virtual devices, shared DLLs, startup lists, help files, fonts, App Paths,
// HTML help, installed files and the add/remove caches. Each routine is a
// category check called by the scan thread once per pass and registry view.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "scanner/uScanThread.h"

namespace quenlo {

void CheckShellFolders(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckKnownDlls(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckVirtualDevices(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckSharedDlls(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckStartup(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckHelpFiles(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckWindowsFonts(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckAppPaths(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckHtmlHelp(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckInstalledFiles(TScanThread &t, TRegistryAccess &access, bool counting);
void CheckAddRemoveCache(TScanThread &t, TRegistryAccess &access, bool counting);

// The program path of an add/remove cache record ("SlowInfoCache"): 552
// bytes, a 32-bit flag at offset 4 and a NUL-terminated UTF-16 path at
// offset 28. Nothing when the record has another size, the flag is clear,
// or the path is empty or not terminated inside the record.
std::optional<std::string> SlowInfoCachePath(const qp::Bytes &record);

// Puts the checks of these categories and of the start menu, reference and
// history categories into the table.
void RegisterSoftwareChecks(TCategoryChecks &table);

} // namespace quenlo
