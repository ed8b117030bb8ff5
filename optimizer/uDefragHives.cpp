// The defragmenter's hive calls on the running system: uHiveBackup.h's.
#include "optimizer/uDefrag.h"

namespace quenlo {

namespace {

class TSystemHiveCalls final : public IHiveCalls {
public:
  bool Backup(const THiveBackupRequest &request, THiveBackupResult &result) override {
    return BackupHives(request, result);
  }
  bool Compare(std::string_view folder, THiveComparison &comparison) override {
    return CompareHiveBackup(folder, comparison);
  }
  bool Restore(std::string_view folder, const THiveProgress &progress,
               THiveRestoreResult &result) override {
    return RestoreHives(folder, progress, result);
  }
  bool ReplacementPending(std::string_view folder) override {
    return HiveReplacementPending(folder);
  }
};

} // namespace

IHiveCalls &SystemHiveCalls() {
  // Stateless: one for the process, safe to use from any worker thread.
  static TSystemHiveCalls calls;
  return calls;
}

} // namespace quenlo
