// What a change may alter, read before it is made, so that after a failed
// change the registry can be proved unchanged. The proof must be strict: a
// state that cannot be read, before or after, never counts as unchanged,
// because taking a backup back on a wrong "unchanged" would lose the only
// copy of what the change destroyed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ScopedKey.h"
#include "registry/uRegFile.h"
#include "undo/uUndoBackup.h"

namespace quenlo {

class IUndoSnapshot {
public:
  virtual ~IUndoSnapshot() = default;
  // Reads the state before the change. False (with the reason) when the
  // change must not be made because its effect could not be judged.
  [[nodiscard]] virtual bool Take(std::string &errorText) = 0;
  // True only when the registry provably holds what Take read.
  [[nodiscard]] virtual bool Unchanged() const = 0;
};

// A key and its whole subtree. Take fails when the tree cannot be read.
class TKeyTreeSnapshot final : public IUndoSnapshot {
public:
  explicit TKeyTreeSnapshot(TUndoKey key) : key_(std::move(key)) {}
  [[nodiscard]] bool Take(std::string &errorText) override;
  [[nodiscard]] bool Unchanged() const override;

private:
  TUndoKey key_;
  TRegFile before_;
};

// A value's state: its type and bytes, or nothing when it does not exist.
struct TUndoValueState {
  bool readable = false;
  std::optional<std::pair<std::uint32_t, qp::Bytes>> value;
};
[[nodiscard]] TUndoValueState ReadValueState(qp::HKey key, std::string_view name);
// Both states were read and are the same (an unreadable state is never the
// same as anything, itself included).
[[nodiscard]] bool SameValueState(const TUndoValueState &a, const TUndoValueState &b);

// Named values of an open key. Take never fails: a value that cannot be
// read is recorded as such and then never counts as unchanged. The key is
// read through the caller's handle at each call, so a handle closed by the
// change reads as unreadable rather than as whatever key reused its number.
class TValueSnapshot final : public IUndoSnapshot {
public:
  TValueSnapshot(const qp::ScopedKey &key, std::vector<std::string> names)
      : key_(key), names_(std::move(names)) {}
  [[nodiscard]] bool Take(std::string &errorText) override;
  [[nodiscard]] bool Unchanged() const override;
  // The state Take read for names[index].
  const TUndoValueState &Before(std::size_t index) const { return before_.at(index); }

private:
  const qp::ScopedKey &key_;
  std::vector<std::string> names_;
  std::vector<TUndoValueState> before_;
};

} // namespace quenlo
