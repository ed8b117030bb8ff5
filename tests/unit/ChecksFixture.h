// Fixture for the category checks: runs a real scan of chosen categories on
// the in-memory Windows and lists the findings as compact, sortable lines.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "TestPlatform.h"
#include "scanner/uRegScanner.h"

namespace quenlo::test {

class ChecksTest : public MemoryTest {
protected:
  using View = qp::mem::View;

  // "test kKind aAction ROOT path [value] target (data)", "+64" for the
  // 64-bit view, "/0xNNNN" when the action set holds more than the action;
  // key paths below Software\Classes are shortened to "~".
  static std::string Line(const TRegError &e) {
    std::string path = e.KeyPath;
    if (path.rfind("Software\\Classes\\", 0) == 0)
      path = "~" + path.substr(17);
    std::string line =
        std::to_string(e.TestId) + " k" + std::to_string(e.Kind) + " a" + std::to_string(e.Action);
    if (e.Actions.ToBits() != (1u << e.Action)) {
      char bits[16];
      std::snprintf(bits, sizeof bits, "/0x%04x", e.Actions.ToBits());
      line += bits;
    }
    line += " " + RootKeyShortName(e.RootKey) + " " + path + " [" + e.ValueName + "] " + e.Target +
            " (" + e.Data + ")";
    if (e.View64 != 0)
      line += " +64";
    return line;
  }

  // Scans the categories; findings of all of them, sorted.
  std::vector<std::string> Scan(TCategorySet categories) {
    TRegScanner scanner(main);
    scanner.SetScanCategories(categories);
    scanner.StartScan();
    while (scanner.IsScanning())
      main.PumpWait(std::chrono::milliseconds(5));
    std::vector<std::string> lines;
    tests = 0;
    for (int c = 0; c < CategoryCount; ++c) {
      if (!categories.Contains(static_cast<TErrorCategory>(c)))
        continue;
      tests += scanner.TestCount(c);
      for (const TRegError *e : scanner.Errors().CategoryList(c))
        lines.push_back(Line(*e));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }
  std::vector<std::string> Scan(TErrorCategory category) {
    return Scan(TCategorySet::Of(category));
  }
  static std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  // A class registered in both registry views.
  void RegisterClass(const std::string &id) {
    for (const View view : {View::V32, View::V64})
      reg.CreateKey(view, "HKLM\\Software\\Classes\\CLSID\\" + id);
  }
  // A string value in the 64-bit view (shared keys are the same in both).
  void Set(const std::string &key, const std::string &name, const std::string &value) {
    reg.SetString(View::V64, key, name, value);
  }

  int tests = 0; // tests performed by the last scan (the scanner's figure)
  qp::TMainThread main;
};

} // namespace quenlo::test
