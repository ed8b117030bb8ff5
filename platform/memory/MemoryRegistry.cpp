// The in-memory registry: one physical tree below HKLM and HKU, with the
// aliases (HKCU, HKCC), the merged HKCR and the two WOW64 views mapped onto
// it on every access; watches on keys, saved and loaded trees.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>

#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "platform/memory/MemoryHive.h"
#include "platform/memory/MemoryKeySecurity.h"
#include "platform/memory/MemoryNames.h"
#include "platform/memory/MemoryPlatform.h"

namespace qp::mem {

namespace {

using Path = std::vector<std::string>;

constexpr std::uint32_t kWriteRights = wc::KeySetValue | wc::KeyCreateSubKey | wc::KeyCreateLink |
                                       wc::Delete | wc::WriteDac | wc::WriteOwner;
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericExecute = 0x20000000u;
constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kMaximumAllowed = 0x02000000u;
constexpr HKey kFirstHandle = 0x1000;
constexpr std::size_t kMaxValueNameUnits = 16383;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
constexpr std::string_view kBackupPrivilege = "SeBackupPrivilege";
constexpr std::string_view kRestorePrivilege = "SeRestorePrivilege";
constexpr std::string_view kDefaultOwner = "BA";
constexpr std::string_view kDefaultDacl = "D:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
// The groups every process token of the model holds besides the user:
// Everyone, LOCAL, INTERACTIVE, Authenticated Users and Users.
constexpr std::string_view kTokenGroups[] = {"S-1-1-0", "S-1-2-0", "S-1-5-4", "S-1-5-11",
                                             "S-1-5-32-545"};
constexpr std::string_view kAdministrators = "S-1-5-32-544";
// 2020-01-01 as FILETIME; every change moves the clock on by one second.
constexpr std::uint64_t kClockStart = 132223104000000000ull;

// Wow6432Node below Software\Classes and Classes below Software\Wow6432Node
// are one key.
const Path kClassesWow = {"HKLM", "SOFTWARE", "Classes", "Wow6432Node"};
const Path kSoftwareWow = {"HKLM", "SOFTWARE", "Wow6432Node"};

std::uint32_t GrantedAccess(std::uint32_t sam) {
  std::uint32_t granted = sam & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll |
                                  kMaximumAllowed | wc::KeyWow64Res);
  if ((sam & (kGenericRead | kGenericExecute)) != 0)
    granted |= wc::KeyRead;
  if ((sam & kGenericWrite) != 0)
    granted |= wc::KeyWrite;
  if ((sam & (kGenericAll | kMaximumAllowed)) != 0)
    granted |= wc::KeyAllAccess;
  return granted;
}

bool StartsWithNoCase(const Path &path, const Path &prefix) {
  if (path.size() < prefix.size())
    return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (prefix[i] != "*" && !EqualsNoCase(path[i], prefix[i]))
      return false;
  return true;
}

std::string Join(const Path &path, std::size_t from = 0) {
  std::string out;
  for (std::size_t i = from; i < path.size(); ++i) {
    if (!out.empty() || i > from)
      out += '\\';
    out += path[i];
  }
  return out;
}

Path Concat(Path a, const Path &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Splits a relative key path. A leading backslash is a bad path name; after
// a name, one backslash or several end it, as the registry's own parser
// reads them: a doubled or a trailing backslash is not an empty name.
long SplitSubKey(std::string_view text, Path &out) {
  out.clear();
  if (!text.empty() && text.front() == '\\')
    return wc::ErrorBadPathname;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\\', start), text.size());
    if (end > start)
      out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return wc::ErrorSuccess;
}

// Redirection rules of the 32-bit view; "*" matches any one component. The
// longest matching prefix decides: a rule with a target moves the prefix
// there, one without leaves the path alone (shared or already explicit).
struct ViewRule {
  Path prefix;
  Path target;
};

std::vector<ViewRule> Windows7Rules() {
  std::vector<ViewRule> rules = {{{"HKLM", "SOFTWARE"}, kSoftwareWow},
                                 {kSoftwareWow, {}},
                                 {{"HKLM", "SOFTWARE", "Classes"}, {}},
                                 {kClassesWow, {}}};
  for (const char *name : {"CLSID", "DirectShow", "Interface", "Media Type", "MediaFoundation"}) {
    rules.push_back({{"HKLM", "SOFTWARE", "Classes", name}, Concat(kClassesWow, {name})});
    rules.push_back({{"HKU", "*", "Software", "Classes", name},
                     {"HKU", "*", "Software", "Classes", "Wow6432Node", name}});
  }
  // Shared keys of Windows 7 below HKLM\SOFTWARE.
  for (const char *shared : {"Clients",
                             "Microsoft\\COM3",
                             "Microsoft\\Cryptography\\Calais\\Current",
                             "Microsoft\\Cryptography\\Calais\\Readers",
                             "Microsoft\\Cryptography\\Services",
                             "Microsoft\\CTF\\SystemShared",
                             "Microsoft\\CTF\\TIP",
                             "Microsoft\\DFS",
                             "Microsoft\\Driver Signing",
                             "Microsoft\\EnterpriseCertificates",
                             "Microsoft\\EventSystem",
                             "Microsoft\\MSMQ",
                             "Microsoft\\Non-Driver Signing",
                             "Microsoft\\Notepad\\DefaultFonts",
                             "Microsoft\\OLE",
                             "Microsoft\\RAS",
                             "Microsoft\\RPC",
                             "Microsoft\\Shared Tools\\MSInfo",
                             "Microsoft\\SystemCertificates",
                             "Microsoft\\TermServLicensing",
                             "Microsoft\\Transaction Server",
                             "Microsoft\\Windows\\CurrentVersion\\App Paths",
                             "Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
                             "Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
                             "Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
                             "Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
                             "Microsoft\\Windows\\CurrentVersion\\Group Policy",
                             "Microsoft\\Windows\\CurrentVersion\\Policies",
                             "Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
                             "Microsoft\\Windows\\CurrentVersion\\Setup",
                             "Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations",
                             "Microsoft\\Windows NT\\CurrentVersion\\Console",
                             "Microsoft\\Windows NT\\CurrentVersion\\FontDpi",
                             "Microsoft\\Windows NT\\CurrentVersion\\FontLink",
                             "Microsoft\\Windows NT\\CurrentVersion\\FontMapper",
                             "Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                             "Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
                             "Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize",
                             "Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
                             "Microsoft\\Windows NT\\CurrentVersion\\LanguagePack",
                             "Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
                             "Microsoft\\Windows NT\\CurrentVersion\\Perflib",
                             "Microsoft\\Windows NT\\CurrentVersion\\Ports",
                             "Microsoft\\Windows NT\\CurrentVersion\\Print",
                             "Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                             "Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
                             "Policies",
                             "RegisteredApplications"}) {
    Path rest;
    SplitSubKey(shared, rest);
    rules.push_back({Concat({"HKLM", "SOFTWARE"}, rest), {}});
  }
  return rules;
}

std::vector<ViewRule> WineRules() {
  return {{{"HKLM", "SOFTWARE"}, kSoftwareWow},
          {kSoftwareWow, {}},
          {{"HKLM", "SOFTWARE", "Classes"}, kClassesWow},
          {kClassesWow, {}},
          {{"HKLM", "SOFTWARE", "Classes", "AppID"}, {}},
          {{"HKLM", "SOFTWARE", "Classes", "TypeLib"}, {}},
          {{"HKLM", "SOFTWARE", "Microsoft", "Windows", "CurrentVersion", "App Paths"}, {}},
          {{"HKLM", "SOFTWARE", "Microsoft", "Windows NT", "CurrentVersion", "Fonts"}, {}}};
}

Path ApplyRules(const std::vector<ViewRule> &rules, const Path &path) {
  const ViewRule *best = nullptr;
  for (const ViewRule &rule : rules)
    if (StartsWithNoCase(path, rule.prefix) &&
        (best == nullptr || rule.prefix.size() > best->prefix.size()))
      best = &rule;
  if (best == nullptr || best->target.empty())
    return path;
  Path out = best->target;
  for (std::size_t i = 0; i < out.size() && i < best->prefix.size(); ++i)
    if (out[i] == "*")
      out[i] = path[i];
  out.insert(out.end(), path.begin() + static_cast<std::ptrdiff_t>(best->prefix.size()),
             path.end());
  return out;
}

// HKLM\SOFTWARE\Wow6432Node\Classes\... is reached through its one real
// place, HKLM\SOFTWARE\Classes\Wow6432Node\...
Path Canonical(Path path) {
  const Path alias = Concat(kSoftwareWow, {"Classes"});
  if (!StartsWithNoCase(path, alias))
    return path;
  Path out = kClassesWow;
  out.insert(out.end(), path.begin() + static_cast<std::ptrdiff_t>(alias.size()), path.end());
  return out;
}

// The security of a key: owner and DACL as SDDL and the DACL as the access
// check reads it. Shared between keys and replaced, never changed in place.
struct SecurityState {
  std::string owner;    // SDDL after "O:"
  std::string ownerSid; // the owner as "S-1-..."
  std::string daclText; // "D:..."
  Dacl dacl;
};

std::shared_ptr<const SecurityState> MakeSecurity(std::string_view owner,
                                                  std::string_view daclText) {
  const std::optional<std::string> ownerSid = SidOfSddl(owner);
  std::optional<Dacl> dacl = ParseDacl(daclText);
  if (!ownerSid || !dacl)
    return nullptr;
  return std::make_shared<const SecurityState>(
      SecurityState{std::string(owner), *ownerSid, std::string(daclText), std::move(*dacl)});
}

// The state a watch signals through; shared by the watch the caller holds
// and the registry, so that either may go first.
struct WatchSignal {
  std::mutex mu;
  std::condition_variable cv;
  bool set = false;

  void Set() {
    {
      std::lock_guard lock(mu);
      set = true;
    }
    cv.notify_all();
  }
  bool Wait(std::uint32_t timeoutMs) {
    std::unique_lock lock(mu);
    if (timeoutMs == kInfinite) {
      cv.wait(lock, [&] { return set; });
      return true;
    }
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return set; });
  }
};

