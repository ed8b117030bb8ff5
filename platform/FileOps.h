// File-system helpers over the platform interface that every layer may use:
// plain existence tests (no memo, no view switch), creating a folder with
// its parents, and replacing a file whole.
#pragma once

#include <string>
#include <string_view>

namespace qp {

// The path names an existing file (not a folder).
[[nodiscard]] bool FileExists(std::string_view path);
// The path names an existing folder; a trailing backslash is allowed.
[[nodiscard]] bool FolderExists(std::string_view path);
// Creates the folder and any missing parents. False with the failing
// status in lastError (0 when the path is empty or has nothing to create).
[[nodiscard]] bool ForceDirectories(std::string_view folder, long &lastError);

// Replaces the file's content: the data goes to a temporary file beside it
// ("<path>.<tag>.tmp", the tag unique to this write, so that two writers
// never fill one file) that is then moved over the file. A failure leaves
// the old file whole and no temporary file behind. 0, or the failing
// call's status with its name ("WriteFile", "MoveFileEx") in *failedCall.
[[nodiscard]] long ReplaceFileContent(std::string_view path, std::string_view data,
                                      std::string *failedCall = nullptr);

} // namespace qp
