// Findings put straight into a scanner's list for the page-logic tests.
#pragma once

#include <memory>
#include <string>

#include "platform/WinConst.h"
#include "scanner/uRegScanner.h"

namespace quenlo::test {

struct FindingSpec {
  TErrorCategory category = ecStartup;
  std::string key = "Software\\A"; // below HKLM
  std::string value = "v";
  TRegErrorKind kind = ekInvalidPath;
  TRepairAction action = raDeleteValue;
  std::string target = "C:\\missing.exe";
  std::string data = "C:\\missing.exe";
};

inline TRegError &AddFinding(TRegScanner &scanner, const FindingSpec &spec) {
  TRegErrorInfo info;
  info.View64 = 1;
  info.RootKey = wc::HkeyLocalMachine;
  info.KeyPath = spec.key;
  info.ValueName = spec.value;
  info.Target = spec.target;
  info.Data = spec.data;
  info.Category = spec.category;
  info.Kind = spec.kind;
  info.Action = spec.action;
  info.Actions = TRepairActionSet::Of(spec.action);
  const int index = scanner.Errors().Add(std::make_unique<TRegError>(info));
  return *scanner.Errors().Items(index);
}

} // namespace quenlo::test
