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

// The final path of a folder, asked once, against which the entries
// listed in it are told apart: an entry leads elsewhere when its own final
// path is not the folder's, a backslash and its name (letter case aside).
// That is a junction or symbolic link whether or not the system marks it
// with FILE_ATTRIBUTE_REPARSE_POINT: Wine shows a Unix symbolic link as a
// plain file or folder, and removing it there removes what it points at.
// One open per entry asked about; nothing is read or changed.
class TFolderFinalPath {
public:
  explicit TFolderFinalPath(std::string_view folder);
  // False when the folder's final path is unknown (missing, refused).
  [[nodiscard]] bool Known() const { return known_; }
  // An entry that is gone (or whose final path cannot be had) leads
  // nowhere: false.
  [[nodiscard]] bool LeadsElsewhere(std::string_view name) const;

private:
  std::string folder_;    // as given, with a closing backslash
  std::string finalPath_; // with a closing backslash
  bool known_ = false;
};

// The same test for one path, against the final path of the folder that
// holds it (two opens). False for a root or a path without a folder.
[[nodiscard]] bool LeadsElsewhere(std::string_view path);

// Replaces the file's content: the data goes to a temporary file beside it
// ("<path>.<tag>.tmp", the tag unique to this write, so that two writers
// never fill one file) that is then moved over the file. A failure leaves
// the old file whole and no temporary file behind. 0, or the failing
// call's status with its name ("WriteFile", "MoveFileEx") in *failedCall.
[[nodiscard]] long ReplaceFileContent(std::string_view path, std::string_view data,
                                      std::string *failedCall = nullptr);

} // namespace qp