class MemoryChangeWatch final : public IChangeWatch {
public:
  explicit MemoryChangeWatch(std::shared_ptr<WatchSignal> signal) : signal_(std::move(signal)) {}
  bool Wait(std::uint32_t timeoutMs) override { return signal_->Wait(timeoutMs); }
  void Cancel() override { signal_->Set(); }

private:
  std::shared_ptr<WatchSignal> signal_;
};

} // namespace

struct MemoryRegistry::Node {
  struct Child {
    std::string name;
    std::string upper;
    std::shared_ptr<Node> node;
    bool link = false; // a second name for a key that lives elsewhere
  };
  struct Value {
    std::string name;
    std::uint32_t type = 0;
    Bytes data;
  };

  std::vector<Child> children; // sorted by upper-case name
  std::vector<Value> values;   // in creation order
  Node *parent = nullptr;      // the key this one is a subkey of (links aside)
  std::uint64_t lastWrite = kClockStart;
  bool deleted = false;
  bool denyAccess = false;
  bool denyWrite = false;
  bool denyDelete = false;
  bool reflectionDisabled = false;
  std::shared_ptr<const SecurityState> security;
  // The security new subkeys get. Windows would inherit the inheritable
  // ACEs of the key; the model, like Wine, gives every new key its hive's
  // default.
  std::shared_ptr<const SecurityState> fresh;
  // For the root of a tree mounted by LoadKey: the file it came from (or,
  // after ReplaceKey, the file its changes go to).
  std::optional<std::string> hiveFile;

  std::vector<Child>::iterator Lower(const std::string &upper) {
    return std::lower_bound(children.begin(), children.end(), upper,
                            [](const Child &c, const std::string &u) { return c.upper < u; });
  }
  Node *Sub(std::string_view name) {
    const std::string upper = FoldUpper(name);
    auto it = Lower(upper);
    return it != children.end() && it->upper == upper ? it->node.get() : nullptr;
  }
  Value *FindValue(std::string_view name) {
    for (Value &v : values)
      if (SameName(v.name, name))
        return &v;
    return nullptr;
  }
  bool Below(const Node &ancestor) const {
    for (const Node *n = parent; n != nullptr; n = n->parent)
      if (n == &ancestor)
        return true;
    return false;
  }
};

// An open key. Handles below HKLM and HKU hold their node; HKCR handles
// look both halves up on every use.
struct MemoryRegistry::Handle {
  std::uint32_t root = 0; // HKLM, HKU or HKCR
  Path rest;              // path below the root as the caller named it
  int view = 0;           // 32, 64 or 0 (no views)
  std::uint32_t access = 0;
  std::shared_ptr<Node> node;
  std::uint64_t namesGen = ~0ull; // cache of the subkey names in enumeration order
  std::vector<std::string> names;
  // What the first watch armed through the handle asked for.
  std::optional<std::pair<bool, std::uint32_t>> notifySubtreeFilter;
};

// A handle, its live nodes and, for the predefined roots, the handle made
// up for the call.
struct MemoryRegistry::KeyAccess {
  Handle scratch;
  Handle *handle = nullptr;
  std::vector<Node *> live;
};

namespace {

struct Failure {
  RegOp op;
  std::string part;
  long status;
  int count;
};

// A key being opened or created: the parent handle, the handle to hand out,
// the physical paths it stands for and the nodes of them that exist.
struct OpenRequest {
  MemoryRegistry::Handle scratch;
  MemoryRegistry::Handle *parent = nullptr;
  MemoryRegistry::Handle opened;
  Path sub;
  std::vector<Path> halves;
  std::vector<MemoryRegistry::Node *> nodes;
};

// An armed NotifyChangeKeyValue: the watched keys (both halves of an HKCR
// key) and the handle it was armed through.
struct Watch {
  std::shared_ptr<WatchSignal> signal;
  std::vector<std::shared_ptr<MemoryRegistry::Node>> keys;
  HKey handle = 0;
  bool subtree = false;
  std::uint32_t filter = 0;

  bool Covers(const MemoryRegistry::Node &changed) const {
    for (const auto &key : keys)
      if (key.get() == &changed || (subtree && changed.Below(*key)))
        return true;
    return false;
  }
  bool OnDeleted() const {
    for (const auto &key : keys)
      if (key->deleted)
        return true;
    return false;
  }
};

// A ReplaceKey waiting for the next boot.
struct PendingReplacement {
  Path key;
  HiveKey tree;
};

} // namespace

struct MemoryRegistry::Impl {
  explicit Impl(MemorySystem &system)
      : sys(system), top(std::make_shared<Node>()),
        defaultSecurity(MakeSecurity(kDefaultOwner, kDefaultDacl)) {
    top->security = top->fresh = defaultSecurity;
    Insert(*top, "HKLM");
    Insert(*top, "HKU");
  }

  MemorySystem &sys;
  IFileSystem *files = nullptr;
  std::shared_ptr<Node> top; // holds HKLM and HKU
  std::shared_ptr<const SecurityState> defaultSecurity;
  Wow64Layout layout = Wow64Layout::Windows7;
  RegistryQuirks quirks;
  bool deleteKeyEx = true;
  bool reflectionQuery = true;
  long reflectionStatus = 0;
  std::map<HKey, Handle> handles;
  HKey nextHandle = kFirstHandle;
  std::vector<Failure> failures;
  std::vector<Watch> watches;
  std::vector<PendingReplacement> pending;
  std::uint64_t gen = 0; // changes whenever a key is created or deleted
  std::uint64_t clock = kClockStart;

  // --- tree
  // The subkey `name` of parent, made when missing. A subkey of HKU\ is a
  // user's hive: its keys grant the user (when the name is a SID) full
  // access.
  std::shared_ptr<Node> Insert(Node &parent, std::string_view name) {
    const std::string upper = FoldUpper(name);
    auto it = parent.Lower(upper);
    if (it != parent.children.end() && it->upper == upper)
      return it->node;
    auto node = std::make_shared<Node>();
    node->parent = &parent;
    node->security = node->fresh = parent.fresh;
    if (parent.parent == top.get() && &parent == Find({"HKU"}) && SidOfSddl(name)) {
      const std::string dacl = std::string(kDefaultDacl) + "(A;CI;KA;;;" + *SidOfSddl(name) + ")";
      node->security = node->fresh = MakeSecurity(kDefaultOwner, dacl);
    }
    parent.children.insert(it, Node::Child{std::string(name), upper, node, false});
    return node;
  }

  Node *Find(const Path &path) const {
    Node *node = top.get();
    for (const std::string &part : path) {
      node = node->Sub(part);
      if (node == nullptr)
        return nullptr;
    }
    return node;
  }

  std::shared_ptr<Node> FindShared(const Path &path) const {
    if (path.empty())
      return top;
    Node *parent = Find(Path(path.begin(), path.end() - 1));
    if (parent == nullptr)
      return nullptr;
    const std::string upper = FoldUpper(path.back());
    auto it = parent->Lower(upper);
    return it != parent->children.end() && it->upper == upper ? it->node : nullptr;
  }

  void Touch(Node &node) { node.lastWrite = clock += 10000000ull; }

  // A change to a key: a new write time and the watches it concerns.
  void Changed(Node &node, std::uint32_t change) {
    Touch(node);
    Notify(node, change);
  }

