// The long operations of the optimizer over Win32: the work runs on a
// worker thread at the lowest priority under the progress cover, while the
// main thread keeps the windows alive and applies the worker's progress.
#pragma once

#include <functional>
#include <string>

#include "app/pages/uOptimizerServices.h"
#include "platform/win32/WinApi.h"
#include "ui/uProgressCover.h"

namespace quenlo::win {

class TWin32LongOperation final : public ILongOperation {
public:
  // Between two looks at the worker, the main thread runs its messages.
  static constexpr DWORD kWaitSliceMs = 20;

  explicit TWin32LongOperation(std::function<HWND()> mainWindow)
      : mainWindow_(std::move(mainWindow)) {}
  TLongOperationResult Run(const std::string &caption, bool showBar,
                           const TLongWork &work) override;

private:
  std::function<HWND()> mainWindow_;
  ui::TProgressCover cover_;
};

} // namespace quenlo::win
