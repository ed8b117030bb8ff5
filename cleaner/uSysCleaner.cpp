#include "cleaner/uSysCleaner.h"

#include <chrono>
#include <exception>
#include <thread>
#include <utility>

#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"
#include "platform/WinConst.h"

// Last: <windows.h> defines macros named like methods of the platform
// interfaces (DeleteFile, GetTempPath ...); nothing below calls them.
#ifdef _WIN32
#include <objbase.h>
#endif

namespace quenlo {

namespace {

// ERROR_LOCK_VIOLATION: another process holds a range of the file locked.
constexpr long kErrorLockViolation = 33;

// How long Stop waits for the worker between the main thread's calls it
// serves meanwhile.
constexpr std::chrono::milliseconds kJoinPoll{1};

// COM for the worker thread (the URL history object, the directory
// service); nothing to do where there is no COM.
class TComScope {
public:
#ifdef _WIN32
  TComScope() : status_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~TComScope() {
    if (SUCCEEDED(status_))
      ::CoUninitialize();
  }

private:
  HRESULT status_;
#else
  TComScope() = default;
#endif
public:
  TComScope(const TComScope &) = delete;
  TComScope &operator=(const TComScope &) = delete;
};

// The selected categories a pass did not reach get the reason why.
void MarkUnreached(TPassResult &result, std::string_view reason) {
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c) {
    TCategoryResult &category = result.categories[c];
    if (result.selected[c] && category.outcome == coNotHandled && category.reason.empty())
      category.reason = std::string(reason);
  }
}

std::string ExceptionText(const std::exception_ptr &error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception &e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

} // namespace

std::string ReasonForStatus(long status) {
  switch (status) {
  case wc::ErrorSharingViolation:
  case kErrorLockViolation:
    return std::string(kReasonInUse);
  case wc::ErrorAccessDenied:
    return std::string(kReasonAccessDenied);
  case wc::ErrorFileNotFound:
  case wc::ErrorPathNotFound:
    return std::string(kReasonNotFound);
  default:
    return SysErrorMessage(status);
  }
}

bool TPassResult::AllDone() const {
  if (end != peComplete)
    return false;
  for (std::size_t c = 0; c < kCleanCategoryCount; ++c) {
    const TCategoryOutcome outcome = categories[c].outcome;
    if (selected[c] && outcome != coDone && outcome != coNotFound)
      return false;
  }
  return true;
}

// --- the pass

TCleanPass::TCleanPass(TScanMode mode, TPassResult &result, const std::atomic<bool> &terminated,
                       qp::TMainThread &mainThread)
    : mode_(mode), result_(result), terminated_(terminated), mainThread_(mainThread),
      registry_(mode == smReport ? wc::KeyRead : wc::KeyAllAccess) {
  registry_.SetRootKey(wc::HkeyCurrentUser);
  registry_.SetView(rv32);
}

void TCleanPass::SetCurrent(TCleanCategory category) {
  current_ = category;
}

// Every record below is dropped once the pass was stopped: a Stop made
// inside an event handler returns while the worker still runs, and the
// main thread may read the result from then on.

void TCleanPass::AddItem(TCleanCategory category, std::string name, std::int64_t size) {
  if (Terminated())
    return;
  TCategoryResult &target = result_.categories[category];
  target.items.push_back(TCleanItem{std::move(name), size < 0 ? 0 : size});
  MarkFound(category);
}

void TCleanPass::AddFileItem(TCleanCategory category, std::string_view fullPath,
                             std::int64_t size) {
  AddItem(category, RelativeName(BasePath, fullPath), size);
}

void TCleanPass::AddKept(TCleanCategory category, std::string name, std::string reason) {
  if (Terminated())
    return;
  result_.categories[category].kept.push_back(TCleanNote{std::move(name), std::move(reason)});
  MarkFound(category);
}

void TCleanPass::AddFailure(TCleanCategory category, std::string name, std::string reason) {
  if (Terminated())
    return;
  TCategoryResult &target = result_.categories[category];
  target.failures.push_back(TCleanNote{std::move(name), std::move(reason)});
  if (target.outcome != coFailed)
    target.outcome = coIncomplete;
}

void TCleanPass::AddSkipped(TCleanCategory category, std::string name, std::string reason) {
  if (Terminated())
    return;
  result_.categories[category].skipped.push_back(TCleanNote{std::move(name), std::move(reason)});
}

void TCleanPass::MarkFound(TCleanCategory category) {
  if (Terminated())
    return;
  TCategoryResult &target = result_.categories[category];
  if (target.outcome == coNotHandled || target.outcome == coNotFound)
    target.outcome = coDone;
}

void TCleanPass::FailCategory(TCleanCategory category, std::string reason) {
  if (Terminated())
    return;
  TCategoryResult &target = result_.categories[category];
  target.outcome = coFailed;
  target.reason = std::move(reason);
}

void TCleanPass::AddFileInUse(std::string fullPath) {
  if (Terminated())
    return;
  result_.filesInUse.push_back(std::move(fullPath));
}

void TCleanPass::SetExplorerRestartFailed(bool failed) {
  if (Terminated())
    return;
  result_.explorerRestartFailed = failed;
}

bool TCleanPass::QueryDeleteCookie(const std::string &url) {
  if (Terminated())
    return false;
  bool canDelete = true;
  if (OnQueryDeleteCookie)
    mainThread_.Synchronize([&] { OnQueryDeleteCookie(url, canDelete); });
  // A Stop inside the handler: nothing more is listed or deleted.
  return canDelete && !Terminated();
}

std::string TCleanPass::DatabasePath(std::string_view platformPath) const {
  return DatabasePathMap ? DatabasePathMap(platformPath) : std::string(platformPath);
}

// --- the component

// A pass as the component, the worker and the calls the worker hands to
// the main thread share it. owner, stopped and inEvent belong to the main
// thread: the worker reads them only inside calls it hands over.
struct TSysCleaner::TWorker {
  struct TShared {
    TSysCleaner *owner = nullptr; // null once the component let the pass go
    bool stopped = false;
    int inEvent = 0; // an event handler of this pass is running
    std::atomic<bool> terminated{false};
    std::atomic<bool> ended{false}; // the worker does nothing more
    TScanMode mode = smReport;
    std::shared_ptr<TPassResult> result;
  };

