#include "monitor/uRegMonitor.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "monitor/uWatchPoints.h"
#include "platform/ScopedKey.h"

namespace quenlo {

namespace {

constexpr std::uint32_t kWatchAccess = wc::KeyNotify | wc::KeyQueryValue | wc::KeyEnumerateSubKeys;
// How often Deactivate looks at the threads it waits for between the main
// thread's calls it serves meanwhile.
constexpr std::chrono::milliseconds kJoinPoll{1};

// One key in one view, shared by its waiting thread (the key handle and the
// watch), the comparing thread (the last snapshot) and Deactivate (Cancel).
struct TPoint {
  TWatchPoint where;
  // The waiting thread's handle and watch. The waiting thread alone replaces
  // or drops them, under watchMu; Deactivate cancels the watch under watchMu,
  // and a watch armed after that is cancelled at once.
  qp::ScopedKey key;
  std::mutex watchMu;
  std::unique_ptr<qp::IChangeWatch> watch;
  bool cancelled = false;
  // The comparing thread's (set before the threads start).
  TKeyHash last;
  // Under the run's queue lock: the point is in the queue.
  bool queued = false;
};

long OpenPoint(TPoint &p) {
  return qp::Platform().Registry().OpenKey(p.where.root, p.where.path,
                                           kWatchAccess | ViewFlag(p.where.view), p.key.Out());
}

// Arms a new watch through the point's open key, replacing the old one.
long ArmPoint(TPoint &p) {
  std::unique_ptr<qp::IChangeWatch> armed;
  const long st = qp::Platform().Registry().NotifyChangeKeyValue(p.key.Get(), false,
                                                                 kMonitorNotifyFilter, armed);
  std::lock_guard lock(p.watchMu);
  p.watch = std::move(armed);
  if (p.watch && p.cancelled)
    p.watch->Cancel();
  return p.watch ? st : (st != wc::ErrorSuccess ? st : wc::ErrorInvalidHandle);
}

void ClosePoint(TPoint &p) {
  {
    std::lock_guard lock(p.watchMu);
    p.watch.reset();
  }
  p.key.Reset();
}

// Opens and arms; on failure the point is left closed.
bool OpenAndArm(TPoint &p) {
  if (OpenPoint(p) != wc::ErrorSuccess)
    return false;
  if (ArmPoint(p) != wc::ErrorSuccess) {
    ClosePoint(p);
    return false;
  }
  return true;
}

// One activation. Its threads hold it (shared), so it outlives a monitor
// destroyed while a thread still has to leave; the monitor itself is only
// reached on the main thread, while the run is live.
struct TRunState : std::enable_shared_from_this<TRunState> {
  TRunState(qp::TMainThread &main, TRegMonitor &monitor) : mainThread(main), owner(&monitor) {}

  qp::TMainThread &mainThread;
  TRegMonitor *owner;
  // Main thread: cleared when the run stops, before anything else; a
  // change is handed to the handler only while it is set.
  std::atomic<bool> live{true};
  std::atomic<bool> stop{false};
  // Main thread: a handler of this run is running now (its comparing
  // thread waits for it, so it cannot be joined from inside).
  bool inDelivery = false;

  std::vector<std::unique_ptr<TPoint>> points;

  std::mutex queueMu;
  std::condition_variable queueCv;
  std::deque<TPoint *> pending;

  // Waits of points whose key does not open (woken by a stop).
  std::mutex stopMu;
  std::condition_variable stopCv;

  // threads[0] is the comparing thread; done[i] is set as thread i leaves.
  std::vector<std::thread> threads;
  std::vector<std::atomic<bool>> done;

  void MarkPending(TPoint &p) {
    {
      std::lock_guard lock(queueMu);
      if (p.queued)
        return;
      p.queued = true;
      pending.push_back(&p);
    }
    queueCv.notify_one();
  }

  // Main thread. Wakes every thread; nothing is delivered from now on.
  void Stop() {
    live = false;
    stop = true;
    { std::lock_guard lock(queueMu); }
    queueCv.notify_all();
    { std::lock_guard lock(stopMu); }
    stopCv.notify_all();
    for (const auto &p : points) {
      std::lock_guard lock(p->watchMu);
      p->cancelled = true;
      if (p->watch)
        p->watch->Cancel();
    }
  }

  // Main thread. Joins every thread that can end now, serving the main
  // thread's calls meanwhile (a comparing thread may be waiting in one).
  // True when none is left.
  bool Join() {
    for (;;) {
      bool waiting = false;
      for (std::size_t i = 0; i < threads.size(); ++i) {
        if (!threads[i].joinable() || (i == 0 && inDelivery))
          continue;
        if (done[i])
          threads[i].join();
        else
          waiting = true;
      }
      if (!waiting)
        break;
      mainThread.PumpWait(kJoinPoll);
    }
    for (const std::thread &t : threads)
      if (t.joinable())
        return false;
    return true;
  }

