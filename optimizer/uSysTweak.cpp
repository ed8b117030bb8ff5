#include "optimizer/uSysTweak.h"

#include <algorithm>
#include <exception>

#include "platform/Guards.h"
#include "platform/NumberText.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr std::uint32_t kHkcu = wc::HkeyCurrentUser;
constexpr std::uint32_t kHklm = wc::HkeyLocalMachine;
constexpr std::uint32_t kHkcr = wc::HkeyClassesRoot;

constexpr std::string_view kAdvanced =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
constexpr std::string_view kDesktop = "Control Panel\\Desktop";
constexpr std::string_view kFileSystem = "SYSTEM\\CurrentControlSet\\Control\\FileSystem";

constexpr std::int32_t kFavoritesShown = static_cast<std::int32_t>(0xA0900100u);
constexpr std::int32_t kFavoritesHidden = static_cast<std::int32_t>(0xA9400100u);
constexpr std::int32_t kFavoritesDefault = static_cast<std::int32_t>(0xA0900101u);

constexpr std::int32_t kPeekDelayDefault = 200;
constexpr std::int32_t kPeekDelayOsDefault = 500;
constexpr std::int32_t kPeekDelayMaximum = 20000;
constexpr std::int32_t kThumbnailDelayDefault = 400;
constexpr std::int32_t kThumbnailDelayMaximum = 40000;

