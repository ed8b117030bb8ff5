// The scanner component: categories to scan, the ignore list, the error list,
// per-category statistics and the worker thread's life cycle. Everything here
// runs on the main thread; the worker hands findings and progress over
// synchronously.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/MainThread.h"
#include "scanner/uRegErrorList.h"
#include "scanner/uScanThread.h"

namespace quenlo {

using TScanProgressEvent = std::function<void(const std::string &location,
                                              TErrorCategory category, int categoryProgress,
                                              int totalProgress)>;

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
  bool ResultsAvailable() const { return resultsAvailable_; }

  int HealthPercent() const;
  std::string StatsToText() const;
  void StatsFromText(const std::string &text);
  std::string ValueLocationText(const TRegError &error) const;

  // The checks the worker runs; tests replace them.
  void SetChecks(const TCategoryChecks &checks) { checks_ = checks; }

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
  std::array<int, CategoryCount> testCount_{};
  std::array<int, CategoryCount> remainingCount_{};
  std::array<int, CategoryCount> adjustment_{};
  bool fullScanDone_ = false;
  bool resultsAvailable_ = false;
  bool destroying_ = false;
};

} // namespace quenlo
