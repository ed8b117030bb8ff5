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

// Error kinds are plain numbers 0..29; their meaning is given by the
// display names and descriptions.
using TRegErrorKind = std::uint8_t;
constexpr int ErrorKindCount = 30;

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
