// The Chrome profiles of the user: every profile folder of the browser's
// "User Data" folder in LOCAL_APPDATA, each handled by the Chrome
// categories on its own.
//
// Invariants:
//  * Only real folders directly in "User Data" are profiles: a link (or an
//    entry that leads elsewhere without the reparse-point attribute) is
//    never taken, so a clean never reaches outside the browser's folder
//    through one; neither is a "User Data" folder that is itself a link.
//  * "Default" and "Profile N" are profiles; so is any other folder that
//    holds a "Preferences" file, except the browser's own "System Profile"
//    and "Guest Profile", which are taken only when they hold a "History"
//    database (they usually hold no history of the user's).
//  * The order is fixed: "Default", then "Profile N" by number, then the
//    others by name, so that two passes over the same machine agree.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quenlo {

struct TChromeProfile {
  std::string name; // the folder's name ("Default", "Profile 2")
  std::string path; // full path with a closing backslash
};

// LOCAL_APPDATA\Google\Chrome\User Data\ (with a closing backslash); empty
// when the special folder is unknown.
std::string ChromeUserDataFolder();

// The profiles as above; none when "User Data" is missing or a link.
std::vector<TChromeProfile> ChromeProfiles();

// The name is one of the browser's profile folder names ("Default",
// "Profile N" with N a number).
bool IsChromeProfileName(std::string_view name);

} // namespace quenlo
