// Programs started by the core are recorded and answered by a test handler.
#include "platform/memory/MemoryPlatform.h"

namespace qp::mem {

ProcessResult MemoryProcesses::RunHiddenAndWait(std::string_view commandLine) {
  std::function<ProcessResult(std::string_view)> handler;
  {
    std::lock_guard lock(mu_);
    commandLines_.emplace_back(commandLine);
    handler = handler_;
  }
  if (handler)
    return handler(commandLine);
  ProcessResult result;
  result.started = true;
  return result;
}

void MemoryProcesses::SetHandler(std::function<ProcessResult(std::string_view)> handler) {
  std::lock_guard lock(mu_);
  handler_ = std::move(handler);
}

std::vector<std::string> MemoryProcesses::CommandLines() const {
  std::lock_guard lock(mu_);
  return commandLines_;
}

} // namespace qp::mem
