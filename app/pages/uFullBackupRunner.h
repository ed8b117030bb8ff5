// The full registry backup a repair run makes when one is due: the hives
// saved on a worker thread under the progress cover, the backup date
// recorded on the main thread once the worker has ended.
#pragma once

#include <string>

#include "app/pages/uOptimizerServices.h"
#include "app/pages/uPageServices.h"

namespace quenlo {

inline constexpr const char *kFullBackupCaption =
    "Creating Registry backup.\r\nPlease wait, this may take several minutes...";

// Failure codes of the report "Registry Backup failed:\r\n...Error code: N".
enum TFullBackupFailure : std::uint16_t {
  fbRenameFailed = 1001, // the previous backup could not be moved aside or back
  fbBackupFailed = 1002, // a hive could not be saved (the backup is not complete)
  fbWaitFailed = 1003,   // the wait ended before the worker did
  fbNoThread = 1004,     // the worker could not be started
};

// "Registry Backup failed:\r\n" + text + ("\r\n" when text) + "Error code: " + code.
std::string FullBackupFailureText(TFullBackupFailure code, const std::string &text);

class TFullBackupRunner final : public IFullBackup {
public:
  explicit TFullBackupRunner(ILongOperation &operation) : operation_(operation) {}
  // False with the failure report; a partial backup is a failure that
  // names each hive left out, and the previous backup stays in place.
  [[nodiscard]] bool RunSilent(std::string &errorText) override;

private:
  ILongOperation &operation_;
};

} // namespace quenlo