  // What the worker takes along; copied at Start, so that the component
  // can change its handlers and map while a pass runs.
  struct TPlan {
    std::array<TCategoryHandler, kCleanCategoryCount> handlers{};
    TDatabasePathMap databasePathMap;
    bool askCookies = false;
    bool deleteDownloadedFiles = false;
  };

  std::shared_ptr<TShared> shared;
  std::thread thread;

  // Main thread: the event handler runs while the component still owns
  // this pass; inEvent tells Stop that the worker waits for the handler.
  template <typename Call> static void Deliver(TShared &shared, const Call &call) {
    TSysCleaner *owner = shared.owner;
    if (owner == nullptr || shared.stopped)
      return;
    ++shared.inEvent;
    struct TLeave {
      int &depth;
      ~TLeave() { --depth; }
    } leave{shared.inEvent};
    call(*owner);
  }

  static void Run(const std::shared_ptr<TShared> &shared, TPlan plan, qp::TMainThread &mainThread) {
    {
      [[maybe_unused]] TComScope com;
      RunPass(shared, plan, mainThread);
    }
    // Completion on the main thread; the worker touches nothing after this.
    mainThread.Queue([shared] { Complete(shared); });
    shared->ended.store(true);
  }

  static void RunPass(const std::shared_ptr<TShared> &sharedPtr, const TPlan &plan,
                      qp::TMainThread &mainThread) {
    TShared &shared = *sharedPtr;
    TPassResult &result = *shared.result;
    TCleanPass pass(shared.mode, result, shared.terminated, mainThread);
    pass.DatabasePathMap = plan.databasePathMap;
    pass.DeleteDownloadedFiles = plan.deleteDownloadedFiles;
    if (plan.askCookies)
      pass.OnQueryDeleteCookie = [&shared](const std::string &url, bool &canDelete) {
        Deliver(shared, [&](TSysCleaner &owner) {
          const TQueryDeleteCookieEvent handler = owner.OnQueryDeleteCookie;
          if (handler)
            handler(owner, url, canDelete);
        });
      };

    const std::size_t total = result.selected.count();
    std::size_t handled = 0;
    TPassEnd end = peComplete;
    std::string failure;
    try {
      for (std::size_t c = 0; c < kCleanCategoryCount && !pass.Terminated(); ++c) {
        if (!result.selected[c])
          continue;
        const auto category = static_cast<TCleanCategory>(c);
        pass.SetCurrent(category);
        pass.BasePath.clear();
        pass.SizeTotal = 0;
        result.categories[c].outcome = coNotFound;
        const TCategoryHandler handler = plan.handlers[c];
        try {
          if (handler != nullptr)
            handler(pass);
        } catch (...) {
          failure = ExceptionText(std::current_exception());
          end = peFailed;
          if (!pass.Terminated()) {
            result.categories[c].outcome = coFailed;
            result.categories[c].reason = failure;
          }
          break;
        }
        ++handled;
        const int progress = handled < total ? static_cast<int>(handled * 100 / total) : 100;
        if (!pass.Terminated())
          mainThread.Synchronize([&] {
            Deliver(shared, [&](TSysCleaner &owner) {
              const TCleanProgressEvent onProgress = owner.OnProgress;
              if (onProgress)
                onProgress(owner, category, progress);
            });
          });
      }
    } catch (...) {
      // An event handler raised: the pass ends there.
      failure = ExceptionText(std::current_exception());
      end = peFailed;
    }
    // A stopped pass is closed by the main thread (Stop).
    if (pass.Terminated())
      return;
    result.end = end;
    result.failureText = failure;
    MarkUnreached(result, kReasonPassEnded);
  }

