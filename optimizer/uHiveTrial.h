// The top-level keys of a hive, live or in a saved file: what tells a hive
// file that belongs to its hive from one that does not. A saved file is
// read by mounting it for a moment under a temporary key of HKLM.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace quenlo {

// The upper-cased names of the subkeys directly below root\path (64-bit
// view). False with the reason.
[[nodiscard]] bool LiveTopKeys(std::uint32_t root, std::string_view path,
                               std::set<std::string> &names, std::string &errorText);

// Mounts the file under a free "Quenlo-check-<n>" key of HKLM, reads its
// top-level names and takes it away again on every path (also after a
// refused load: Wine leaves an empty hive mounted then). The caller holds
// SeRestorePrivilege. False with the failing call, as "RegLoadKey: ...".
[[nodiscard]] bool SavedTopKeys(const std::string &file, std::set<std::string> &names,
                                std::string &errorText);

} // namespace quenlo