  void Notify(const Node &node, std::uint32_t change) {
    std::erase_if(watches, [&](const Watch &w) {
      if ((w.filter & change) == 0 || !w.Covers(node))
        return false;
      w.signal->Set();
      return true;
    });
  }

  // Keeps HKLM\SOFTWARE\Wow6432Node\Classes pointing at Classes\Wow6432Node.
  void Relink() {
    Node *softwareWow = Find(kSoftwareWow);
    if (softwareWow == nullptr)
      return;
    auto it = softwareWow->Lower("CLASSES");
    if (it != softwareWow->children.end() && it->upper == "CLASSES" && it->link)
      softwareWow->children.erase(it);
    std::shared_ptr<Node> classesWow = FindShared(kClassesWow);
    if (classesWow == nullptr)
      return;
    it = softwareWow->Lower("CLASSES");
    softwareWow->children.insert(it, Node::Child{"Classes", "CLASSES", classesWow, true});
  }

  // Creates the missing keys of a physical path. With checks, a parent that
  // denies writing refuses new subkeys and over-long names are refused.
  long CreatePath(const Path &path, bool checks, bool &created) {
    created = false;
    Node *node = top.get();
    for (const std::string &part : path) {
      Node *sub = node->Sub(part);
      if (sub == nullptr) {
        if (checks && (node->denyWrite || node->denyAccess))
          return wc::ErrorAccessDenied;
        if (checks && Utf16Length(part) > quirks.maxKeyNameUnits)
          return wc::ErrorInvalidParameter;
        sub = Insert(*node, part).get();
        Changed(*node, wc::RegNotifyChangeName);
        Touch(*sub);
        created = true;
        ++gen;
      }
      node = sub;
    }
    if (created)
      Relink();
    return wc::ErrorSuccess;
  }

  static void MarkDeleted(Node &node) {
    node.deleted = true;
    for (Node::Child &child : node.children)
      if (!child.link)
        MarkDeleted(*child.node);
  }

  // Watches on keys that are gone: signalled where deleting signals, else
  // left until their handle is closed.
  void DeletedKeysWatched() {
    if (!quirks.deleteSignalsWatch)
      return;
    std::erase_if(watches, [](const Watch &w) {
      if (!w.OnDeleted())
        return false;
      w.signal->Set();
      return true;
    });
  }

  bool Remove(const Path &path) {
    if (path.size() < 2)
      return false;
    Node *parent = Find(Path(path.begin(), path.end() - 1));
    if (parent == nullptr)
      return false;
    const std::string upper = FoldUpper(path.back());
    auto it = parent->Lower(upper);
    if (it == parent->children.end() || it->upper != upper)
      return false;
    std::shared_ptr<Node> node = it->node;
    parent->children.erase(it);
    MarkDeleted(*node);
    Changed(*parent, wc::RegNotifyChangeName);
    DeletedKeysWatched();
    ++gen;
    Relink();
    return true;
  }

  // Hangs a tree made elsewhere (a loaded hive) below parent.
  void Attach(Node &parent, const std::string &name, std::shared_ptr<Node> node) {
    const std::string upper = FoldUpper(name);
    node->parent = &parent;
    parent.children.insert(parent.Lower(upper), Node::Child{name, upper, std::move(node), false});
    Changed(parent, wc::RegNotifyChangeName);
    ++gen;
  }

  // Signals and forgets the watches armed through a handle.
  void CloseWatches(HKey handle) {
    std::erase_if(watches, [&](const Watch &w) {
      if (w.handle != handle)
        return false;
      w.signal->Set();
      return true;
    });
  }

  // --- saved trees
  static HiveKey ToHive(const Node &node, const std::string &name) {
    HiveKey key{name, node.lastWrite, node.security->owner, node.security->daclText, {}, {}};
    for (const Node::Value &v : node.values)
      key.values.push_back(HiveValue{v.name, v.type, v.data});
    for (const Node::Child &c : node.children)
      if (!c.link)
        key.subKeys.push_back(ToHive(*c.node, c.name));
    return key;
  }

  // The nodes of a saved tree, or null when a security text in it is not
  // valid. `fresh` is the security of keys created below it later.
  static std::shared_ptr<Node> FromHive(const HiveKey &key,
                                        const std::shared_ptr<const SecurityState> &fresh) {
    auto node = std::make_shared<Node>();
    node->lastWrite = key.lastWrite;
    node->security = MakeSecurity(key.owner, key.dacl);
    node->fresh = fresh;
    if (node->security == nullptr)
      return nullptr;
    for (const HiveValue &v : key.values)
      node->values.push_back(Node::Value{v.name, v.type, v.data});
    for (const HiveKey &sub : key.subKeys) {
      std::shared_ptr<Node> child = FromHive(sub, fresh);
      if (child == nullptr)
        return nullptr;
      child->parent = node.get();
      const std::string upper = FoldUpper(sub.name);
      auto it = node->Lower(upper);
      if (it != node->children.end() && it->upper == upper)
        return nullptr; // two subkeys of one name
      node->children.insert(it, Node::Child{sub.name, upper, std::move(child), false});
    }
    return node;
  }

  // Whether a handle other than the predefined roots is open on the node
  // or below it.
  bool HandlesInside(const Node &node) const {
    for (const auto &[key, h] : handles)
      if (h.node && !h.node->deleted && (h.node.get() == &node || h.node->Below(node)))
        return true;
    return false;
  }

  // --- access
  Token ProcessToken() const {
    Token token;
    std::string sid;
    if (sys.GetUserSid(sid) && !sid.empty())
      token.sids.push_back(UpperAscii(sid));
    for (std::string_view group : kTokenGroups)
      token.sids.emplace_back(group);
    if (sys.IsAdmin())
      token.sids.emplace_back(kAdministrators);
    return token;
  }

  bool DaclAllows(const Node &node, std::uint32_t wanted) const {
    return CheckAccess(node.security->dacl, node.security->ownerSid, ProcessToken(),
                       AccessRequest{wanted, false})
        .has_value();
  }

  // --- views and roots
  Wow64Layout Effective() const { return sys.Os64Bit() ? layout : Wow64Layout::None; }

  int NaturalView() const {
    if (Effective() == Wow64Layout::None)
      return 0;
    return sys.ProcessIs64Bit() ? 64 : 32;
  }

  Path Map(const Path &path, int view) const {
    if (view != 32 || Effective() == Wow64Layout::None)
      return Canonical(path);
    static const std::vector<ViewRule> windows7 = Windows7Rules();
    static const std::vector<ViewRule> wine = WineRules();
    return Canonical(ApplyRules(Effective() == Wow64Layout::Wine ? wine : windows7, path));
  }

  std::string UserSid() const {
    std::string sid;
    if (!sys.GetUserSid(sid) || sid.empty())
      sid = ".DEFAULT";
    return sid;
  }

  // Logical root and path for a predefined key; false for other values.
  bool RootOf(std::uint32_t hkey, std::uint32_t &root, Path &rest) const {
    rest.clear();
    switch (hkey) {
    case wc::HkeyLocalMachine:
      root = wc::HkeyLocalMachine;
      return true;
    case wc::HkeyUsers:
      root = wc::HkeyUsers;
      return true;
    case wc::HkeyClassesRoot:
      root = wc::HkeyClassesRoot;
      return true;
    case wc::HkeyCurrentUser:
      root = wc::HkeyUsers;
      rest = {UserSid()};
      return true;
    case wc::HkeyCurrentConfig:
      root = wc::HkeyLocalMachine;
      rest = {"SYSTEM", "CurrentControlSet", "Hardware Profiles", "Current"};
      return true;
    default:
      return false;
    }
  }

  // Physical paths of a logical key: one, or for a merging HKCR the user's
  // half then the machine's half.
  std::vector<Path> Halves(std::uint32_t root, const Path &rest, int view) const {
    if (root == wc::HkeyLocalMachine)
      return {Map(Concat({"HKLM"}, rest), view)};
    if (root == wc::HkeyUsers)
      return {Map(Concat({"HKU"}, rest), view)};
    const Path machine = Map(Concat({"HKLM", "SOFTWARE", "Classes"}, rest), view);
    if (!quirks.classesRootMergesUser)
      return {machine};
    return {Map(Concat({"HKU", UserSid(), "Software", "Classes"}, rest), view), machine};
  }

  // The existing nodes of a handle, user's half first.
  std::vector<Node *> Live(const Handle &h) const {
    std::vector<Node *> out;
    if (h.root != wc::HkeyClassesRoot) {
      if (h.node && !h.node->deleted)
        out.push_back(h.node.get());
      return out;
    }
    for (const Path &half : Halves(h.root, h.rest, h.view))
      if (Node *n = Find(half))
        out.push_back(n);
    return out;
  }