  // Main thread, when the worker has ended by itself.
  static void Complete(const std::shared_ptr<TShared> &shared) {
    TSysCleaner *owner = shared->owner;
    if (owner == nullptr || shared->stopped || !owner->worker_ || owner->worker_->shared != shared)
      return;
    owner->Finish(*owner->worker_);
  }
};

namespace {

void CloseStoppedPass(TPassResult &result) {
  // A pass that was stopped is reported so, even when its worker had just
  // handled its last category: no OnScanComplete confirmed it. A failure
  // says more and stays.
  if (result.end == peFailed)
    return;
  result.end = peStopped;
  MarkUnreached(result, kReasonStopped);
}

} // namespace

TSysCleaner::TSysCleaner(qp::TMainThread &mainThread)
    : mainThread_(mainThread), analysis_(std::make_shared<TPassResult>()),
      clean_(std::make_shared<TPassResult>()), handlers_(DefaultCleanHandlers()) {
  clean_->mode = smClean;
}

TSysCleaner::~TSysCleaner() {
  Stop();
  if (worker_) {
    // Destroyed inside one of its own pass's events: the worker waits for
    // this very call, so it cannot be joined here. It holds nothing of the
    // component and ends by itself.
    worker_->shared->owner = nullptr;
    worker_->thread.detach();
  }
}

bool TSysCleaner::Start(TScanMode mode) {
  if (worker_) {
    if (!worker_->shared->stopped || worker_->shared->inEvent > 0)
      return false;
    JoinWorker();
    if (worker_)
      return false;
  }
  auto result = std::make_shared<TPassResult>();
  result->mode = mode;
  result->selected = Categories;
  if (mode == smReport)
    analysis_ = result;
  else
    clean_ = result;

  auto shared = std::make_shared<TWorker::TShared>();
  shared->owner = this;
  shared->mode = mode;
  shared->result = result;
  TWorker::TPlan plan;
  plan.handlers = handlers_;
  plan.databasePathMap = databasePathMap_;
  plan.deleteDownloadedFiles = DeleteDownloadedFiles;
  // A handler assigned while the pass runs is not asked: the worker would
  // have to reach the main thread for every cookie to find out.
  plan.askCookies = static_cast<bool>(OnQueryDeleteCookie);

  auto worker = std::make_unique<TWorker>();
  worker->shared = shared;
  qp::TMainThread &mainThread = mainThread_;
  worker->thread = std::thread([shared, plan = std::move(plan), &mainThread]() mutable {
    TWorker::Run(shared, std::move(plan), mainThread);
  });
  worker_ = std::move(worker);
  return true;
}

void TSysCleaner::Stop() {
  if (!worker_)
    return;
  TWorker::TShared &shared = *worker_->shared;
  shared.terminated.store(true);
  if (!shared.stopped) {
    shared.stopped = true;
    // The worker waits for the running event handler: it writes nothing
    // more from now on, so the result can be closed at once.
    if (shared.inEvent > 0)
      CloseStoppedPass(*shared.result);
  }
  if (shared.inEvent > 0)
    return; // joined at the next Start, Stop or by the destructor
  JoinWorker();
}

void TSysCleaner::JoinWorker() {
  if (!worker_)
    return;
  TWorker *const worker = worker_.get();
  const std::shared_ptr<TWorker::TShared> shared = worker->shared;
  while (!shared->ended.load())
    mainThread_.PumpWait(kJoinPoll);
  // A call served meanwhile may have joined it already.
  if (worker_.get() != worker)
    return;
  worker->thread.join();
  if (shared->stopped)
    CloseStoppedPass(*shared->result);
  shared->owner = nullptr;
  worker_.reset();
}

void TSysCleaner::Finish(TWorker &worker) {
  const std::shared_ptr<TWorker::TShared> shared = worker.shared;
  worker.thread.join();
  shared->owner = nullptr;
  worker_.reset();
  // Detached first: the handler may start the next pass.
  const TScanCompleteEvent handler = OnScanComplete;
  if (handler)
    handler(*this, shared->mode);
}

void TSysCleaner::ClearResults() {
  analysis_ = std::make_shared<TPassResult>();
}

bool TSysCleaner::Running() const {
  return worker_ != nullptr && !worker_->shared->stopped;
}

std::size_t TSysCleaner::ItemCount(TCleanCategory category) const {
  return analysis_->categories[category].items.size();
}

const TCleanItem &TSysCleaner::Item(TCleanCategory category, std::size_t index) const {
  return analysis_->categories[category].items.at(index);
}

const std::vector<std::string> &TSysCleaner::FilesInUse() const {
  return clean_->filesInUse;
}

bool TSysCleaner::ExplorerRestartFailed() const {
  return clean_->explorerRestartFailed;
}

const TPassResult &TSysCleaner::LastAnalysis() const {
  return *analysis_;
}

const TPassResult &TSysCleaner::LastClean() const {
  return *clean_;
}

void TSysCleaner::SetDatabasePathMap(TDatabasePathMap map) {
  databasePathMap_ = std::move(map);
}

void TSysCleaner::SetHandler(TCleanCategory category, TCategoryHandler handler) {
  handlers_[category] = handler;
}

} // namespace quenlo
