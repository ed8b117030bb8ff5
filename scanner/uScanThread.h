// The scan worker: a counting pass and a scanning pass over the requested
// categories, each category's check once per registry view, findings and
// progress handed to the main thread synchronously.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/MainThread.h"
#include "registry/uRegAccess.h"
#include "scanner/uRegErrorList.h"

namespace quenlo {

class TScanThread;

// One category's check: Check(thread, access object, counting flag).
using TCategoryCheck = std::function<void(TScanThread &, TRegistryAccess &, bool)>;
using TCategoryChecks = std::array<TCategoryCheck, CategoryCount>;

// The checks the product runs; a category without a check has an empty slot.
const TCategoryChecks &DefaultCategoryChecks();

// One failed test as a check reports it; the scan thread adds where it was
// found (root and view) and the current category. Call sites name the fields
// (designated initialisers). The texts a check may leave out default to
// empty; the others have no default, so leaving one out of a designated
// initialiser is a missing-field-initializers warning, an error here.
struct TFinding {
  std::string data;           // the item the finding is shown under
  std::string keyPath;        // below the root; the file itself for a shortcut
  std::string valueName = {}; // empty: the key or its default value
  std::string target = {};    // what the entry names that is missing or wrong
  TRegErrorKind kind;
  TRepairAction action;
  TRepairActionSet actions = {}; // the repairs offered; empty: only action
  std::int32_t testId;
};

struct TScanProgress {
  std::string Location;
  TErrorCategory Category = ecShellFolders;
  int CategoryProgress = 0;
  int TotalProgress = 0;
};

// Key paths (relative to a root) the whole-registry reference walk does not
// descend into. Built once per scan; includes every HKLM\System\ControlSet???.
std::vector<std::string> BuildExclusionList();

// Sorted, case-insensitive list of texts with exact lookup.
class TSortedTextList {
public:
  void Assign(std::vector<std::string> items);
  bool Contains(std::string_view text) const;
  std::size_t Size() const { return items_.size(); }
  const std::vector<std::string> &Items() const { return items_; }

private:
  std::vector<std::string> items_; // upper-cased, sorted, unique
};

class TScanThread {
public:
  TScanThread(TCategorySet categories, const std::vector<std::string> &ignoreList,
              const TCategoryChecks &checks, qp::TMainThread &mainThread);
  ~TScanThread();
  TScanThread(const TScanThread &) = delete;
  TScanThread &operator=(const TScanThread &) = delete;

  // Callbacks into the scanner, all run on the main thread. OnTerminate is
  // queued when the thread body has ended.
  std::function<void(const TScanProgress &)> OnProgress;
  std::function<void(const TRegErrorInfo &)> OnFinding;
  std::function<void()> OnTerminate;

  void Start();
  void Terminate() { terminated_.store(true, std::memory_order_relaxed); }
  bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
  // Waits for the thread body to return (the main thread must not be
  // needed by it any more).
  void Join();

  // --- contract offered to the category checks
  void CountSubKeys(TRegistryAccess &access, int depth);
  void CountValues(TRegistryAccess &access);
  TWalkResult CountingVisitor(TRegistryAccess &scratch, const std::string &path);
  TWalkResult ExclusionVisitor(TRegistryAccess &scratch, const std::string &path);
  void ReportProgress(const std::string &location);
  bool CountTest(bool outcome);
  // Root 0 stands for a finding outside the registry (a file).
  void AddError(std::uint32_t root, TRegistryView view, const TFinding &finding);
  bool ReadStringValue(std::string &out, TRegistryAccess &key, TRepairAction action,
                       std::string_view valueName);
  bool OpenKey(TRegistryAccess &access, std::string_view path);
  bool OpenCheckedKey(TRegistryAccess &access, std::string_view path);
  bool ClsidExists(TRegistryView view, std::string_view clsid);
  bool IsIgnored(std::uint32_t root, const std::string &keyPath,
                 const std::string &valueName) const;

  TErrorCategory CurrentCategory() const { return current_; }
  const TSortedTextList &ScanIgnoreList() const { return ignoreList_; }
  const TSortedTextList &ExclusionList() const { return exclusionList_; }
  std::vector<std::string> &WorkList() { return workList_; }

  // --- results, read by the main thread after the body ended
  TCategorySet Completed() const { return completed_; }
  TCategorySet Requested() const { return requested_; }
  int Tested(int category) const { return tested_[category]; }
  int Counted(int category) const { return counted_[category]; }
  int Processed(int category) const { return processed_[category]; }
  int Total() const { return total_; }
  // Why the scan ended early when a check or a handover failed; else empty.
  const std::string &Failure() const { return failure_; }

private:
  void Run();
  void Execute();
  void DeliverProgress();
  void Fail(const std::string &reason);
  void DiscardUnfinished();

  qp::TMainThread &main_;
  const TCategoryChecks &checks_;
  TCategorySet requested_;
  TCategorySet completed_;
  TSortedTextList ignoreList_;
  TSortedTextList exclusionList_;
  std::vector<std::string> workList_;
  std::atomic<bool> terminated_{false};
  std::thread thread_;

  TErrorCategory current_ = ecShellFolders;
  std::array<int, CategoryCount> counted_{};
  std::array<int, CategoryCount> processed_{};
  std::array<int, CategoryCount> tested_{};
  int total_ = 0;
  int items_ = 0;
  TScanProgress progress_;
  TRegErrorInfo pending_;
  std::string failure_;
};

} // namespace quenlo