  std::vector<std::shared_ptr<Node>> LiveShared(const Handle &h) const {
    std::vector<std::shared_ptr<Node>> out;
    if (h.root != wc::HkeyClassesRoot) {
      if (h.node && !h.node->deleted)
        out.push_back(h.node);
      return out;
    }
    for (const Path &half : Halves(h.root, h.rest, h.view))
      if (std::shared_ptr<Node> n = FindShared(half))
        out.push_back(std::move(n));
    return out;
  }

  // Where a new key below HKCR goes: to the half holding the nearest
  // existing ancestor, the user's half winning; the machine's by default.
  Path CreateTarget(const Handle &h, const Path &sub, int view) const {
    const Path full = Concat(h.rest, sub);
    const std::vector<Path> target = Halves(wc::HkeyClassesRoot, full, view);
    if (target.size() == 1)
      return target[0];
    for (std::size_t depth = full.size(); depth > 0; --depth) {
      const std::vector<Path> halves =
          Halves(wc::HkeyClassesRoot,
                 Path(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(depth)), view);
      if (Find(halves[0]) != nullptr)
        return target[0];
      if (Find(halves[1]) != nullptr)
        break;
    }
    return target[1];
  }

  // --- handles
  Handle RootHandle(std::uint32_t root, Path rest) {
    Handle h;
    h.root = root;
    h.rest = std::move(rest);
    h.view = NaturalView();
    h.access = wc::KeyAllAccess;
    if (root != wc::HkeyClassesRoot) {
      const Path phys = Halves(root, h.rest, h.view)[0];
      bool created = false;
      CreatePath(phys, false, created); // the user's hive is always loaded
      h.node = FindShared(phys);
    }
    return h;
  }

  // The handle for a key value: a registered handle or a predefined root.
  long Resolve(HKey parent, std::string_view subKey, std::uint32_t sam, RegOp op, OpenRequest &r);
  long Finish(OpenRequest &r, std::uint32_t sam, HKey &out);

  // The handle, its live nodes and the right it needs, for an operation
  // that a test may make fail.
  long Access(HKey key, std::uint32_t right, RegOp op, KeyAccess &k) {
    if (long st = Lookup(key, k.handle, k.scratch))
      return st;
    if (long st = Usable(*k.handle, right, k.live))
      return st;
    return Failed(op, *k.handle);
  }

  long Lookup(HKey key, Handle *&out, Handle &scratch) {
    auto it = handles.find(key);
    if (it != handles.end()) {
      out = &it->second;
      return wc::ErrorSuccess;
    }
    std::uint32_t root = 0;
    Path rest;
    if (key > 0xFFFFFFFFull || !RootOf(static_cast<std::uint32_t>(key), root, rest))
      return wc::ErrorInvalidHandle;
    scratch = RootHandle(root, std::move(rest));
    out = &scratch;
    return wc::ErrorSuccess;
  }

  // Checks a handle before an operation that needs `right`.
  long Usable(const Handle &h, std::uint32_t right, std::vector<Node *> &live) const {
    live = Live(h);
    if (live.empty())
      return wc::ErrorKeyDeleted;
    if (right != 0 && (h.access & right) == 0)
      return wc::ErrorAccessDenied;
    for (Node *n : live)
      if (n->denyAccess)
        return wc::ErrorAccessDenied;
    return wc::ErrorSuccess;
  }

  long ViewOf(std::uint32_t sam, int fallback, int &view) const {
    const std::uint32_t bits = sam & wc::KeyWow64Res;
    if (bits == wc::KeyWow64Res && !quirks.bothViewBitsMean32)
      return wc::ErrorInvalidParameter;
    if (Effective() == Wow64Layout::None)
      view = 0;
    else if (bits == wc::KeyWow64_64Key)
      view = 64;
    else if ((bits & wc::KeyWow64_32Key) != 0)
      view = 32;
    else
      view = fallback;
    return wc::ErrorSuccess;
  }

  long Failed(RegOp op, const std::vector<Path> &paths) {
    for (Failure &f : failures) {
      if (f.op != op || f.count <= 0)
        continue;
      for (const Path &p : paths) {
        if (f.part.empty() || UpperAscii(Join(p)).find(f.part) != std::string::npos) {
          --f.count;
          return f.status;
        }
      }
    }
    return wc::ErrorSuccess;
  }

  long Failed(RegOp op, const Handle &h) {
    return failures.empty() ? wc::ErrorSuccess : Failed(op, Halves(h.root, h.rest, h.view));
  }

  std::vector<Path> PathsOf(const Handle &h) const { return Halves(h.root, h.rest, h.view); }

  // Access granted by an open of existing nodes, or an error.
  long Grant(const std::vector<Node *> &nodes, std::uint32_t sam, std::uint32_t &granted) const {
    const bool maximum = (sam & kMaximumAllowed) != 0;
    const std::uint32_t wanted = GrantedAccess(sam & ~kMaximumAllowed);
    granted = GrantedAccess(sam);
    const Token token = ProcessToken();
    for (Node *n : nodes) {
      if (n->denyAccess)
        return wc::ErrorAccessDenied;
      if (n->denyWrite) {
        // MAXIMUM_ALLOWED settles for what the key grants.
        if (maximum && (sam & kGenericAll) == 0)
          granted &= ~kWriteRights;
        if ((granted & kWriteRights) != 0)
          return wc::ErrorAccessDenied;
      }
      const std::optional<std::uint32_t> allowed = CheckAccess(
          n->security->dacl, n->security->ownerSid, token, AccessRequest{wanted, maximum});
      if (!allowed)
        return wc::ErrorAccessDenied;
      if (maximum)
        granted &= *allowed | wanted;
    }
    return wc::ErrorSuccess;
  }

  HKey AddHandle(Handle h) {
    const HKey key = nextHandle;
    nextHandle += 4;
    handles.emplace(key, std::move(h));
    return key;
  }

  // Subkey names of a handle's key in enumeration order.
  const std::vector<std::string> &Names(Handle &h, const std::vector<Node *> &live) {
    if (h.namesGen == gen)
      return h.names;
    h.names.clear();
    std::vector<std::pair<std::string, std::string>> merged; // sort key, name
    for (Node *n : live)
      for (const Node::Child &c : n->children)
        merged.emplace_back(quirks.subkeysSortedLowerCase ? FoldLower(c.name) : c.upper, c.name);
    std::stable_sort(merged.begin(), merged.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t i = 0; i < merged.size(); ++i)
      if (i == 0 || merged[i].first != merged[i - 1].first)
        h.names.push_back(merged[i].second);
    h.namesGen = gen;
    return h.names;
  }

  // Values in enumeration order; the user's copy hides the machine's.
  std::vector<const Node::Value *> Values(const std::vector<Node *> &live) const {
    std::vector<const Node::Value *> out;
    for (const Node *n : live)
      for (const Node::Value &v : n->values) {
        bool hidden = false;
        for (const Node::Value *seen : out)
          hidden = hidden || SameName(seen->name, v.name);
        if (!hidden)
          out.push_back(&v);
      }
    if (quirks.valuesSortedByName) {
      std::vector<std::pair<std::string, const Node::Value *>> keyed;
      for (const Node::Value *v : out)
        keyed.emplace_back(FoldLower(v->name), v);
      std::stable_sort(keyed.begin(), keyed.end(),
                       [](const auto &a, const auto &b) { return a.first < b.first; });
      for (std::size_t i = 0; i < keyed.size(); ++i)
        out[i] = keyed[i].second;
    }
    return out;
  }

  long DeleteKey(HKey parent, std::string_view subKey, std::uint32_t viewFlag) {
    Handle scratch;
    Handle *h = nullptr;
    if (long st = Lookup(parent, h, scratch))
      return st;
    if (Live(*h).empty())
      return wc::ErrorKeyDeleted;
    int view = 0;
    if (long st = ViewOf(viewFlag, h->view, view))
      return st;
    Path sub;
    if (long st = SplitSubKey(subKey, sub))
      return st;
    if (sub.empty() && h == &scratch)
      return wc::ErrorAccessDenied;
    const std::vector<Path> halves = Halves(h->root, Concat(h->rest, sub), view);
    if (long st = Failed(RegOp::DeleteKey, halves))
      return st;
    for (const Path &half : halves) {
      Node *node = Find(half);
      if (node == nullptr)
        continue;
      if (node->denyDelete || node->denyWrite || node->denyAccess || !node->children.empty() ||
          (quirks.deleteChecksDacl && !DaclAllows(*node, wc::Delete)))
        return wc::ErrorAccessDenied;
      return Remove(half) ? wc::ErrorSuccess : wc::ErrorAccessDenied;
    }
    return wc::ErrorFileNotFound;
  }

