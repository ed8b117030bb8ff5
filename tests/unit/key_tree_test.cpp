// The key selection dialog's tree: what it reads and when, the paths it
// hands back, which nodes can be chosen, and keys that cannot be read or
// vanish. The registry source runs on the in-memory registry (a 64-bit
// program on 64-bit Windows, so the two views differ under
// HKLM\Software).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "TestPlatform.h"
#include "app/pages/uKeyTree.h"
#include "platform/Utf.h"

namespace quenlo::test {
namespace {

using qp::mem::View;

// The node of a full path, expanding on the way; -1 when a part is missing.
int Find(TKeyTree &tree, const std::string &path) {
  int node = TKeyTree::kComputer;
  std::size_t from = 0;
  while (from <= path.size()) {
    const std::size_t cut = std::min(path.find('\\', from), path.size());
    const std::string part = path.substr(from, cut - from);
    int next = -1;
    for (const int child : tree.Children(node))
      if (qp::EqualsNoCase(tree.Name(child), part))
        next = child;
    if (next < 0)
      return -1;
    node = next;
    from = cut + 1;
  }
  return node;
}

std::vector<std::string> ChildNames(TKeyTree &tree, int node) {
  std::vector<std::string> names;
  for (const int child : tree.Children(node))
    names.push_back(tree.Name(child));
  return names;
}

// A source that answers from a table and counts what it was asked.
class TableSource final : public IKeyTreeSource {
public:
  bool SubKeys(const std::string &path, std::vector<std::string> &names,
               std::string &errorText) override {
    ++listed[path];
    const auto it = keys.find(path);
    if (it == keys.end()) {
      errorText = "The system cannot find the file specified.";
      return false;
    }
    names = it->second;
    return true;
  }
  bool HasSubKeys(const std::string &path) override {
    ++asked[path];
    const auto it = keys.find(path);
    return it != keys.end() && !it->second.empty();
  }

