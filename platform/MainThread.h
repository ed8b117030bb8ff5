// The main-thread dispatcher. Worker threads hand work to the main thread
// (Synchronize waits for it to run, Queue does not); whatever loop the main
// thread runs — a window message loop or the command-line loop — pumps it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qp {

class TMainThread {
public:
  // Binds the dispatcher to the calling thread.
  TMainThread();
  TMainThread(const TMainThread &) = delete;
  TMainThread &operator=(const TMainThread &) = delete;

  // Makes the calling thread the main thread.
  void BindToCurrentThread();
  bool IsMainThread() const;

  // Runs fn on the main thread and waits until it has run. An exception
  // raised by fn is raised again in the caller. On the main thread itself
  // fn runs at once.
  void Synchronize(const std::function<void()> &fn);
  // Hands fn to the main thread without waiting.
  void Queue(std::function<void()> fn);

  // Main thread: runs every call waiting now; returns how many ran.
  std::size_t Pump();
  // Main thread: waits up to timeout for a call, then pumps.
  std::size_t PumpWait(std::chrono::milliseconds timeout);

  // Called (from any thread) whenever a call is waiting, so that a window
  // loop can post itself a message and pump.
  void SetWakeHook(std::function<void()> hook);

private:
  struct Call {
    std::function<void()> fn;
    bool done = false;
    std::exception_ptr error;
    bool waited = false;
  };
  std::size_t RunPending(std::unique_lock<std::mutex> &lock);

  mutable std::mutex mu_;
  std::condition_variable arrived_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<Call>> calls_;
  std::thread::id mainId_;
  std::function<void()> wakeHook_;
};

// The process-wide dispatcher, bound to the thread that first asks for it.
TMainThread &MainThread();

} // namespace qp
