// The key selection dialog's tree without its window: "My Computer" over
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE. A key's subkeys are read when
// the key is first expanded, and whether it has any when it is first shown,
// so that opening the dialog reads two keys, not the registry. The dialog
// (app/win) shows the nodes and hands its expand and select events here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quenlo {

inline constexpr const char *kKeyTreeComputer = "My Computer";
inline constexpr const char *kKeyTreeRoots[] = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

// What the tree reads. Paths are full key paths with the long root name
// ("HKEY_CURRENT_USER\Software").
class IKeyTreeSource {
public:
  virtual ~IKeyTreeSource() = default;
  // The names of the key's subkeys; false with the reason when the key
  // cannot be read (gone, access denied).
  [[nodiscard]] virtual bool SubKeys(const std::string &path, std::vector<std::string> &names,
                                     std::string &errorText) = 0;
  // Whether the key has a subkey; false also when it cannot be read (an
  // expand then tells why).
  virtual bool HasSubKeys(const std::string &path) = 0;
};

// The registry's 32-bit view, the view the program's other key lists name
// their keys in; read access only.
class TRegistryKeyTreeSource final : public IKeyTreeSource {
public:
  bool SubKeys(const std::string &path, std::vector<std::string> &names,
               std::string &errorText) override;
  bool HasSubKeys(const std::string &path) override;
};

enum TKeyNodeKind : std::uint8_t { knComputer = 0, knRoot = 1, knKey = 2 };

class TKeyTree {
public:
  static constexpr int kComputer = 0;

  // The computer and its two roots; nothing is read yet.
  explicit TKeyTree(IKeyTreeSource &source);

  std::size_t Size() const { return nodes_.size(); }
  const std::string &Name(int node) const { return nodes_.at(Index(node)).name; }
  TKeyNodeKind Kind(int node) const { return nodes_.at(Index(node)).kind; }
  int Parent(int node) const { return nodes_.at(Index(node)).parent; }
  // The node's children, read from the source on the first call and kept
  // (sorted without regard to case). A key that cannot be read has none,
  // and ReadError says why.
  std::vector<int> Children(int node);
  bool ChildrenRead(int node) const { return nodes_.at(Index(node)).read; }
  // Whether the tree should offer to expand the node (asked of the source
  // once; after the read, whether it found any children).
  bool Expandable(int node);
  // "" for the computer, the long root name for a root, else the root's
  // name and the keys below it joined by backslashes.
  std::string Path(int node) const;
  // Only a key below a root can be chosen.
  bool Selectable(int node) const { return Kind(node) == knKey; }
  // Why the last read of subkeys failed; "" when it worked.
  const std::string &ReadError() const { return readError_; }

private:
  struct TNode {
    std::string name;
    TKeyNodeKind kind = knKey;
    int parent = -1;
    bool read = false;
    std::optional<bool> expandable;
    std::vector<int> children;
  };
  static std::size_t Index(int node) { return static_cast<std::size_t>(node); }
  int AddNode(std::string name, TKeyNodeKind kind, int parent);

  IKeyTreeSource &source_;
  std::vector<TNode> nodes_;
  std::string readError_;
};

} // namespace quenlo
