#include "platform/PathText.h"

namespace qp {

namespace {

bool IsDriveRoot(std::string_view path) {
  return path.size() == 3 && path[1] == ':' && path[2] == '\\';
}

} // namespace

std::string WithTrailingBackslash(std::string_view path) {
  std::string text(path);
  if (text.empty() || text.back() != '\\')
    text.push_back('\\');
  return text;
}

std::string WithoutTrailingBackslash(std::string_view path) {
  while (!path.empty() && path.back() == '\\' && !IsDriveRoot(path))
    path.remove_suffix(1);
  return std::string(path);
}

std::string FolderOf(std::string_view path) {
  const auto pos = path.rfind('\\');
  return pos == std::string_view::npos ? std::string() : std::string(path.substr(0, pos));
}

std::string TitleWithoutExtension(std::string_view path) {
  const auto slash = path.rfind('\\');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string_view::npos)
    name = name.substr(0, dot);
  return std::string(name);
}

} // namespace qp
