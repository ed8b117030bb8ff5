// The file format of the in-memory registry's saved keys (SaveKey, LoadKey,
// ReplaceKey). It is the model's own: a text that round-trips a key tree
// exactly, names, value data, write times and security included, and that
// reads as corrupt (ERROR_NOT_REGISTRY_FILE) unless it is complete.
//
//   QUENLO MODEL HIVE 1
//   key <path> <lastWrite> <owner> <dacl>     one per key, parents first
//   value <name> <type> <data>                the key's values, in order
//   end <number of keys>
//
// Paths (relative to the saved key, "-" for the key itself), names, owners
// and DACLs are written as hex of their UTF-8 bytes, data as hex of its raw
// bytes ("-" for none), so no text can break a line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace qp::mem {

struct HiveValue {
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
};

struct HiveKey {
  std::string name; // empty for the saved key itself
  std::uint64_t lastWrite = 0;
  std::string owner;
  std::string dacl;
  std::vector<HiveValue> values;
  std::vector<HiveKey> subKeys;
};

std::string WriteHive(const HiveKey &root);
// nullopt for anything but a complete file written by WriteHive.
std::optional<HiveKey> ReadHive(std::string_view text);

} // namespace qp::mem
