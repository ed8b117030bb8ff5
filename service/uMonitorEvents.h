// The registry monitor's changes as the front ends show and save them: the
// changed path, the type and data texts, one JSON object per change (the
// command line's lines and the event list's JSON export), the CSV export,
// and the registry file that puts the listed value changes back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/uRegMonitor.h"
#include "registry/uRegFile.h"

namespace quenlo::service {

// Data texts are cut to this many characters (with "..." appended).
inline constexpr std::size_t ShownDataChars = 256;

// What a change means in words, computed once per change.
struct TMonitorEventText {
  // The watched key with its short root name ("HKCU\Software\...\Run"); for
  // the 32-bit view of a key with two views its Wow6432Node path.
  std::string watchedKey;
  // The changed path: the watched key plus "\" + the subkey for subkey
  // events; the watched key for value events (the value is `name`).
  std::string location;
  std::string name;   // as stored; "" = the default value
  std::string shown;  // "Subkey / Value" column: the name, "(Default)" for ""
  std::string view;   // "32-bit" or "64-bit" when the key has two views, else ""
  std::string action; // keCreateValue -> "Value created" ...
  // Value events: "REG_SZ", or "REG_SZ -> REG_DWORD" when the type changed.
  std::string type;
  // Value events: the data as text ("(not kept: 70000 bytes)" when the
  // snapshot did not keep it); empty where the side does not exist.
  std::string oldData;
  std::string newData;
};

// "Subkey created", "Subkey deleted", "Value created", "Value deleted",
// "Value changed".
const char *ActionText(TKeyEventType type);
// "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD", "REG_MULTI_SZ",
// "REG_QWORD", "REG_NONE" ...; "REG_0x1234" for an unknown number.
std::string RegTypeName(std::uint32_t type);
// Strings as text (multi strings joined with " | "), DWORD and QWORD in
// decimal with their hex form, other data as hex bytes; cut to
// ShownDataChars.
std::string ValueDataText(const TValueState &value);

TMonitorEventText DescribeChange(const TKeyChange &change);

// One line of JSON without a line break: "time" (local ISO 8601 with
// milliseconds and the UTC offset, 2026-12-09T13:04:05.123+01:00), "key"
// (the changed path), "name", "action" (the TKeyEventType name, e.g.
// "keEditValue"), "view" where the key has two views, and for value
// events "type", "old", "new" where they exist.
std::string ChangeJson(const TKeyChange &change);

// The whole list: a JSON array of ChangeJson objects, or CSV with a header
// row ("Time","Subkey / Value","Action","Registry Location","View","Type",
// "Old data","New data"), fields quoted as RFC 4180 asks, CR LF lines.
std::string ChangesJson(const std::vector<TKeyChange> &changes);
std::string ChangesCsv(const std::vector<TKeyChange> &changes);

// A registry file that undoes the listed value changes: for each value the
// state before its first listed change (a created value is deleted, a
// deleted or changed one is written back with its old type and data).
// Subkeys created or deleted are not part of it (the file could not put a
// deleted subtree back, and deleting a created one could delete what came
// later). A value whose old data was not kept cannot be put back: it is
// left out and counted.
struct TUndoFileResult {
  TRegFile file;
  int valuesIncluded = 0;
  int valuesLeftOut = 0; // old data not kept
  // The key path or value name is one a registry file cannot carry (a
  // line break in a name): left out, so that the rest can still be saved.
  int valuesUnwritable = 0;
  int subkeyChanges = 0; // never included
};
TUndoFileResult UndoFileForChanges(const std::vector<TKeyChange> &changes);

} // namespace quenlo::service
