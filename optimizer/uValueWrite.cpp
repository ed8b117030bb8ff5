#include "optimizer/uValueWrite.h"

#include "platform/Utf.h"
#include "undo/uUndoSnapshot.h"
#include "undo/uUndoTransaction.h"

namespace quenlo {

namespace {

qp::IRegistry &Reg() {
  return qp::Platform().Registry();
}

std::string Describe(const TValueLocation &where) {
  return RootKeyShortName(where.root) + "\\" + where.keyPath + " \"" + where.name + "\"";
}

} // namespace

qp::Bytes StringData(std::string_view text) {
  qp::Bytes data = qp::Utf8ToRawUtf16(text);
  data.push_back(0);
  data.push_back(0);
  return data;
}

qp::Bytes DwordData(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

bool ReadRawValue(const TValueLocation &where, std::optional<TRawValue> &value,
                  std::string &errorText) {
  value.reset();
  ScopedKey key;
  long st = Reg().OpenKey(where.root, where.keyPath, wc::KeyRead | ViewFlag(where.view), key.Out());
  if (st == wc::ErrorFileNotFound)
    return true;
  if (st != wc::ErrorSuccess) {
    errorText = "RegOpenKeyEx: " + SysErrorMessage(st) + " " + Describe(where);
    return false;
  }
  TRawValue raw;
  st = Reg().QueryValue(key.Get(), where.name, &raw.type, &raw.data, nullptr);
  if (st == wc::ErrorFileNotFound)
    return true;
  if (st != wc::ErrorSuccess) {
    errorText = "RegQueryValueEx: " + SysErrorMessage(st) + " " + Describe(where);
    return false;
  }
  value = std::move(raw);
  return true;
}

bool WriteValueUndoably(const TUndoFolder &undo, const TValueLocation &where,
                        const std::optional<TRawValue> &value, std::string &errorText) {
  std::optional<TRawValue> current;
  if (!ReadRawValue(where, current, errorText))
    return false;
  if (current == value)
    return true; // nothing to change, nothing to back up

  const std::uint32_t access = wc::KeyRead | wc::KeySetValue | ViewFlag(where.view);
  ScopedKey key;
  long st = value ? Reg().CreateKey(where.root, where.keyPath, access, key.Out(), nullptr)
                  : Reg().OpenKey(where.root, where.keyPath, access, key.Out());
  if (st != wc::ErrorSuccess) {
    errorText = (value ? "RegCreateKeyEx: " : "RegOpenKeyEx: ") + SysErrorMessage(st) + " " +
                Describe(where);
    return false;
  }

  const TUndoKey undoKey{.root = where.root, .view = where.view, .path = where.keyPath};
  TValueSnapshot snapshot(key, {where.name});
  TUndoPlan plan{
      .backup = current ? ValuesBackup(undoKey, key, {where.name})
                        : CreatedValueBackup(undoKey, where.name),
      .snapshot = snapshot,
      .change =
          [&](std::string &changeError) {
            const long rc = value ? Reg().SetValue(key.Get(), where.name, value->type, value->data)
                                  : Reg().DeleteValue(key.Get(), where.name);
            if (rc == wc::ErrorSuccess)
              return true;
            changeError = (value ? "RegSetValueEx: " : "RegDeleteValue: ") + SysErrorMessage(rc) +
                          " " + Describe(where);
            return false;
          },
  };
  TUndoTransaction transaction(undo, undoKey);
  return transaction.Run(plan, errorText);
}

} // namespace quenlo
