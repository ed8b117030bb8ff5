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

// --- placeholders until the process list model lands
namespace qp::mem {
bool MemoryProcesses::ListProcesses(std::vector<ProcessEntry> &) {
  return false;
}
std::uint32_t MemoryProcesses::CurrentProcessId() {
  return 1;
}
std::uint32_t MemoryProcesses::CurrentSessionId() {
  return 1;
}
TCloseProcessResult MemoryProcesses::CloseProcess(std::uint32_t, std::uint32_t) {
  return cpNotClosed;
}
bool MemoryProcesses::StartProcess(std::string_view) {
  return false;
}

bool MemoryDesktop::ReadClipboard(std::vector<ClipboardEntry> &) {
  return false;
}
bool MemoryDesktop::EmptyClipboard() {
  return false;
}
bool MemoryDesktop::GetUrlCacheContainer(std::uint32_t, std::string &) {
  return false;
}
void MemoryDesktop::EnumUrlCache(std::string_view,
                                 const std::function<bool(const UrlCacheEntry &)> &) {}
long MemoryDesktop::DeleteUrlCacheEntry(std::string_view) {
  return wc::ErrorFileNotFound;
}
long MemoryDesktop::ClearUrlHistory() {
  return 0;
}
bool MemoryDesktop::ListIisSites(std::string_view, std::vector<IisSite> &) {
  return false;
}
void MemoryDesktop::BroadcastSettingChange() {}

long MemoryFileSystem::SetAttributes(std::string_view, std::uint32_t) {
  return 0;
}
long MemoryFileSystem::TestExclusiveOpen(std::string_view path) {
  return GetAttributes(path) == wc::InvalidFileAttributes ? wc::ErrorFileNotFound : 0;
}
} // namespace qp::mem