  // --- builder paths
  struct Target {
    std::uint32_t root = 0;
    Path rest;
    int view = 0;
  };

  bool Parse(View view, std::string_view fullPath, Target &t) const {
    const std::size_t cut = fullPath.find('\\');
    const std::string rootName = UpperAscii(fullPath.substr(0, cut));
    std::uint32_t hkey = 0;
    if (rootName == "HKLM" || rootName == "HKEY_LOCAL_MACHINE")
      hkey = wc::HkeyLocalMachine;
    else if (rootName == "HKU" || rootName == "HKEY_USERS")
      hkey = wc::HkeyUsers;
    else if (rootName == "HKCU" || rootName == "HKEY_CURRENT_USER")
      hkey = wc::HkeyCurrentUser;
    else if (rootName == "HKCR" || rootName == "HKEY_CLASSES_ROOT")
      hkey = wc::HkeyClassesRoot;
    else if (rootName == "HKCC" || rootName == "HKEY_CURRENT_CONFIG")
      hkey = wc::HkeyCurrentConfig;
    else
      return false;
    if (!RootOf(hkey, t.root, t.rest))
      return false;
    Path sub;
    std::string_view tail = cut == std::string_view::npos ? "" : fullPath.substr(cut + 1);
    while (!tail.empty() && tail.back() == '\\')
      tail.remove_suffix(1);
    if (SplitSubKey(tail, sub) != wc::ErrorSuccess)
      return false;
    t.rest = Concat(t.rest, sub);
    t.view = Effective() == Wow64Layout::None ? 0
             : view == View::V32              ? 32
             : view == View::V64              ? 64
                                              : 0;
    return true;
  }

  // Physical path a builder write goes to: the existing key (user's half
  // first), else where a create through the API would put it.
  bool WritePath(View view, std::string_view fullPath, Path &out) {
    Target t;
    if (!Parse(view, fullPath, t))
      return false;
    const std::vector<Path> halves = Halves(t.root, t.rest, t.view);
    for (const Path &half : halves)
      if (Find(half) != nullptr) {
        out = half;
        return true;
      }
    if (t.root == wc::HkeyClassesRoot) {
      Handle h;
      h.root = t.root;
      out = CreateTarget(h, t.rest, t.view);
    } else {
      out = halves[0];
    }
    bool created = false;
    CreatePath(out, false, created);
    return true;
  }

  std::vector<Node *> ReadNodes(View view, std::string_view fullPath) const {
    Target t;
    std::vector<Node *> out;
    if (!Parse(view, fullPath, t))
      return out;
    for (const Path &half : Halves(t.root, t.rest, t.view))
      if (Node *n = Find(half))
        out.push_back(n);
    return out;
  }

  Node *FlagNode(View view, std::string_view fullPath) {
    Path path;
    return WritePath(view, fullPath, path) ? Find(path) : nullptr;
  }

  // Sets a value; false when it held that type and data already (such a
  // rewrite changes nothing, not even the key's write time).
  static bool SetValueIn(Node &node, std::string_view name, std::uint32_t type, const Bytes &data) {
    if (Node::Value *v = node.FindValue(name)) {
      if (v->type == type && v->data == data)
        return false;
      v->type = type;
      v->data = data;
    } else {
      node.values.push_back(Node::Value{std::string(name), type, data});
    }
    return true;
  }

  static void DumpNode(const Node &node, const std::string &path, std::string &out) {
    out += "[" + path + "]\n";
    for (const Node::Value &v : node.values) {
      char head[32];
      std::snprintf(head, sizeof head, "=%u:", v.type);
      out += "\"" + v.name + "\"" + head;
      if (v.type == wc::RegSz || v.type == wc::RegExpandSz || v.type == wc::RegMultiSz) {
        for (const char c : RawUtf16ToUtf8(v.data))
          out += c == '\0' ? std::string("\\0") : std::string(1, c);
      } else {
        for (const std::uint8_t b : v.data) {
          char hex[4];
          std::snprintf(hex, sizeof hex, "%02x", b);
          out += hex;
        }
      }
      out += "\n";
    }
    for (const Node::Child &c : node.children)
      if (!c.link)
        DumpNode(*c.node, path + "\\" + c.name, out);
  }
};

MemoryRegistry::MemoryRegistry(MemorySystem &sys) : impl_(std::make_unique<Impl>(sys)) {}
MemoryRegistry::~MemoryRegistry() = default;

void MemoryRegistry::AttachFileSystem(IFileSystem &files) {
  std::lock_guard lock(mu_);
  impl_->files = &files;
}

template <typename Body>
long MemoryRegistry::OnKey(HKey key, std::uint32_t right, RegOp op, Body &&body) {
  std::lock_guard lock(mu_);
  Impl &m = *impl_;
  KeyAccess k;
  if (long st = m.Access(key, right, op, k))
    return st;
  return body(m, *k.handle, k.live);
}

// --- IRegistry

// Resolves parent + subKey in the view the access mask asks for.
long MemoryRegistry::Impl::Resolve(HKey parent, std::string_view subKey, std::uint32_t sam,
                                   RegOp op, OpenRequest &r) {
  if (long st = Lookup(parent, r.parent, r.scratch))
    return st;
  if (Live(*r.parent).empty())
    return wc::ErrorKeyDeleted;
  r.opened.root = r.parent->root;
  if (long st = ViewOf(sam, r.parent->view, r.opened.view))
    return st;
  if (long st = SplitSubKey(subKey, r.sub))
    return st;
  for (const std::string &part : r.sub)
    if (Utf16Length(part) > quirks.maxKeyNameUnits)
      return wc::ErrorInvalidParameter;
  r.opened.rest = Concat(r.parent->rest, r.sub);
  r.halves = PathsOf(r.opened);
  if (long st = Failed(op, r.halves))
    return st;
  for (const Path &half : r.halves)
    if (Node *n = Find(half))
      r.nodes.push_back(n);
  return wc::ErrorSuccess;
}

// Grants the access asked for and hands out the handle.
long MemoryRegistry::Impl::Finish(OpenRequest &r, std::uint32_t sam, HKey &out) {
  if (long st = Grant(r.nodes, sam, r.opened.access))
    return st;
  if (r.opened.root != wc::HkeyClassesRoot)
    r.opened.node = FindShared(r.halves[0]);
  out = AddHandle(std::move(r.opened));
  return wc::ErrorSuccess;
}

long MemoryRegistry::OpenKey(HKey parent, std::string_view subKey, std::uint32_t sam, HKey &out) {
  std::lock_guard lock(mu_);
  Impl &m = *impl_;
  out = 0;
  OpenRequest r;
  if (long st = m.Resolve(parent, subKey, sam, RegOp::Open, r))
    return st;
  if (r.nodes.empty())
    return wc::ErrorFileNotFound;
  return m.Finish(r, sam, out);
}

long MemoryRegistry::CreateKey(HKey parent, std::string_view subKey, std::uint32_t sam, HKey &out,
                               std::uint32_t *disposition) {
  std::lock_guard lock(mu_);
  Impl &m = *impl_;
  out = 0;
  if (disposition != nullptr)
    *disposition = 0;
  OpenRequest r;
  if (long st = m.Resolve(parent, subKey, sam, RegOp::Create, r))
    return st;
  bool created = false;
  if (r.nodes.empty()) {
    if (m.quirks.createChecksParentAccess && (r.parent->access & wc::KeyCreateSubKey) == 0)
      return wc::ErrorAccessDenied;
    const Path target = r.opened.root == wc::HkeyClassesRoot
                            ? m.CreateTarget(*r.parent, r.sub, r.opened.view)
                            : r.halves[0];
    if (long st = m.CreatePath(target, true, created))
      return st;
    r.nodes.push_back(m.Find(target));
  }
  if (long st = m.Finish(r, sam, out))
    return st;
  if (disposition != nullptr)
    *disposition = created ? wc::RegCreatedNewKey : wc::RegOpenedExistingKey;
  return wc::ErrorSuccess;
}

long MemoryRegistry::CloseKey(HKey key) {
  std::lock_guard lock(mu_);
  if (key >= wc::HkeyClassesRoot && key <= wc::HkeyDynData)
    return wc::ErrorSuccess;
  if (impl_->handles.erase(key) != 1)
    return wc::ErrorInvalidHandle;
  impl_->CloseWatches(key);
  return wc::ErrorSuccess;
}

