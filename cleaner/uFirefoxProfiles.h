// Where the user's Firefox profiles are: the profiles Firefox itself lists
// in "profiles.ini" and "installs.ini" (APPDATA\Mozilla\Firefox\), each as
// its roaming folder (the databases) and its local folder (the cache).
//
// A fresh "*.default" folder is often the empty profile while the one in
// use is "*.default-release" or "*.default-esr", named by installs.ini; so
// every profile listed is handled, not the first match of a name.
//
// Invariants:
//  * A listed path is only ever taken as a folder below the Firefox folder
//    (relative paths) or as an absolute folder that IsSafeBaseFolder
//    accepts: a path with "." or ".." steps, a drive or share root, a
//    system folder or a profile root is refused with its reason, so that
//    no clean can be pointed outside a profile by a hostile ini file.
//  * The files are only read; nothing here creates or changes anything.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenlo {

// One "[section]" of an ini file with its "key=value" lines in order.
struct TIniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;
  // The value of key (letter case aside); empty when there is none.
  std::string Value(std::string_view key) const;
};

// Sections in the order of the text; lines before the first section,
// comments (";", "#") and lines without "=" are passed over. A UTF-8 byte
// order mark, CR LF line ends and blanks around names and values go.
std::vector<TIniSection> ParseIniText(std::string_view text);

// A profile path as the ini files write it.
struct TFirefoxProfileEntry {
  std::string path;      // "Profiles/abc.default-release", or "D:\Firefox\p"
  bool relative = false; // to the Firefox folder, with "/" separators
};

// The profiles named by the text of profiles.ini ("[ProfileN]" Path and
// IsRelative, "[Install...]" Default) and of installs.ini (each section's
// Default), each path once (letter case aside), in that order.
std::vector<TFirefoxProfileEntry> FirefoxProfileEntries(std::string_view profilesIni,
                                                        std::string_view installsIni);

// The folder an entry names, no closing backslash: a relative one below
// firefoxFolder, an absolute one as written. Empty with the reason when it
// is refused (see above).
std::string ResolveFirefoxProfile(const TFirefoxProfileEntry &entry, std::string_view firefoxFolder,
                                  std::string &reason);

struct TFirefoxProfile {
  std::string roaming; // the profile folder, with a closing backslash
  // Where Firefox keeps the profile's cache, with a closing backslash:
  // LOCAL_APPDATA\Mozilla\Firefox\ and the same relative path for a
  // relative profile, the profile folder itself for an absolute one (as
  // Firefox does). Empty when the local application data is unknown.
  std::string local;
};

struct TRefusedProfile {
  std::string path; // as the ini file writes it
  std::string reason;
};

struct TFirefoxProfiles {
  std::vector<TFirefoxProfile> profiles;
  std::vector<TRefusedProfile> refused;
};

// The user's profiles as the files list them. Without a profiles.ini that
// names any, every folder in APPDATA\Mozilla\Firefox\Profiles\ (links
// aside) with its counterpart in the local application data. Folders are
// listed whether or not they exist.
TFirefoxProfiles FindFirefoxProfiles();

} // namespace quenlo
