// The walk over the values of one key that most list checks share: the key
// is opened, its values are counted in the counting pass or handed over one
// by one in the scanning pass, stopping once the thread is terminated.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "scanner/uScanThread.h"

namespace quenlo {

// One value met by the walk. key is the walked key (root, view and path of
// every report); data is the value's data as the registry layer hands it
// (string kinds as UTF-8 with their NULs); text is its string up to the
// first NUL (empty for other kinds).
struct TWalkedValue {
  TRegistryAccess &key;
  const std::string &name;
  std::string_view data;
  TValueKind kind;
  std::string text;
};

enum class TKeyOpen : std::uint8_t { Plain, Checked };

using TWalkedValueVisitor = std::function<void(TWalkedValue &value)>;

// Opens root\path on access (plainly or with OpenCheckedKey). Counting pass:
// adds the key's number of values. Scanning pass: visits every value until
// the thread is terminated. False when the key could not be opened.
bool WalkKeyValues(TScanThread &t, TRegistryAccess &access, bool counting, std::uint32_t root,
                   std::string_view path, TKeyOpen open, const TWalkedValueVisitor &visit);

// The frame of the string-list checks, on a key opened with OpenCheckedKey:
// progress with the value name; values with an empty name are skipped;
// values that are not REG_SZ or REG_EXPAND_SZ are reported as of the wrong
// type (delete the value); the rest go to the test.
void WalkStringValues(TScanThread &t, TRegistryAccess &access, bool counting, std::uint32_t root,
                      std::string_view path, const TWalkedValueVisitor &test);

// A failed test of the frame: KeyPath the walked key, ValueName the value,
// Target the data as stored, Data the value name; actions defaults to the
// set holding only action.
void ReportWalkedValue(TScanThread &t, const TWalkedValue &v, TRegErrorKind kind,
                       TRepairAction action, std::int32_t testId, TRepairActionSet actions = {});

} // namespace quenlo
