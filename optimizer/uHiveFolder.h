// The text files of a hive backup folder, written and read: the list
// "hivelist.txt", the identity file "backupinfo.txt" and the replacement
// marker "replaced.txt". Pure text apart from the file reads and the
// machine's identity, so that each rule can be held on its own.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "optimizer/uHiveBackup.h"
#include "undo/uUndoTime.h"

namespace quenlo {

// folder + "\" + title.
std::string HiveFolderPath(std::string_view folder, std::string_view title);

// Reads one of the folder's text files, refusing one beyond
// kHiveListMaxBytes before reading it. Empty when read, else the reason
// (naming the file).
std::string ReadHiveFolderText(const std::string &path, std::string &text);

// A list's lines: a UTF-8 byte order mark dropped, LF or CRLF ends, blank
// lines left out; number counts every line from 1 for messages.
struct THiveListLine {
  int number = 0;
  std::string text;
};
std::vector<THiveListLine> SplitHiveList(std::string_view text);

// One "<decimal index>:<HKEY_LOCAL_MACHINE|HKEY_USERS>\<one component>"
// line. The index is written as BackupHives names files (no sign, no
// leading zero) and the component can name nothing but a direct subkey
// of the root: no "\", "/", ":", control character, "." or "..".
struct THiveListEntry {
  std::string fileName;
  std::uint32_t root = 0;
  std::string keyPath;
};
// False with the reason in *why (when given) for any other line.
[[nodiscard]] bool ParseHiveListLine(std::string_view line, THiveListEntry &entry,
                                     std::string *why);

// The identity of this machine: HKLM "SOFTWARE\Microsoft\Cryptography"
// "MachineGuid" in the 64-bit view; empty when it cannot be read.
std::string MachineIdentity();

// The top-level keys a live hive had that its saved file does not hold,
// by file name: volatile keys (CurrentControlSet, Wine's MountedDevices),
// which a save leaves out.
using TVolatileKeys = std::map<std::string, std::set<std::string>>;

// What BackupHives writes: the list (saved hives only, index order) and
// the identity file (machine, computer name, Windows version, date, each
// saved file's size and the volatile keys left out of it).
struct THiveFolderLists {
  std::string hiveList;
  std::string backupInfo;
};
THiveFolderLists MakeHiveFolderLists(const std::vector<THiveOutcome> &hives,
                                     const TVolatileKeys &volatileKeys, const TUndoTime &now);

struct THiveBackupInfo {
  std::string machine;
  std::string date;
  std::map<std::string, std::uint64_t> sizes; // file name -> bytes
  TVolatileKeys volatileKeys;                 // upper-cased names
};
// False with the reason for a file without a machine, with a malformed or
// repeated size line.
[[nodiscard]] bool ParseBackupInfo(std::string_view text, THiveBackupInfo &info, std::string &why);

// The marker of a restore: the wall clock and the tick count (milliseconds
// since boot) at the moment Windows accepted the replacements.
std::string MakeReplacementMarker(const TUndoTime &now, std::uint64_t tickCount);
// Whether the boot session the marker names is still the running one. A
// tick count below the recorded one, or more wall-clock time gone by than
// ticks (beyond a small allowance for clock corrections), means the system
// restarted since. A marker that cannot be read counts as still pending.
[[nodiscard]] bool ReplacementStillPending(std::string_view marker, const TUndoTime &now,
                                           std::uint64_t tickCount);

// The clock SetHiveClock set, else the system's.
TUndoClock HiveClock();

} // namespace quenlo
