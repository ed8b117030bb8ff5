// The history cleaner's engine: TSysCleaner runs passes over a set of
// categories on a worker thread, one pass at a time. An analysis pass
// (smReport) lists what a clean would remove and changes nothing; a clean
// pass (smClean) removes it.
//
// Invariants:
//  * Each pass writes only its own result object (TPassResult). The main
//    thread takes it over when the pass ends; a pass that was stopped
//    hands over what it found so far and nothing after Stop returned.
//  * Stop and the destructor wait for the worker. While they wait they
//    keep serving the main thread's calls (qp::TMainThread), so a worker
//    waiting for an event handler to run cannot block them. Start is
//    refused while a worker lives.
//  * Events run on the main thread through TMainThread::Synchronize, the
//    worker waiting meanwhile: a handler may read the running pass's
//    findings (RunningResult) inside them.
//  * A pass that ended by an exception is reported with peFailed and the
//    exception's text, never as complete.
//  * What an analysis lists as an item is what a clean of the same state
//    removes; what neither touches (a file in use) is listed as kept, with
//    its reason, in both modes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/uCleanCategories.h"
#include "platform/MainThread.h"
#include "registry/uRegAccess.h"

namespace quenlo {

enum TScanMode : std::uint8_t { smReport = 0, smClean = 1 };

// One finding of an analysis pass (or, in a clean pass, one thing removed
// where a handler records it). Sizes are 64-bit: a finding without a size
// has 0, never -1.
struct TCleanItem {
  std::string Name;
  std::int64_t Size = 0;
};

// Something a pass did not analyse or did not remove, and why.
struct TCleanNote {
  std::string Name; // as an item would name it
  std::string Reason;
};

// The reasons the engine gives.
inline constexpr std::string_view kReasonInUse = "in use";
inline constexpr std::string_view kReasonNotFound = "not found";
inline constexpr std::string_view kReasonAccessDenied = "access denied";
inline constexpr std::string_view kReasonLocked = "database is locked";
inline constexpr std::string_view kReasonUnsafeFolder =
    "refused: not a folder the cleaner may empty";
inline constexpr std::string_view kReasonNotAvailable = "not available in this version";
inline constexpr std::string_view kReasonPassEnded = "not handled: the pass ended before it";
inline constexpr std::string_view kReasonStopped = "not handled: the pass was stopped";
// A link the system shows without the reparse-point attribute (Wine's view
// of a Unix symbolic link): removing it would remove what it points at.
inline constexpr std::string_view kReasonLink = "a link to elsewhere, left in place";
// "in use" for a sharing violation, "access denied", "not found" for a
// missing file or folder, else the system's message for the status.
std::string ReasonForStatus(long status);

enum TCategoryOutcome : std::uint8_t {
  coNotHandled = 0, // not selected, or the pass ended before it (reason says which)
  coNotFound = 1,   // nothing of the category exists on this machine
  coDone = 2,       // handled; every finding analysed or removed (kept ones aside)
  coIncomplete = 3, // handled, but the failures were not analysed or not removed
  coFailed = 4,     // could not be handled at all (reason)
};

struct TCategoryResult {
  TCategoryOutcome outcome = coNotHandled;
  std::string reason;               // for coFailed and coNotHandled
  std::vector<TCleanItem> items;    // analysis: what a clean removes
  std::vector<TCleanNote> kept;     // left on purpose in both modes (in use)
  std::vector<TCleanNote> failures; // meant to be analysed or removed, but not
  // Steps that did not apply to what is on this machine (a statement for a
  // table this version of the browser does not have): nothing was left
  // behind by them, so they do not make the outcome incomplete.
  std::vector<TCleanNote> skipped;
};

enum TPassEnd : std::uint8_t {
  peRunning = 0,
  peComplete = 1,
  peStopped = 2,
  peFailed = 3, // an exception ended the pass (failureText)
};

struct TPassResult {
  TScanMode mode = smReport;
  TCleanCategories selected;
  TPassEnd end = peRunning;
  std::string failureText;
  std::array<TCategoryResult, kCleanCategoryCount> categories;
  // Clean pass: full paths a plain delete could not remove (index files,
  // cache files, log files in use), for deletion when Windows restarts.
  std::vector<std::string> filesInUse;
  // Clean pass: the tray icon history was removed but the shell could not
  // be restarted.
  bool explorerRestartFailed = false;

  // Every selected category was handled and ended coDone or coNotFound.
  bool AllDone() const;
};

// Maps the path of a database file as the platform names it to the file
// that SQLite opens (the identity on Windows; tests on the in-memory
// platform point it at host files).
using TDatabasePathMap = std::function<std::string(std::string_view platformPath)>;

// What a category's handler works with: the pass's mode and stop request,
// its registry access, and the sink for its findings. One per pass, used
// only on the worker thread.
class TCleanPass {
public:
  TCleanPass(TScanMode mode, TPassResult &result, const std::atomic<bool> &terminated,
             qp::TMainThread &mainThread);

  TScanMode Mode() const { return mode_; }
  bool Reporting() const { return mode_ == smReport; }
  bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }

  // HKEY_CURRENT_USER, 32-bit view; KEY_READ in an analysis, so that an
  // analysis cannot change what it reads.
  TRegistryAccess &Registry() { return registry_; }