// Number, root, key, value, read, meaning, default, maximum, on, off,
// restart, OS default on, numeric, owner.
//
// Meanings, as the system reads the value (what decides "ticked" and what
// counts as "off" when the OS defaults are put back):
// - the policies (2, 6, 12, 13, 17, 18, 22) are on for any number but 0;
// - NtfsDisableLastAccessUpdate is on when bit 0 is set (newer systems add
//   0x80000000 for "managed by the system");
// - NtfsDisable8dot3NameCreation is on only for 1 (2 leaves it to each
//   volume, 3 keeps short names on the system volume: both are "off");
// - ExplorerRibbonStartsMinimized is on only for 1 (2 to 4 are other
//   ribbon choices);
// - the switches read as 1 when absent (Composition, ListviewAlphaSelect,
//   ListviewShadow, the desktop strings, AutoRun, EnableLUA) are on (that is
//   the tweak's "disable") only for 0;
// - showCompColor is on for any number but 0;
// - Favorites' attributes are on only for the one number that hides them.
const std::array<TTweakDef, kTweakCount> kTweaks{{
    {twRibbonMinimized, kHklm, "SOFTWARE\\Policies\\Microsoft\\Windows\\Explorer",
     "ExplorerRibbonStartsMinimized", trDword, tmEqualsOn, 0, 2, 1, 0, rkLogOff, false, false,
     false},
    {twRibbon, 0, "", kRibbonFile, trFile, tmFileAbsent, 0, 0, 0, 0, rkRestart, false, false,
     false},
    {twCharmsBar, kHkcu, "Software\\Microsoft\\Windows\\CurrentVersion\\ImmersiveShell\\EdgeUI",
     "DisableCharmsHint", trDword, tmNonZero, 0, 1, 1, 0, rkNone, false, false, false},
    {twStartRows, kHkcu, "Software\\Microsoft\\Windows\\CurrentVersion\\ImmersiveShell\\Grid",
     "Layout_MaximumRowCount", trDword, tmNotDefault, 0, 0, 0, 0, rkRestart, false, true, false},
    {twAero, kHkcu, "Software\\Microsoft\\Windows\\DWM", "Composition", trDword, tmEqualsOn, 1, 1,
     0, 1, rkLogOff, false, false, false},
    {twPeekDelay, kHkcu, kAdvanced, "DesktopLivePreviewHoverTime", trDword, tmNever,
     kPeekDelayDefault, kPeekDelayMaximum, 0, 0, rkLogOff, false, true, false},
    {twPeekOff, kHkcu, kAdvanced, "DisablePreviewDesktop", trDword, tmNonZero, 0, 1, 1, 0, rkLogOff,
     false, false, false},
    {twSnap, kHkcu, kDesktop, "WindowArrangementActive", trString, tmEqualsOn, 1, 1, 0, 1,
     rkRestart, false, false, false},
    {twSelectionRect, kHkcu, kAdvanced, "ListviewAlphaSelect", trDword, tmEqualsOn, 1, 1, 0, 1,
     rkRestart, false, false, false},
    {twDragContents, kHkcu, kDesktop, "DragFullWindows", trString, tmEqualsOn, 1, 1, 0, 1, rkLogOff,
     false, false, false},
    {twIconShadows, kHkcu, kAdvanced, "ListviewShadow", trDword, tmEqualsOn, 1, 1, 0, 1, rkLogOff,
     false, false, false},
    {twMinAnimate, kHkcu, "Control Panel\\Desktop\\WindowMetrics", "MinAnimate", trString,
     tmEqualsOn, 1, 1, 0, 1, rkLogOff, false, false, false},
    {twFlip3d, kHkcu, "Software\\Policies\\Microsoft\\Windows\\DWM", "DisallowFlip3d", trDword,
     tmNonZero, 0, 1, 1, 0, rkLogOff, false, false, false},
    {twRecentDocs, kHkcu, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
     "NoRecentDocsHistory", trDword, tmNonZero, 0, 1, 1, 0, rkLogOff, false, false, false},
    {twFavorites, kHkcr, "CLSID\\{323CA680-C24D-4099-B94D-446DD2D7249E}\\ShellFolder", "Attributes",
     trDword, tmEqualsOn, kFavoritesDefault, 0x7FFFFFFF, kFavoritesHidden, kFavoritesShown,
     rkLogOff, false, false, true},
    {twThumbnailDelay, kHkcu, kAdvanced, "ExtendedUIHoverTime", trDword, tmNotDefault,
     kThumbnailDelayDefault, kThumbnailDelayMaximum, 0, 0, rkLogOff, false, true, false},
    {twCompressedColor, kHkcu, kAdvanced, "showCompColor", trDword, tmNonZero, 1, 1, 1, 0, rkLogOff,
     true, false, false},
    {twCompatAssistant, kHklm, "SOFTWARE\\Policies\\Microsoft\\Windows\\AppCompat", "DisablePCA",
     trDword, tmNonZero, 0, 1, 1, 0, rkNone, false, false, false},
    {twPerfCounters, kHklm, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib",
     "Disable Performance Counters", trDword, tmNonZero, 0, 1, 1, 0, rkRestart, false, false,
     false},
    {twLastAccess, kHklm, kFileSystem, "NtfsDisableLastAccessUpdate", trDword, tmLowBit, 0, 1, 1, 0,
     rkRestart, false, false, false},
    {twShortNames, kHklm, kFileSystem, "NtfsDisable8dot3NameCreation", trDword, tmEqualsOn, 0, 1, 1,
     0, rkRestart, false, false, false},
    {twAutoRun, kHklm, "SYSTEM\\CurrentControlSet\\services\\cdrom", "AutoRun", trDword, tmEqualsOn,
     1, 1, 0, 1, rkRestart, false, false, false},
    {twAutoReboot, kHklm, "SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU",
     "NoAutoRebootWithLoggedOnUsers", trDword, tmNonZero, 0, 1, 1, 0, rkRestart, false, false,
     false},
    {twUac, kHklm, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", "EnableLUA",
     trDword, tmEqualsOn, 1, 1, 0, 1, rkRestart, false, false, false},
}};

