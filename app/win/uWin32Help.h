// The system's HTML Help viewer: hh.exe from the Windows folder, started
// at a topic of a compiled help file.
#pragma once

#include <string>

#include "app/pages/uPageServices.h"

namespace quenlo::win {

class TWin32HelpViewer final : public IHelpViewer {
public:
  // Started by its full path, never looked up by name: an hh.exe beside
  // the program or on the search path must not be the one that runs.
  bool ShowTopic(const std::string &chmFile, const std::string &topic) override;
};

} // namespace quenlo::win
