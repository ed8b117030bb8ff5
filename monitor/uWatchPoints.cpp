#include "monitor/uWatchPoints.h"

#include "platform/ScopedKey.h"
#include "platform/Utf.h"

namespace quenlo::monitor {

namespace {

constexpr std::string_view kSoftware = "SOFTWARE\\";
constexpr std::string_view kSoftwareWow = "SOFTWARE\\WOW6432NODE";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && qp::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimSlashes(std::string_view path) {
  while (!path.empty() && path.front() == '\\')
    path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\')
    path.remove_suffix(1);
  return path;
}

// The kernel name of root\path in the view: of the key, or of its nearest
// existing ancestor followed by the rest of the path as spelled. False when
// the registry cannot name keys (or the root itself does not open).
bool KernelNameInView(std::uint32_t root, std::string_view path, TRegistryView view,
                      std::string &name) {
  qp::IRegistry &reg = qp::Platform().Registry();
  std::string_view existing = TrimSlashes(path);
  std::string rest;
  for (;;) {
    qp::ScopedKey key;
    const long st = reg.OpenKey(root, existing, wc::KeyQueryValue | ViewFlag(view), key.Out());
    if (st == wc::ErrorSuccess) {
      if (reg.QueryKeyName(key.Get(), name) != wc::ErrorSuccess || name.empty())
        return false;
      name += rest;
      return true;
    }
    if (existing.empty())
      return false;
    const std::size_t cut = existing.rfind('\\');
    const std::size_t from = cut == std::string_view::npos ? 0 : cut + 1;
    rest = "\\" + std::string(existing.substr(from)) + rest;
    existing = cut == std::string_view::npos ? std::string_view() : existing.substr(0, cut);
  }
}

std::string FallbackSecondView(std::uint32_t root, std::string_view path) {
  path = TrimSlashes(path);
  if (root != wc::HkeyLocalMachine || !StartsWithNoCase(path, kSoftware) ||
      StartsWithNoCase(path, kSoftwareWow))
    return {};
  return "SOFTWARE\\Wow6432Node\\" + std::string(path.substr(kSoftware.size()));
}

} // namespace

bool ParseKeyEntry(std::string_view entry, std::uint32_t &root, std::string &path) {
  const std::size_t cut = entry.find('\\');
  if (cut == std::string_view::npos)
    return false;
  root = RootKeyFromName(entry.substr(0, cut));
  if (root == 0)
    return false;
  path = std::string(entry.substr(cut + 1));
  return true;
}

std::string SecondViewPath(std::uint32_t root, std::string_view path) {
  std::string name32, name64, rootName;
  if (!KernelNameInView(root, path, rv32, name32) || !KernelNameInView(root, path, rv64, name64) ||
      !KernelNameInView(root, "", rv64, rootName))
    return FallbackSecondView(root, path);
  if (qp::EqualsNoCase(name32, name64))
    return {};
  // The 32-bit key's name below the root's own name is its path from the
  // 64-bit view; a root whose name is no prefix of it (a merged root) falls
  // back to the rule.
  rootName += '\\';
  if (!StartsWithNoCase(name32, rootName))
    return FallbackSecondView(root, path);
  return name32.substr(rootName.size());
}

std::vector<TWatchPoint> WatchPointsOf(int index, std::uint32_t root, const std::string &path) {
  TWatchPoint point;
  point.index = index;
  point.root = root;
  point.path = path;
  point.viewPath = path;
  point.view = ProcessOnWow64 ? rv64 : rv32;
  if (!ProcessOnWow64)
    return {point};
  const std::string second = SecondViewPath(root, path);
  if (second.empty())
    return {point};
  TWatchPoint view32 = point;
  view32.view = rv32;
  view32.oneOfTwoViews = true;
  view32.viewPath = second;
  point.oneOfTwoViews = true;
  return {view32, point};
}

} // namespace quenlo::monitor
