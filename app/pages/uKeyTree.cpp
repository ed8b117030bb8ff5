#include "app/pages/uKeyTree.h"

#include <algorithm>
#include <string_view>

#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace quenlo {

namespace {

// Opens a full key path ("HKEY_CURRENT_USER\Software") for reading in the
// 32-bit view; false with the system's reason.
bool OpenForReading(const std::string &path, TRegistryAccess &reg, std::string &errorText) {
  const std::size_t cut = path.find('\\');
  const std::string_view rootName = std::string_view(path).substr(0, cut);
  const std::uint32_t root = RootKeyFromName(rootName);
  if (root == 0) {
    errorText = "\"" + std::string(rootName) + "\" is not a registry root";
    return false;
  }
  reg.SetView(rv32);
  reg.SetRootKey(root);
  const std::string sub = cut == std::string::npos ? std::string() : path.substr(cut + 1);
  if (!reg.OpenKey("\\" + sub, false)) {
    errorText = SysErrorMessage(reg.LastStatus());
    return false;
  }
  return true;
}

// A name the tree can show and join into a path: one that names a subkey,
// not the key itself or a key further down.
bool UsableName(const std::string &name) {
  return !name.empty() && name.find('\\') == std::string::npos;
}

bool LessNoCase(const std::string &a, const std::string &b) {
  const std::string la = qp::LowerAscii(a);
  const std::string lb = qp::LowerAscii(b);
  return la != lb ? la < lb : a < b;
}

} // namespace

bool TRegistryKeyTreeSource::SubKeys(const std::string &path, std::vector<std::string> &names,
                                     std::string &errorText) {
  names.clear();
  TRegistryAccess reg(wc::KeyRead);
  if (!OpenForReading(path, reg, errorText))
    return false;
  if (!reg.GetKeyNames(names)) {
    errorText = "its subkeys cannot be listed";
    return false;
  }
  return true;
}

bool TRegistryKeyTreeSource::HasSubKeys(const std::string &path) {
  TRegistryAccess reg(wc::KeyRead);
  std::string ignored;
  qp::KeyInfo info;
  return OpenForReading(path, reg, ignored) && reg.GetKeyInfo(info) && info.subKeys > 0;
}

TKeyTree::TKeyTree(IKeyTreeSource &source) : source_(source) {
  AddNode(kKeyTreeComputer, knComputer, -1);
  std::vector<int> roots;
  for (const char *root : kKeyTreeRoots)
    roots.push_back(AddNode(root, knRoot, kComputer));
  nodes_[kComputer].children = roots;
  // The roots are the computer's children whatever the registry holds;
  // they are always offered for expanding.
  nodes_[kComputer].read = true;
  nodes_[kComputer].expandable = true;
  for (const int root : nodes_[kComputer].children)
    nodes_[Index(root)].expandable = true;
}

int TKeyTree::AddNode(std::string name, TKeyNodeKind kind, int parent) {
  TNode node;
  node.name = std::move(name);
  node.kind = kind;
  node.parent = parent;
  nodes_.push_back(std::move(node));
  return static_cast<int>(nodes_.size() - 1);
}

std::vector<int> TKeyTree::Children(int node) {
  if (nodes_.at(Index(node)).read)
    return nodes_[Index(node)].children;
  readError_.clear();
  std::vector<std::string> names;
  std::string reason;
  const std::string path = Path(node);
  if (!source_.SubKeys(path, names, reason)) {
    readError_ = "The subkeys of " + path + " cannot be read: " + reason;
    names.clear();
  }
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string &name) { return !UsableName(name); }),
              names.end());
  std::sort(names.begin(), names.end(), LessNoCase);
  std::vector<int> children;
  children.reserve(names.size());
  for (std::string &name : names)
    children.push_back(AddNode(std::move(name), knKey, node));
  // AddNode may have moved the nodes: the node is looked up again.
  TNode &parent = nodes_[Index(node)];
  parent.children = children;
  parent.read = true;
  parent.expandable = !children.empty();
  return children;
}

bool TKeyTree::Expandable(int node) {
  TNode &entry = nodes_.at(Index(node));
  if (!entry.expandable)
    entry.expandable = source_.HasSubKeys(Path(node));
  return *entry.expandable;
}

std::string TKeyTree::Path(int node) const {
  std::vector<const std::string *> parts;
  for (int at = node; at >= 0 && Kind(at) != knComputer; at = Parent(at))
    parts.push_back(&Name(at));
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (!path.empty())
      path += '\\';
    path += **it;
  }
  return path;
}

} // namespace quenlo
