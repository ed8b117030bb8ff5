#include "uLongOperation.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ScopeGuard.h"

namespace quenlo::win {

namespace {

// What the worker hands to the main thread: its progress reports, in
// order, and the end of the work; and the main thread's word to begin.
class TWorkerMailbox {
public:
  // The worker is held until its priority is set: not one moment of the
  // work may run at the caller's priority.
  void AllowStart() {
    {
      const std::lock_guard<std::mutex> lock(mu_);
      started_ = true;
    }
    startAllowed_.notify_one();
  }
  void WaitForStart() {
    std::unique_lock<std::mutex> lock(mu_);
    startAllowed_.wait(lock, [this] { return started_; });
  }

  void Post(std::uint64_t total, std::uint64_t done) {
    const std::lock_guard<std::mutex> lock(mu_);
    reports_.emplace_back(total, done);
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Take() {
    const std::lock_guard<std::mutex> lock(mu_);
    return std::exchange(reports_, {});
  }
  void Finish() { finished_.store(true, std::memory_order_release); }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

private:
  std::mutex mu_;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reports_;
  std::condition_variable startAllowed_;
  bool started_ = false; // under mu_
  std::atomic<bool> finished_{false};
};

// The worker's whole life; nothing escapes it but its answer.
void RunWork(const TLongWork &work, TWorkerMailbox &mailbox, bool &ok, std::string &errorText) {
  const TWorkProgress progress = [&mailbox](std::uint64_t total, std::uint64_t done) {
    mailbox.Post(total, done);
  };
  mailbox.WaitForStart();
  try {
    ok = work(progress, errorText);
  } catch (const std::exception &error) {
    ok = false;
    errorText = error.what();
  } catch (...) {
    ok = false;
    errorText = "an unknown exception";
  }
  mailbox.Finish();
}

} // namespace

TLongOperationResult TWin32LongOperation::Run(const std::string &caption, bool showBar,
                                              const TLongWork &work) {
  TLongOperationResult result;
  cover_.Show(mainWindow_(), caption, showBar);
  // The cover (and with it the keyboard) comes down however this ends.
  auto closeCover = qp::ScopeExit([this] { cover_.Close(); });

  TWorkerMailbox mailbox;
  bool ok = false;
  std::string errorText;
  std::thread worker;
  try {
    worker =
        std::thread(RunWork, std::cref(work), std::ref(mailbox), std::ref(ok), std::ref(errorText));
  } catch (const std::system_error &) {
    return result; // not started
  }
  result.started = true;
  // Whatever happens on this thread, the worker is waited for: a running
  // std::thread must never be destroyed.
  auto joinWorker = qp::ScopeExit([&worker, &mailbox] {
    mailbox.AllowStart();
    worker.join();
  });
  const HANDLE workerHandle = pthread_gethandle(worker.native_handle());
  // The work must not slow the machine's other programs; the window here
  // only waits.
  ::SetThreadPriority(workerHandle, THREAD_PRIORITY_LOWEST);
  mailbox.AllowStart();

  const auto applyReports = [&] {
    for (const auto &[total, done] : mailbox.Take())
      cover_.Report(total, done);
  };
  while (!mailbox.Finished()) {
    cover_.Pump();
    applyReports();
    // Wakes early for messages and for the worker's end.
    ::MsgWaitForMultipleObjects(1, &workerHandle, FALSE, kWaitSliceMs, QS_ALLINPUT);
  }
  joinWorker.RunNow();
  applyReports();
  result.finished = true;
  result.ok = ok;
  result.errorText = std::move(errorText);
  closeCover.RunNow();
  return result;
}

} // namespace quenlo::win
