#include "undo/uUndoSnapshot.h"

namespace quenlo {

bool TKeyTreeSnapshot::Take(std::string &errorText) {
  return ReadKeyTree(key_.root, key_.view, key_.path, before_, errorText);
}

bool TKeyTreeSnapshot::Unchanged() const {
  TRegFile after;
  std::string ignored;
  return ReadKeyTree(key_.root, key_.view, key_.path, after, ignored) &&
         SameRegContent(before_, after, ignored);
}

TUndoValueState ReadValueState(qp::HKey key, std::string_view name) {
  TUndoValueState state;
  std::uint32_t type = 0;
  qp::Bytes data;
  const long st = qp::Platform().Registry().QueryValue(key, name, &type, &data, nullptr);
  if (st == wc::ErrorFileNotFound) {
    state.readable = true;
  } else if (st == wc::ErrorSuccess) {
    state.readable = true;
    state.value = std::make_pair(type, std::move(data));
  }
  return state;
}

bool SameValueState(const TUndoValueState &a, const TUndoValueState &b) {
  return a.readable && b.readable && a.value == b.value;
}

bool TValueSnapshot::Take(std::string &) {
  before_.clear();
  for (const std::string &name : names_)
    before_.push_back(ReadValueState(key_.Get(), name));
  return true;
}

bool TValueSnapshot::Unchanged() const {
  if (before_.size() != names_.size())
    return false; // never taken
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (!SameValueState(ReadValueState(key_.Get(), names_[i]), before_[i]))
      return false;
  return true;
}

} // namespace quenlo
