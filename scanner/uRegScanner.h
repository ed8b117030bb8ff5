// The scanner component: categories to scan, the ignore list, the error list,
// per-category statistics and the worker thread's life cycle. Everything here
// runs on the main thread; the worker hands findings and progress over
// synchronously.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/MainThread.h"
#include "scanner/uRegErrorList.h"
#include "scanner/uScanThread.h"
#include "scanner/uUndoStore.h"

namespace quenlo {

using TScanProgressEvent = std::function<void(const std::string &location, TErrorCategory category,
                                              int categoryProgress, int totalProgress)>;

class TRegScanner {
public:
  explicit TRegScanner(qp::TMainThread &mainThread = qp::MainThread());
  ~TRegScanner();
  TRegScanner(const TRegScanner &) = delete;
  TRegScanner &operator=(const TRegScanner &) = delete;

  TCategorySet ScanCategories() const { return scanCategories_; }
  void SetScanCategories(TCategorySet categories); // ignored while scanning
  const std::vector<std::string> &IgnoreList() const { return ignoreList_; }
  void SetIgnoreList(const std::vector<std::string> &lines) { ignoreList_ = lines; }
  const std::string &UndoFolder() const { return undoFolder_; }
  void SetUndoFolder(const std::string &folder);

  TScanProgressEvent OnProgress;
  std::function<void(TRegScanner &)> OnScanComplete;

  void StartScan();
  void StopScan();
  bool IsScanning() const { return thread_ != nullptr; }
  void ClearResults();

  TErrorList &Errors() { return *errors_; }
  const TErrorList &Errors() const { return *errors_; }
  int ErrorCount() const { return errors_->Count(); }
  int CategoryErrorCount(int category) const { return errors_->CategoryErrorCount(category); }
  int CategoryCheckedCount(int category) const { return errors_->CheckedCount(category); }
  int CheckedTotal() const { return errors_->CheckedTotal(); }
  int GroupCheckedCount(int group) const { return errors_->GroupCheckedCount(group); }
  int GroupErrorCount(int group) const { return errors_->GroupErrorCount(group); }
  TRegError *ErrorAt(int category, int index) const;

  void RegisterChanges(TRegScannerChangeLink &link);
  void UnregisterChanges(TRegScannerChangeLink &link);

  int IgnoredCount() const { return ignoredCount_; }
  int TestCount(int category) const { return testCount_[category]; }
  int RemainingCount(int category) const { return remainingCount_[category]; }
  void SetRemainingCount(int category, int count) { remainingCount_[category] = count; }
  bool FullScanDone() const { return fullScanDone_; }
  // Why the last scan ended early (a check or a handover failed); else empty.
  const std::string &ScanFailure() const { return scanFailure_; }
  bool ResultsAvailable() const { return resultsAvailable_; }

  int HealthPercent() const;
  std::string StatsToText() const;
  void StatsFromText(const std::string &text);
  std::string ValueLocationText(const TRegError &error) const;

  // The checks the worker runs; tests replace them.
  void SetChecks(const TCategoryChecks &checks) { checks_ = checks; }

  // ---- Repair and undo backups (uRepair.cpp)
  // Repairs one error after saving what changes in the undo folder. On
  // failure the error text names the failing step; the registry is then
  // either unchanged or its backup is present and named in "index.txt".
  [[nodiscard]] bool RepairError(std::string &errorText, TRegError &error);
  // Appends "name=ROOT\path" for the backup to "index.txt" in its folder.
  [[nodiscard]] bool AppendIndexLine(const std::string &backupFile, const TRegError &error);
  // The clock that names backups; tests replace it.
  void SetUndoClock(TUndoClock clock) { undoClock_ = std::move(clock); }

  // ---- Restore of undo backups (uUndoStore.cpp)
  // Day folders with an "index.txt", oldest first.
  void BackupDays(std::vector<std::string> &list) const;
  // The keys named in a day's index, sorted without case, each once.
  void DayEntries(const std::string &day, std::vector<std::string> &list) const;
  // The FILETIME of the day's index file, or -1 when it cannot be read.
  std::int64_t DayIndexAge(const std::string &day) const;
  // Moves the day folder to the recycle bin.
  [[nodiscard]] bool DeleteDay(const std::string &day);
  // Imports the day's backups of the selected entries (all when null),
  // newest first; lines of failed imports stay for a later try.
  TRestoreSummary RestoreEntries(const std::string &day, const std::vector<std::string> *selection);
  // With deleteAfterWeek, moves the days whose index is more than seven
  // days old to the recycle bin; a day whose index date cannot be read stays.
  [[nodiscard]] TPurgeSummary PurgeBackupDays(bool deleteAfterWeek);

private:
  void ReceiveFinding(const TRegErrorInfo &info);
  void ReceiveProgress(const TScanProgress &progress);
  void Completion();
  bool IsDuplicate(const TRegErrorInfo &info) const;
  bool IsProtectedOrInaccessible(const TRegErrorInfo &info) const;

  qp::TMainThread &main_;
  TCategorySet scanCategories_ = AllCategories;
  std::vector<std::string> ignoreList_;
  std::unique_ptr<TErrorList> errors_;
  std::unique_ptr<TScanThread> thread_;
  std::unique_ptr<TScanThread> finished_;
  TCategoryChecks checks_;
  std::string undoFolder_;
  int ignoredCount_ = 0;
  // The identities of the findings this scan added, for the duplicate test:
  // a set, so that a scan with very many findings is not quadratic.
  std::unordered_set<std::string> listed_;
  std::array<int, CategoryCount> testCount_{};
  std::array<int, CategoryCount> remainingCount_{};
  std::array<int, CategoryCount> adjustment_{};
  bool fullScanDone_ = false;
  bool resultsAvailable_ = false;
  std::string scanFailure_;
  bool destroying_ = false;

  // ---- Repair and undo backups
  TUndoTime UndoNow() const { return undoClock_ ? undoClock_() : SystemUndoTime(); }
  [[nodiscard]] bool DoRepair(std::string &errorText, TRegError &error);
  TUndoClock undoClock_;
};

} // namespace quenlo
