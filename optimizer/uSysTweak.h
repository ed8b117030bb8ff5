// The system tweaks: 24 settings of Windows, each one registry value (one
// of them the Explorer ribbon's library file), read with the system's own
// meaning, shown per Windows version, written through the undo protocol and
// put back to the operating system's defaults.
//
// A tweak's value is kept exactly as it was read (type and bytes) beside the
// number parsed from it. Unticking a tweak whose value meant "off" when it
// was read puts that very value back (an absent value is deleted again), so
// that ticking and unticking leaves the registry as it was and a value the
// tweak does not know ("NtfsDisable8dot3NameCreation" = 2) is never replaced
// by the tweak's own "off".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "optimizer/uValueWrite.h"
#include "undo/uUndoBackup.h"

namespace quenlo {

enum TTweakId : std::uint8_t {
  twRibbonMinimized = 0,
  twRibbon = 1,
  twCharmsBar = 2,
  twStartRows = 3,
  twAero = 4,
  twPeekDelay = 5,
  twPeekOff = 6,
  twSnap = 7,
  twSelectionRect = 8,
  twDragContents = 9,
  twIconShadows = 10,
  twMinAnimate = 11,
  twFlip3d = 12,
  twRecentDocs = 13,
  twFavorites = 14,
  twThumbnailDelay = 15,
  twCompressedColor = 16,
  twCompatAssistant = 17,
  twPerfCounters = 18,
  twLastAccess = 19,
  twShortNames = 20,
  twAutoRun = 21,
  twAutoReboot = 22,
  twUac = 23,
};
inline constexpr int kTweakCount = 24;

// What a change of the tweak needs before it takes effect.
enum TRestartKind : std::uint8_t { rkNone = 0, rkRestart = 1, rkLogOff = 2 };

enum TTweakGroup : std::uint8_t { tgInterface = 0, tgPerformance = 1, tgOther = 2 };

// How the value is read: a REG_DWORD, a REG_SZ holding a number, or the
// presence of the ribbon's library file.
enum TTweakRead : std::uint8_t { trDword = 0, trString = 1, trFile = 2 };

// How the system itself reads the value, which decides "ticked".
enum TTweakMeaning : std::uint8_t {
  tmEqualsOn = 0,   // ticked exactly when the number is the "on" number
  tmNonZero = 1,    // a policy: any number but 0 is on
  tmLowBit = 2,     // NtfsDisableLastAccessUpdate: bit 0 set is on
  tmNotDefault = 3, // a number: ticked when it differs from the default
  tmNever = 4,      // a number that is never ticked after reading
  tmFileAbsent = 5, // ticked when the file is not there
};

// Windows versions as the environment numbers them.
enum TTweakWindows : std::uint8_t {
  twVista = 8,
  twWindows7 = 9,
  twWindows8 = 10,
  twWindows81 = 11,
};

// What the tweaks depend on: the Windows version (the environment's
// number: 8 Vista, 9 Windows 7, 10 Windows 8, 11 Windows 8.1) and the
// screen size (the Start Screen rows).
struct TTweakEnvironment {
  int windowsVersion = twWindows7;
  int screenWidth = 1024;
  int screenHeight = 768;
};

// One tweak's fixed facts.
struct TTweakDef {
  TTweakId id = twRibbonMinimized;
  std::uint32_t root = 0;
  std::string_view keyPath;
  std::string_view valueName; // the file name for trFile
  TTweakRead read = trDword;
  TTweakMeaning meaning = tmEqualsOn;
  std::int32_t defaultValue = 0; // when absent or unreadable
  std::int32_t maximum = 0;      // a larger number reads as this
  std::int32_t onValue = 0;      // written when ticked
  std::int32_t offValue = 0;     // written when not ticked
  TRestartKind restart = rkNone;
  bool osDefaultOn = false;
  bool numeric = false;   // the number is edited (3, 5 and 15)
  bool takeOwner = false; // the key's security is opened for the write
};

const TTweakDef &TweakDef(int id);

// The tweak's name and description on that Windows version.
std::string_view TweakName(int id, int windowsVersion);
std::string_view TweakDescription(int id, int windowsVersion);
TTweakGroup TweakGroup(int id);
std::string_view TweakGroupCaption(TTweakGroup group);
// The tweaks shown on that version, in tweak order (the three groups
// follow each other in that order); empty before Vista.
std::vector<int> ShownTweaks(int windowsVersion);
bool TweakShown(int id, int windowsVersion);
// What changing these tweaks needs: a restart when one of them needs it,
// else a log off when one needs that.
TRestartKind RestartKindOf(std::span<const int> ids);
// The order Apply writes in.
std::span<const int> TweakApplyOrder();

struct TStartRows {
  int defaultRows = 0;
  int maximumRows = 0;
};
TStartRows StartScreenRows(int width, int height);

// The default and maximum of a tweak's number on this screen (the Start
// Screen rows depend on it), and its OS default number.
std::int32_t TweakDefault(int id, const TTweakEnvironment &env);
std::int32_t TweakMaximum(int id, const TTweakEnvironment &env);
std::int32_t TweakOsDefaultNumber(int id, const TTweakEnvironment &env);

// What was read of one tweak.
struct TTweakReading {
  bool ticked = false;
  std::int32_t value = 0;       // parsed, lowered to the maximum
  std::optional<TRawValue> raw; // as read; nullopt: absent (file: absent)
  bool readFailed = false;      // the value exists but could not be read
};

// Reads a tweak's raw value into its reading (exposed for the tests of
// the reading rules).
TTweakReading InterpretTweak(int id, const std::optional<TRawValue> &raw,
                             const TTweakEnvironment &env);

// The state a tweak is asked to have.
struct TTweakWish {
  bool ticked = false;
  std::int32_t value = 0;
};

// What a write would put there: the raw value (nullopt deletes it). For
// the ribbon the answer is nullopt when the file is to be absent.
std::optional<TRawValue> TweakTarget(int id, const TTweakWish &wish, const TTweakReading &loaded,
                                     const TTweakEnvironment &env);

// The state "OS defaults" gives a tweak that is now as `now` and was read
// as `loaded`: the OS default's box and, for the numbers, their OS default
// number, except that an absent number (still as read) is the system's
// default already and stays. A value the system reads as "off" is "off" by
// TweakTarget's rule too, so it is not rewritten.
TTweakWish OsDefaultWish(int id, const TTweakWish &now, const TTweakReading &loaded,
                         const TTweakEnvironment &env);

struct TTweakFailure {
  int id = 0;
  std::string errorText;
};

// Reading and writing the tweaks; the page and the command line go
// through it, the page's tests through a fake.
class ITweakStore {
public:
  virtual ~ITweakStore() = default;
  virtual TTweakReading Read(int id) = 0;
  // Makes the tweak as wished, `loaded` being what Read answered before.
  [[nodiscard]] virtual bool Write(int id, const TTweakWish &wish, const TTweakReading &loaded,
                                   std::string &errorText) = 0;
};

// The registry (and file system) behind the tweaks. Every value write goes
// through WriteValueUndoably into the undo folder.
class TSysTweakStore final : public ITweakStore {
public:
  TSysTweakStore(TTweakEnvironment env, TUndoFolder undo);
  TTweakReading Read(int id) override;
  bool Write(int id, const TTweakWish &wish, const TTweakReading &loaded,
             std::string &errorText) override;
  const TTweakEnvironment &Environment() const { return env_; }

private:
  bool WriteValue(int id, const TTweakWish &wish, const TTweakReading &loaded,
                  std::string &errorText);
  TTweakEnvironment env_;
  TUndoFolder undo_;
};

// Where a tweak's value lives (not for the ribbon).
TValueLocation TweakLocation(int id);

// The ribbon's library in the system folder and its two side names.
inline constexpr std::string_view kRibbonFile = "UIRibbon.dll";
inline constexpr std::string_view kRibbonDisabledSuffix = ".old";
inline constexpr std::string_view kRibbonReplacedSuffix = ".~";

// The ribbon switch: disabled moves the library to ".old" (an older ".old"
// is removed first); enabled keeps a present library as ".~" and moves
// ".old" back. File-system redirection is off around it. False with the
// failing step.
[[nodiscard]] bool SwitchRibbon(bool disabled, std::string &errorText);

// Moves (newPath given) or deletes a file the system protects: takes
// ownership, adds full control for the user, moves or deletes, and puts
// the previous owner and access list back on the moved file (or on the
// file itself when the move or delete failed). False with the failing step.
[[nodiscard]] bool ProtectedFileOperation(std::string_view path,
                                          std::optional<std::string_view> newPath,
                                          std::string &errorText);

// Reads every tweak; index = tweak number.
using TTweakReadings = std::array<TTweakReading, kTweakCount>;
TTweakReadings ReadAllTweaks(ITweakStore &store);

// One Apply: the wished tweaks (index = tweak number, nullopt: leave it) in
// the apply order. A failure (an exception of the owner step included)
// never stops the tweaks after it.
struct TTweakApplyResult {
  std::vector<int> written; // in the order written
  std::vector<TTweakFailure> failed;
};
TTweakApplyResult ApplyTweaks(ITweakStore &store,
                              const std::array<std::optional<TTweakWish>, kTweakCount> &wishes,
                              const TTweakReadings &loaded);

} // namespace quenlo