constexpr std::array<std::string_view, kTweakCount> kNames{
    "Start Explorer with Ribbon minimized",
    "Disable Windows Explorer Ribbon interface",
    "Disable the Charms bar",
    "Adjust the number of Start Screen rows",
    "Disable Aero",
    "Change Aero Peek delay time",
    "Turn off Aero Peek",
    "Turn off Aero Snap and Shake",
    "Do not use translucent selection rectangle for Desktop",
    "Hide window contents while dragging",
    "Do not drop shadows under icons on the desktop",
    "Do not animate windows when minimizing and maximizing",
    "Disable 3D Window Switching",
    "Disable Recent Document History",
    "Remove Favorites from the Navigation Pane",
    "Adjust Taskbar thumbnail delay time",
    "Display compressed and encrypted NTFS files in color",
    "Disable Program Compatibility Assistant",
    "Disable performance counters",
    "Disable NTFS Last Accesses stamp",
    "Disable DOS 8.3 name creation for files",
    "Disable Auto Run of the CD-ROM/DVD/USB drive",
    "Disable automatic restart after Windows updates",
    "Disable User Account Control",
};

constexpr std::string_view kVistaSelectionName =
    "Don't use translucent selection rectangle for Desktop";
constexpr std::string_view kWindows8ShadowName = "Don't drop shadows under icons on the desktop";

constexpr std::array<std::string_view, kTweakCount> kDescriptions{
    // 0
    "Opens every Explorer window with the Ribbon \r\nfolded up, leaving more room for your files.",
    // 1
    "Replaces the Ribbon of Windows Explorer with \r\nthe classic menu and command bar. "
    "\r\nExplorer opens faster without it.",
    // 2
    "Stops the Charms bar from appearing when the \r\nmouse touches the right corners of the "
    "screen.",
    // 3
    "The Start Screen shows four rows of tiles by \r\ndefault. Choose how many rows it "
    "shows \r\non this screen.",
    // 4
    "Aero transparency and animations cost graphics \r\npower. Turning Aero off makes windows "
    "\r\ndraw faster on slower graphics cards.",
    // 5
    "Sets how long the mouse must rest on the \r\nShow desktop button before Aero Peek "
    "\r\nshows the desktop.",
    // 6
    "Stops Aero Peek from turning windows into \r\nglass outlines when the mouse rests on the "
    "\r\nShow desktop button.",
    // 7
    "Stops windows from docking to the screen \r\nedges when dragged there, and from "
    "\r\nminimizing the others when shaken.",
    // 8
    "Draws a plain outline instead of a translucent \r\nrectangle when you select icons on "
    "\r\nthe desktop.",
    // 9
    "Shows only a window's outline while you \r\nmove or resize it, which is faster on "
    "\r\nslower computers.",
    // 10
    "Desktop icon labels are drawn without their \r\nshadows, which saves a little "
    "\r\ngraphics work.",
    // 11
    "Windows appear and disappear at once instead \r\nof sliding to and from the taskbar.",
    // 12
    "Turns off Flip 3D, the three-dimensional \r\nwindow stack of Windows key + Tab.",
    // 13
    "Windows stops keeping the list of the documents \r\nyou opened recently, so others "
    "\r\ncannot see it.",
    // 14
    "Removes the Favorites group from the top of \r\nthe navigation pane of Windows Explorer.",
    // 15
    "Sets how long the mouse must rest on a taskbar \r\nbutton before its thumbnail "
    "\r\npreview appears.",
    // 16
    "Shows the names of compressed NTFS files in \r\nblue and of encrypted ones in green.",
    // 17 to 23: the system's own texts.
    "Program Compatibility Assistant (PCA) runs in \r\nthe background and monitors programs for "
    "known \r\ncompatibility issues. You can disable this feature \r\nif there are no "
    "compatibility issues to improve \r\nsystem performance.",
    "Windows continuously monitors the system \r\nand saves huge amounts of performance data "
    "nobody \r\nbut a system administrator needs. If you are \r\na home user who never uses the "
    "Performance Monitor, \r\ndisabling performance counters will free up space and \r\nspeed "
    "up your PC.",
    "When Windows accesses a directory on an NTFS volume, \r\nit updates the Last Access time "
    "stamp for each \r\ndirectory it detects Disabling and cleaning up \r\nthis data improves "
    "system performance.",
    "To ensure backward compatibility with \r\nvery old DOS and Win16 programs, Windows still "
    "\r\nstores 8.3 names of each file on your disks. \r\nYou can safely disable this feature "
    "\r\nto free up system resources and increase PC speed.",
    "Disable Auto Run to protect your computer \r\nfrom viruses, that infect your PC when you "
    "insert \r\nand run an infected DVD, CD, or external USB drive.",
    "Prevent Windows Update from automatically \r\nrestarting your computer.",
    "Disabling User Account Control improves \r\nuser experience, but can compromise \r\nthe "
    "security of your PC",
};