  void SleepSlice() {
    std::unique_lock lock(stopMu);
    stopCv.wait_for(lock, std::chrono::milliseconds(kMonitorSliceMs), [&] { return stop.load(); });
  }

  void WaitLoop(TPoint &p) {
    bool open = p.key.Get() != 0;
    while (!stop) {
      if (!open) {
        if (!OpenAndArm(p)) {
          SleepSlice();
          continue;
        }
        // Back (or there for the first time): what it holds now is news.
        open = true;
        MarkPending(p);
        continue;
      }
      // Read without the lock: only this thread replaces the watch.
      const bool signalled = p.watch->Wait(kMonitorSliceMs);
      if (stop)
        break;
      if (signalled) {
        // Re-armed before the comparison is asked for: a change made from
        // here on signals the new watch, one made before is in the snapshot.
        if (ArmPoint(p) != wc::ErrorSuccess) {
          ClosePoint(p);
          open = false;
        }
        MarkPending(p);
        continue;
      }
      // A deleted key may give no signal: its handle says so.
      qp::KeyInfo info;
      if (qp::Platform().Registry().QueryInfoKey(p.key.Get(), info) == wc::ErrorKeyDeleted) {
        ClosePoint(p);
        open = false;
        MarkPending(p);
      }
    }
    ClosePoint(p);
  }

  void CompareLoop() {
    while (!stop) {
      TPoint *p = nullptr;
      {
        std::unique_lock lock(queueMu);
        queueCv.wait_for(lock, std::chrono::milliseconds(kMonitorSliceMs),
                         [&] { return stop.load() || !pending.empty(); });
        if (stop)
          break;
        if (pending.empty())
          continue;
        p = pending.front();
        pending.pop_front();
        // Cleared before the snapshot: a change during it queues the key again.
        p->queued = false;
      }
      CompareOne(*p);
    }
  }

  void CompareOne(TPoint &p) {
    std::vector<TKeyDifference> differences;
    TKeyHash fresh;
    try {
      // A key that is not there (deleted) has an empty snapshot; one that
      // could not be read is compared again at its next change, against the
      // snapshot it keeps, so a passing failure reports nothing as deleted.
      const long st = TakeKeySnapshot(p.where.root, p.where.view, p.where.path, fresh);
      if (st != wc::ErrorSuccess && st != wc::ErrorFileNotFound && st != wc::ErrorKeyDeleted) {
        Report(TMonitorError{p.where.index, mpCompareFailed,
                             "TakeKeySnapshot: " + SysErrorMessage(st)});
        return;
      }
      differences = CompareKeyHashes(p.last, fresh);
    } catch (const std::exception &e) {
      Report(TMonitorError{p.where.index, mpCompareFailed, e.what()});
      return;
    } catch (...) {
      Report(TMonitorError{p.where.index, mpCompareFailed, "unknown exception"});
      return;
    }
    p.last = std::move(fresh);
    const auto found = std::chrono::system_clock::now();
    for (TKeyDifference &d : differences) {
      if (stop)
        return;
      TKeyChange change{p.where, d.type, std::move(d.name), std::move(d.before), std::move(d.after),
                        found};
      try {
        Deliver(change);
      } catch (const std::exception &e) {
        Report(TMonitorError{p.where.index, mpHandlerFailed, e.what()});
      } catch (...) {
        Report(TMonitorError{p.where.index, mpHandlerFailed, "unknown exception"});
      }
    }
  }

  // Whether the monitor is reachable and this run is its current, active
  // one (main thread). A run is live exactly while it is: Deactivate clears
  // it before the monitor lets the run go.
  bool Current() const { return live && owner != nullptr && owner->Active(); }

  // Runs one of the monitor's handlers on the main thread while this run is
  // the current one. The handler may stop the run (Deactivate), which then
  // joins the comparing thread - the one waiting here - only once the
  // handler has returned.
  template <typename Call> void OnMainThread(const Call &call) {
    std::shared_ptr<TRunState> self = shared_from_this();
    mainThread.Synchronize([self, &call] {
      if (!self->Current())
        return;
      self->inDelivery = true;
      struct TLeave {
        TRunState &run;
        ~TLeave() {
          run.inDelivery = false;
          if (!run.live)
            run.mainThread.Queue([keep = run.shared_from_this()] { keep->Join(); });
        }
      } leave{*self};
      call(*self->owner);
    });
  }

  void Deliver(const TKeyChange &change) {
    OnMainThread([&change](TRegMonitor &monitor) {
      // A copy: the handler may change OnKeyChanged (or end the monitor).
      const TKeyChangedEvent handler = monitor.OnKeyChanged;
      if (handler)
        handler(monitor, change);
    });
  }

