// The snapshot of one watched key's direct content (its subkey names and
// its values) and the comparison of two snapshots into the changes a user
// is shown.
//
// Every value is digested whole (MD5 over all its data bytes, however
// large), so a value that grows past any buffer size is seen as changed,
// never as deleted. To show what changed, a snapshot also keeps the data of
// small values, within a per-key budget: memory stays bounded whatever the
// key holds, and a value whose data was not kept is still compared by its
// digest, its type and its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "registry/uRegAccess.h"

namespace quenlo {

// The kinds of change, in this order (the numbers are stored nowhere but
// are part of the event's meaning for scripts that read the names).
enum TKeyEventType : std::uint8_t {
  keCreateSubkey = 0,
  keDeleteSubkey = 1,
  keCreateValue = 2,
  keDeleteValue = 3,
  keEditValue = 4,
};

// "keCreateSubkey" ... : the enumerator's name, as scripts read it.
const char *KeyEventTypeName(TKeyEventType type);
bool IsValueEvent(TKeyEventType type);

// Data of one value kept for display: at most this many bytes of one value,
// and at most KeptKeyBytes over all values of one key (values beyond the
// budget keep digest, type and size only).
inline constexpr std::size_t KeptValueBytes = 4096;
inline constexpr std::size_t KeptKeyBytes = 256 * 1024;

// One value as a snapshot knows it.
struct TValueState {
  std::uint32_t type = 0; // REG_SZ ...
  std::uint64_t size = 0; // bytes of data
  std::string digest;     // MD5 of all data bytes, 32 lower-case hex digits
  bool dataKept = false;  // data holds the whole value
  qp::Bytes data;         // raw, as the registry stores it; empty unless dataKept
  bool operator==(const TValueState &) const = default;
};

struct TSnapshotValue {
  std::string name; // empty: the default value
  TValueState state;
};

// A key that could not be opened has an empty snapshot (opened false).
// SubKeys and Values are sorted by name without case, as the registry
// compares names; no two entries share a name.
struct TKeyHash {
  bool opened = false;
  std::vector<std::string> SubKeys;
  std::vector<TSnapshotValue> Values;
};

// MD5 (RFC 1321) of the bytes as 32 lower-case hexadecimal digits.
std::string Md5Hex(const std::uint8_t *data, std::size_t size);
inline std::string Md5Hex(const qp::Bytes &data) {
  return Md5Hex(data.data(), data.size());
}

// Reads the direct content of an open key (it needs KEY_QUERY_VALUE and
// KEY_ENUMERATE_SUB_KEYS). Every value is read whole: a value that grows
// between the size query and the read is read again with room for it. A
// name or value that disappears during the read is left out. Returns the
// status of the failure that made the snapshot unusable (the key deleted,
// 1018, or access lost); out is then empty with opened false.
[[nodiscard]] long TakeKeySnapshot(qp::HKey key, TKeyHash &out);
// Opens the key in the view for reading, snapshots it and closes it. A key
// that does not open gives an empty snapshot and the open's status.
[[nodiscard]] long TakeKeySnapshot(std::uint32_t root, TRegistryView view, std::string_view path,
                                   TKeyHash &out);

// One difference between two snapshots of the same key.
struct TKeyDifference {
  TKeyEventType type = keCreateSubkey;
  std::string name;                  // subkey or value name ("" = default value)
  std::optional<TValueState> before; // value events except keCreateValue
  std::optional<TValueState> after;  // value events except keDeleteValue
};

// The changes from before to after, in this order: subkeys created,
// subkeys deleted, values created, then the old values in name order, each
// deleted or changed. A value counts as changed when its digest, its size
// or its type differs (a change of type alone is a change). Names are
// compared without case.
std::vector<TKeyDifference> CompareKeyHashes(const TKeyHash &before, const TKeyHash &after);

} // namespace quenlo
