// What an update's uninstall folder says about itself: the
// "spuninst\spuninst.inf" file, read as Windows reads an INI file.
#pragma once

#include <string>
#include <string_view>

namespace quenlo {

struct TUninstallInfo {
  std::string type;       // [Configuration] UninstallationType: "UPDATE", "HOTFIX"
  std::string fullTitle;  // [Version] NtServicePackVersionFullText
  std::string shortTitle; // [Version] NtServicePackVersionText: file data, not a trusted name
};

// The file's bytes: UTF-16 with its byte order mark, UTF-8 with or without
// one, else ANSI (Windows-1252). Sections and keys compare without regard
// to letter case, the first of each counts; values lose the blanks and one
// pair of quotes around them; a missing entry reads as empty.
TUninstallInfo ParseUninstallInfo(std::string_view data);

} // namespace quenlo
