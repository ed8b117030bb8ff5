// Findings put straight into a scanner's list for the page-logic tests.
#pragma once

#include <memory>
#include <string>

#include "platform/WinConst.h"
#include "scanner/uRegScanner.h"

namespace quenlo::test {

struct FindingFields {
  TErrorCategory category = ecStartup;
  std::string key = "Software\\A"; // below HKLM
  std::string value = "v";
  TRegErrorKind kind = ekInvalidPath;
  TRepairAction action = raDeleteValue;
  std::string target = "C:\\missing.exe";
  std::string data = "C:\\missing.exe";
};

inline TRegError &AddFinding(TRegScanner &scanner, const FindingFields &fields) {
  TRegErrorInfo info;
  info.View64 = 1;
  info.RootKey = wc::HkeyLocalMachine;
  info.KeyPath = fields.key;
  info.ValueName = fields.value;
  info.Target = fields.target;
  info.Data = fields.data;
  info.Category = fields.category;
  info.Kind = fields.kind;
  info.Action = fields.action;
  info.Actions = TRepairActionSet::Of(fields.action);
  const int index = scanner.Errors().Add(std::make_unique<TRegError>(info));
  return *scanner.Errors().Items(index);
}

} // namespace quenlo::test
