#include "optimizer/uDefrag.h"

#include "paths/uSysUtils.h"
#include "platform/FileOps.h"

namespace quenlo {

namespace {

// What a partial or failed hive run left out, one "<key>: <reason>" per line.
std::string OutcomeText(const std::string &errorText, const std::vector<THiveOutcome> &hives) {
  std::string text = errorText;
  for (const THiveOutcome &hive : hives) {
    if (hive.done || hive.errorText.empty())
      continue;
    if (!text.empty())
      text += "\r\n";
    text += hive.keyPath + ": " + hive.errorText;
  }
  return text;
}

// A fresh save of every hive into the cleared work folder, and the sizes.
TDefragStep SaveAndCompare(IHiveCalls &hives, const TDefragRequest &request) {
  TDefragStep step;
  if (hives.ReplacementPending(request.folder)) {
    step.outcome = doPending;
    return step;
  }
  if (!DiscardWorkFolder(hives, request.folder)) {
    step.outcome = doBackupFailed;
    step.errorText = "The folder \"" + request.folder + "\" could not be cleared.";
    return step;
  }
  THiveBackupResult backup;
  const THiveBackupRequest backupRequest{
      .folder = request.folder, .progress = request.progress, .terminate = request.terminate};
  if (!hives.Backup(backupRequest, backup) || backup.stopped) {
    step.outcome = doBackupFailed;
    step.errorText = OutcomeText(backup.errorText, backup.hives);
    return step;
  }
  if (!hives.Compare(request.folder, step.comparison)) {
    step.outcome = doCompareFailed;
    step.errorText = HiveCompareReasonText(step.comparison.reason);
  }
  return step;
}

} // namespace

std::string DefragWorkFolder(std::string_view settingsFolder) {
  return std::string(settingsFolder) + "\\" + kDefragWorkFolderTitle;
}

bool DefragPending(IHiveCalls &hives, std::string_view folder) {
  return hives.ReplacementPending(folder);
}

bool DiscardWorkFolder(IHiveCalls &hives, std::string_view folder) {
  if (hives.ReplacementPending(folder))
    return true; // the old registry's only copy: kept until the restart
  if (!qp::FolderExists(folder) && !qp::FileExists(folder))
    return true;
  return ShellDeleteFile(folder, false);
}

TDefragStep AnalyzeRegistry(IHiveCalls &hives, const TDefragRequest &request) {
  return SaveAndCompare(hives, request);
}

TDefragStep DefragmentRegistry(IHiveCalls &hives, const TDefragRequest &request) {
  // One progress for the run: the save is its first half, the hand-over
  // its second, so that the progress never runs backwards.
  TDefragRequest save = request;
  THiveProgress handOver;
  if (request.progress) {
    save.progress = [&request](std::uint64_t total, std::uint64_t done) {
      request.progress(total * 2, done);
    };
    handOver = [&request](std::uint64_t total, std::uint64_t done) {
      request.progress(total * 2, total + done);
    };
  }
  TDefragStep step = SaveAndCompare(hives, save);
  if (!step.Ok())
    return step;
  THiveRestoreResult restore;
  const bool ok = hives.Restore(request.folder, handOver, restore);
  step.replaced = restore.replaced;
  if (!ok) {
    step.outcome = doRestoreFailed;
    step.errorText = OutcomeText(restore.errorText, restore.hives);
  }
  return step;
}

TDefragNumbers DefragNumbers(std::uint64_t liveSize, std::uint64_t compactSize) {
  TDefragNumbers n;
  n.usedBytes = compactSize;
  n.freeBytes = liveSize > compactSize ? liveSize - compactSize : 0;
  if (liveSize == 0)
    return n; // 100 % used, 0 % free
  // Rounded to the nearest: (2K x 100 + L) / 2L.
  const std::uint64_t used = (compactSize * 200 + liveSize) / (liveSize * 2);
  n.usedPercent = used > 100 ? 100 : static_cast<int>(used);
  n.freePercent = 100 - n.usedPercent;
  const int degrees = (n.freePercent * 36 + 5) / 10; // free x 3.6, rounded
  n.pieResource = 10000 + 5 * (degrees / 5);
  n.nothingToDo = n.freePercent == 0;
  return n;
}

} // namespace quenlo
