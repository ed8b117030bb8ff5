// Keys the program never deletes: the hive roots, the keys the scan starts
// from (and every key above them, whose deletion would take them along), in
// either registry view, and every "Wow6432Node" key, which holds the whole
// 32-bit view of its parent. DeleteKeyTree and ApplyRegFile refuse them,
// so the guard holds whatever the ignore lists, a repair or a backup file
// being played say.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenlo {

// The keys the categories walk, relative to HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER (each is protected below both roots).
const std::vector<std::string> &ScanStartKeys();

// True when deleting the key (root, path) would delete a hive root, a scan
// starting key or a "Wow6432Node" key. Case-insensitive; long and short root
// names are the same constants; leading and trailing backslashes, a view's
// "Wow6432Node" components, HKEY_CLASSES_ROOT, the user hives below
// HKEY_USERS and numbered control sets are all taken into account.
bool IsProtectedKey(std::uint32_t root, std::string_view path);

// "Refusing to delete a protected key: " + short root name + "\" + path.
std::string ProtectedKeyError(std::uint32_t root, std::string_view path);

} // namespace quenlo
