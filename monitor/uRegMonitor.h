// The registry monitor: watches the direct content of a list of keys and
// reports every subkey created or deleted and every value created, deleted
// or changed, on the main thread, while it is active.
//
// Threads. One waiting thread per watched key (and view) sleeps on a
// registry change notification; one comparing thread takes a fresh
// snapshot of each signalled key, compares it with the previous one and
// hands each difference to the main thread (qp::TMainThread::Synchronize),
// where OnKeyChanged runs. Every wait is cut into slices (100 ms), after
// each of which a thread looks at its stop request.
//
// Invariants that keep every change reported exactly once:
//  * A waiting thread re-arms its notification before it marks its key
//    for comparison, and at activation the notification is armed before
//    the first snapshot is taken: a change made at any moment is either in
//    the snapshot or signals a notification armed before it.
//  * A key is marked pending at most once: the queue holds each key once,
//    however often it was signalled before the comparison ran.
//  * A watched key that is deleted gives no signal (Wine) or one that the
//    re-arm answers with 1018: after each time-out slice the waiting
//    thread probes its handle, and a deleted key is compared (its content
//    reported deleted) and re-opened when it comes back. A key that did
//    not exist at activation reports its content when it first opens.
//  * Each activation is a run with its own number; a change is delivered
//    only while its run is the active one, so a late change of a previous
//    run never reaches a handler of a new one.
//  * A failure in one key's comparison or in the handler is caught for
//    that key and reported through OnError; the comparing thread goes on.
//
// Deactivate runs on the main thread and keeps serving the main thread's
// calls while it waits for the threads, so a change already on its way to
// OnKeyChanged cannot block it; called from inside OnKeyChanged it only
// stops the run (no change is delivered afterwards) and the threads are
// joined once the handler has returned. Stopping 64 keys takes at most one
// slice.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/uKeyHash.h"
#include "platform/MainThread.h"
#include "registry/uRegAccess.h"

namespace quenlo {

class EInvalidOperation : public std::logic_error {
public:
  using std::logic_error::logic_error;
};

inline constexpr const char *kKeyListChangeRefused = "Can not change KeyList while Active = True.";
inline constexpr const char *kKeyListSetRefused = "Can not set KeyList while Active = True.";

// REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET.
inline constexpr std::uint32_t kMonitorNotifyFilter = 5;
inline constexpr std::uint32_t kMonitorSliceMs = 100;

class TRegMonitor;

// The watched keys as text: a root name, a backslash and the key path
// ("HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run"; short
// root names are accepted too). Every change raises EInvalidOperation with
// kKeyListChangeRefused while the monitor is active and leaves the list as
// it was.
class TKeyList {
public:
  explicit TKeyList(const TRegMonitor &owner) : owner_(owner) {}
  std::size_t Count() const { return items_.size(); }
  const std::string &operator[](std::size_t index) const { return items_.at(index); }
  const std::vector<std::string> &Items() const { return items_; }
  void Add(std::string key);
  void Delete(std::size_t index);
  void Clear();
  void Assign(std::vector<std::string> keys);

private:
  void CheckInactive() const;
  const TRegMonitor &owner_;
  std::vector<std::string> items_;
};

// One key as the monitor watches it, resolved at activation.
struct TWatchPoint {
  int index = 0;          // the entry's position in KeyList
  std::uint32_t root = 0; // wc::HkeyCurrentUser ...
  std::string path;       // below the root, as the entry spells it
  TRegistryView view = rv64;
  // The key has a separate 32-bit and 64-bit view (HKLM\SOFTWARE\... on
  // 64-bit Windows, where 32-bit installers write below Wow6432Node): each
  // view is a watch point of its own and its events say which one.
  bool oneOfTwoViews = false;
  // The path below the root that names this view's key from the 64-bit
  // view ("SOFTWARE\Wow6432Node\..." for the 32-bit view of a key with two
  // views, else path): what Show Key and an undo file use.
  std::string viewPath;
};

// One change, as OnKeyChanged receives it.
struct TKeyChange {
  TWatchPoint where;
  TKeyEventType type = keCreateSubkey;
  std::string name;                  // the subkey or value; "" = the default value
  std::optional<TValueState> before; // value events except keCreateValue
  std::optional<TValueState> after;  // value events except keDeleteValue
  // When the comparison found it (for the event list and for latency).
  std::chrono::system_clock::time_point time;
};

enum TMonitorProblem : std::uint8_t {
  mpBadEntry = 0,      // no backslash or an unknown root: the entry is not watched
  mpCompareFailed = 1, // a snapshot or comparison raised; the key is compared again next time
  mpHandlerFailed = 2, // OnKeyChanged raised; the comparing thread goes on
};

struct TMonitorError {
  int index = 0; // the entry's position in KeyList
  TMonitorProblem problem = mpBadEntry;
  std::string text;
};

using TKeyChangedEvent = std::function<void(TRegMonitor &sender, const TKeyChange &change)>;
using TMonitorErrorEvent = std::function<void(TRegMonitor &sender, const TMonitorError &error)>;

class TRegMonitor {
public:
  // Events are delivered through mainThread, which the caller's loop pumps.
  explicit TRegMonitor(qp::TMainThread &mainThread = qp::MainThread());
  ~TRegMonitor(); // Deactivate
  TRegMonitor(const TRegMonitor &) = delete;
  TRegMonitor &operator=(const TRegMonitor &) = delete;

  // Read from any thread.
  bool Active() const;
  // No effect when unchanged; true activates, false deactivates.
  void SetActive(bool active);

  TKeyList &KeyList() { return keyList_; }
  const TKeyList &KeyList() const { return keyList_; }
  // Raises EInvalidOperation with kKeyListSetRefused while active.
  void SetKeyList(const std::vector<std::string> &keys);

  // Main thread. Entries that name no key are reported once through
  // OnError (mpBadEntry) and skipped. When activation fails (a thread
  // cannot start), everything started is stopped, Active stays false and
  // the exception is passed on.
  void Activate();
  void Deactivate();

  // The watch points of the current run (main thread); empty while inactive.
  std::vector<TWatchPoint> WatchPoints() const;

  TKeyChangedEvent OnKeyChanged;
  TMonitorErrorEvent OnError;

private:
  struct TRun;
  qp::TMainThread &mainThread_;
  TKeyList keyList_{*this};
  std::atomic<bool> active_{false};
  std::unique_ptr<TRun> run_;
};

} // namespace quenlo
