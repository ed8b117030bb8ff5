#include "scanner/uRegScanner.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "paths/uPaths.h"

namespace quenlo {

TRegScanner::TRegScanner(qp::TMainThread &mainThread)
    : main_(mainThread), errors_(std::make_unique<TErrorList>()), checks_(DefaultCategoryChecks()) {
  testCount_.fill(-1);
}

TRegScanner::~TRegScanner() {
  destroying_ = true;
  StopScan();
  if (finished_)
    finished_->Join();
  errors_.reset();
}

void TRegScanner::SetScanCategories(TCategorySet categories) {
  if (!IsScanning())
    scanCategories_ = categories;
}

void TRegScanner::SetUndoFolder(const std::string &folder) {
  if (folder == undoFolder_)
    return;
  undoFolder_ = folder;
  if (undoFolder_.empty() || undoFolder_.back() != '\\')
    undoFolder_ += '\\';
}

void TRegScanner::StartScan() {
  if (IsScanning())
    return;
  if (finished_) {
    finished_->Join();
    finished_.reset();
  }
  fullScanDone_ = false;
  errors_->Clear();
  listed_.clear();
  ignoredCount_ = 0;
  adjustment_.fill(0);
  thread_ = std::make_unique<TScanThread>(scanCategories_, ignoreList_, checks_, main_);
  thread_->OnProgress = [this](const TScanProgress &p) { ReceiveProgress(p); };
  thread_->OnFinding = [this](const TRegErrorInfo &info) { ReceiveFinding(info); };
  TScanThread *started = thread_.get();
  thread_->OnTerminate = [this, started] {
    if (thread_.get() == started)
      Completion();
  };
  thread_->Start();
}

void TRegScanner::StopScan() {
  if (!thread_)
    return;
  thread_->Terminate();
  // Keep serving the worker's handovers while waiting, so that a finding or
  // progress report already on its way cannot block the wait.
  while (thread_)
    main_.PumpWait(std::chrono::milliseconds(10));
}

void TRegScanner::ClearResults() {
  errors_->Clear();
  listed_.clear();
  fullScanDone_ = false;
  resultsAvailable_ = false;
}

TRegError *TRegScanner::ErrorAt(int category, int index) const {
  const auto &list = errors_->CategoryList(category);
  if (index < 0 || index >= static_cast<int>(list.size()))
    return nullptr;
  return list[static_cast<std::size_t>(index)];
}

void TRegScanner::RegisterChanges(TRegScannerChangeLink &link) {
  if (link.Scanner() != nullptr && link.Scanner() != this)
    link.Scanner()->UnregisterChanges(link);
  errors_->AddObserver(link);
  link.SetScanner(this);
}

void TRegScanner::UnregisterChanges(TRegScannerChangeLink &link) {
  if (link.Scanner() != this)
    return;
  link.SetScanner(nullptr);
  errors_->RemoveObserver(link);
}

void TRegScanner::ReceiveProgress(const TScanProgress &p) {
  if (OnProgress && !destroying_)
    OnProgress(p.Location, p.Category, p.CategoryProgress, p.TotalProgress);
}

namespace {

// Category, root, data, key, value and target of a finding, each field
// prefixed by its length so that no two findings share an identity.
template <typename Finding> std::string FindingIdentity(const Finding &f) {
  std::string id = std::to_string(f.Category) + ":" + std::to_string(f.RootKey);
  for (const std::string *field : {&f.Data, &f.KeyPath, &f.ValueName, &f.Target})
    id += ":" + std::to_string(field->size()) + ":" + *field;
  return id;
}

} // namespace

bool TRegScanner::IsDuplicate(const TRegErrorInfo &info) const {
  return listed_.count(FindingIdentity(info)) > 0;
}

bool TRegScanner::IsProtectedOrInaccessible(const TRegErrorInfo &info) const {
  const TRegistryView view = info.View64 != 0 ? rv64 : rv32;
  const std::uint32_t flag = info.View64 != 0 ? wc::KeyWow64_64Key : wc::KeyWow64_32Key;
  const std::optional<bool> isProtected =
      qp::Platform().System().SfcIsKeyProtected(info.RootKey, info.KeyPath, flag);
  if (isProtected.value_or(false))
    return true;
  ScopedKey key;
  return OpenKeyFull(info.RootKey, view, info.KeyPath, key) != wc::ErrorSuccess;
}

void TRegScanner::ReceiveFinding(const TRegErrorInfo &info) {
  if (info.View64 != 0 && IsDuplicate(info))
    return;
  if (info.Ignored != 0) {
    ++ignoredCount_;
    --adjustment_[info.Category];
    return;
  }
  if (info.Kind != ekInvalidShortcut && IsProtectedOrInaccessible(info)) {
    --adjustment_[info.Category];
    return;
  }
  errors_->Add(std::make_unique<TRegError>(info));
  listed_.insert(FindingIdentity(info));
}

void TRegScanner::Completion() {
  std::unique_ptr<TScanThread> thread = std::move(thread_);
  thread->Join();
  fullScanDone_ = true;
  scanFailure_ = thread->Failure();
  resultsAvailable_ = true;
  for (int c = 0; c < CategoryCount; ++c) {
    adjustment_[c] += thread->Tested(c);
    if (thread->Completed().Contains(static_cast<TErrorCategory>(c))) {
      testCount_[c] = adjustment_[c];
      remainingCount_[c] = errors_->CategoryErrorCount(c);
    } else {
      fullScanDone_ = false;
    }
  }
  finished_ = std::move(thread);
  if (!destroying_ && OnScanComplete)
    OnScanComplete(*this);
}

int TRegScanner::HealthPercent() const {
  long long sum = 0;
  for (const int count : testCount_) {
    if (count < 0)
      return -1;
    sum += count;
  }
  if (sum < 1)
    return -1;
  double x = 1.0;
  for (int c = 0; c < CategoryCount; ++c) {
    if (remainingCount_[c] > 0 && testCount_[c] > 0)
      x *= 1.0 - static_cast<double>(remainingCount_[c]) / testCount_[c];
  }
  return static_cast<int>(std::trunc(x * 100.0));
}

std::string TRegScanner::StatsToText() const {
  std::string text;
  for (int c = 0; c < CategoryCount; ++c) {
    if (c > 0)
      text += ';';
    text += std::to_string(testCount_[c]) + "," + std::to_string(remainingCount_[c]);
  }
  return text;
}

void TRegScanner::StatsFromText(const std::string &text) {
  testCount_.fill(-1);
  remainingCount_.fill(0);
  std::size_t pos = 0;
  int index = 0;
  while (pos < text.size()) {
    const int tests = static_cast<int>(NextIntToken(text, pos, ','));
    const int remaining = static_cast<int>(NextIntToken(text, pos, ';'));
    if (index < CategoryCount) {
      testCount_[index] = tests;
      // A category cannot have more problems left than it made tests, nor
      // fewer than none: a stored pair that says so (a damaged file) would
      // push the health figure below 0 or above what the tests allow.
      remainingCount_[index] = std::clamp(remaining, 0, std::max(tests, 0));
    }
    ++index;
  }
}

std::string TRegScanner::ValueLocationText(const TRegError &error) const {
  std::string text = RootKeyLongName(error.RootKey) + "\\" + error.KeyPath;
  if (!error.ValueName.empty())
    text += "\\\\:" + error.ValueName;
  return text;
}

} // namespace quenlo
