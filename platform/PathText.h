// Text helpers for Windows paths, shared by every layer: trailing
// backslashes, the folder part and the title of a path. Pure text, no
// file-system access.
#pragma once

#include <string>
#include <string_view>

namespace qp {

// The text with one backslash at its end (an empty text becomes "\").
std::string WithTrailingBackslash(std::string_view path);
// The text without backslashes at its end; a drive root keeps its backslash
// ("C:\" stays: "C:" alone would name the drive's current folder).
std::string WithoutTrailingBackslash(std::string_view path);
// Everything before the last backslash; empty when there is none.
std::string FolderOf(std::string_view path);
// The name after the last backslash without its extension (the text from
// the last "." of the name on).
std::string TitleWithoutExtension(std::string_view path);

} // namespace qp