  void Report(const TMonitorError &error) {
    if (stop)
      return;
    try {
      OnMainThread([&error](TRegMonitor &monitor) {
        const TMonitorErrorEvent handler = monitor.OnError;
        if (handler)
          handler(monitor, error);
      });
    } catch (...) {
      // A failing error handler has nobody left to tell.
    }
  }
};

} // namespace

// The monitor's private state: the current run and the stopped ones whose
// threads were not joined yet.
struct TRegMonitor::TRun {
  std::shared_ptr<TRunState> current;
  std::vector<std::shared_ptr<TRunState>> parked;

  // Main thread: joins what can be joined and forgets those runs.
  void JoinParked() {
    std::erase_if(parked, [](const std::shared_ptr<TRunState> &run) { return run->Join(); });
  }
};

// --- key list

void TKeyList::CheckInactive() const {
  if (owner_.Active())
    throw EInvalidOperation(kKeyListChangeRefused);
}

void TKeyList::Add(std::string key) {
  CheckInactive();
  items_.push_back(std::move(key));
}

void TKeyList::Delete(std::size_t index) {
  CheckInactive();
  if (index >= items_.size())
    throw std::out_of_range("TKeyList::Delete: index out of range");
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TKeyList::Clear() {
  CheckInactive();
  items_.clear();
}

void TKeyList::Assign(std::vector<std::string> keys) {
  CheckInactive();
  items_ = std::move(keys);
}

// --- monitor

TRegMonitor::TRegMonitor(qp::TMainThread &mainThread)
    : mainThread_(mainThread), run_(std::make_unique<TRun>()) {}

TRegMonitor::~TRegMonitor() {
  Deactivate();
  // Only when destroyed from inside its own handler can a comparing thread
  // still be on its way out; it holds its run and never reaches the monitor.
  for (const std::shared_ptr<TRunState> &run : run_->parked) {
    run->owner = nullptr;
    for (std::thread &t : run->threads)
      if (t.joinable())
        t.detach();
  }
}

bool TRegMonitor::Active() const {
  return active_.load();
}

void TRegMonitor::SetActive(bool active) {
  if (active == Active())
    return;
  if (active)
    Activate();
  else
    Deactivate();
}

void TRegMonitor::SetKeyList(const std::vector<std::string> &keys) {
  if (Active())
    throw EInvalidOperation(kKeyListSetRefused);
  keyList_.Assign(keys);
}

std::vector<TWatchPoint> TRegMonitor::WatchPoints() const {
  std::vector<TWatchPoint> out;
  if (!Active() || !run_->current)
    return out;
  for (const auto &p : run_->current->points)
    out.push_back(p->where);
  return out;
}

void TRegMonitor::Activate() {
  if (Active())
    return;
  // A new run begins once the previous runs' threads are gone - all but,
  // when called from a handler, the comparing thread waiting for that
  // handler: its run delivers nothing more and it is joined once the
  // handler has returned.
  run_->JoinParked();

  auto run = std::make_shared<TRunState>(mainThread_, *this);
  std::vector<TMonitorError> badEntries;
  try {
    for (std::size_t i = 0; i < keyList_.Count(); ++i) {
      std::uint32_t root = 0;
      std::string path;
      if (!monitor::ParseKeyEntry(keyList_[i], root, path)) {
        badEntries.push_back(TMonitorError{static_cast<int>(i), mpBadEntry,
                                           "Not a registry key: \"" + keyList_[i] + "\""});
        continue;
      }
      for (TWatchPoint &where : monitor::WatchPointsOf(static_cast<int>(i), root, path)) {
        auto point = std::make_unique<TPoint>();
        point->where = std::move(where);
        run->points.push_back(std::move(point));
      }
    }
    // Armed before the first snapshot: a change made after the snapshot
    // signals a watch that is already there.
    for (const auto &p : run->points) {
      qp::IgnoreResult(OpenAndArm(*p));
      qp::IgnoreResult(TakeKeySnapshot(p->where.root, p->where.view, p->where.path, p->last));
    }
    run->threads.reserve(run->points.size() + 1);
    run->done = std::vector<std::atomic<bool>>(run->points.size() + 1);
    run->threads.emplace_back([run] {
      run->CompareLoop();
      run->done[0] = true;
    });
    for (std::size_t i = 0; i < run->points.size(); ++i) {
      TPoint &point = *run->points[i];
      run->threads.emplace_back([run, &point, slot = i + 1] {
        run->WaitLoop(point);
        run->done[slot] = true;
      });
    }
  } catch (...) {
    run->Stop();
    qp::IgnoreResult(run->Join());
    throw;
  }
  run_->current = run;
  active_ = true;
  if (OnError)
    for (const TMonitorError &error : badEntries)
      OnError(*this, error);
}

void TRegMonitor::Deactivate() {
  if (Active()) {
    active_ = false;
    std::shared_ptr<TRunState> run = std::move(run_->current);
    run->Stop();
    run_->parked.push_back(std::move(run));
  }
  run_->JoinParked();
}

} // namespace quenlo
