#include "platform/MainThread.h"

namespace qp {

TMainThread::TMainThread() : mainId_(std::this_thread::get_id()) {}

void TMainThread::BindToCurrentThread() {
  std::lock_guard lock(mu_);
  mainId_ = std::this_thread::get_id();
}

bool TMainThread::IsMainThread() const {
  std::lock_guard lock(mu_);
  return mainId_ == std::this_thread::get_id();
}

void TMainThread::Synchronize(const std::function<void()> &fn) {
  if (IsMainThread()) {
    fn();
    return;
  }
  auto call = std::make_shared<Call>();
  call->fn = fn;
  call->waited = true;
  std::function<void()> hook;
  {
    std::unique_lock lock(mu_);
    calls_.push_back(call);
    hook = wakeHook_;
  }
  arrived_.notify_all();
  if (hook)
    hook();
  std::unique_lock lock(mu_);
  finished_.wait(lock, [&] { return call->done; });
  if (call->error)
    std::rethrow_exception(call->error);
}

void TMainThread::Queue(std::function<void()> fn) {
  auto call = std::make_shared<Call>();
  call->fn = std::move(fn);
  std::function<void()> hook;
  {
    std::lock_guard lock(mu_);
    calls_.push_back(call);
    hook = wakeHook_;
  }
  arrived_.notify_all();
  if (hook)
    hook();
}

std::size_t TMainThread::RunPending(std::unique_lock<std::mutex> &lock) {
  std::size_t ran = 0;
  while (!calls_.empty()) {
    std::shared_ptr<Call> call = calls_.front();
    calls_.pop_front();
    lock.unlock();
    std::exception_ptr error;
    try {
      call->fn();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    call->error = error;
    call->done = true;
    ++ran;
    finished_.notify_all();
    // A queued call has nobody to hand its failure to: the main loop gets it.
    if (error && !call->waited) {
      lock.unlock();
      std::rethrow_exception(error);
    }
  }
  return ran;
}

std::size_t TMainThread::Pump() {
  std::unique_lock lock(mu_);
  return RunPending(lock);
}

std::size_t TMainThread::PumpWait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  arrived_.wait_for(lock, timeout, [&] { return !calls_.empty(); });
  return RunPending(lock);
}

void TMainThread::SetWakeHook(std::function<void()> hook) {
  std::lock_guard lock(mu_);
  wakeHook_ = std::move(hook);
}

TMainThread &MainThread() {
  static TMainThread instance;
  return instance;
}

} // namespace qp
