// A scripted stand-in for the four hive calls the defragmenter makes. It
// works on the in-memory file system, so that what becomes of the work
// folder can be looked at: a backup writes one file into the folder and
// records which state of the registry (a number the test moves on) it
// saved; a restore records which saved state it handed over and, when
// told, leaves the folder pending as Windows' replacements would.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "optimizer/uDefrag.h"
#include "platform/memory/MemoryPlatform.h"

namespace quenlo::test {

class HiveCallsFake final : public IHiveCalls {
public:
  explicit HiveCallsFake(qp::mem::MemoryFileSystem &fs) : fs_(&fs) {}

  bool Backup(const THiveBackupRequest &request, THiveBackupResult &result) override {
    calls.push_back("Backup");
    if (fs_->Exists(request.folder + "\\0")) {
      result.errorText = "RegSaveKey: Cannot create a file when that file already exists.";
      return false; // as Windows: a save never overwrites
    }
    if (!backupOk) {
      result.errorText = backupError;
      return false;
    }
    fs_->AddFile(request.folder + "\\0", "hive of state " + std::to_string(registryState));
    savedState = registryState;
    if (request.progress) {
      request.progress(100, 50);
      request.progress(100, 100);
    }
    result.saved = 1;
    return true;
  }
  bool Compare(std::string_view, THiveComparison &comparison) override {
    calls.push_back("Compare");
    comparison = this->comparison;
    return comparison.reason == hcOk;
  }
  bool Restore(std::string_view, const THiveProgress &progress,
               THiveRestoreResult &result) override {
    calls.push_back("Restore");
    if (onRestore)
      onRestore();
    if (progress) {
      progress(100, 0);
      progress(100, 100);
    }
    restoredState = savedState;
    result.replaced = replaced;
    pending = pending || replaced > 0;
    result.errorText = restoreError;
    return restoreOk;
  }
  bool ReplacementPending(std::string_view) override {
    ++pendingAsked;
    return pending;
  }

  // Script.
  bool backupOk = true;
  std::string backupError;
  THiveComparison comparison{.current = 1000, .backup = 750, .reason = hcOk};
  bool restoreOk = true;
  std::string restoreError;
  int replaced = 1;
  bool pending = false;
  std::function<void()> onRestore;
  int registryState = 1;

  // Record.
  std::vector<std::string> calls;
  int savedState = 0;
  int restoredState = 0;
  int pendingAsked = 0;

private:
  qp::mem::MemoryFileSystem *fs_; // a pointer: scripts are assigned afresh
};

} // namespace quenlo::test