long MemoryRegistry::QueryInfoKey(HKey key, KeyInfo &info) {
  return OnKey(key, wc::KeyQueryValue, RegOp::QueryInfo,
               [&](Impl &m, Handle &h, std::vector<Node *> &live) -> long {
                 info = KeyInfo{};
                 const std::vector<std::string> &names = m.Names(h, live);
                 info.subKeys = static_cast<std::uint32_t>(names.size());
                 for (const std::string &n : names)
                   info.maxSubKeyLen =
                       std::max(info.maxSubKeyLen, static_cast<std::uint32_t>(Utf16Length(n)));
                 const auto values = m.Values(live);
                 info.values = static_cast<std::uint32_t>(values.size());
                 for (const Node::Value *v : values) {
                   info.maxValueNameLen = std::max(
                       info.maxValueNameLen, static_cast<std::uint32_t>(Utf16Length(v->name)));
                   info.maxValueLen =
                       std::max(info.maxValueLen, static_cast<std::uint32_t>(v->data.size()));
                 }
                 for (Node *n : live)
                   info.lastWriteTime = std::max(info.lastWriteTime, n->lastWrite);
                 return wc::ErrorSuccess;
               });
}

long MemoryRegistry::EnumKey(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
                             std::string &name) {
  const long st = OnKey(key, wc::KeyEnumerateSubKeys, RegOp::EnumKey,
                        [&](Impl &m, Handle &h, std::vector<Node *> &live) -> long {
                          const std::string *found = nullptr;
                          if (live.size() == 1 && !m.quirks.subkeysSortedLowerCase) {
                            if (index < live.front()->children.size())
                              found = &live.front()->children[index].name;
                          } else {
                            const std::vector<std::string> &names = m.Names(h, live);
                            if (index < names.size())
                              found = &names[index];
                          }
                          if (found == nullptr)
                            return wc::ErrorNoMoreItems;
                          if (Utf16Length(*found) + 1 > nameCapacity)
                            return wc::ErrorMoreData;
                          name = *found;
                          return wc::ErrorSuccess;
                        });
  if (st != wc::ErrorSuccess)
    name.clear();
  return st;
}

long MemoryRegistry::EnumValue(HKey key, std::uint32_t index, std::uint32_t nameCapacity,
                               std::uint32_t dataCapacity, std::string &name, std::uint32_t &type,
                               Bytes &data) {
  std::uint32_t found = 0;
  const long st =
      OnKey(key, wc::KeyQueryValue, RegOp::EnumValue,
            [&](Impl &m, Handle &, std::vector<Node *> &live) -> long {
              const auto values = m.Values(live);
              if (index >= values.size())
                return wc::ErrorNoMoreItems;
              const Node::Value &v = *values[index];
              found = v.type;
              if (Utf16Length(v.name) + 1 > nameCapacity || v.data.size() > dataCapacity)
                return wc::ErrorMoreData;
              name = v.name;
              data = v.data;
              return wc::ErrorSuccess;
            });
  // RegEnumValue reports the type with ERROR_MORE_DATA too.
  type = st == wc::ErrorSuccess || st == wc::ErrorMoreData ? found : 0;
  if (st != wc::ErrorSuccess) {
    name.clear();
    data.clear();
  }
  return st;
}

long MemoryRegistry::QueryValue(HKey key, std::string_view name, std::uint32_t *type, Bytes *data,
                                std::uint32_t *size) {
  const long st = OnKey(key, wc::KeyQueryValue, RegOp::QueryValue,
                        [&](Impl &, Handle &, std::vector<Node *> &live) -> long {
                          for (Node *n : live) {
                            if (const Node::Value *v = n->FindValue(name)) {
                              if (type != nullptr)
                                *type = v->type;
                              if (size != nullptr)
                                *size = static_cast<std::uint32_t>(v->data.size());
                              if (data != nullptr)
                                *data = v->data;
                              return wc::ErrorSuccess;
                            }
                          }
                          return wc::ErrorFileNotFound;
                        });
  if (st != wc::ErrorSuccess) {
    if (type != nullptr)
      *type = 0;
    if (size != nullptr)
      *size = 0;
  }
  return st;
}

long MemoryRegistry::SetValue(HKey key, std::string_view name, std::uint32_t type,
                              const Bytes &data) {
  return OnKey(key, wc::KeySetValue, RegOp::SetValue,
               [&](Impl &m, Handle &, std::vector<Node *> &live) -> long {
                 if (Utf16Length(name) > kMaxValueNameUnits)
                   return wc::ErrorInvalidParameter;
                 if (Impl::SetValueIn(*live.front(), name, type, data))
                   m.Changed(*live.front(), wc::RegNotifyChangeLastSet);
                 return wc::ErrorSuccess;
               });
}

long MemoryRegistry::DeleteValue(HKey key, std::string_view name) {
  return OnKey(key, wc::KeySetValue, RegOp::DeleteValue,
               [&](Impl &m, Handle &, std::vector<Node *> &live) -> long {
                 for (Node *n : live) {
                   auto it =
                       std::find_if(n->values.begin(), n->values.end(),
                                    [&](const Node::Value &v) { return SameName(v.name, name); });
                   if (it != n->values.end()) {
                     n->values.erase(it);
                     m.Changed(*n, wc::RegNotifyChangeLastSet);
                     return wc::ErrorSuccess;
                   }
                 }
                 return wc::ErrorFileNotFound;
               });
}

long MemoryRegistry::DeleteKey(HKey parent, std::string_view subKey) {
  std::lock_guard lock(mu_);
  return impl_->DeleteKey(parent, subKey, 0);
}

bool MemoryRegistry::HasDeleteKeyEx() const {
  std::lock_guard lock(mu_);
  return impl_->deleteKeyEx;
}

long MemoryRegistry::DeleteKeyEx(HKey parent, std::string_view subKey, std::uint32_t viewFlag) {
  std::lock_guard lock(mu_);
  if (!impl_->deleteKeyEx)
    return wc::ErrorCallNotImplemented;
  return impl_->DeleteKey(parent, subKey, viewFlag);
}

bool MemoryRegistry::HasQueryReflectionKey() const {
  std::lock_guard lock(mu_);
  return impl_->reflectionQuery;
}

long MemoryRegistry::QueryReflectionKey(HKey key, bool &reflectionDisabled) {
  if (!HasQueryReflectionKey())
    return wc::ErrorCallNotImplemented;
  return OnKey(key, 0, RegOp::QueryReflection,
               [&](Impl &m, Handle &, std::vector<Node *> &live) -> long {
                 if (m.reflectionStatus != wc::ErrorSuccess)
                   return m.reflectionStatus;
                 reflectionDisabled = live.front()->reflectionDisabled;
                 return wc::ErrorSuccess;
               });
}

namespace {

// The text of one SDDL section ("O:", "G:", "D:" or "S:"), without its tag.
std::optional<std::string> SddlPart(std::string_view sddl, char tag) {
  std::optional<std::string> found;
  char current = 0;
  int depth = 0;
  for (std::size_t i = 0; i < sddl.size(); ++i) {
    const char c = sddl[i];
    if (depth == 0 && i + 1 < sddl.size() && sddl[i + 1] == ':' &&
        std::string_view("OGDS").find(c) != std::string_view::npos) {
      current = c;
      if (c == tag)
        found = std::string();
      ++i;
      continue;
    }
    depth += c == '(' ? 1 : c == ')' ? -1 : 0;
    if (current == tag && found)
      found->push_back(c);
  }
  return found;
}

} // namespace

long MemoryRegistry::GetKeySecurity(HKey key, std::uint32_t securityInfo, std::string &sddl) {
  return OnKey(key, wc::ReadControl, RegOp::GetSecurity,
               [&](Impl &, Handle &, std::vector<Node *> &live) -> long {
                 const SecurityState &security = *live.front()->security;
                 sddl.clear();
                 if ((securityInfo & wc::OwnerSecurityInformation) != 0)
                   sddl += "O:" + security.owner;
                 if ((securityInfo & wc::DaclSecurityInformation) != 0)
                   sddl += security.daclText;
                 return wc::ErrorSuccess;
               });
}

long MemoryRegistry::SetKeySecurity(HKey key, std::uint32_t securityInfo, std::string_view sddl) {
  return OnKey(
      key, 0, RegOp::SetSecurity, [&](Impl &m, Handle &h, std::vector<Node *> &live) -> long {
        const bool owner = (securityInfo & wc::OwnerSecurityInformation) != 0,
                   dacl = (securityInfo & wc::DaclSecurityInformation) != 0;
        if ((owner && (h.access & wc::WriteOwner) == 0) || (dacl && (h.access & wc::WriteDac) == 0))
          return wc::ErrorAccessDenied;
        const std::optional<std::string> ownerText = SddlPart(sddl, 'O');
        const std::optional<std::string> daclText = SddlPart(sddl, 'D');
        if ((owner && (!ownerText || ownerText->empty())) || (dacl && !daclText))
          return wc::ErrorInvalidParameter;
        Node &node = *live.front();
        std::shared_ptr<const SecurityState> changed =
            MakeSecurity(owner ? *ownerText : node.security->owner,
                         dacl ? "D:" + *daclText : node.security->daclText);
        if (changed == nullptr)
          return wc::ErrorInvalidParameter;
        node.security = std::move(changed);
        if (m.quirks.securityChangesSignal)
          m.Notify(node, wc::RegNotifyChangeSecurity);
        return wc::ErrorSuccess;
      });
}