// The interface tweaks shown per version; the performance (17-20) and
// other (21-23) tweaks show on every version from Vista on.
constexpr std::array kVistaShown{4, 8, 9, 10, 11, 12, 13, 16};
constexpr std::array kWindows7Shown{4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr std::array kWindows8Shown{0, 1, 2, 3, 7, 8, 9, 10, 15, 16};
constexpr std::array kWindows81Shown{0, 1, 2, 7, 8, 9, 10, 15, 16};

constexpr std::array<int, kTweakCount> kApplyOrder{17, 18, 19, 20, 0,  1,  2,  3,  4,  5,  6,  7,
                                                   8,  9,  10, 11, 12, 13, 14, 15, 16, 21, 22, 23};

std::span<const int> InterfaceShown(int windowsVersion) {
  if (windowsVersion < twVista)
    return {};
  switch (windowsVersion) {
  case twVista:
    return kVistaShown;
  case twWindows7:
    return kWindows7Shown;
  case twWindows8:
    return kWindows8Shown;
  default: // 8.1 and later
    return kWindows81Shown;
  }
}

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

bool FileThere(const std::string &path) {
  return Files().GetAttributes(path) != wc::InvalidFileAttributes;
}

// The number a raw value holds for the tweak; nullopt when it does not
// hold one of the tweak's type.
std::optional<std::int32_t> NumberOf(const TTweakDef &def, const TRawValue &raw) {
  if (def.read == trDword) {
    if (raw.type != wc::RegDword || raw.data.size() < 4)
      return std::nullopt;
    const std::uint32_t number = static_cast<std::uint32_t>(raw.data[0]) |
                                 (static_cast<std::uint32_t>(raw.data[1]) << 8) |
                                 (static_cast<std::uint32_t>(raw.data[2]) << 16) |
                                 (static_cast<std::uint32_t>(raw.data[3]) << 24);
    return static_cast<std::int32_t>(number);
  }
  if (def.read == trString) {
    if (raw.type != wc::RegSz)
      return std::nullopt;
    return qp::ParseInt32(CutAtNul(DataToText(raw.type, raw.data)));
  }
  return std::nullopt;
}

TRawValue RawOf(const TTweakDef &def, std::int32_t number) {
  if (def.read == trString)
    return {wc::RegSz, StringData(std::to_string(number))};
  return {wc::RegDword, DwordData(static_cast<std::uint32_t>(number))};
}

std::string RibbonPath(std::string_view suffix = {}) {
  return qp::Platform().System().GetSystemDirectory() + "\\" + std::string(kRibbonFile) +
         std::string(suffix);
}

std::string SecurityError(std::string_view function, long status) {
  return std::string(function) + ": " + SysErrorMessage(status);
}

} // namespace

const TTweakDef &TweakDef(int id) {
  return kTweaks.at(static_cast<std::size_t>(id));
}

std::string_view TweakName(int id, int windowsVersion) {
  if (id == twSelectionRect && windowsVersion == twVista)
    return kVistaSelectionName;
  if (id == twIconShadows && windowsVersion >= twWindows8)
    return kWindows8ShadowName;
  return kNames.at(static_cast<std::size_t>(id));
}

std::string_view TweakDescription(int id, int /*windowsVersion*/) {
  return kDescriptions.at(static_cast<std::size_t>(id));
}

TTweakGroup TweakGroup(int id) {
  if (id >= twCompatAssistant && id <= twShortNames)
    return tgPerformance;
  if (id >= twAutoRun)
    return tgOther;
  return tgInterface;
}

