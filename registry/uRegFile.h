// Registry export files (".REG"): an in-memory model of their content, the
// reader for both formats the registry editor knows ("REGEDIT4" text and the
// UTF-16 "Windows Registry Editor Version 5.00" format), the writer, a
// snapshot of a live key tree in the same model, applying a file to the
// registry, and comparisons between files and the registry.
//
// Format choice of the writer: a file whose every key path, value name and
// value can be carried exactly by the ANSI "REGEDIT4" text (printable ASCII
// names, strings that are ASCII text with exactly one terminating NUL, ASCII
// expandable and multi strings, four-byte DWORDs, binary and REG_NONE data)
// is written as "REGEDIT4". Anything else switches the whole file to the
// Unicode format, where whatever a quoted string cannot carry exactly is
// written as a "hex(N):" list of the raw bytes, so that importing the file
// gives back the same names, types and bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "registry/uRegAccess.h"

namespace quenlo {

struct TRegFileValue {
  std::string Name;    // UTF-8; empty for the default value
  bool Delete = false; // "name"=-
  std::uint32_t Type = 0;
  qp::Bytes Data; // raw, string types as UTF-16LE
};

struct TRegFileKey {
  std::uint32_t Root = 0;
  std::string Path;    // below the root, no leading or trailing backslash
  bool Delete = false; // [-key]
  std::vector<TRegFileValue> Values;
};

struct TRegFile {
  bool Unicode = false; // the "Version 5.00" format
  std::vector<TRegFileKey> Keys;
};

// --- what the format can carry
// A file names each key on a line of its own between "[" and "]", and each
// value name between double quotes. The writer refuses what the registry
// editor or the reader could take for something else, so that a backup
// never reads back as other keys than the ones it saved (a key name holding
// a line break and "[-HKEY_...]" would otherwise delete an unrelated key on
// restore):
// - key paths: any C0 control character or DEL, a component ending in "]";
// - value names: any C0 control character other than a tab, or DEL.
// Value data always fits: what a quoted string cannot carry exactly is
// written as a hex list. False with a text naming the key (and value).
[[nodiscard]] bool RegFileCanCarry(std::string_view keyPath, std::string_view valueName,
                                   std::string &reason);
[[nodiscard]] bool RegFileCanCarryKey(std::string_view keyPath, std::string &reason);
// Every key path and value name of the file.
[[nodiscard]] bool RegFileCanCarryFile(const TRegFile &file, std::string &reason);

// --- writer
// True when the file can be written as "REGEDIT4" without changing anything.
bool FitsRegedit4(const TRegFile &file);
// The file's bytes: "REGEDIT4" (ASCII, CR LF) when FitsRegedit4, otherwise
// the Unicode format (UTF-16LE with byte-order mark, CR LF). Keys are
// separated by an empty line; no empty line follows the last value.
std::string FormatRegFile(const TRegFile &file);
// Writes FormatRegFile to a file; false with "WriteFile: " + message, or
// with RegFileCanCarryFile's reason before anything is written. On false no
// file is left at the path.
[[nodiscard]] bool WriteRegFile(const TRegFile &file, std::string_view path,
                                std::string &errorText);

// --- reader
// Parses either format (a byte-order mark selects UTF-16LE). In "REGEDIT4"
// files the hex data of string types is ANSI text, as the registry editor
// reads it. False with a text naming the line on malformed input.
[[nodiscard]] bool ParseRegFile(std::string_view bytes, TRegFile &file, std::string &errorText);
[[nodiscard]] bool ReadRegFile(std::string_view path, TRegFile &file, std::string &errorText);

// --- the live registry
// The path as the registry spells it: each component as its parent's
// subkey list holds it (matched without case). False when a component does
// not exist or a parent cannot be listed.
[[nodiscard]] bool StoredKeyPath(std::uint32_t root, TRegistryView view, std::string_view path,
                                 std::string &stored, std::string &errorText);
// Reads the key and its whole subtree in a view (keys in walk order, every
// path in the registry's own spelling). False
// when any part of it cannot be read: a partial snapshot is never returned
// as complete.
[[nodiscard]] bool ReadKeyTree(std::uint32_t root, TRegistryView view, std::string_view path,
                               TRegFile &tree, std::string &errorText);
// Imports the file into a view, as the registry editor does. A file naming
// a hive root itself (or an empty path) is refused before anything changes.
[[nodiscard]] bool ApplyRegFile(const TRegFile &file, TRegistryView view, std::string &errorText);
// Whether the registry in a view holds what the file says (every key and
// value of the file present with the same type and bytes; deletions absent).
[[nodiscard]] bool RegFileApplied(const TRegFile &file, TRegistryView view,
                                  std::string &difference);
// Whether two files describe the same keys and values (names compared
// without case, types and bytes exactly).
[[nodiscard]] bool SameRegContent(const TRegFile &a, const TRegFile &b, std::string &difference);

} // namespace quenlo
