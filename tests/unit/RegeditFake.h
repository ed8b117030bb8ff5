// A registry editor (regedit.exe and reg.exe) for the in-memory platform:
// answers "/e FILE KEY" by writing the key to a .REG file and "/s FILE" (and
// "reg.exe import FILE /reg:32") by importing it into the editor's view.
#pragma once

#include <string>
#include <vector>

#include "platform/Utf.h"
#include "platform/memory/MemoryPlatform.h"
#include "registry/uRegFile.h"

namespace quenlo::test {

class RegeditFake {
public:
  enum class Mode {
    Normal,
    Fail,   // exits with 1 without doing anything
    Silent, // exits with 0 without doing anything (as Wine's editor may)
    Lossy   // exports with the last value of each key missing; exit 0
  };

  explicit RegeditFake(qp::mem::MemoryPlatform &platform) : platform_(platform) {
    platform.Procs().SetHandler([this](std::string_view line) { return Run(std::string(line)); });
  }
  ~RegeditFake() { platform_.Procs().SetHandler(nullptr); }
  RegeditFake(const RegeditFake &) = delete;
  RegeditFake &operator=(const RegeditFake &) = delete;

  Mode mode = Mode::Normal;
  // Each import as "<view>:<file>", view 32 or 64.
  std::vector<std::string> imports;
  int exports = 0;

private:
  static std::vector<std::string> Tokens(const std::string &line) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
      if (line[i] == ' ') {
        ++i;
        continue;
      }
      std::string token;
      if (line[i] == '"') {
        const std::size_t end = line.find('"', i + 1);
        token = line.substr(i + 1, end - i - 1);
        i = end == std::string::npos ? line.size() : end + 1;
      } else {
        const std::size_t end = line.find(' ', i);
        token = line.substr(i, end - i);
        i = end == std::string::npos ? line.size() : end;
      }
      tokens.push_back(token);
    }
    return tokens;
  }

  qp::ProcessResult Run(const std::string &line) {
    qp::ProcessResult result;
    result.started = true;
    const std::vector<std::string> t = Tokens(line);
    if (mode == Mode::Fail) {
      result.exitCode = 1;
      return result;
    }
    if (t.size() < 3) {
      result.exitCode = 1;
      return result;
    }
    const std::string exe = qp::UpperAscii(t[0]);
    const bool reg32 = exe.find("\\SYSWOW64\\") != std::string::npos ||
                       (exe.size() >= 7 && exe.compare(exe.size() - 7, 7, "REG.EXE") == 0 &&
                        line.find("/reg:32") != std::string::npos);
    const TRegistryView view = reg32 ? rv32 : rv64;
    std::string error;
    if (t[1] == "/e" && t.size() == 4) {
      ++exports;
      if (mode == Mode::Silent)
        return result;
      const auto slash = t[3].find('\\');
      TRegFile tree;
      if (!ReadKeyTree(RootKeyFromName(t[3].substr(0, slash)), view, t[3].substr(slash + 1), tree,
                       error)) {
        result.exitCode = 1;
        return result;
      }
      if (mode == Mode::Lossy)
        for (TRegFileKey &key : tree.Keys)
          if (!key.Values.empty())
            key.Values.pop_back();
      // The system's editor writes whatever the key holds, names the
      // format cannot carry included.
      result.exitCode =
          qp::Platform().Files().WriteFile(t[2], FormatRegFile(tree)) == wc::ErrorSuccess ? 0 : 1;
      return result;
    }
    const bool isImport = t[1] == "/s" || t[1] == "import";
    if (isImport) {
      imports.push_back(std::string(reg32 ? "32:" : "64:") + t[2]);
      if (mode == Mode::Silent)
        return result;
      TRegFile file;
      result.exitCode = ReadRegFile(t[2], file, error) && ApplyRegFile(file, view, error) ? 0 : 1;
      return result;
    }
    result.exitCode = 1;
    return result;
  }

  qp::mem::MemoryPlatform &platform_;
};

// The registry below a physical key as sorted lines ("key|value=type:data"),
// so that the order of values and keys does not matter.
inline std::string CanonicalDump(const qp::mem::MemoryRegistry &reg, std::string_view root) {
  const std::string dump = reg.Dump(root);
  std::vector<std::string> lines;
  std::string key;
  std::size_t start = 0;
  while (start < dump.size()) {
    std::size_t end = dump.find('\n', start);
    if (end == std::string::npos)
      end = dump.size();
    const std::string line = dump.substr(start, end - start);
    if (!line.empty() && line.front() == '[') {
      key = line;
      lines.push_back(qp::UpperAscii(line));
    } else {
      lines.push_back(qp::UpperAscii(key) + "|" + line);
    }
    start = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string &l : lines)
    out += l + "\n";
  return out;
}

} // namespace quenlo::test
