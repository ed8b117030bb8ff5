// Shared by the tests of the Windows and Internet Explorer handlers: one
// handler run on its own in either mode, and a dump of the machine that
// tells whether anything changed.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "TestPlatform.h"
#include "cleaner/uCleanFiles.h"
#include "cleaner/uSysCleaner.h"
#include "platform/MainThread.h"
#include "platform/Utf.h"

namespace quenlo::test {

using qp::mem::View;

class CleanItemsTest : public MemoryTest {
protected:
  // Runs one handler as a pass of the mode would, on the test's thread.
  TPassResult Run(TCategoryHandler handler, TCleanCategory category, TScanMode mode) {
    TPassResult result;
    result.mode = mode;
    result.selected.set(category);
    std::atomic<bool> terminated{false};
    TCleanPass pass(mode, result, terminated, mainThread);
    pass.SetCurrent(category);
    result.categories[category].outcome = coNotFound;
    handler(pass);
    result.end = peComplete;
    return result;
  }

  static std::vector<std::string> Names(const std::vector<TCleanItem> &items) {
    std::vector<std::string> names;
    for (const TCleanItem &item : items)
      names.push_back(item.Name);
    return names;
  }
  static std::vector<std::string> Names(const std::vector<TCleanNote> &notes) {
    std::vector<std::string> names;
    for (const TCleanNote &note : notes)
      names.push_back(note.Name + " (" + note.Reason + ")");
    return names;
  }
  static std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  }

  // Every file and folder below a folder (links listed, never entered),
  // with attributes, size and content: what a change to the tree shows in.
  std::string FileDump(const std::string &folder) {
    std::string out;
    qp::FindData entry;
    std::vector<std::string> subfolders;
    if (auto find = fs.FindFirst(folder + "\\*", entry)) {
      do {
        if (entry.name == "." || entry.name == "..")
          continue;
        const std::string path = folder + "\\" + entry.name;
        out += path + " " + std::to_string(entry.attributes) + " " + std::to_string(entry.size);
        if ((entry.attributes & wc::FileAttributeDirectory) == 0)
          out += " " + fs.Content(path).value_or("<none>");
        out += "\n";
        if ((entry.attributes & wc::FileAttributeDirectory) != 0 &&
            (entry.attributes & kFileAttributeReparse) == 0)
          subfolders.push_back(path);
      } while (find->Next(entry));
    }
    for (const std::string &sub : subfolders)
      out += FileDump(sub);
    return out;
  }

  std::string MachineDump() { return reg.Dump() + "\n" + FileDump("C:"); }

  // UTF-16LE bytes of a text, with or without its zero character.
  static qp::Bytes Wide(std::string_view text, bool terminated = true) {
    qp::Bytes bytes = qp::Utf8ToRawUtf16(text);
    if (terminated) {
      bytes.push_back(0);
      bytes.push_back(0);
    }
    return bytes;
  }

  qp::TMainThread mainThread;
  qp::mem::MemoryDesktop &desk = platform.Desk();
  qp::mem::MemoryProcesses &procs = platform.Procs();
};

// Handlers that open real SQLite files: each database path of the
// in-memory machine exists there as a placeholder file (so that the
// handler finds it), and the pass's path map opens the host file of the
// same relative path below a temporary host folder.
class HostDatabaseTest : public CleanItemsTest {
protected:
  void SetUp() override {
    CleanItemsTest::SetUp();
    std::string pattern =
        (std::filesystem::path(::testing::TempDir()) / "quenlo-hostdb-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    host_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(host_, ignored);
    CleanItemsTest::TearDown();
  }

  // The host file a machine path leads to.
  std::string HostPath(std::string_view machinePath) const {
    std::string relative;
    for (const char c : machinePath)
      if (c != ':')
        relative += c == '\\' ? '/' : c;
    return (host_ / relative).string();
  }
  // The bytes of a host file (empty when it is not there).
  std::string HostBytes(const std::string &machinePath) const {
    std::ifstream in(HostPath(machinePath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  struct TMappedRun {
    bool deleteDownloadedFiles = false;
    // The cookie query, asked on the test's thread; may clear canDelete.
    std::function<void(const std::string &url, bool &canDelete)> onCookie;
  };
  // One handler as a pass of the mode runs it, the databases mapped.
  TPassResult RunMapped(TCategoryHandler handler, TCleanCategory category, TScanMode mode,
                        const TMappedRun &run) {
    TPassResult result;
    result.mode = mode;
    result.selected.set(category);
    std::atomic<bool> terminated{false};
    TCleanPass pass(mode, result, terminated, mainThread);
    pass.SetCurrent(category);
    pass.DatabasePathMap = [this](std::string_view path) { return HostPath(path); };
    pass.DeleteDownloadedFiles = run.deleteDownloadedFiles;
    pass.OnQueryDeleteCookie = run.onCookie;
    result.categories[category].outcome = coNotFound;
    handler(pass);
    result.end = peComplete;
    return result;
  }

  std::filesystem::path host_;
};

} // namespace quenlo::test
