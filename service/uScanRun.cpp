#include "service/uScanRun.h"

#include <chrono>
#include <vector>

#include "app/uEnvironment.h"
#include "app/uSettings.h"
#include "service/uSettingsEdit.h"

namespace quenlo::service {

namespace {

// How long one wait for the worker's handovers may block the pumping loop.
constexpr std::chrono::milliseconds PumpSlice{50};

} // namespace

TCategorySet SettingsScanCategories() {
  TCategorySet chosen;
  for (int c = 0; c < CategoryCount; ++c)
    if (Settings().ScanCategories[static_cast<std::size_t>(c)])
      chosen.Add(static_cast<TErrorCategory>(c));
  return chosen;
}

TScanPreparation PrepareScan(TRegScanner &scanner, const TScanRequest &request) {
  TScanPreparation prepared;
  if (scanner.IsScanning()) {
    prepared.categories = scanner.ScanCategories();
    return prepared;
  }
  prepared.categories = request.categories ? *request.categories : SettingsScanCategories();
  scanner.SetScanCategories(prepared.categories);
  std::vector<std::string> ignore;
  if (request.useIgnoreLists)
    prepared.ignoreListComplete = BuildScanIgnoreList(ignore, &prepared.ignoreListError);
  scanner.SetIgnoreList(ignore);
  return prepared;
}

TScanRun::TScanRun(TRegScanner &scanner, qp::TMainThread &mainThread)
    : scanner_(scanner), main_(mainThread) {}

TScanRun::~TScanRun() {
  // Events first: a scan stopped here must not call back into this run.
  scanner_.OnProgress = nullptr;
  scanner_.OnScanComplete = nullptr;
  scanner_.StopScan();
}

void TScanRun::Start() {
  if (scanner_.IsScanning())
    return;
  result_ = TScanResult{};
  result_.requested = scanner_.ScanCategories();
  stopping_ = false;
  finished_ = false;
  scanner_.OnProgress = [this](const std::string &location, TErrorCategory category,
                               int categoryProgress, int totalProgress) {
    if (OnProgress)
      OnProgress(location, category, categoryProgress, totalProgress);
  };
  scanner_.OnScanComplete = [this](TRegScanner &) { Finish(); };
  scanner_.StartScan();
}

TScanResult TScanRun::RunToEnd() {
  Start();
  while (scanner_.IsScanning())
    main_.PumpWait(PumpSlice);
  return result_;
}

void TScanRun::Stop() {
  if (!scanner_.IsScanning())
    return;
  stopping_ = true;
  scanner_.StopScan();
}

void TScanRun::Finish() {
  TCategorySet done;
  for (int c = 0; c < CategoryCount; ++c) {
    const auto category = static_cast<TErrorCategory>(c);
    if (result_.requested.Contains(category) && scanner_.TestCount(c) >= 0)
      done.Add(category);
  }
  result_.completedCategories = done;
  result_.failure = scanner_.ScanFailure();
  result_.stopped = stopping_;
  // A stop or a failure cuts a category short: its statistics, if any, are
  // those of an earlier scan, so only an uninterrupted scan completes.
  result_.completed = !stopping_ && result_.failure.empty() && done == result_.requested;
  if (result_.completed && recordStatistics)
    result_.statisticsStored = RecordScanStatistics(scanner_, result_.statisticsError);
  finished_ = true;
  if (OnFinished)
    OnFinished(result_);
}

} // namespace quenlo::service
