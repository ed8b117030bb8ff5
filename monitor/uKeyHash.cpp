#include "uKeyHash.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>

#include "platform/ScopedKey.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr std::size_t kMd5Bytes = 16;
// Windows' subkey names fit 255 units and the NUL; Wine allows 256, and
// such a name (ERROR_MORE_DATA) is read again with room to spare.
constexpr std::uint32_t kSubKeyNameCapacity = 256;
constexpr std::uint32_t kLongSubKeyNameCapacity = 32768;
// A value name has at most 16383 units.
constexpr std::uint32_t kMaxValueNameCapacity = 16384;
// A value that keeps growing faster than it can be read fails the snapshot
// after this many tries (the next change notification brings it back).
constexpr int kValueReadTries = 8;

// libgcrypt must be initialised once before any use, from whichever thread
// comes first; a function-local static makes that thread-safe.
void InitGcrypt() {
  static const bool ready = [] {
    if (gcry_check_version(GCRYPT_VERSION) == nullptr)
      return false;
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return true;
  }();
  (void)ready;
}

// Registry names compare without case; the snapshot's order and its
// look-ups both go through this one key.
std::string NameKey(std::string_view name) {
  return qp::UpperAscii(name);
}

// Reads the value at index whole. Returns 0, ERROR_NO_MORE_ITEMS at the end,
// or the failure; a value that does not fit after the bounded tries gives
// ERROR_MORE_DATA.
long ReadValueAt(qp::IRegistry &reg, qp::HKey key, std::uint32_t index, std::uint32_t nameCap,
                 std::uint32_t dataCap, std::string &name, std::uint32_t &type, qp::Bytes &data) {
  long st = wc::ErrorMoreData;
  for (int attempt = 0; attempt < kValueReadTries && st == wc::ErrorMoreData; ++attempt) {
    st = reg.EnumValue(key, index, nameCap, dataCap, name, type, data);
    if (st != wc::ErrorMoreData)
      break;
    // Grown since the size query: ask again and take at least twice the room.
    qp::KeyInfo info;
    if (const long q = reg.QueryInfoKey(key, info); q != wc::ErrorSuccess)
      return q;
    nameCap = std::min(kMaxValueNameCapacity,
                       std::max(nameCap, std::max(info.maxValueNameLen + 1, nameCap * 2)));
    const std::uint64_t grown = std::max<std::uint64_t>(
        info.maxValueLen, std::max<std::uint64_t>(std::uint64_t{dataCap} * 2, 256));
    dataCap = static_cast<std::uint32_t>(std::min<std::uint64_t>(grown, 0xFFFFFFFFu));
  }
  return st;
}

} // namespace

const char *KeyEventTypeName(TKeyEventType type) {
  switch (type) {
  case keCreateSubkey:
    return "keCreateSubkey";
  case keDeleteSubkey:
    return "keDeleteSubkey";
  case keCreateValue:
    return "keCreateValue";
  case keDeleteValue:
    return "keDeleteValue";
  case keEditValue:
    return "keEditValue";
  }
  return "";
}

bool IsValueEvent(TKeyEventType type) {
  return type == keCreateValue || type == keDeleteValue || type == keEditValue;
}

