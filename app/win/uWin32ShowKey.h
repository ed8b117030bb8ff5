// Shows a key in the system's registry editor: carries out the plan of
// registry/uRegShowKey.h (which editor, which keystrokes) on the editor's
// window "RegEdit_RegEdit", started when none is open.
#pragma once

#include "app/pages/uResultsPageLogic.h"

namespace quenlo::win {

class TWin32ShowKey final : public IShowKey {
public:
  bool ShowKeyInRegedit(const std::string &name) override;
};

} // namespace quenlo::win