long MemoryRegistry::NotifyChangeKeyValue(HKey key, bool watchSubtree, std::uint32_t filter,
                                          std::unique_ptr<IChangeWatch> &watch) {
  watch.reset();
  return OnKey(
      key, wc::KeyNotify, RegOp::Notify, [&](Impl &m, Handle &h, std::vector<Node *> &) -> long {
        if (!h.notifySubtreeFilter)
          h.notifySubtreeFilter = std::make_pair(watchSubtree, filter);
        const auto [subtree, changes] = *h.notifySubtreeFilter;
        Watch armed{std::make_shared<WatchSignal>(), m.LiveShared(h), key, subtree, changes};
        watch = std::make_unique<MemoryChangeWatch>(armed.signal);
        m.watches.push_back(std::move(armed));
        return wc::ErrorSuccess;
      });
}

// The names from the top down to the node, through the parents' own
// (non-link) children: the node's one physical place.
long MemoryRegistry::QueryKeyName(HKey key, std::string &kernelPath) {
  kernelPath.clear();
  return OnKey(key, 0, RegOp::QueryInfo, [&](Impl &m, Handle &, std::vector<Node *> &live) -> long {
    std::vector<std::string> names;
    for (const Node *n = live.front(); n != nullptr && n != m.top.get(); n = n->parent) {
      const Node *parent = n->parent;
      if (parent == nullptr)
        return wc::ErrorKeyDeleted;
      auto it = std::find_if(parent->children.begin(), parent->children.end(),
                             [&](const Node::Child &c) { return !c.link && c.node.get() == n; });
      if (it == parent->children.end())
        return wc::ErrorKeyDeleted;
      names.push_back(it->name);
    }
    if (names.empty())
      return wc::ErrorInvalidHandle;
    std::reverse(names.begin(), names.end());
    kernelPath = EqualsNoCase(names.front(), "HKLM") ? "\\REGISTRY\\MACHINE" : "\\REGISTRY\\USER";
    for (std::size_t i = 1; i < names.size(); ++i)
      kernelPath += "\\" + names[i];
    return wc::ErrorSuccess;
  });
}

long MemoryRegistry::SaveKey(HKey key, std::string_view file) {
  return OnKey(key, 0, RegOp::Save, [&](Impl &m, Handle &, std::vector<Node *> &live) -> long {
    if (m.files == nullptr)
      return wc::ErrorCallNotImplemented;
    if (!m.quirks.saveOverwrites && m.files->GetAttributes(file) != wc::InvalidFileAttributes)
      return wc::ErrorAlreadyExists;
    if (long st = m.files->WriteFile(file, ""))
      return st;
    if (!m.sys.PrivilegeEnabled(kBackupPrivilege))
      return wc::ErrorPrivilegeNotHeld;
    return m.files->WriteFile(file, WriteHive(Impl::ToHive(*live.front(), "")));
  });
}

namespace {

// The physical path of key + subKey in the handle's view, through its
// first half.
long TargetOf(const std::vector<Path> &halves, Path &target) {
  if (halves.empty())
    return wc::ErrorFileNotFound;
  target = halves.front();
  return wc::ErrorSuccess;
}

} // namespace

long MemoryRegistry::LoadKey(HKey key, std::string_view subKey, std::string_view file) {
  return OnKey(key, 0, RegOp::Load, [&](Impl &m, Handle &h, std::vector<Node *> &) -> long {
    if (m.files == nullptr)
      return wc::ErrorCallNotImplemented;
    if (!m.sys.PrivilegeEnabled(kRestorePrivilege))
      return wc::ErrorPrivilegeNotHeld;
    Path sub;
    if (long st = SplitSubKey(subKey, sub))
      return st;
    const bool hiveRoot =
        (h.root == wc::HkeyLocalMachine || h.root == wc::HkeyUsers) && h.rest.empty();
    if (sub.empty() || (!m.quirks.loadBelowAnyKey && (!hiveRoot || sub.size() != 1)))
      return wc::ErrorInvalidParameter;
    Path target;
    if (long st = TargetOf(m.Halves(h.root, Concat(h.rest, sub), h.view), target))
      return st;
    Node *parent = m.Find(Path(target.begin(), target.end() - 1));
    if (parent == nullptr)
      return wc::ErrorFileNotFound;
    if (m.Find(target) != nullptr)
      return wc::ErrorAlreadyExists;
    std::string text;
    if (long st = m.files->ReadFile(file, text))
      return st;
    const std::optional<HiveKey> hive = ReadHive(text);
    std::shared_ptr<Node> tree = hive ? Impl::FromHive(*hive, parent->fresh) : nullptr;
    const long st = tree != nullptr ? wc::ErrorSuccess : wc::ErrorNotRegistryFile;
    if (tree == nullptr && m.quirks.failedLoadLeavesEmptyHive) {
      tree = std::make_shared<Node>();
      tree->security = tree->fresh = parent->fresh;
      m.Touch(*tree);
    }
    if (tree != nullptr) {
      tree->hiveFile = std::string(file);
      m.Attach(*parent, target.back(), std::move(tree));
    }
    return st;
  });
}

long MemoryRegistry::UnLoadKey(HKey key, std::string_view subKey) {
  return OnKey(key, 0, RegOp::Unload, [&](Impl &m, Handle &h, std::vector<Node *> &) -> long {
    if (!m.sys.PrivilegeEnabled(kRestorePrivilege))
      return wc::ErrorPrivilegeNotHeld;
    Path sub;
    if (long st = SplitSubKey(subKey, sub))
      return st;
    Path target;
    if (long st = TargetOf(m.Halves(h.root, Concat(h.rest, sub), h.view), target))
      return st;
    Node *node = m.Find(target);
    if (node == nullptr)
      return wc::ErrorFileNotFound;
    if (!node->hiveFile || m.HandlesInside(*node))
      return wc::ErrorAccessDenied;
    if (m.quirks.loadedHivesWriteBack && m.files != nullptr)
      if (long st = m.files->WriteFile(*node->hiveFile, WriteHive(Impl::ToHive(*node, ""))))
        return st;
    m.Remove(target);
    return wc::ErrorSuccess;
  });
}

// On Windows the hive's file becomes oldFile at once and newFile becomes
// the hive's file; the key shows newFile's contents after the next boot.
long MemoryRegistry::ReplaceKey(HKey key, std::string_view subKey, std::string_view newFile,
                                std::string_view oldFile) {
  if (Quirks().replaceIsStub)
    return wc::ErrorSuccess;
  return OnKey(key, 0, RegOp::Replace, [&](Impl &m, Handle &h, std::vector<Node *> &) -> long {
    if (m.files == nullptr)
      return wc::ErrorCallNotImplemented;
    if (!m.sys.PrivilegeEnabled(kRestorePrivilege))
      return wc::ErrorPrivilegeNotHeld;
    Path sub;
    if (long st = SplitSubKey(subKey, sub))
      return st;
    Path target;
    if (long st = TargetOf(m.Halves(h.root, Concat(h.rest, sub), h.view), target))
      return st;
    Node *node = m.Find(target);
    if (node == nullptr)
      return wc::ErrorFileNotFound;
    if (!node->hiveFile)
      return wc::ErrorInvalidParameter;
    std::string text;
    if (long st = m.files->ReadFile(newFile, text))
      return st;
    std::optional<HiveKey> replacement = ReadHive(text);
    if (!replacement)
      return wc::ErrorNotRegistryFile;
    if (long st = m.files->WriteFile(oldFile, WriteHive(Impl::ToHive(*node, ""))))
      return st;
    if (long st = m.files->WriteFile(*node->hiveFile, text))
      return st;
    IgnoreResult(m.files->DeleteFile(newFile));
    node->hiveFile = std::string(oldFile);
    m.pending.push_back(PendingReplacement{target, std::move(*replacement)});
    return wc::ErrorSuccess;
  });
}

// --- quirks

RegistryQuirks RegistryQuirks::Windows7() {
  return RegistryQuirks{};
}

RegistryQuirks RegistryQuirks::Wine() {
  RegistryQuirks q;
  q.valuesSortedByName = true;
  q.subkeysSortedLowerCase = true;
  q.maxKeyNameUnits = 256;
  q.bothViewBitsMean32 = true;
  q.createChecksParentAccess = false;
  q.deleteChecksDacl = false;
  q.failedLoadLeavesEmptyHive = true;
  q.classesRootMergesUser = false;
  q.deleteSignalsWatch = false;
  q.securityChangesSignal = false;
  q.saveOverwrites = true;
  q.loadBelowAnyKey = true;
  q.loadedHivesWriteBack = false;
  q.replaceIsStub = true;
  return q;
}

