// File-system helpers over the platform interface that every layer may use:
// plain existence tests (no memo, no view switch) and creating a folder with
// its parents.
#pragma once

#include <string_view>

namespace qp {

// The path names an existing file (not a folder).
[[nodiscard]] bool FileExists(std::string_view path);
// The path names an existing folder; a trailing backslash is allowed.
[[nodiscard]] bool FolderExists(std::string_view path);
// Creates the folder and any missing parents. False with the failing
// status in lastError (0 when the path is empty or has nothing to create).
[[nodiscard]] bool ForceDirectories(std::string_view folder, long &lastError);

} // namespace qp
