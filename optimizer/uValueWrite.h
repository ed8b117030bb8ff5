// One registry value set or deleted the way every optimizer change is made:
// its backup goes into the undo folder first and is named in the day's
// index, so that the restore page can take the change back like a repair.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Platform.h"
#include "registry/uRegAccess.h"
#include "undo/uUndoBackup.h"

namespace quenlo {

// A value exactly as the registry holds it: its type and raw bytes.
struct TRawValue {
  std::uint32_t type = 0;
  qp::Bytes data;
  friend bool operator==(const TRawValue &, const TRawValue &) = default;
};

// Where a value lives.
struct TValueLocation {
  std::uint32_t root = 0;
  TRegistryView view = rv64;
  std::string keyPath;
  std::string name;
};

// Reads a value raw. True with nullopt when the key or the value does not
// exist; false (with the reason) when it exists but cannot be read.
[[nodiscard]] bool ReadRawValue(const TValueLocation &where, std::optional<TRawValue> &value,
                                std::string &errorText);

// Writes `value` there (creating the key when missing), or deletes the
// value when `value` is nullopt, through the undo protocol. A value that
// already holds what is asked (or a deletion of a value that is not there)
// changes nothing and leaves no backup. False with the failing step.
[[nodiscard]] bool WriteValueUndoably(const TUndoFolder &undo, const TValueLocation &where,
                                      const std::optional<TRawValue> &value,
                                      std::string &errorText);

// REG_SZ data of a text (UTF-16LE with its terminator) and REG_DWORD data.
qp::Bytes StringData(std::string_view text);
qp::Bytes DwordData(std::uint32_t value);

} // namespace quenlo
