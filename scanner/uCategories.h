// Scanner vocabulary: the scan categories with their names, settings keys,
// descriptions and groups; the error kinds; the repair actions; and small
// bit sets over these enumerations.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quenlo {

enum TErrorCategory : std::uint8_t {
  ecShellFolders = 0,
  ecTypeLib = 1,
  ecFileTypes = 2,
  ecCLSIDs = 3,
  ecInterfaces = 4,
  ecAppIDs = 5,
  ecCodePages = 6,
  ecContentType = 7,
  ecApplications = 8,
  ecSessionManagerKnownDLLs = 9,
  ecVirualDevices = 10,
  ecOpenGLDrivers = 11,
  ecSharedFiles = 12,
  ecStartMenu = 13,
  ecStartup = 14,
  ecHelpFiles = 15,
  ecWindowsFonts = 16,
  ecAppPaths = 17,
  ecFileExtensions = 18,
  ecHTMLHelp = 19,
  ecInstalledFiles = 20,
  ecAddRemoveCache = 21,
  ecFilePathRefs = 22,
  ecHistoryLists = 23
};

constexpr int CategoryCount = 24;

constexpr bool IsValidCategory(int category) {
  return category >= 0 && category < CategoryCount;
}

// What is wrong with a finding. The command line's scan and repair reports
// print the number, so every enumerator keeps its value. Several kinds share
// a display name and differ in the entry they are reported on and in how it
// is repaired or described.
enum TRegErrorKind : std::uint8_t {
  ekInvalidValueType = 0, // a value that must be a string is of another type
  ekInvalidCharsetAlias = 1,
  ekInvalidCodePage = 2,
  // A subkey of a class's OpenWithList names no registered application.
  ekInvalidOpenWithListKey = 3,
  // A lettered entry of Explorer's per-extension OpenWithList names a
  // missing application; repaired by dropping it from the MRU order.
  ekInvalidOpenWithMruEntry = 4,
  ekInvalidOpenWithProgId = 5,
  ekInvalidStartMenuItem = 6,
  ekInvalidSharedFilePath = 7,
  ekInvalidHelpFilePath = 8,
  ekInvalidToolboxBitmapPath = 9,
  ekInvalidIconPath = 10,
  ekInvalidIndirectString = 11,
  ekInvalidClassId = 12,
  ekInvalidAppId = 13,
  ekInvalidProgId = 14,
  ekInvalidFileExtension = 15,
  ekInvalidHelpDirectoryPath = 16,
  ekEmptyKey = 17,
  ekInvalidInterface = 18,
  ekInvalidTypeLib = 19,
  ekInvalidLocalService = 20,
  ekInvalidShellCommand = 21,
  // A value (or key default) that is one missing file or folder.
  ekInvalidPath = 22,
  // One missing path among the strings of a REG_MULTI_SZ.
  ekInvalidPathInMultiString = 23,
  // One missing path in a string that lists several (quoted or separated).
  ekInvalidPathInList = 24,
  ekInvalidMruList = 25,
  ekInvalidFontFile = 26,
  ekInvalidAddRemoveCacheEntry = 27,
  ekInvalidUninstallEntry = 28,
  // A shortcut file (not a registry entry) whose target is missing.
  ekInvalidShortcut = 29
};

constexpr int ErrorKindCount = 30;
static_assert(ekInvalidShortcut == ErrorKindCount - 1,
              "ErrorKindCount sizes the name table: it follows the last kind");

enum TRepairAction : std::uint8_t {
  raDeleteKey = 0,
  raDeleteValue = 1,
  raDeleteValueAndEmptyKey = 2,
  raRemoveListItem = 3,
  raClearValue = 4,
  raRebuildMRUList = 9,
  raDeleteMRUItem = 10,
  raRecycleFile = 11
};

// A set over a small enumeration kept in an unsigned integer: member n is
// bit n. Members beyond the width of Bits are never contained.
template <typename Enum, typename Bits> class TEnumSet {
public:
  constexpr TEnumSet() = default;
  constexpr explicit TEnumSet(Bits bits) : bits_(bits) {}

  static constexpr TEnumSet Of(Enum member) {
    TEnumSet set;
    set.Add(member);
    return set;
  }

  constexpr bool Contains(Enum member) const {
    const unsigned n = static_cast<unsigned>(member);
    return n < Width && (bits_ >> n & 1u) != 0;
  }
  constexpr TEnumSet &Add(Enum member) {
    const unsigned n = static_cast<unsigned>(member);
    if (n < Width)
      bits_ = static_cast<Bits>(bits_ | Bits{1} << n);
    return *this;
  }
  constexpr TEnumSet &Remove(Enum member) {
    const unsigned n = static_cast<unsigned>(member);
    if (n < Width)
      bits_ = static_cast<Bits>(bits_ & ~(Bits{1} << n));
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool operator==(const TEnumSet &) const = default;

private:
  static constexpr unsigned Width = sizeof(Bits) * 8;
  Bits bits_ = 0;
};

using TCategorySet = TEnumSet<TErrorCategory, std::uint32_t>;
using TRepairActionSet = TEnumSet<TRepairAction, std::uint16_t>;

constexpr TCategorySet AllCategories{0x00FFFFFFu};

struct TCategoryGroup {
  std::string_view Name;
  std::string_view HeadingName;
  TCategorySet Members;
};

constexpr int CategoryGroupCount = 5;

constexpr std::array<TCategoryGroup, CategoryGroupCount> CategoryGroups{{
    {"Operating System Errors", "Operating System Errors Group", TCategorySet{0x214045u}},
    {"COM and ActiveX Errors", "COM and ActiveX Errors Group", TCategorySet{0x3Au}},
    {"Windows User Profile Errors", "Windows User Profile Errors Group", TCategorySet{0x802000u}},
    {"Software and File Errors", "Software and File Errors Group", TCategorySet{0x5D9000u}},
    {"Driver Related Errors", "Driver Related Errors Group", TCategorySet{0xE80u}},
}};

// Texts by category; an index outside 0..23 gives the empty text.
std::string_view CategoryName(int category);
// The boolean key in the "scan" section of the settings file.
std::string_view CategorySettingsKey(int category);
std::string_view CategoryDescription(int category);

// The title of an error kind; empty for a number outside 0..29.
std::string_view ErrorKindName(int kind);

} // namespace quenlo
