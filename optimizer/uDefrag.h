// The registry defragmenter's engine: every hive saved to the work folder
// (Windows writes the copies without free gaps), the saved sizes compared
// with the live files, and - in one step, so that nothing changed in the
// registry between a save and its use is lost - saved again, compared and
// handed to Windows to load at the next start.
//
// The work folder is the settings folder + "\Temp". Once a replacement was
// accepted it holds the only copy of the old registry (the ".BAK" files)
// and the compact hives Windows loads at the restart; while that is pending
// (HiveReplacementPending) no step of this unit deletes it or starts
// another run in it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "optimizer/uHiveBackup.h"

namespace quenlo {

inline constexpr const char *kDefragWorkFolderTitle = "Temp";
// settingsFolder + "\Temp".
std::string DefragWorkFolder(std::string_view settingsFolder);

// The four hive calls the defragmenter makes, so that the page's tests can
// script them. THiveCalls::System() answers with uHiveBackup.h's functions.
class IHiveCalls {
public:
  virtual ~IHiveCalls() = default;
  [[nodiscard]] virtual bool Backup(const THiveBackupRequest &request,
                                    THiveBackupResult &result) = 0;
  [[nodiscard]] virtual bool Compare(std::string_view folder, THiveComparison &comparison) = 0;
  [[nodiscard]] virtual bool Restore(std::string_view folder, const THiveProgress &progress,
                                     THiveRestoreResult &result) = 0;
  [[nodiscard]] virtual bool ReplacementPending(std::string_view folder) = 0;
};
IHiveCalls &SystemHiveCalls();

// What a step ended with. The codes are the ones the failure report shows.
enum TDefragOutcome : std::uint16_t {
  doOk = 0,
  doPending = 1,          // replacements wait for a restart: refused, nothing touched
  doBackupFailed = 1001,  // saving the hives failed
  doRestoreFailed = 1002, // handing the copies to Windows failed
  doCompareFailed = 1005, // the sizes could not be compared
};

struct TDefragStep {
  TDefragOutcome outcome = doOk;
  THiveComparison comparison; // the sizes when the comparison ran
  std::string errorText;      // the failure report's text (may be empty)
  int replaced = 0;           // hives handed to Windows
  [[nodiscard]] bool Ok() const { return outcome == doOk; }
};

struct TDefragRequest {
  std::string folder;     // the work folder
  THiveProgress progress; // may be empty
  const std::atomic<bool> *terminate = nullptr;
};

// True when replacements in the folder wait for a restart.
[[nodiscard]] bool DefragPending(IHiveCalls &hives, std::string_view folder);
// Deletes the work folder (not to the recycle bin) unless replacements in
// it are pending. True when it is gone, or was kept because it is pending.
[[nodiscard]] bool DiscardWorkFolder(IHiveCalls &hives, std::string_view folder);

// The analysis: refused while pending; otherwise the work folder is cleared,
// every hive saved into it and the sizes compared.
TDefragStep AnalyzeRegistry(IHiveCalls &hives, const TDefragRequest &request);
// The defragmentation: refused while pending; otherwise saved afresh,
// compared (a backup larger than the live hives stops it) and replaced, in
// one run. Partly replaced hives leave the folder pending.
TDefragStep DefragmentRegistry(IHiveCalls &hives, const TDefragRequest &request);

// The analysis dialog's numbers for live size L and compacted size K.
struct TDefragNumbers {
  int usedPercent = 100;       // K x 100 / L rounded, at most 100; 100 when L is 0
  int freePercent = 0;         // 100 - used; 0 when L is 0
  std::uint64_t usedBytes = 0; // K
  std::uint64_t freeBytes = 0; // L - K (0 when K > L)
  int pieResource = 10000;     // 10000 + 5 x ((free x 3.6 rounded) div 5)
  bool nothingToDo = true;     // free is 0
};
TDefragNumbers DefragNumbers(std::uint64_t liveSize, std::uint64_t compactSize);

} // namespace quenlo
