// What the history page asks of the system, over Win32: whether a browser
// runs in this session (the cleaner's own process routine, which already
// confines itself to the current session), and the delete that Windows
// carries out at its next start.
#pragma once

#include <string>

#include "app/pages/uHistoryPageLogic.h"

namespace quenlo::win {

class TWin32HistoryServices final : public IHistoryServices {
public:
  bool BrowserRunning(const std::string &exeName) override;
  [[nodiscard]] long DeleteAtRestart(const std::string &path) override;
};

} // namespace quenlo::win
