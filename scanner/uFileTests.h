// Plain file-system questions the list checks ask besides the path probes:
// whether a folder exists and whether a path is on a fixed drive. Both go
// through the scan's probe memo.
#pragma once

#include <string_view>

namespace quenlo {

// The path names an existing folder (a trailing backslash is allowed).
bool IsExistingFolder(std::string_view path);
// The drive part of the path ("C:") is a fixed drive.
bool IsOnFixedDrive(std::string_view path);

} // namespace quenlo
