// Shared by the tests of the Windows and Internet Explorer handlers: one
// handler run on its own in either mode, and a dump of the machine that
// tells whether anything changed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
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

} // namespace quenlo::test