std::string_view TweakGroupCaption(TTweakGroup group) {
  switch (group) {
  case tgPerformance:
    return "Performance Tweaks";
  case tgOther:
    return "Other Tweaks";
  case tgInterface:
    break;
  }
  return "User Interface Tweaks";
}

std::vector<int> ShownTweaks(int windowsVersion) {
  const std::span<const int> shown = InterfaceShown(windowsVersion);
  if (shown.empty())
    return {};
  std::vector<int> ids(shown.begin(), shown.end());
  for (int id = twCompatAssistant; id < kTweakCount; ++id)
    ids.push_back(id);
  return ids;
}

bool TweakShown(int id, int windowsVersion) {
  const std::vector<int> ids = ShownTweaks(windowsVersion);
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

TRestartKind RestartKindOf(std::span<const int> ids) {
  TRestartKind kind = rkNone;
  for (const int id : ids) {
    if (TweakDef(id).restart == rkRestart)
      return rkRestart;
    if (TweakDef(id).restart == rkLogOff)
      kind = rkLogOff;
  }
  return kind;
}

std::span<const int> TweakApplyOrder() {
  return kApplyOrder;
}

TStartRows StartScreenRows(int width, int height) {
  if (width <= 960)
    return {3, 3};
  if (width <= 1096)
    return {4, 4};
  if (width <= 1200)
    return {5, 5};
  if (width <= 1640) {
    if (height < 800)
      return {4, 4};
    return height < 960 ? TStartRows{5, 5} : TStartRows{5, 6};
  }
  if (width <= 1700)
    return {6, 6};
  if (width <= 1901)
    return height < 1100 ? TStartRows{5, 6} : TStartRows{6, 6};
  if (width <= 2200)
    return height < 1100 ? TStartRows{5, 6} : TStartRows{6, 7};
  return {6, 9};
}

std::int32_t TweakDefault(int id, const TTweakEnvironment &env) {
  if (id == twStartRows)
    return StartScreenRows(env.screenWidth, env.screenHeight).defaultRows;
  return TweakDef(id).defaultValue;
}

std::int32_t TweakMaximum(int id, const TTweakEnvironment &env) {
  if (id == twStartRows)
    return StartScreenRows(env.screenWidth, env.screenHeight).maximumRows;
  return TweakDef(id).maximum;
}

std::int32_t TweakOsDefaultNumber(int id, const TTweakEnvironment &env) {
  if (id == twPeekDelay)
    return kPeekDelayOsDefault;
  return TweakDefault(id, env);
}

TTweakReading InterpretTweak(int id, const std::optional<TRawValue> &raw,
                             const TTweakEnvironment &env) {
  const TTweakDef &def = TweakDef(id);
  TTweakReading reading;
  reading.raw = raw;
  const std::optional<std::int32_t> read = raw ? NumberOf(def, *raw) : std::nullopt;
  const std::int32_t number = read.value_or(TweakDefault(id, env));
  reading.value = std::min(number, TweakMaximum(id, env));
  switch (def.meaning) {
  case tmEqualsOn:
    reading.ticked = number == def.onValue;
    break;
  case tmNonZero:
    reading.ticked = number != 0;
    break;
  case tmLowBit:
    reading.ticked = (static_cast<std::uint32_t>(number) & 1u) != 0;
    break;
  case tmNotDefault:
    reading.ticked = read.has_value() && reading.value != TweakDefault(id, env);
    break;
  case tmNever:
  case tmFileAbsent:
    reading.ticked = false;
    break;
  }
  return reading;
}

std::optional<TRawValue> TweakTarget(int id, const TTweakWish &wish, const TTweakReading &loaded,
                                     const TTweakEnvironment & /*env*/) {
  const TTweakDef &def = TweakDef(id);
  if (def.read == trFile)
    return std::nullopt;
  // What was read, when the wish is the state it was read in: the value the
  // system had goes back unchanged (an absent one is deleted again).
  const bool asLoaded = !loaded.readFailed && wish.ticked == loaded.ticked &&
                        (!def.numeric || wish.value == loaded.value);
  if (asLoaded)
    return loaded.raw;
  if (def.numeric)
    return RawOf(def, std::max(wish.value, 0));
  return RawOf(def, wish.ticked ? def.onValue : def.offValue);
}

TTweakWish OsDefaultWish(int id, const TTweakWish &now, const TTweakReading &loaded,
                         const TTweakEnvironment &env) {
  const TTweakDef &def = TweakDef(id);
  TTweakWish wish{def.osDefaultOn, now.value};
  if (def.numeric) {
    const bool systemDefault = !loaded.raw && !loaded.readFailed && now.value == loaded.value;
    if (!systemDefault)
      wish.value = TweakOsDefaultNumber(id, env);
  }
  return wish;
}

TValueLocation TweakLocation(int id) {
  const TTweakDef &def = TweakDef(id);
  return {.root = def.root,
          .view = rv64,
          .keyPath = std::string(def.keyPath),
          .name = std::string(def.valueName)};
}

// --- the store

TSysTweakStore::TSysTweakStore(TTweakEnvironment env, TUndoFolder undo)
    : env_(env), undo_(std::move(undo)) {}

TTweakReading TSysTweakStore::Read(int id) {
  const TTweakDef &def = TweakDef(id);
  if (def.read == trFile) {
    TTweakReading reading;
    reading.ticked = !FileExistsNoRedirect(RibbonPath());
    return reading;
  }
  std::optional<TRawValue> raw;
  std::string ignored;
  if (!ReadRawValue(TweakLocation(id), raw, ignored)) {
    TTweakReading reading = InterpretTweak(id, std::nullopt, env_);
    reading.readFailed = true;
    return reading;
  }
  return InterpretTweak(id, raw, env_);
}

bool TSysTweakStore::WriteValue(int id, const TTweakWish &wish, const TTweakReading &loaded,
                                std::string &errorText) {
  return WriteValueUndoably(undo_, TweakLocation(id), TweakTarget(id, wish, loaded, env_),
                            errorText);
}

bool TSysTweakStore::Write(int id, const TTweakWish &wish, const TTweakReading &loaded,
                           std::string &errorText) {
  const TTweakDef &def = TweakDef(id);
  if (def.read == trFile)
    return SwitchRibbon(wish.ticked, errorText);
  if (!def.takeOwner)
    return WriteValue(id, wish, loaded, errorText);

  // The key is the system's: its security is opened for the write and
  // given back afterwards, whatever the write answered.
  const std::string keyPath(def.keyPath);
  std::string saved;
  try {
    if (!TakeKeyOwnership(def.root, keyPath, saved)) {
      errorText = "TakeKeyOwnership: the key's access list could not be changed";
      return false;
    }
  } catch (const ERegistryException &e) {
    errorText = std::string("TakeKeyOwnership: ") + e.what();
    return false;
  }
  const bool written = WriteValue(id, wish, loaded, errorText);
  std::string giveBackError;
  try {
    if (!TakeKeyOwnership(def.root, keyPath, saved))
      giveBackError = "TakeKeyOwnership: the key's owner and access list could not be given back";
  } catch (const ERegistryException &e) {
    giveBackError = std::string("TakeKeyOwnership: ") + e.what();
  }
  if (!giveBackError.empty()) {
    errorText = written ? giveBackError : errorText + "; " + giveBackError;
    return false;
  }
  return written;
}

// --- the ribbon

bool ProtectedFileOperation(std::string_view path, std::optional<std::string_view> newPath,
                            std::string &errorText) {
  qp::IFileSystem &fs = Files();
  const qp::TPrivilegeScope takeOwnership("SeTakeOwnershipPrivilege");
  std::string sid;
  if (!qp::Platform().System().GetUserSid(sid) || sid.empty()) {
    errorText = "GetTokenInformation: the process user cannot be read";
    return false;
  }
  std::string previous;
  if (long st = fs.GetFileSecurity(path, wc::OwnerSecurityInformation | wc::DaclSecurityInformation,
                                   previous)) {
    errorText = SecurityError("GetNamedSecurityInfo", st);
    return false;
  }
  if (long st = fs.SetFileSecurity(path, wc::OwnerSecurityInformation, "O:" + sid)) {
    errorText = SecurityError("SetNamedSecurityInfo", st);
    return false;
  }
  // Puts the owner and DACL the file had back on `where`. Another owner
  // than the user (TrustedInstaller) needs SeRestorePrivilege.
  auto giveBack = [&](std::string_view where) {
    const qp::TPrivilegeScope restore("SeRestorePrivilege");
    return fs.SetFileSecurity(where, wc::OwnerSecurityInformation | wc::DaclSecurityInformation,
                              previous);
  };
  const std::size_t daclAt = previous.find("D:");
  const std::string dacl =
      (daclAt == std::string::npos ? std::string("D:") : previous.substr(daclAt)) +
      "(A;OICI;GA;;;" + sid + ")";
  if (long st = fs.SetFileSecurity(path, wc::DaclSecurityInformation, dacl)) {
    errorText = SecurityError("SetNamedSecurityInfo", st);
    qp::IgnoreResult(giveBack(path));
    return false;
  }
  const long done = newPath ? fs.MoveFile(path, *newPath, 0) : fs.DeleteFile(path);
  if (done != wc::ErrorSuccess) {
    errorText = SecurityError(newPath ? "MoveFile" : "DeleteFile", done);
    qp::IgnoreResult(giveBack(path));
    return false;
  }
  if (newPath) {
    if (long st = giveBack(*newPath)) {
      errorText = SecurityError("SetNamedSecurityInfo", st) + " (" + std::string(*newPath) + ")";
      return false;
    }
  }
  return true;
}

bool SwitchRibbon(bool disabled, std::string &errorText) {
  const qp::TFsViewSwitch view(qp::Platform().System().IsWow64Process().value_or(false));
  const std::string library = RibbonPath();
  const std::string old = RibbonPath(kRibbonDisabledSuffix);
  if (disabled) {
    // Already disabled: the kept library stays as it is.
    if (!FileThere(library))
      return true;
    if (FileThere(old) && !ProtectedFileOperation(old, std::nullopt, errorText))
      return false;
    return ProtectedFileOperation(library, old, errorText);
  }
  if (!FileThere(old)) {
    if (FileThere(library))
      return true; // already enabled
    errorText = "MoveFile: " + old + " " + SysErrorMessage(wc::ErrorFileNotFound);
    return false;
  }
  if (FileThere(library)) {
    const std::string replaced = RibbonPath(kRibbonReplacedSuffix);
    if (FileThere(replaced) && !ProtectedFileOperation(replaced, std::nullopt, errorText))
      return false;
    if (!ProtectedFileOperation(library, replaced, errorText))
      return false;
  }
  return ProtectedFileOperation(old, library, errorText);
}

// --- reading all, applying

TTweakReadings ReadAllTweaks(ITweakStore &store) {
  TTweakReadings readings{};
  for (int id = 0; id < kTweakCount; ++id)
    readings[static_cast<std::size_t>(id)] = store.Read(id);
  return readings;
}

TTweakApplyResult ApplyTweaks(ITweakStore &store,
                              const std::array<std::optional<TTweakWish>, kTweakCount> &wishes,
                              const TTweakReadings &loaded) {
  TTweakApplyResult result;
  for (const int id : kApplyOrder) {
    const std::size_t at = static_cast<std::size_t>(id);
    if (!wishes[at])
      continue;
    std::string errorText;
    bool ok = false;
    try {
      ok = store.Write(id, *wishes[at], loaded[at], errorText);
    } catch (const std::exception &e) {
      errorText = e.what();
    }
    if (ok)
      result.written.push_back(id);
    else
      result.failed.push_back({id, errorText.empty() ? std::string("not written") : errorText});
  }
  return result;
}

} // namespace quenlo
