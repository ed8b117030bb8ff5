// Programs the core runs are recorded and answered by a test handler; the
// process list is what a test builds, with how each process takes being
// closed.
#include <algorithm>

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

bool MemoryProcesses::ListProcesses(std::vector<ProcessEntry> &processes) {
  std::lock_guard lock(mu_);
  processes.clear();
  if (!listAvailable_)
    return false;
  processes.push_back(ProcessEntry{kOwnProcessId, session_,
                                   "\\Device\\HarddiskVolume1\\Program Files\\Quenlo\\quenlo.exe"});
  for (const Process &process : processes_)
    processes.push_back(process.entry);
  return true;
}

std::uint32_t MemoryProcesses::CurrentProcessId() {
  return kOwnProcessId;
}

std::uint32_t MemoryProcesses::CurrentSessionId() {
  std::lock_guard lock(mu_);
  return session_;
}

TCloseProcessResult MemoryProcesses::CloseProcess(std::uint32_t id, std::uint32_t timeoutMs) {
  std::function<void(const ProcessEntry &)> onEnd;
  ProcessEntry ended;
  TCloseProcessResult result = cpNotClosed;
  {
    std::lock_guard lock(mu_);
    closeCalls_.push_back(CloseCall{id, timeoutMs});
    auto it = std::find_if(processes_.begin(), processes_.end(),
                           [id](const Process &process) { return process.entry.id == id; });
    if (it == processes_.end() || it->behaviour == CloseBehaviour::CannotOpen)
      return cpNotClosed;
    result = it->behaviour == CloseBehaviour::EndsOnClose ? cpEnded : cpTerminated;
    ended = it->entry;
    processes_.erase(it);
    onEnd = onEnd_;
  }
  if (onEnd)
    onEnd(ended);
  return result;
}

bool MemoryProcesses::StartProcess(std::string_view commandLine) {
  std::function<std::optional<ProcessEntry>(std::string_view)> onStart;
  {
    std::lock_guard lock(mu_);
    if (startFails_)
      return false;
    started_.emplace_back(commandLine);
    onStart = onStart_;
  }
  if (!onStart)
    return true;
  if (std::optional<ProcessEntry> entry = onStart(commandLine)) {
    std::lock_guard lock(mu_);
    AddLocked(std::move(*entry), CloseBehaviour::EndsOnClose);
  }
  return true;
}

std::uint32_t MemoryProcesses::AddLocked(ProcessEntry entry, CloseBehaviour behaviour) {
  if (entry.id == 0)
    entry.id = nextId_++;
  const std::uint32_t id = entry.id;
  processes_.push_back(Process{std::move(entry), behaviour});
  return id;
}

std::uint32_t MemoryProcesses::AddProcess(ProcessEntry entry, CloseBehaviour behaviour) {
  std::lock_guard lock(mu_);
  return AddLocked(std::move(entry), behaviour);
}

void MemoryProcesses::SetProcessListAvailable(bool available) {
  std::lock_guard lock(mu_);
  listAvailable_ = available;
}

void MemoryProcesses::SetCurrentSession(std::uint32_t sessionId) {
  std::lock_guard lock(mu_);
  session_ = sessionId;
}

void MemoryProcesses::SetOnStart(
    std::function<std::optional<ProcessEntry>(std::string_view commandLine)> hook) {
  std::lock_guard lock(mu_);
  onStart_ = std::move(hook);
}

void MemoryProcesses::SetOnEnd(std::function<void(const ProcessEntry &ended)> hook) {
  std::lock_guard lock(mu_);
  onEnd_ = std::move(hook);
}

void MemoryProcesses::SetStartFails(bool fails) {
  std::lock_guard lock(mu_);
  startFails_ = fails;
}

std::vector<ProcessEntry> MemoryProcesses::Running() const {
  std::lock_guard lock(mu_);
  std::vector<ProcessEntry> entries;
  for (const Process &process : processes_)
    entries.push_back(process.entry);
  return entries;
}

std::vector<std::string> MemoryProcesses::StartedCommandLines() const {
  std::lock_guard lock(mu_);
  return started_;
}

std::vector<MemoryProcesses::CloseCall> MemoryProcesses::CloseCalls() const {
  std::lock_guard lock(mu_);
  return closeCalls_;
}

} // namespace qp::mem