void MemoryRegistry::SetQuirks(const RegistryQuirks &quirks) {
  std::lock_guard lock(mu_);
  impl_->quirks = quirks;
  ++impl_->gen;
}

RegistryQuirks MemoryRegistry::Quirks() const {
  std::lock_guard lock(mu_);
  return impl_->quirks;
}

void MemoryRegistry::SimulateReboot() {
  std::lock_guard lock(mu_);
  Impl &m = *impl_;
  for (const PendingReplacement &p : m.pending) {
    Node *node = m.Find(p.key);
    std::shared_ptr<Node> fresh = node ? Impl::FromHive(p.tree, node->parent->fresh) : nullptr;
    if (fresh == nullptr)
      continue;
    for (Node::Child &child : node->children)
      if (!child.link)
        Impl::MarkDeleted(*child.node);
    node->values = std::move(fresh->values);
    node->children = std::move(fresh->children);
    for (Node::Child &child : node->children)
      child.node->parent = node;
    node->lastWrite = fresh->lastWrite;
    node->security = fresh->security;
    ++m.gen;
  }
  m.pending.clear();
  for (const auto &[key, h] : m.handles)
    m.CloseWatches(key);
  m.handles.clear();
}

// --- settings

void MemoryRegistry::SetLayout(Wow64Layout layout) {
  std::lock_guard lock(mu_);
  impl_->layout = layout;
  ++impl_->gen;
}

Wow64Layout MemoryRegistry::Layout() const {
  std::lock_guard lock(mu_);
  return impl_->layout;
}

void MemoryRegistry::SetDeleteKeyExAvailable(bool available) {
  std::lock_guard lock(mu_);
  impl_->deleteKeyEx = available;
}

void MemoryRegistry::SetReflectionQueryAvailable(bool available) {
  std::lock_guard lock(mu_);
  impl_->reflectionQuery = available;
}

void MemoryRegistry::SetReflectionQueryStatus(long status) {
  std::lock_guard lock(mu_);
  impl_->reflectionStatus = status;
}

// --- builder

bool MemoryRegistry::CreateKey(View view, std::string_view fullPath) {
  std::lock_guard lock(mu_);
  Path path;
  return impl_->WritePath(view, fullPath, path);
}

bool MemoryRegistry::SetRaw(View view, std::string_view fullPath, std::string_view name,
                            std::uint32_t type, const Bytes &data) {
  std::lock_guard lock(mu_);
  Path path;
  if (!impl_->WritePath(view, fullPath, path))
    return false;
  Node *node = impl_->Find(path);
  if (Impl::SetValueIn(*node, name, type, data))
    impl_->Changed(*node, wc::RegNotifyChangeLastSet);
  return true;
}

bool MemoryRegistry::SetString(View view, std::string_view fullPath, std::string_view name,
                               std::string_view value, std::uint32_t type) {
  Bytes data = Utf8ToRawUtf16(value);
  data.push_back(0);
  data.push_back(0);
  return SetRaw(view, fullPath, name, type, data);
}

bool MemoryRegistry::SetMultiString(View view, std::string_view fullPath, std::string_view name,
                                    const std::vector<std::string> &items) {
  Bytes data;
  for (const std::string &item : items) {
    const Bytes raw = Utf8ToRawUtf16(item);
    data.insert(data.end(), raw.begin(), raw.end());
    data.push_back(0);
    data.push_back(0);
  }
  data.push_back(0);
  data.push_back(0);
  return SetRaw(view, fullPath, name, wc::RegMultiSz, data);
}

bool MemoryRegistry::SetDword(View view, std::string_view fullPath, std::string_view name,
                              std::uint32_t value) {
  const Bytes data = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                      static_cast<std::uint8_t>(value >> 16),
                      static_cast<std::uint8_t>(value >> 24)};
  return SetRaw(view, fullPath, name, wc::RegDword, data);
}

bool MemoryRegistry::DeleteTree(View view, std::string_view fullPath) {
  std::lock_guard lock(mu_);
  Impl::Target t;
  if (!impl_->Parse(view, fullPath, t))
    return false;
  for (const Path &half : impl_->Halves(t.root, t.rest, t.view))
    if (impl_->Find(half) != nullptr)
      return impl_->Remove(half);
  return false;
}

// --- inspection

bool MemoryRegistry::KeyExists(View view, std::string_view fullPath) const {
  std::lock_guard lock(mu_);
  return !impl_->ReadNodes(view, fullPath).empty();
}

bool MemoryRegistry::ValueExists(View view, std::string_view fullPath,
                                 std::string_view name) const {
  return GetRaw(view, fullPath, name).has_value();
}

std::optional<std::pair<std::uint32_t, Bytes>>
MemoryRegistry::GetRaw(View view, std::string_view fullPath, std::string_view name) const {
  std::lock_guard lock(mu_);
  for (Node *n : impl_->ReadNodes(view, fullPath))
    if (const Node::Value *v = n->FindValue(name))
      return std::make_pair(v->type, v->data);
  return std::nullopt;
}

std::optional<std::string> MemoryRegistry::GetString(View view, std::string_view fullPath,
                                                     std::string_view name) const {
  const auto raw = GetRaw(view, fullPath, name);
  if (!raw ||
      (raw->first != wc::RegSz && raw->first != wc::RegExpandSz && raw->first != wc::RegMultiSz))
    return std::nullopt;
  return RawUtf16ToUtf8(raw->second);
}

std::optional<std::string> MemoryRegistry::GetText(View view, std::string_view fullPath,
                                                   std::string_view name) const {
  std::optional<std::string> text = GetString(view, fullPath, name);
  if (text)
    text->resize(std::min(text->find('\0'), text->size()));
  return text;
}

std::vector<std::string> MemoryRegistry::SubKeyNames(View view, std::string_view fullPath) const {
  std::lock_guard lock(mu_);
  Handle h; // a throw-away handle, only for the merged name list
  h.namesGen = ~0ull;
  return impl_->Names(h, impl_->ReadNodes(view, fullPath));
}

std::string MemoryRegistry::Dump(std::string_view physicalRoot) const {
  std::lock_guard lock(mu_);
  std::string out;
  if (physicalRoot.empty()) {
    Impl::DumpNode(*impl_->Find({"HKLM"}), "HKLM", out);
    Impl::DumpNode(*impl_->Find({"HKU"}), "HKU", out);
    return out;
  }
  Impl::Target t;
  if (!impl_->Parse(View::Phys, physicalRoot, t))
    return out;
  const Path path = impl_->Halves(t.root, t.rest, 0).back();
  if (Node *n = impl_->Find(path))
    Impl::DumpNode(*n, Join(path), out);
  return out;
}

std::size_t MemoryRegistry::OpenHandleCount() const {
  std::lock_guard lock(mu_);
  return impl_->handles.size();
}

std::string MemoryRegistry::KeySecurity(View view, std::string_view fullPath) const {
  std::lock_guard lock(mu_);
  const std::vector<Node *> nodes = impl_->ReadNodes(view, fullPath);
  return nodes.empty() ? std::string()
                       : "O:" + nodes.front()->security->owner + nodes.front()->security->daclText;
}

// --- behaviour of single keys

void MemoryRegistry::SetFlag(View view, std::string_view fullPath, bool Node::*flag, bool value) {
  std::lock_guard lock(mu_);
  if (Node *n = impl_->FlagNode(view, fullPath))
    n->*flag = value;
}

void MemoryRegistry::SetDenyAccess(View view, std::string_view fullPath, bool deny) {
  SetFlag(view, fullPath, &Node::denyAccess, deny);
}

void MemoryRegistry::SetDenyWrite(View view, std::string_view fullPath, bool deny) {
  SetFlag(view, fullPath, &Node::denyWrite, deny);
}

void MemoryRegistry::SetDenyDelete(View view, std::string_view fullPath, bool deny) {
  SetFlag(view, fullPath, &Node::denyDelete, deny);
}

void MemoryRegistry::SetReflectionDisabled(View view, std::string_view fullPath, bool disabled) {
  SetFlag(view, fullPath, &Node::reflectionDisabled, disabled);
}

// --- fault injection

void MemoryRegistry::InjectFailure(RegOp op, std::string_view pathPart, long status, int count) {
  std::lock_guard lock(mu_);
  impl_->failures.push_back(Failure{op, UpperAscii(pathPart), status, count});
}

void MemoryRegistry::ClearFailures() {
  std::lock_guard lock(mu_);
  impl_->failures.clear();
}

} // namespace qp::mem
