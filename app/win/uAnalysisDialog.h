// The defragmenter's analysis dialog over Win32: the used and free share of
// the registry files as a pie chart drawn with GDI and two labelled values,
// "There is nothing to defragment" when nothing would be gained, and one
// button ("Defragment", or "Ok" when there is nothing to do). It is modal
// to the main window; Escape and the close box cancel.
#pragma once

#include <functional>
#include <string>

#include "app/pages/uOptimizerServices.h"
#include "ui/uWindow.h"

namespace quenlo::win {

class TAnalysisDialogWindow;

class TWin32AnalysisDialog final : public IAnalysisDialog {
public:
  explicit TWin32AnalysisDialog(std::function<HWND()> owner) : owner_(std::move(owner)) {}
  bool Show(const TAnalysisView &view) override;

private:
  std::function<HWND()> owner_;
};

} // namespace quenlo::win