  std::map<std::string, std::vector<std::string>> keys;
  std::map<std::string, int> listed;
  std::map<std::string, int> asked;
};

TEST(KeyTreeShape, TheComputerHoldsTheTwoRootsBeforeAnythingIsRead) {
  TableSource source;
  TKeyTree tree(source);
  EXPECT_EQ(tree.Name(TKeyTree::kComputer), "My Computer");
  EXPECT_EQ(ChildNames(tree, TKeyTree::kComputer),
            (std::vector<std::string>{"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"}));
  for (const int root : tree.Children(TKeyTree::kComputer))
    EXPECT_TRUE(tree.Expandable(root)) << tree.Name(root);
  EXPECT_TRUE(source.listed.empty());
  EXPECT_TRUE(source.asked.empty());
}

TEST(KeyTreeShape, OnlyKeysBelowARootCanBeChosen) {
  TableSource source;
  source.keys["HKEY_CURRENT_USER"] = {"Software"};
  TKeyTree tree(source);
  const int root = Find(tree, "HKEY_CURRENT_USER");
  const int software = Find(tree, "HKEY_CURRENT_USER\\Software");
  ASSERT_GE(software, 0);
  EXPECT_FALSE(tree.Selectable(TKeyTree::kComputer));
  EXPECT_FALSE(tree.Selectable(root));
  EXPECT_TRUE(tree.Selectable(software));
}

TEST(KeyTreeShape, PathsCarryTheLongRootNameAndEveryKeyOnTheWay) {
  TableSource source;
  source.keys["HKEY_LOCAL_MACHINE"] = {"SOFTWARE"};
  source.keys["HKEY_LOCAL_MACHINE\\SOFTWARE"] = {"Wine", "100% Free (x86)"};
  source.keys["HKEY_LOCAL_MACHINE\\SOFTWARE\\100% Free (x86)"] = {"Ünïcode %s"};
  TKeyTree tree(source);
  EXPECT_EQ(tree.Path(TKeyTree::kComputer), "");
  EXPECT_EQ(tree.Path(Find(tree, "HKEY_LOCAL_MACHINE")), "HKEY_LOCAL_MACHINE");
  const int deep = Find(tree, "HKEY_LOCAL_MACHINE\\SOFTWARE\\100% Free (x86)\\Ünïcode %s");
  ASSERT_GE(deep, 0);
  EXPECT_EQ(tree.Path(deep), "HKEY_LOCAL_MACHINE\\SOFTWARE\\100% Free (x86)\\Ünïcode %s");
}

TEST(KeyTreeShape, SubkeysAreSortedWithoutRegardToCase) {
  TableSource source;
  source.keys["HKEY_CURRENT_USER"] = {"zeta", "Alpha", "beta", "Gamma"};
  TKeyTree tree(source);
  EXPECT_EQ(ChildNames(tree, Find(tree, "HKEY_CURRENT_USER")),
            (std::vector<std::string>{"Alpha", "beta", "Gamma", "zeta"}));
}

// An empty name would make the parent's own path, one with a backslash a
// key further down: choosing either would hand back another key.
TEST(KeyTreeShape, NamesThatWouldPointAtAnotherKeyAreLeftOut) {
  TableSource source;
  source.keys["HKEY_CURRENT_USER"] = {"", "Software\\Other", "Software"};
  TKeyTree tree(source);
  EXPECT_EQ(ChildNames(tree, Find(tree, "HKEY_CURRENT_USER")),
            (std::vector<std::string>{"Software"}));
}

TEST(KeyTreeReading, AKeyIsListedOnceAndAskedAboutOnce) {
  TableSource source;
  source.keys["HKEY_CURRENT_USER"] = {"Software", "Empty"};
  source.keys["HKEY_CURRENT_USER\\Software"] = {"Wine"};
  source.keys["HKEY_CURRENT_USER\\Empty"] = {};
  TKeyTree tree(source);
  const int root = Find(tree, "HKEY_CURRENT_USER");
  tree.Children(root);
  tree.Children(root);
  EXPECT_EQ(source.listed["HKEY_CURRENT_USER"], 1);
  const int software = Find(tree, "HKEY_CURRENT_USER\\Software");
  const int empty = Find(tree, "HKEY_CURRENT_USER\\Empty");
  EXPECT_TRUE(tree.Expandable(software));
  EXPECT_TRUE(tree.Expandable(software));
  EXPECT_FALSE(tree.Expandable(empty));
  EXPECT_EQ(source.asked["HKEY_CURRENT_USER\\Software"], 1);
  EXPECT_EQ(source.asked["HKEY_CURRENT_USER\\Empty"], 1);
  // Showing a key does not read its subkeys; expanding it does.
  EXPECT_FALSE(tree.ChildrenRead(software));
  EXPECT_EQ(source.listed.count("HKEY_CURRENT_USER\\Software"), 0U);
}

// The answer of the read replaces the earlier guess: a key that had
// subkeys when shown and none when expanded loses its expand button.
TEST(KeyTreeReading, TheReadDecidesWhetherAKeyCanStillBeExpanded) {
  TableSource source;
  source.keys["HKEY_CURRENT_USER"] = {"Software"};
  source.keys["HKEY_CURRENT_USER\\Software"] = {"Wine"};
  TKeyTree tree(source);
  const int software = Find(tree, "HKEY_CURRENT_USER\\Software");
  EXPECT_TRUE(tree.Expandable(software));
  source.keys["HKEY_CURRENT_USER\\Software"].clear();
  EXPECT_TRUE(tree.Children(software).empty());
  EXPECT_FALSE(tree.Expandable(software));
  EXPECT_EQ(tree.ReadError(), "");
}

class KeyTreeRegistry : public MemoryTest {
protected:
  TRegistryKeyTreeSource source;
  TKeyTree tree{source};
};

// The program names its keys in the 32-bit view: under HKLM\Software the
// tree shows what a 32-bit program sees.
TEST_F(KeyTreeRegistry, MachineSoftwareIsShownInThe32BitView) {
  ASSERT_TRUE(reg.CreateKey(View::V32, "HKLM\\Software\\Only32\\Inner"));
  ASSERT_TRUE(reg.CreateKey(View::V64, "HKLM\\Software\\Only64\\Inner"));
  const std::vector<std::string> names =
      ChildNames(tree, Find(tree, "HKEY_LOCAL_MACHINE\\Software"));
  EXPECT_NE(std::find(names.begin(), names.end(), "Only32"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "Only64"), names.end());
  const int only32 = Find(tree, "HKEY_LOCAL_MACHINE\\Software\\Only32");
  EXPECT_TRUE(tree.Expandable(only32));
  EXPECT_EQ(ChildNames(tree, only32), (std::vector<std::string>{"Inner"}));
}

TEST_F(KeyTreeRegistry, UserKeysAreListedWithTheirSubkeys) {
  ASSERT_TRUE(reg.CreateKey(View::V64, "HKCU\\Software\\QuenloTree\\B"));
  ASSERT_TRUE(reg.CreateKey(View::V64, "HKCU\\Software\\QuenloTree\\a\\Deeper"));
  const int key = Find(tree, "HKEY_CURRENT_USER\\Software\\QuenloTree");
  ASSERT_GE(key, 0);
  EXPECT_EQ(ChildNames(tree, key), (std::vector<std::string>{"a", "B"}));
  EXPECT_TRUE(tree.Expandable(Find(tree, "HKEY_CURRENT_USER\\Software\\QuenloTree\\a")));
  EXPECT_FALSE(tree.Expandable(Find(tree, "HKEY_CURRENT_USER\\Software\\QuenloTree\\B")));
}

TEST_F(KeyTreeRegistry, AKeyThatRefusesReadingSaysWhyAndShowsNoSubkeys) {
  ASSERT_TRUE(reg.CreateKey(View::V64, "HKCU\\Software\\QuenloLocked\\Hidden"));
  reg.SetDenyAccess(View::V64, "HKCU\\Software\\QuenloLocked", true);
  const int locked = Find(tree, "HKEY_CURRENT_USER\\Software\\QuenloLocked");
  ASSERT_GE(locked, 0);
  EXPECT_FALSE(tree.Expandable(locked));
  EXPECT_TRUE(tree.Children(locked).empty());
  EXPECT_EQ(tree.ReadError(), "The subkeys of HKEY_CURRENT_USER\\Software\\QuenloLocked cannot be "
                              "read: " +
                                  sys.SystemMessage(5));
  // The next read that works clears the reason.
  tree.Children(Find(tree, "HKEY_LOCAL_MACHINE"));
  EXPECT_EQ(tree.ReadError(), "");
}

TEST_F(KeyTreeRegistry, AKeyThatVanishedBeforeItsExpandNamesItself) {
  ASSERT_TRUE(reg.CreateKey(View::V64, "HKCU\\Software\\QuenloGone\\Child"));
  const int gone = Find(tree, "HKEY_CURRENT_USER\\Software\\QuenloGone");
  EXPECT_TRUE(tree.Expandable(gone));
  ASSERT_TRUE(reg.DeleteTree(View::V64, "HKCU\\Software\\QuenloGone"));
  EXPECT_TRUE(tree.Children(gone).empty());
  EXPECT_FALSE(tree.Expandable(gone));
  EXPECT_NE(tree.ReadError().find("HKEY_CURRENT_USER\\Software\\QuenloGone"), std::string::npos);
  EXPECT_EQ(reg.OpenHandleCount(), 0U);
}

} // namespace
} // namespace quenlo::test
