// The desktop session of the in-memory machine: what a test puts on the
// clipboard, into the URL cache and into the IIS metabase, and the counts of
// the calls that only have an effect on a real desktop.
#include <algorithm>

#include "platform/Utf.h"
#include "platform/memory/MemoryPlatform.h"

namespace qp::mem {

namespace {

// WinINet's search patterns: a prefix of the source URL up to its colon
// ("cookie:", "visited:"), compared without regard to case; no pattern (or
// "*.*") means every entry.
bool PatternMatches(std::string_view pattern, std::string_view sourceUrl) {
  if (pattern.empty() || pattern == "*.*")
    return true;
  return sourceUrl.size() >= pattern.size() &&
         EqualsNoCase(sourceUrl.substr(0, pattern.size()), pattern);
}

} // namespace

bool MemoryDesktop::ReadClipboard(std::vector<ClipboardEntry> &formats) {
  std::lock_guard lock(mu_);
  formats.clear();
  if (clipboardFails_)
    return false;
  formats = clipboard_;
  return true;
}

bool MemoryDesktop::EmptyClipboard() {
  std::lock_guard lock(mu_);
  if (clipboardFails_)
    return false;
  clipboard_.clear();
  ++clipboardEmpties_;
  return true;
}

bool MemoryDesktop::GetUrlCacheContainer(std::uint32_t containerFlag, std::string &path) {
  std::lock_guard lock(mu_);
  auto it = containers_.find(containerFlag);
  if (it == containers_.end())
    return false;
  path = it->second;
  return true;
}

void MemoryDesktop::EnumUrlCache(std::string_view pattern,
                                 const std::function<bool(const UrlCacheEntry &)> &visit) {
  std::vector<UrlCacheEntry> found;
  {
    std::lock_guard lock(mu_);
    for (const UrlCacheEntry &entry : urlCache_)
      if (PatternMatches(pattern, entry.sourceUrl))
        found.push_back(entry);
  }
  // Visited outside the lock: a visitor deletes entries as it goes.
  for (const UrlCacheEntry &entry : found)
    if (!visit(entry))
      return;
}

long MemoryDesktop::DeleteUrlCacheEntry(std::string_view sourceUrl) {
  std::lock_guard lock(mu_);
  if (auto failure = urlDeleteFailures_.find(std::string(sourceUrl));
      failure != urlDeleteFailures_.end())
    return failure->second;
  auto it = std::find_if(urlCache_.begin(), urlCache_.end(),
                         [sourceUrl](const UrlCacheEntry &e) { return e.sourceUrl == sourceUrl; });
  if (it == urlCache_.end())
    return wc::ErrorFileNotFound;
  urlCache_.erase(it);
  return wc::ErrorSuccess;
}

long MemoryDesktop::ClearUrlHistory() {
  std::lock_guard lock(mu_);
  ++historyClears_;
  return clearHistoryResult_;
}

bool MemoryDesktop::ListIisSites(std::string_view service, std::vector<IisSite> &sites) {
  std::lock_guard lock(mu_);
  sites.clear();
  auto it = iisSites_.find(UpperAscii(service));
  if (it == iisSites_.end())
    return false;
  sites = it->second;
  return true;
}

void MemoryDesktop::BroadcastSettingChange() {
  std::lock_guard lock(mu_);
  ++broadcasts_;
}

// --- set-up and inspection

void MemoryDesktop::SetClipboard(std::vector<ClipboardEntry> formats) {
  std::lock_guard lock(mu_);
  clipboard_ = std::move(formats);
}

void MemoryDesktop::SetClipboardOpenFails(bool fails) {
  std::lock_guard lock(mu_);
  clipboardFails_ = fails;
}

std::vector<ClipboardEntry> MemoryDesktop::Clipboard() const {
  std::lock_guard lock(mu_);
  return clipboard_;
}

int MemoryDesktop::ClipboardEmpties() const {
  std::lock_guard lock(mu_);
  return clipboardEmpties_;
}

void MemoryDesktop::SetCacheContainer(std::uint32_t containerFlag, std::string path) {
  std::lock_guard lock(mu_);
  if (path.empty())
    containers_.erase(containerFlag);
  else
    containers_[containerFlag] = std::move(path);
}

void MemoryDesktop::AddUrlCacheEntry(UrlCacheEntry entry) {
  std::lock_guard lock(mu_);
  urlCache_.push_back(std::move(entry));
}

void MemoryDesktop::SetUrlCacheDeleteFails(std::string sourceUrl, long status) {
  std::lock_guard lock(mu_);
  urlDeleteFailures_[std::move(sourceUrl)] = status;
}

std::vector<UrlCacheEntry> MemoryDesktop::UrlCacheEntries() const {
  std::lock_guard lock(mu_);
  return urlCache_;
}

void MemoryDesktop::SetClearUrlHistoryResult(long status) {
  std::lock_guard lock(mu_);
  clearHistoryResult_ = status;
}

int MemoryDesktop::UrlHistoryClears() const {
  std::lock_guard lock(mu_);
  return historyClears_;
}

void MemoryDesktop::SetIisSites(std::string service, std::vector<IisSite> sites) {
  std::lock_guard lock(mu_);
  iisSites_[UpperAscii(service)] = std::move(sites);
}

int MemoryDesktop::Broadcasts() const {
  std::lock_guard lock(mu_);
  return broadcasts_;
}

} // namespace qp::mem