  // The folder that relative names of findings are cut from (with or
  // without its closing backslash).
  std::string BasePath;
  // The category whose cache index files are being walked (13, 14 or 15).
  TCleanCategory CacheContainer = ccIECache;
  // A running byte count for handlers that sum a folder's files.
  std::int64_t SizeTotal = 0;

  // The category the handler works for (set by the pass loop).
  TCleanCategory Current() const { return current_; }
  void SetCurrent(TCleanCategory category);

  void AddItem(TCleanCategory category, std::string name, std::int64_t size);
  // name relative to BasePath.
  void AddFileItem(TCleanCategory category, std::string_view fullPath, std::int64_t size);
  void AddKept(TCleanCategory category, std::string name, std::string reason);
  void AddFailure(TCleanCategory category, std::string name, std::string reason);
  void AddSkipped(TCleanCategory category, std::string name, std::string reason);
  // The category's source exists (a key, a folder, a database): it ends
  // coDone (or coIncomplete) instead of coNotFound, even with no findings.
  void MarkFound(TCleanCategory category);
  // The category cannot be handled (a locked database, refused folder).
  void FailCategory(TCleanCategory category, std::string reason);
  void AddFileInUse(std::string fullPath);
  void SetExplorerRestartFailed(bool failed);

  // The cookie query: CanDelete starts true and OnQueryDeleteCookie, run
  // on the main thread, may clear it.
  bool QueryDeleteCookie(const std::string &url);

  std::string DatabasePath(std::string_view platformPath) const;

  TPassResult &Result() { return result_; }

  // Set by the engine before the pass starts.
  // The download categories remove the files a download list names only
  // when this is set (TSysCleaner::DeleteDownloadedFiles); otherwise they
  // remove the list alone.
  bool DeleteDownloadedFiles = false;
  // How many databases a program held (locked) so far in this pass: a
  // handler that met a held database leaves the browser's other files of
  // that profile alone, since the browser that holds it is running.
  int LockedDatabases = 0;
  std::function<void(const std::string &url, bool &canDelete)> OnQueryDeleteCookie;
  TDatabasePathMap DatabasePathMap;

private:
  TScanMode mode_;
  TPassResult &result_;
  const std::atomic<bool> &terminated_;
  qp::TMainThread &mainThread_;
  TRegistryAccess registry_;
  TCleanCategory current_ = ccStartMenuOrderHistory;
};

// The handler of one category (uCleanItems.h has them all).
using TCategoryHandler = void (*)(TCleanPass &pass);

class TSysCleaner;

using TScanCompleteEvent = std::function<void(TSysCleaner &sender, TScanMode mode)>;
using TQueryDeleteCookieEvent =
    std::function<void(TSysCleaner &sender, const std::string &url, bool &canDelete)>;
// Named apart from the scanner's progress event, which lives in the same
// namespace and has another signature.
using TCleanProgressEvent =
    std::function<void(TSysCleaner &sender, TCleanCategory category, int totalProgress)>;

class TSysCleaner {
public:
  explicit TSysCleaner(qp::TMainThread &mainThread = qp::MainThread());
  ~TSysCleaner(); // Stop, then join
  TSysCleaner(const TSysCleaner &) = delete;
  TSysCleaner &operator=(const TSysCleaner &) = delete;

  // The categories the next pass handles; all 43 at first.
  TCleanCategories Categories = AllCleanCategories();
  // The download history categories also delete the downloaded files they
  // name (the user's own data, so off unless the user asks for it).
  bool DeleteDownloadedFiles = false;

  // Main thread. False (nothing started) while a worker lives. An analysis
  // empties the findings first; a clean keeps them and empties FilesInUse
  // and ExplorerRestartFailed.
  [[nodiscard]] bool Start(TScanMode mode);
  // Requests the end of the running pass and waits for its worker; no
  // OnScanComplete follows. The pass's partial result is kept (its end
  // is peStopped). Called inside an event handler it only requests the end
  // and the worker is joined when the handler has returned.
  void Stop();
  void ClearResults();
  bool Running() const;

  // The findings of the last analysis (of the running one inside events).
  std::size_t ItemCount(TCleanCategory category) const;
  const TCleanItem &Item(TCleanCategory category, std::size_t index) const;
  // What the last clean pass recorded.
  const std::vector<std::string> &FilesInUse() const;
  bool ExplorerRestartFailed() const;

  // The whole result of the last analysis and of the last clean (empty
  // results before the first of each).
  const TPassResult &LastAnalysis() const;
  const TPassResult &LastClean() const;

  // Tests on the in-memory platform open host database files through this.
  void SetDatabasePathMap(TDatabasePathMap map);
  // Replaces a category's handler (tests: a handler that raises or waits).
  void SetHandler(TCleanCategory category, TCategoryHandler handler);

  TScanCompleteEvent OnScanComplete;
  TQueryDeleteCookieEvent OnQueryDeleteCookie;
  TCleanProgressEvent OnProgress;

private:
  struct TWorker;
  void JoinWorker();
  void Finish(TWorker &worker); // main thread, after the pass ended

  qp::TMainThread &mainThread_;
  std::unique_ptr<TWorker> worker_;
  std::shared_ptr<TPassResult> analysis_;
  std::shared_ptr<TPassResult> clean_;
  std::array<TCategoryHandler, kCleanCategoryCount> handlers_{};
  TDatabasePathMap databasePathMap_;
};

} // namespace quenlo
