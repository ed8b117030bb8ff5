#include "paths/uProbeCache.h"

#include <string>
#include <unordered_map>

#include "platform/Platform.h"

namespace quenlo {

namespace {

// Enough for the distinct paths of a large scan; past it the memo starts
// again rather than growing with the registry.
constexpr std::size_t kMaxEntries = 1u << 16;

struct ProbeMemo {
  int scopes = 0;
  int viewSwitches = 0; // > 0: redirection is off on this thread
  std::unordered_map<std::string, std::uint32_t> attributes;
  std::unordered_map<std::string, std::uint32_t> driveTypes;
  std::string key; // reused lookup buffer

  const std::string &KeyFor(std::string_view path) {
    key.assign(1, viewSwitches > 0 ? '1' : '0');
    key.append(path);
    return key;
  }
  void Clear() {
    attributes.clear();
    driveTypes.clear();
  }
};

ProbeMemo &Memo() {
  thread_local ProbeMemo memo;
  return memo;
}

template <typename Query>
std::uint32_t Lookup(std::unordered_map<std::string, std::uint32_t> &map, ProbeMemo &memo,
                     std::string_view path, Query query) {
  const std::string &key = memo.KeyFor(path);
  if (auto it = map.find(key); it != map.end())
    return it->second;
  const std::uint32_t answer = query();
  if (map.size() >= kMaxEntries)
    map.clear();
  map.emplace(memo.key, answer);
  return answer;
}

} // namespace

TProbeCacheScope::TProbeCacheScope() {
  ++Memo().scopes;
}

TProbeCacheScope::~TProbeCacheScope() {
  ProbeMemo &memo = Memo();
  if (--memo.scopes == 0)
    memo.Clear();
}

std::uint32_t CachedFileAttributes(std::string_view path) {
  ProbeMemo &memo = Memo();
  if (memo.scopes == 0)
    return qp::Platform().Files().GetAttributes(path);
  return Lookup(memo.attributes, memo, path,
                [path] { return qp::Platform().Files().GetAttributes(path); });
}

std::uint32_t CachedDriveType(std::string_view root) {
  ProbeMemo &memo = Memo();
  if (memo.scopes == 0)
    return qp::Platform().Files().GetDriveType(root);
  return Lookup(memo.driveTypes, memo, root,
                [root] { return qp::Platform().Files().GetDriveType(root); });
}

void NoteFsViewSwitch(bool switchedAway) {
  ProbeMemo &memo = Memo();
  memo.viewSwitches += switchedAway ? 1 : -1;
  if (memo.viewSwitches < 0)
    memo.viewSwitches = 0;
}

std::size_t ProbeCacheSize() {
  const ProbeMemo &memo = Memo();
  return memo.attributes.size() + memo.driveTypes.size();
}

} // namespace quenlo