std::string Md5Hex(const std::uint8_t *data, std::size_t size) {
  InitGcrypt();
  std::array<unsigned char, kMd5Bytes> digest{};
  static const std::uint8_t kNoData = 0;
  gcry_md_hash_buffer(GCRY_MD_MD5, digest.data(), size == 0 ? &kNoData : data, size);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(kMd5Bytes * 2);
  for (unsigned char b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

long TakeKeySnapshot(qp::HKey key, TKeyHash &out) {
  out = TKeyHash{};
  qp::IRegistry &reg = qp::Platform().Registry();
  qp::KeyInfo info;
  if (const long st = reg.QueryInfoKey(key, info); st != wc::ErrorSuccess)
    return st;

  TKeyHash snap;
  snap.opened = true;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    long st = reg.EnumKey(key, index, kSubKeyNameCapacity, name);
    if (st == wc::ErrorMoreData)
      st = reg.EnumKey(key, index, kLongSubKeyNameCapacity, name);
    if (st == wc::ErrorNoMoreItems)
      break;
    if (st != wc::ErrorSuccess)
      return st;
    snap.SubKeys.push_back(std::move(name));
  }

  std::uint32_t nameCap = std::min(kMaxValueNameCapacity, info.maxValueNameLen + 1);
  std::uint32_t dataCap = info.maxValueLen;
  std::size_t keptBytes = 0;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    std::uint32_t type = 0;
    qp::Bytes data;
    const long st = ReadValueAt(reg, key, index, nameCap, dataCap, name, type, data);
    if (st == wc::ErrorNoMoreItems)
      break;
    // A value still growing after every try fails the whole snapshot rather
    // than being left out of it, which would report it deleted: the key keeps
    // its last snapshot and the change that grew it signals again.
    if (st != wc::ErrorSuccess)
      return st;
    nameCap = std::max(nameCap, static_cast<std::uint32_t>(qp::Utf16Length(name) + 1));
    dataCap = std::max(dataCap, static_cast<std::uint32_t>(data.size()));
    TSnapshotValue value;
    value.name = std::move(name);
    value.state.type = type;
    value.state.size = data.size();
    value.state.digest = Md5Hex(data);
    if (data.size() <= KeptValueBytes && keptBytes + data.size() <= KeptKeyBytes) {
      keptBytes += data.size();
      value.state.dataKept = true;
      value.state.data = std::move(data);
    }
    snap.Values.push_back(std::move(value));
  }

  // Sorted and without duplicates (an index that shifted under a concurrent
  // delete can list one name twice).
  std::stable_sort(
      snap.SubKeys.begin(), snap.SubKeys.end(),
      [](const std::string &a, const std::string &b) { return NameKey(a) < NameKey(b); });
  snap.SubKeys.erase(std::unique(snap.SubKeys.begin(), snap.SubKeys.end(),
                                 [](const std::string &a, const std::string &b) {
                                   return qp::EqualsNoCase(a, b);
                                 }),
                     snap.SubKeys.end());
  std::stable_sort(snap.Values.begin(), snap.Values.end(),
                   [](const TSnapshotValue &a, const TSnapshotValue &b) {
                     return NameKey(a.name) < NameKey(b.name);
                   });
  snap.Values.erase(std::unique(snap.Values.begin(), snap.Values.end(),
                                [](const TSnapshotValue &a, const TSnapshotValue &b) {
                                  return qp::EqualsNoCase(a.name, b.name);
                                }),
                    snap.Values.end());
  out = std::move(snap);
  return wc::ErrorSuccess;
}

long TakeKeySnapshot(std::uint32_t root, TRegistryView view, std::string_view path, TKeyHash &out) {
  out = TKeyHash{};
  qp::ScopedKey key;
  const long st = qp::Platform().Registry().OpenKey(
      root, path, wc::KeyQueryValue | wc::KeyEnumerateSubKeys | ViewFlag(view), key.Out());
  if (st != wc::ErrorSuccess)
    return st;
  return TakeKeySnapshot(key.Get(), out);
}

std::vector<TKeyDifference> CompareKeyHashes(const TKeyHash &before, const TKeyHash &after) {
  std::vector<TKeyDifference> out;
  const auto less = [](std::string_view a, std::string_view b) { return NameKey(a) < NameKey(b); };
  const auto hasName = [&](const std::vector<std::string> &names, const std::string &name) {
    return std::binary_search(
        names.begin(), names.end(), name,
        [&](const std::string &a, const std::string &b) { return less(a, b); });
  };
  for (const std::string &name : after.SubKeys)
    if (!hasName(before.SubKeys, name))
      out.push_back(TKeyDifference{keCreateSubkey, name, std::nullopt, std::nullopt});
  for (const std::string &name : before.SubKeys)
    if (!hasName(after.SubKeys, name))
      out.push_back(TKeyDifference{keDeleteSubkey, name, std::nullopt, std::nullopt});

  const auto findValue = [&](const std::vector<TSnapshotValue> &values,
                             const std::string &name) -> const TSnapshotValue * {
    auto it = std::lower_bound(
        values.begin(), values.end(), name,
        [&](const TSnapshotValue &v, const std::string &n) { return less(v.name, n); });
    return it != values.end() && !less(name, it->name) ? &*it : nullptr;
  };
  for (const TSnapshotValue &value : after.Values)
    if (findValue(before.Values, value.name) == nullptr)
      out.push_back(TKeyDifference{keCreateValue, value.name, std::nullopt, value.state});
  for (const TSnapshotValue &old : before.Values) {
    const TSnapshotValue *now = findValue(after.Values, old.name);
    if (now == nullptr) {
      out.push_back(TKeyDifference{keDeleteValue, old.name, old.state, std::nullopt});
    } else if (now->state.digest != old.state.digest || now->state.size != old.state.size ||
               now->state.type != old.state.type) {
      out.push_back(TKeyDifference{keEditValue, old.name, old.state, now->state});
    }
  }
  return out;
}

} // namespace quenlo
