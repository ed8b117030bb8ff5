// The restore page's screen over Win32: its messages through the prompter
// (every box captioned "Quenlo"), the main window's busy cursor, the jump
// into the registry editor, and printing through the print dialog and GDI.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/pages/uPages.h"
#include "app/pages/uRestorePage.h"
#include "app/pages/uResultsPageLogic.h"
#include "platform/win32/WinApi.h"

namespace quenlo::win {

struct TWin32RestoreUiDeps {
  IPrompter &prompter;
  IMainFrame &frame; // shows the busy cursor
  IShowKey &showKey;
  std::function<HWND()> owner; // the print dialog's owner (may answer null)
};

class TWin32RestoreUi final : public TRestorePageUi {
public:
  explicit TWin32RestoreUi(TWin32RestoreUiDeps deps) : d_(std::move(deps)) {}
  TMsgAnswer Message(const std::string &text, TMsgButtons buttons, TMsgIcon icon) override;
  void SetBusyCursor(bool busy) override;
  bool ShowKeyInRegedit(const std::string &entry) override;
  // The print dialog, then one line per entry, a new page when one is
  // full. A cancelled dialog prints nothing and answers true; a failure of
  // the dialog or the printer answers false.
  bool PrintLines(const std::vector<std::string> &lines) override;

private:
  TWin32RestoreUiDeps d_;
};

} // namespace quenlo::win
