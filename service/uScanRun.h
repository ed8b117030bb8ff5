// One scan as every front end runs it: the scanner prepared from the
// caller's choice or the settings, the worker run to its end while the main
// thread's dispatcher is pumped (or started without waiting, for a window
// that pumps in its own message loop), and the statistics stored in the
// settings once the scan completed.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/MainThread.h"
#include "scanner/uRegScanner.h"

namespace quenlo::service {

struct TScanRequest {
  // The categories to scan; none: the category switches of the settings.
  std::optional<TCategorySet> categories;
  // False scans without any ignore list (skipped keys, permanent keys and
  // the ignore file are all left out).
  bool useIgnoreLists = true;
};

// The category switches of the settings as a set.
TCategorySet SettingsScanCategories();

struct TScanPreparation {
  TCategorySet categories; // the categories set
  // False when the user's ignore file exists but could not be read: the
  // scanner then ignores only the skipped and permanent keys, and a repair
  // must not run on what it finds.
  bool ignoreListComplete = true;
  std::string ignoreListError;
};

// Sets the scanner's categories and ignore list for the request. Does
// nothing to a scanner that is scanning (its categories are returned).
[[nodiscard]] TScanPreparation PrepareScan(TRegScanner &scanner, const TScanRequest &request);

struct TScanResult {
  // The scan ran to its end, neither stopped nor failed, and every requested
  // category has its statistics.
  bool completed = false;
  bool stopped = false; // ended by Stop
  TCategorySet requested;
  // The requested categories whose statistics are known once the scan ended:
  // all of them after a completed scan; after one that ended early, those
  // this or an earlier scan completed (the scanner keeps the statistics of a
  // category a scan cut short).
  TCategorySet completedCategories;
  // Why the scan ended early; empty when it did not.
  std::string failure;
  // After a completed scan: whether its statistics reached the settings,
  // and why not.
  bool statisticsStored = false;
  std::string statisticsError;
};

// Runs the scan of the scanner's current categories. While the run exists it
// owns the scanner's OnProgress and OnScanComplete events; destroying it
// stops a scan still running and hands the events back empty.
class TScanRun {
public:
  explicit TScanRun(TRegScanner &scanner, qp::TMainThread &mainThread = qp::MainThread());
  ~TScanRun();
  TScanRun(const TScanRun &) = delete;
  TScanRun &operator=(const TScanRun &) = delete;

  // Raised on the main thread as the worker moves on.
  TScanProgressEvent OnProgress;
  // Raised once on the main thread when the scan has ended, after the
  // statistics of a completed scan were stored.
  std::function<void(const TScanResult &)> OnFinished;
  // False leaves the settings alone after a completed scan.
  bool recordStatistics = true;

  // Starts the worker and returns at once; the events arrive while the
  // caller pumps the main thread. Ignored while the scanner is scanning.
  void Start();
  // Starts the worker and pumps the main thread until the scan has ended.
  TScanResult RunToEnd();
  // Ends a running scan early and waits for the worker; OnFinished is raised
  // before this returns.
  void Stop();

  bool Running() const { return scanner_.IsScanning(); }
  bool Finished() const { return finished_; }
  // The outcome of the last scan this run started; empty before it ended.
  const TScanResult &Result() const { return result_; }

private:
  void Finish();

  TRegScanner &scanner_;
  qp::TMainThread &main_;
  TScanResult result_;
  bool stopping_ = false;
  bool finished_ = false;
};

} // namespace quenlo::service
