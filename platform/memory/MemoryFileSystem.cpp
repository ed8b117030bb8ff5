// The in-memory file system: drive letters and UNC shares over a tree of
// folders and files, Win32 path rules and status codes, and the WOW64 view of
// the system folder per thread.
#include <algorithm>
#include <functional>
#include <optional>
#include <thread>

#include "platform/Utf.h"
#include "platform/memory/MemoryPlatform.h"

namespace qp::mem {

namespace {

constexpr long kNotSameDevice = 17;
constexpr long kBadNetPath = 53;
constexpr long kDirectoryInvalid = 267;
constexpr long kCantResolveFilename = 1921;
constexpr std::uint32_t kReparsePoint = 0x400;
constexpr std::uint32_t kTagMountPoint = 0xA0000003u; // IO_REPARSE_TAG_MOUNT_POINT
constexpr std::uint32_t kTagSymlink = 0xA000000Cu;    // IO_REPARSE_TAG_SYMLINK
// Windows gives up on a chain of links after 31 hops.
constexpr int kMaxLinkHops = 31;
constexpr std::uint32_t kRootAttributes =
    wc::FileAttributeDirectory | wc::FileAttributeHidden | wc::FileAttributeSystem;
constexpr std::uint64_t kClockStart = 132223104000000000ull;

struct FNode {
  bool dir = false;
  std::uint32_t attributes = 0;
  std::string content;
  std::uint64_t time = kClockStart;
  std::uint64_t lock = 0; // the OpenLockFile that holds it, 0 when none
  bool inUse = false;     // another program holds it open (SetInUse)
  // A junction or symbolic link: the physical path it points at. A link
  // has no children of its own; paths through it reach the target.
  std::optional<std::string> link;
  // Wine's links: a removal through them reaches the target (LinkMark
  // Unmarked and Tagless).
  bool unmarked = false;
  std::uint32_t reparseTag = 0; // of a link with the reparse-point attribute
  std::string shortName;        // upper-case 8.3 name (SetShortName); empty when none
  std::string owner;            // SDDL SID; empty: "BA"
  std::string dacl;             // "D:..." set on this node; empty: inherited
  // The size FindFirst reports instead of the content's, until the file is
  // written again (SetReportedSize).
  std::optional<std::uint64_t> reportedSize;
  std::map<std::string, std::pair<std::string, std::unique_ptr<FNode>>> children; // upper -> name
};

// A path split into its root ("C:" or "\\server\share") and components.
struct Parsed {
  std::string root;
  std::vector<std::string> parts;
  bool trailingSep = false;
};

bool InvalidChar(char c, bool wildcards) {
  const auto u = static_cast<unsigned char>(c);
  if (u < 32)
    return true;
  if (wildcards && (c == '*' || c == '?'))
    return false;
  return std::string_view("*?\"<>|:").find(c) != std::string_view::npos;
}

bool HasWildcard(std::string_view name) {
  return name.find_first_of("*?") != std::string_view::npos;
}

// Case-insensitive match with * and ?; "*.*" matches every name.
bool Matches(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*")
    pattern = "*";
  std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || up(pattern[p]) == up(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

std::string JoinPath(const Parsed &p, std::size_t count) {
  std::string out = p.root;
  for (std::size_t i = 0; i < count && i < p.parts.size(); ++i)
    out += "\\" + p.parts[i];
  return out;
}

class MemoryFindHandle : public IFindHandle {
public:
  explicit MemoryFindHandle(std::vector<FindData> entries) : entries_(std::move(entries)) {}
  bool Next(FindData &data) override {
    if (next_ >= entries_.size())
      return false;
    data = entries_[next_++];
    return true;
  }

private:
  std::vector<FindData> entries_;
  std::size_t next_ = 1; // the first entry went to FindFirst
};

// A file, or a folder with a file inside, that a lock holds or another
// program has open: Windows refuses to replace, delete or recycle it. A
// link holds nothing: what its target holds is the target's business.
bool Held(const FNode &node) {
  if (node.lock != 0 || node.inUse)
    return true;
  return std::any_of(node.children.begin(), node.children.end(),
                     [](const auto &child) { return Held(*child.second.second); });
}

// The key of a folder's child that a path part names: by its name, or by
// its 8.3 name as Windows also accepts; the part's own key when neither.
std::string ChildKey(const FNode &folder, std::string_view part) {
  std::string upper = UpperAscii(part);
  if (folder.children.count(upper) != 0)
    return upper;
  for (const auto &[key, entry] : folder.children)
    if (!entry.second->shortName.empty() && entry.second->shortName == upper)
      return key;
  return upper;
}

struct Failure {
  MemoryFileSystem::Op op;
  std::string part;
  long status;
  int count;
};

} // namespace

struct MemoryFileSystem::Impl {
  explicit Impl(MemorySystem &system) : sys(system) { Declare('C', wc::DriveFixed); }

  MemorySystem &sys;
  mutable std::mutex mu;
  std::map<std::string, std::unique_ptr<FNode>> roots; // upper root -> folder
  std::map<char, std::uint32_t> driveTypes;
  std::map<std::thread::id, bool> switched; // threads in the other view
  std::vector<std::string> recycled;
  std::vector<std::string> flushed;
  std::vector<Failure> failures;
  std::string currentDir = "C:\\Program Files\\Quenlo";
  std::uint64_t attributeQueries = 0;
  std::uint64_t clock = kClockStart;
  std::uint64_t locks = 0; // the last lock number handed out

  void Declare(char letter, std::uint32_t type) {
    const char upper = UpperAscii(std::string(1, letter))[0];
    const std::string root = std::string(1, upper) + ":";
    if (type == wc::DriveNoRootDir || type == wc::DriveUnknown) {
      driveTypes.erase(upper);
      roots.erase(root);
      return;
    }
    driveTypes[upper] = type;
    if (roots.count(root) == 0)
      roots[root] = NewDir();
  }

  std::unique_ptr<FNode> NewDir() {
    auto node = std::make_unique<FNode>();
    node->dir = true;
    node->attributes = wc::FileAttributeDirectory;
    node->time = clock += 10000000ull;
    return node;
  }

  // Win32 path rules: either separator, repeated separators collapse, "."
  // and ".." are resolved, trailing dots and blanks of the last name go.
  long Parse(std::string_view text, Parsed &out, bool wildcards = false) const {
    std::string path(text);
    std::replace(path.begin(), path.end(), '/', '\\');
    if (path.rfind("\\\\?\\", 0) == 0)
      path.erase(0, 4);
    if (path.empty())
      return wc::ErrorPathNotFound;
    out = Parsed{};
    std::string rest;
    if (path.rfind("\\\\", 0) == 0) {
      const std::size_t server = path.find('\\', 2);
      if (server == std::string::npos || server == 2)
        return wc::ErrorBadPathname;
      std::size_t share = path.find('\\', server + 1);
      if (share == std::string::npos)
        share = path.size();
      if (share == server + 1)
        return wc::ErrorBadPathname;
      out.root = path.substr(0, share);
      rest = path.substr(share);
    } else if (path.size() >= 2 && path[1] == ':' &&
               ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
      out.root = path.substr(0, 2);
      rest = path.substr(2);
    } else {
      Parsed cwd;
      if (Parse(currentDir, cwd) != wc::ErrorSuccess)
        return wc::ErrorPathNotFound;
      out.root = cwd.root;
      rest = path.front() == '\\'
                 ? path
                 : JoinPath(cwd, cwd.parts.size()).substr(cwd.root.size()) + "\\" + path;
    }
    out.trailingSep =
        !rest.empty() && rest.back() == '\\' && rest.find_first_not_of('\\') != std::string::npos;
    std::size_t start = 0;
    while (start < rest.size()) {
      std::size_t end = rest.find('\\', start);
      if (end == std::string::npos)
        end = rest.size();
      std::string part = rest.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == ".")
        continue;
      if (part == "..") {
        if (!out.parts.empty())
          out.parts.pop_back();
        continue;
      }
      const bool last = end == rest.size();
      for (const char c : part)
        if (InvalidChar(c, wildcards && last))
          return wc::ErrorInvalidName;
      if (!(wildcards && HasWildcard(part))) {
        while (!part.empty() && (part.back() == '.' || part.back() == ' '))
          part.pop_back();
        if (part.empty())
          continue;
      }
      out.parts.push_back(part);
    }
    return wc::ErrorSuccess;
  }

  bool InOtherView() const {
    auto it = switched.find(std::this_thread::get_id());
    return it != switched.end() && it->second;
  }

  // The system folder as the calling thread sees it.
  void ApplyView(Parsed &p) const {
    if (!sys.Os64Bit())
      return;
    const bool redirected = sys.ProcessIs64Bit() ? InOtherView() : !InOtherView();
    if (!redirected)
      return;
    Parsed win;
    if (Parse(sys.GetWindowsDirectory(), win) != wc::ErrorSuccess)
      return;
    if (!EqualsNoCase(win.root, p.root) || p.parts.size() <= win.parts.size())
      return;
    for (std::size_t i = 0; i < win.parts.size(); ++i)
      if (!EqualsNoCase(win.parts[i], p.parts[i]))
        return;
    std::string &folder = p.parts[win.parts.size()];
    if (EqualsNoCase(folder, "Sysnative")) {
      folder = "System32";
      return;
    }
    if (!EqualsNoCase(folder, "System32"))
      return;
    const std::size_t next = win.parts.size() + 1;
    if (next < p.parts.size()) {
      const std::string &sub = p.parts[next];
      for (const char *shared : {"catroot", "catroot2", "DriverStore", "LogFiles", "spool"})
        if (EqualsNoCase(sub, shared))
          return;
      if (EqualsNoCase(sub, "drivers") && next + 1 < p.parts.size() &&
          EqualsNoCase(p.parts[next + 1], "etc"))
        return;
    }
    folder = "SysWOW64";
  }

  FNode *RootNode(const std::string &root) const {
    auto it = roots.find(UpperAscii(root));
    return it == roots.end() ? nullptr : it->second.get();
  }

  long MissingRoot(const std::string &root) const {
    return root.size() == 2 ? wc::ErrorPathNotFound : kBadNetPath;
  }

  // Finds the node of the first `count` parts; status as Windows gives it.
  // A file followed by a backslash is an invalid name, as on Windows.
  // Links on the way are followed; the last node is the link itself unless
  // followLast. hops counts the links followed to get here.
  long Walk(const Parsed &p, std::size_t count, FNode *&node, bool followLast = false,
            int hops = 0) const {
    node = nullptr;
    FNode *at = RootNode(p.root);
    if (at == nullptr)
      return MissingRoot(p.root);
    for (std::size_t i = 0; i < count; ++i) {
      if (at->link) {
        if (long st = Resolve(*at, at, hops))
          return st == kCantResolveFilename ? st : wc::ErrorPathNotFound;
      }
      if (!at->dir)
        return wc::ErrorPathNotFound;
      auto it = at->children.find(ChildKey(*at, p.parts[i]));
      if (it == at->children.end())
        return i + 1 == count ? wc::ErrorFileNotFound : wc::ErrorPathNotFound;
      at = it->second.second.get();
    }
    if (followLast && at->link) {
      if (long st = Resolve(*at, at, hops))
        return st;
    }
    if (count == p.parts.size() && p.trailingSep && !at->dir)
      return wc::ErrorInvalidName;
    node = at;
    return wc::ErrorSuccess;
  }

  // The node a link points at, following further links.
  long Resolve(const FNode &link, FNode *&target, int &hops) const {
    if (++hops > kMaxLinkHops)
      return kCantResolveFilename;
    Parsed t;
    if (Parse(*link.link, t) != wc::ErrorSuccess)
      return wc::ErrorPathNotFound;
    return Walk(t, t.parts.size(), target, true, hops);
  }

  // The path of the first `count` parts as the system finally reaches
  // it: links followed (the last one too), each name as stored. node is
  // what it names.
  long Final(const Parsed &p, std::size_t count, std::string &out, FNode *&node,
             int hops = 0) const {
    node = nullptr;
    FNode *at = RootNode(p.root);
    if (at == nullptr)
      return MissingRoot(p.root);
    out = p.root.size() == 2 ? UpperAscii(p.root) : p.root;
    const auto follow = [&](FNode *&from) -> long {
      if (++hops > kMaxLinkHops)
        return kCantResolveFilename;
      Parsed t;
      if (Parse(*from->link, t) != wc::ErrorSuccess)
        return wc::ErrorPathNotFound;
      return Final(t, t.parts.size(), out, from, hops);
    };
    for (std::size_t i = 0; i < count; ++i) {
      if (at->link) {
        if (long st = follow(at))
          return st == kCantResolveFilename ? st : wc::ErrorPathNotFound;
      }
      if (!at->dir)
        return wc::ErrorPathNotFound;
      auto it = at->children.find(ChildKey(*at, p.parts[i]));
      if (it == at->children.end())
        return i + 1 == count ? wc::ErrorFileNotFound : wc::ErrorPathNotFound;
      if (out.back() != '\\')
        out += '\\';
      out += it->second.first;
      at = it->second.second.get();
    }
    if (at->link) {
      if (long st = follow(at))
        return st;
    }
    if (out.back() != '\\' && (out.size() == 2 || out == p.root))
      out += '\\';
    node = at;
    return wc::ErrorSuccess;
  }

  // Takes an unmarked link's target out of its folder, as Wine's removal
  // through such a link does; the link stays. For a folder target
  // (folder true) only an empty one goes.
  long RemoveThroughLink(const FNode &link, bool folder) {
    Parsed t;
    FNode *target = nullptr;
    int hops = 0;
    if (Parse(*link.link, t) != wc::ErrorSuccess)
      return wc::ErrorPathNotFound;
    if (long st = Resolve(link, target, hops))
      return st;
    if (t.parts.empty() || target->dir != folder)
      return folder ? kDirectoryInvalid : wc::ErrorAccessDenied;
    if (folder && !target->children.empty())
      return wc::ErrorDirNotEmpty;
    if ((target->attributes & wc::FileAttributeReadOnly) != 0)
      return wc::ErrorAccessDenied;
    if (Held(*target))
      return wc::ErrorSharingViolation;
    Detach(t);
    return wc::ErrorSuccess;
  }

  // Parses a caller's path in the thread's view and finds its node (the
  // link itself when the path names one, its target with followLast).
  long Locate(std::string_view text, Parsed &p, FNode *&node, bool followLast = false) const {
    if (long st = Parse(text, p))
      return st;
    ApplyView(p);
    return Walk(p, p.parts.size(), node, followLast);
  }

  // The folder that holds the last part (which must exist as a name); a
  // folder link's target when the path goes through one.
  long Parent(const Parsed &p, FNode *&parent) const {
    if (p.parts.empty())
      return wc::ErrorAccessDenied;
    const long st = Walk(p, p.parts.size() - 1, parent, true);
    if (st == wc::ErrorFileNotFound || (st == wc::ErrorSuccess && !parent->dir))
      return wc::ErrorPathNotFound;
    return st;
  }

  // For a call that creates the file when missing: ErrorSuccess with the
  // node, ErrorFileNotFound with only the folder that would hold it, or
  // the reason neither is there.
  long LocateForCreate(std::string_view text, Parsed &p, FNode *&node, FNode *&parent) const {
    const long st = Locate(text, p, node, true);
    if (st != wc::ErrorSuccess && st != wc::ErrorFileNotFound)
      return st;
    if (long pst = Parent(p, parent))
      return pst;
    return st;
  }

  // Takes the entry the path names (which was just located) out of its folder.
  void Detach(const Parsed &p) {
    FNode *parent = nullptr;
    if (Parent(p, parent) == wc::ErrorSuccess)
      parent->children.erase(ChildKey(*parent, p.parts.back()));
  }

  long Failed(Op op, std::string_view text) {
    std::string path(text);
    std::replace(path.begin(), path.end(), '/', '\\');
    path = UpperAscii(path);
    for (Failure &f : failures) {
      if (f.op == op && f.count > 0 && path.find(f.part) != std::string::npos) {
        --f.count;
        return f.status;
      }
    }
    return wc::ErrorSuccess;
  }

  // Builder: the physical folder for a path, created with its parents.
  FNode *MakeDirs(const Parsed &p, std::size_t count, int hops = 0) {
    if (p.root.size() == 2 && driveTypes.count(UpperAscii(p.root)[0]) == 0)
      Declare(p.root[0], wc::DriveFixed);
    std::unique_ptr<FNode> &rootSlot = roots[UpperAscii(p.root)];
    if (!rootSlot)
      rootSlot = NewDir();
    FNode *node = rootSlot.get();
    for (std::size_t i = 0; i < count; ++i) {
      auto &slot = node->children[ChildKey(*node, p.parts[i])];
      if (slot.second && slot.second->link && hops < kMaxLinkHops) {
        // The builder reaches a link's target as the API does; a dangling
        // link gets its target made.
        Parsed t;
        if (Parse(*slot.second->link, t) == wc::ErrorSuccess) {
          FNode *target = nullptr;
          if (Walk(t, t.parts.size(), target, true, hops) != wc::ErrorSuccess)
            target = MakeDirs(t, t.parts.size(), hops + 1);
          if (target->dir) {
            node = target;
            continue;
          }
        }
      }
      if (!slot.second || !slot.second->dir) {
        slot.first = p.parts[i];
        slot.second = NewDir();
      }
      node = slot.second.get();
    }
    return node;
  }

  void Place(FNode &parent, const std::string &name, std::unique_ptr<FNode> node) {
    node->time = clock += 10000000ull;
    parent.children[UpperAscii(name)] = {name, std::move(node)};
    parent.time = clock;
  }
};

MemoryFileSystem::MemoryFileSystem(MemorySystem &sys) : impl_(std::make_unique<Impl>(sys)) {}
MemoryFileSystem::~MemoryFileSystem() = default;

std::uint32_t MemoryFileSystem::GetAttributes(std::string_view path, long *error) {
  std::lock_guard lock(impl_->mu);
  ++impl_->attributeQueries;
  Parsed p;
  FNode *node = nullptr;
  long st = impl_->Failed(Op::Attributes, path);
  if (st == wc::ErrorSuccess)
    st = impl_->Locate(path, p, node);
  if (error != nullptr)
    *error = st;
  if (st != wc::ErrorSuccess)
    return wc::InvalidFileAttributes;
  return p.parts.empty() ? kRootAttributes : node->attributes;
}

std::uint32_t MemoryFileSystem::GetDriveType(std::string_view root) {
  std::lock_guard lock(impl_->mu);
  std::string text(root);
  std::replace(text.begin(), text.end(), '/', '\\');
  if (text.empty())
    text = impl_->currentDir.substr(0, 3);
  Parsed p;
  if (impl_->Parse(text, p) != wc::ErrorSuccess || !p.parts.empty())
    return wc::DriveNoRootDir;
  if (impl_->RootNode(p.root) == nullptr)
    return wc::DriveNoRootDir;
  if (p.root.size() > 2)
    return wc::DriveRemote;
  return impl_->driveTypes.at(UpperAscii(p.root)[0]);
}

std::unique_ptr<IFindHandle> MemoryFileSystem::FindFirst(std::string_view pattern, FindData &first,
                                                         long *errorOut) {
  long ignored = 0;
  long &error = errorOut != nullptr ? *errorOut : ignored;
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  Parsed p;
  error = m.Failed(Op::Find, pattern);
  if (error == wc::ErrorSuccess)
    error = m.Parse(pattern, p, true);
  if (error != wc::ErrorSuccess)
    return nullptr;
  if (p.parts.empty() || p.trailingSep) {
    error = wc::ErrorFileNotFound;
    return nullptr;
  }
  m.ApplyView(p);
  FNode *folder = nullptr;
  error = m.Walk(p, p.parts.size() - 1, folder, true);
  if (error == wc::ErrorSuccess && !folder->dir)
    error = wc::ErrorPathNotFound;
  if (error != wc::ErrorSuccess) {
    if (error == wc::ErrorFileNotFound)
      error = wc::ErrorPathNotFound;
    return nullptr;
  }
  const std::string &name = p.parts.back();
  std::vector<FindData> found;
  if (p.parts.size() > 1) {
    for (const char *dots : {".", ".."})
      if (Matches(name, dots))
        found.push_back(FindData{wc::FileAttributeDirectory, 0, folder->time, dots});
  }
  for (const auto &[upper, entry] : folder->children) {
    const FNode &n = *entry.second;
    if (!Matches(name, entry.first) && (n.shortName.empty() || !Matches(name, n.shortName)))
      continue;
    found.push_back(FindData{n.attributes, n.dir ? 0 : n.reportedSize.value_or(n.content.size()),
                             n.time, entry.first, n.reparseTag});
  }
  if (found.empty()) {
    error = wc::ErrorFileNotFound;
    return nullptr;
  }
  first = found.front();
  error = wc::ErrorSuccess;
  return std::make_unique<MemoryFindHandle>(std::move(found));
}

long MemoryFileSystem::CreateDirectory(std::string_view path) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::CreateDir, path))
    return st;
  Parsed p;
  FNode *node = nullptr;
  const long st = m.Locate(path, p, node);
  if (st == wc::ErrorSuccess)
    return wc::ErrorAlreadyExists;
  if (st != wc::ErrorFileNotFound)
    return st;
  FNode *parent = nullptr;
  if (long pst = m.Parent(p, parent))
    return pst;
  m.Place(*parent, p.parts.back(), m.NewDir());
  return wc::ErrorSuccess;
}

long MemoryFileSystem::RemoveDirectory(std::string_view path) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::RemoveDir, path))
    return st;
  Parsed p;
  FNode *node = nullptr;
  if (long st = m.Locate(path, p, node))
    return st;
  if (p.parts.empty())
    return wc::ErrorAccessDenied;
  if (!node->dir)
    return kDirectoryInvalid;
  if (node->link && node->unmarked)
    return m.RemoveThroughLink(*node, true);
  // A folder link goes alone: it has no children, whatever its target has.
  if (!node->children.empty())
    return wc::ErrorDirNotEmpty;
  if ((node->attributes & wc::FileAttributeReadOnly) != 0)
    return wc::ErrorAccessDenied;
  m.Detach(p);
  return wc::ErrorSuccess;
}

long MemoryFileSystem::DeleteFile(std::string_view path) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::Delete, path))
    return st;
  Parsed p;
  FNode *node = nullptr;
  if (long st = m.Locate(path, p, node))
    return st;
  if (p.parts.empty() || node->dir || (node->attributes & wc::FileAttributeReadOnly) != 0)
    return wc::ErrorAccessDenied;
  if (node->link && node->unmarked)
    return m.RemoveThroughLink(*node, false);
  if (Held(*node))
    return wc::ErrorSharingViolation;
  m.Detach(p);
  return wc::ErrorSuccess;
}

long MemoryFileSystem::MoveFile(std::string_view from, std::string_view to, std::uint32_t flags) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::Move, from))
    return st;
  Parsed src, dst;
  FNode *node = nullptr, *target = nullptr, *dstParent = nullptr;
  if (long st = m.Locate(from, src, node))
    return st;
  if (src.parts.empty())
    return wc::ErrorAccessDenied;
  if (Held(*node))
    return wc::ErrorSharingViolation;
  const long tst = m.Locate(to, dst, target);
  if (tst != wc::ErrorSuccess && tst != wc::ErrorFileNotFound)
    return tst;
  if (!EqualsNoCase(src.root, dst.root))
    return kNotSameDevice;
  if (long st = m.Parent(dst, dstParent))
    return st;
  if (target == node) { // the same entry: a change of case at most
    FNode *srcParent = nullptr;
    m.Parent(src, srcParent);
    srcParent->children[ChildKey(*srcParent, src.parts.back())].first = dst.parts.back();
    return wc::ErrorSuccess;
  }
  if (target != nullptr) {
    if ((flags & 1u) == 0)
      return wc::ErrorAlreadyExists;
    if (target->dir || node->dir || (target->attributes & wc::FileAttributeReadOnly) != 0)
      return wc::ErrorAccessDenied;
    if (Held(*target))
      return wc::ErrorSharingViolation;
  }
  const std::string srcText = UpperAscii(JoinPath(src, src.parts.size())) + "\\";
  if (UpperAscii(JoinPath(dst, dst.parts.size())).rfind(srcText, 0) == 0)
    return wc::ErrorSharingViolation; // into its own subtree
  FNode *srcParent = nullptr;
  m.Parent(src, srcParent);
  auto it = srcParent->children.find(ChildKey(*srcParent, src.parts.back()));
  std::unique_ptr<FNode> moved = std::move(it->second.second);
  srcParent->children.erase(it);
  const std::uint64_t time = moved->time;
  m.Place(*dstParent, dst.parts.back(), std::move(moved));
  dstParent->children[UpperAscii(dst.parts.back())].second->time = time;
  return wc::ErrorSuccess;
}

long MemoryFileSystem::CopyFile(std::string_view from, std::string_view to, bool failIfExists) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::Copy, from))
    return st;
  Parsed src, dst;
  FNode *node = nullptr, *target = nullptr, *dstParent = nullptr;
  if (long st = m.Locate(from, src, node, true))
    return st;
  if (node->dir)
    return wc::ErrorAccessDenied;
  const long tst = m.Locate(to, dst, target, true);
  if (tst != wc::ErrorSuccess && tst != wc::ErrorFileNotFound)
    return tst;
  if (long st = m.Parent(dst, dstParent))
    return st;
  if (target != nullptr) {
    if (failIfExists)
      return wc::ErrorFileExists;
    if (target == node)
      return wc::ErrorSharingViolation;
    if (target->dir || (target->attributes & wc::FileAttributeReadOnly) != 0)
      return wc::ErrorAccessDenied;
  }
  auto copy = std::make_unique<FNode>();
  copy->attributes = node->attributes | wc::FileAttributeArchive;
  copy->content = node->content;
  m.Place(*dstParent, dst.parts.back(), std::move(copy));
  return wc::ErrorSuccess;
}

long MemoryFileSystem::ReadFile(std::string_view path, std::string &data) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::Read, path))
    return st;
  Parsed p;
  FNode *node = nullptr;
  if (long st = m.Locate(path, p, node, true))
    return st;
  if (node->dir)
    return wc::ErrorAccessDenied;
  if (node->lock != 0) // a file in use shares reading; a lock does not
    return wc::ErrorSharingViolation;
  data = node->content;
  return wc::ErrorSuccess;
}

// WriteFile and AppendFile: the file at path is opened for writing (created
// empty when missing), as CreateFile with OPEN_ALWAYS does; then `write`
// changes its content.
template <typename Write>
long MemoryFileSystem::WriteThrough(MemoryFileSystem::Op op, std::string_view path, Write &&write) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(op, path))
    return st;
  Parsed p;
  FNode *node = nullptr, *parent = nullptr;
  const long st = m.LocateForCreate(path, p, node, parent);
  if (st != wc::ErrorSuccess && st != wc::ErrorFileNotFound)
    return st;
  if (st == wc::ErrorFileNotFound) {
    auto file = std::make_unique<FNode>();
    file->attributes = wc::FileAttributeArchive;
    write(file->content);
    m.Place(*parent, p.parts.back(), std::move(file));
    return wc::ErrorSuccess;
  }
  if (node->dir || (node->attributes & wc::FileAttributeReadOnly) != 0)
    return wc::ErrorAccessDenied;
  if (Held(*node))
    return wc::ErrorSharingViolation;
  write(node->content);
  node->reportedSize.reset();
  node->attributes |= wc::FileAttributeArchive;
  node->time = m.clock += 10000000ull;
  return wc::ErrorSuccess;
}

long MemoryFileSystem::WriteFile(std::string_view path, std::string_view data) {
  return WriteThrough(Op::Write, path, [data](std::string &content) { content = data; });
}

long MemoryFileSystem::AppendFile(std::string_view path, std::string_view data) {
  return WriteThrough(Op::Append, path, [data](std::string &content) { content += data; });
}

long MemoryFileSystem::FlushFile(std::string_view path) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::Flush, path))
    return st;
  Parsed p;
  FNode *node = nullptr;
  if (long st = m.Locate(path, p, node, true))
    return st;
  if (node->dir)
    return wc::ErrorAccessDenied;
  m.flushed.emplace_back(path);
  return wc::ErrorSuccess;
}

namespace {

// Deletes its file on release, as FILE_FLAG_DELETE_ON_CLOSE does, unless
// the file has gone in the meantime.
class MemoryFileLock final : public IFileLock {
public:
  MemoryFileLock(std::function<void()> release) : release_(std::move(release)) {}
  ~MemoryFileLock() override { release_(); }
  MemoryFileLock(const MemoryFileLock &) = delete;
  MemoryFileLock &operator=(const MemoryFileLock &) = delete;

private:
  std::function<void()> release_;
};

} // namespace

long MemoryFileSystem::OpenLockFile(std::string_view path, std::unique_ptr<IFileLock> &lock) {
  std::lock_guard guard(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::Lock, path))
    return st;
  Parsed p;
  FNode *node = nullptr, *parent = nullptr;
  const long st = m.LocateForCreate(path, p, node, parent);
  if (st != wc::ErrorSuccess && st != wc::ErrorFileNotFound)
    return st;
  if (st == wc::ErrorSuccess) {
    if (node->dir || (node->attributes & wc::FileAttributeReadOnly) != 0)
      return wc::ErrorAccessDenied;
    if (node->lock != 0 || node->inUse)
      return wc::ErrorSharingViolation;
  } else {
    auto file = std::make_unique<FNode>();
    file->attributes = wc::FileAttributeHidden | wc::FileAttributeArchive;
    node = file.get();
    m.Place(*parent, p.parts.back(), std::move(file));
  }
  const std::uint64_t number = node->lock = ++m.locks;
  lock = std::make_unique<MemoryFileLock>([&m, p, number] {
    std::lock_guard release(m.mu);
    FNode *held = nullptr;
    if (m.Walk(p, p.parts.size(), held) == wc::ErrorSuccess && held->lock == number)
      m.Detach(p);
  });
  return wc::ErrorSuccess;
}

namespace {

// "O:xxD:yyy" split into its owner SID and "D:..." part; false when the
// text is not of that form (or names parts the caller did not ask for).
bool SplitSddl(std::string_view sddl, std::uint32_t info, std::string &owner, std::string &dacl) {
  owner.clear();
  dacl.clear();
  const std::size_t d = sddl.find("D:");
  std::string_view ownerPart = sddl.substr(0, d);
  if (!ownerPart.empty()) {
    if (ownerPart.size() < 3 || ownerPart.substr(0, 2) != "O:" ||
        (info & wc::OwnerSecurityInformation) == 0)
      return false;
    owner = std::string(ownerPart.substr(2));
  }
  if (d != std::string_view::npos) {
    if ((info & wc::DaclSecurityInformation) == 0)
      return false;
    dacl = std::string(sddl.substr(d));
    // Every entry must be a parenthesised ACE of six fields.
    std::string_view rest = std::string_view(dacl).substr(2);
    while (!rest.empty() && rest.front() != '(')
      rest.remove_prefix(1); // flags such as P, AI
    while (!rest.empty()) {
      const std::size_t close = rest.find(')');
      if (rest.front() != '(' || close == std::string_view::npos ||
          std::count(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(close), ';') != 5)
        return false;
      rest.remove_prefix(close + 1);
    }
  }
  return !owner.empty() || !dacl.empty();
}

// The entries of a DACL inherited by what lies below it: flags dropped,
// each entry marked ID.
std::string InheritedDacl(const std::string &dacl) {
  std::string out = "D:AI";
  std::size_t at = dacl.find('(');
  while (at != std::string::npos) {
    const std::size_t close = dacl.find(')', at);
    if (close == std::string::npos)
      break;
    std::string ace = dacl.substr(at + 1, close - at - 1);
    const std::size_t first = ace.find(';');
    const std::size_t second = ace.find(';', first + 1);
    if (first != std::string::npos && second != std::string::npos) {
      std::string flags = ace.substr(first + 1, second - first - 1);
      if (flags.find("ID") == std::string::npos)
        flags = "ID" + flags;
      for (const char *drop : {"OI", "CI"}) {
        const std::size_t f = flags.find(drop);
        if (f != std::string::npos)
          flags.erase(f, 2);
      }
      ace = ace.substr(0, first + 1) + flags + ace.substr(second);
    }
    out += "(" + ace + ")";
    at = dacl.find('(', close);
  }
  return out;
}

} // namespace

long MemoryFileSystem::GetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                                       std::string &sddl) {
  sddl.clear();
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::Security, path))
    return st;
  Parsed p;
  FNode *node = nullptr;
  if (long st = m.Locate(path, p, node))
    return st;
  if ((securityInfo & wc::OwnerSecurityInformation) != 0)
    sddl += "O:" + (node->owner.empty() ? std::string("BA") : node->owner);
  if ((securityInfo & wc::DaclSecurityInformation) != 0) {
    std::string dacl = node->dacl;
    for (std::size_t depth = p.parts.size(); dacl.empty() && depth-- > 0;) {
      FNode *above = nullptr;
      if (m.Walk(p, depth, above) == wc::ErrorSuccess && !above->dacl.empty())
        dacl = InheritedDacl(above->dacl);
    }
    sddl += dacl.empty() ? std::string(DefaultFileDacl) : dacl;
  }
  return wc::ErrorSuccess;
}

long MemoryFileSystem::SetFileSecurity(std::string_view path, std::uint32_t securityInfo,
                                       std::string_view sddl) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::Security, path))
    return st;
  std::string owner;
  std::string dacl;
  if (!SplitSddl(sddl, securityInfo, owner, dacl))
    return wc::ErrorInvalidParameter;
  Parsed p;
  FNode *node = nullptr;
  if (long st = m.Locate(path, p, node))
    return st;
  if (!owner.empty()) {
    std::string user;
    const bool self = (m.sys.GetUserSid(user) && owner == user) || owner == "BA";
    const bool allowed = self ? m.sys.PrivilegeEnabled("SeTakeOwnershipPrivilege") ||
                                    m.sys.PrivilegeEnabled("SeRestorePrivilege")
                              : m.sys.PrivilegeEnabled("SeRestorePrivilege");
    if (!allowed)
      return wc::ErrorInvalidOwner;
    node->owner = owner;
  }
  if (!dacl.empty())
    node->dacl = dacl;
  return wc::ErrorSuccess;
}

long MemoryFileSystem::RecycleFile(std::string_view path) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::Recycle, path))
    return st;
  Parsed p;
  FNode *node = nullptr;
  if (long st = m.Locate(path, p, node))
    return st;
  if (p.parts.empty())
    return wc::ErrorAccessDenied;
  if (Held(*node))
    return wc::ErrorSharingViolation;
  m.Detach(p);
  m.recycled.emplace_back(path);
  return 0;
}

long MemoryFileSystem::SetAttributes(std::string_view path, std::uint32_t attributes) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  if (long st = m.Failed(Op::SetAttributes, path))
    return st;
  Parsed p;
  FNode *node = nullptr;
  if (long st = m.Locate(path, p, node))
    return st;
  if (p.parts.empty())
    return wc::ErrorAccessDenied;
  constexpr std::uint32_t kFixed = wc::FileAttributeDirectory | kReparsePoint;
  std::uint32_t next =
      (attributes & ~(kFixed | wc::FileAttributeNormal)) | (node->attributes & kFixed);
  if (next == 0)
    next = wc::FileAttributeNormal;
  node->attributes = next;
  return wc::ErrorSuccess;
}

long MemoryFileSystem::TestExclusiveOpen(std::string_view path) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  Parsed p;
  FNode *node = nullptr;
  if (long st = m.Locate(path, p, node, true))
    return st;
  if (node->dir)
    return wc::ErrorAccessDenied;
  if (node->lock != 0 || node->inUse)
    return wc::ErrorSharingViolation;
  return wc::ErrorSuccess;
}

long MemoryFileSystem::GetFinalPath(std::string_view path, std::string &finalPath) {
  finalPath.clear();
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  Parsed p;
  if (long st = m.Parse(path, p))
    return st;
  m.ApplyView(p);
  FNode *node = nullptr;
  std::string out;
  if (long st = m.Final(p, p.parts.size(), out, node))
    return st;
  if (p.trailingSep && !node->dir)
    return wc::ErrorInvalidName;
  finalPath = std::move(out);
  return wc::ErrorSuccess;
}

bool MemoryFileSystem::SwitchFsView(std::uintptr_t &previous) {
  std::lock_guard lock(impl_->mu);
  if (!impl_->sys.Os64Bit())
    return false;
  bool &state = impl_->switched[std::this_thread::get_id()];
  previous = state ? 1 : 0;
  state = true;
  return true;
}

void MemoryFileSystem::RevertFsView(std::uintptr_t previous) {
  std::lock_guard lock(impl_->mu);
  if (previous != 0)
    impl_->switched[std::this_thread::get_id()] = true;
  else
    impl_->switched.erase(std::this_thread::get_id());
}

// --- builder

void MemoryFileSystem::SetDrive(char letter, std::uint32_t driveType) {
  std::lock_guard lock(impl_->mu);
  impl_->Declare(letter, driveType);
}

void MemoryFileSystem::SetCurrentDirectory(std::string path) {
  std::lock_guard lock(impl_->mu);
  impl_->currentDir = std::move(path);
}

void MemoryFileSystem::AddFile(std::string_view path, std::string_view content,
                               std::uint32_t attributes) {
  std::lock_guard lock(impl_->mu);
  Parsed p;
  if (impl_->Parse(path, p) != wc::ErrorSuccess || p.parts.empty())
    return;
  FNode *parent = impl_->MakeDirs(p, p.parts.size() - 1);
  auto file = std::make_unique<FNode>();
  file->attributes = attributes & ~wc::FileAttributeDirectory;
  file->content = content;
  impl_->Place(*parent, p.parts.back(), std::move(file));
}

void MemoryFileSystem::SetReportedSize(std::string_view path, std::uint64_t size) {
  std::lock_guard lock(impl_->mu);
  Parsed p;
  FNode *node = nullptr;
  if (impl_->Parse(path, p) == wc::ErrorSuccess &&
      impl_->Walk(p, p.parts.size(), node, true) == wc::ErrorSuccess && !node->dir)
    node->reportedSize = size;
}

void MemoryFileSystem::AddDir(std::string_view path) {
  std::lock_guard lock(impl_->mu);
  Parsed p;
  if (impl_->Parse(path, p) == wc::ErrorSuccess)
    impl_->MakeDirs(p, p.parts.size());
}

void MemoryFileSystem::AddLink(std::string_view path, std::string_view target, LinkKind kind,
                               LinkMark mark) {
  std::lock_guard lock(impl_->mu);
  Impl &m = *impl_;
  Parsed p;
  Parsed t;
  if (m.Parse(path, p) != wc::ErrorSuccess || p.parts.empty() ||
      m.Parse(target, t) != wc::ErrorSuccess)
    return;
  bool folder = kind == LinkKind::Folder;
  if (kind == LinkKind::FromTarget) {
    FNode *node = nullptr;
    folder = m.Walk(t, t.parts.size(), node, true) != wc::ErrorSuccess || node->dir;
  }
  FNode *parent = m.MakeDirs(p, p.parts.size() - 1);
  auto link = std::make_unique<FNode>();
  link->dir = folder;
  link->unmarked = mark != LinkMark::Reparse;
  link->attributes = (folder ? wc::FileAttributeDirectory : wc::FileAttributeArchive) |
                     (mark == LinkMark::Unmarked ? 0u : kReparsePoint);
  if (mark == LinkMark::Reparse)
    link->reparseTag = folder ? kTagMountPoint : kTagSymlink;
  link->link = JoinPath(t, t.parts.size());
  m.Place(*parent, p.parts.back(), std::move(link));
}

bool MemoryFileSystem::IsLink(std::string_view path) const {
  std::lock_guard lock(impl_->mu);
  Parsed p;
  FNode *node = nullptr;
  return impl_->Parse(path, p) == wc::ErrorSuccess &&
         impl_->Walk(p, p.parts.size(), node) == wc::ErrorSuccess && node->link.has_value();
}

void MemoryFileSystem::SetShortName(std::string_view path, std::string_view shortName) {
  std::lock_guard lock(impl_->mu);
  Parsed p;
  FNode *node = nullptr;
  if (impl_->Parse(path, p) == wc::ErrorSuccess && !p.parts.empty() &&
      impl_->Walk(p, p.parts.size(), node) == wc::ErrorSuccess)
    node->shortName = UpperAscii(shortName);
}

void MemoryFileSystem::SetInUse(std::string_view path, bool inUse) {
  std::lock_guard lock(impl_->mu);
  Parsed p;
  FNode *node = nullptr;
  if (impl_->Parse(path, p) == wc::ErrorSuccess &&
      impl_->Walk(p, p.parts.size(), node, true) == wc::ErrorSuccess && !node->dir)
    node->inUse = inUse;
}

void MemoryFileSystem::Remove(std::string_view path) {
  std::lock_guard lock(impl_->mu);
  Parsed p;
  FNode *parent = nullptr;
  if (impl_->Parse(path, p) != wc::ErrorSuccess || p.parts.empty())
    return;
  if (impl_->Walk(p, p.parts.size() - 1, parent, true) == wc::ErrorSuccess && parent->dir)
    parent->children.erase(ChildKey(*parent, p.parts.back()));
}

bool MemoryFileSystem::Exists(std::string_view path) const {
  std::lock_guard lock(impl_->mu);
  Parsed p;
  FNode *node = nullptr;
  return impl_->Parse(path, p) == wc::ErrorSuccess &&
         impl_->Walk(p, p.parts.size(), node) == wc::ErrorSuccess;
}

std::optional<std::string> MemoryFileSystem::Content(std::string_view path) const {
  std::lock_guard lock(impl_->mu);
  Parsed p;
  FNode *node = nullptr;
  if (impl_->Parse(path, p) != wc::ErrorSuccess ||
      impl_->Walk(p, p.parts.size(), node, true) != wc::ErrorSuccess || node->dir)
    return std::nullopt;
  return node->content;
}

std::vector<std::string> MemoryFileSystem::Flushed() const {
  std::lock_guard lock(impl_->mu);
  return impl_->flushed;
}

std::vector<std::string> MemoryFileSystem::Recycled() const {
  std::lock_guard lock(impl_->mu);
  return impl_->recycled;
}

std::vector<std::string> MemoryFileSystem::List(std::string_view folder) const {
  std::lock_guard lock(impl_->mu);
  std::vector<std::string> names;
  Parsed p;
  FNode *node = nullptr;
  if (impl_->Parse(folder, p) != wc::ErrorSuccess ||
      impl_->Walk(p, p.parts.size(), node, true) != wc::ErrorSuccess || !node->dir)
    return names;
  for (const auto &[upper, entry] : node->children)
    names.push_back(entry.first);
  return names;
}

void MemoryFileSystem::InjectFailure(Op op, std::string_view pathPart, long status, int count) {
  std::lock_guard lock(impl_->mu);
  std::string part(pathPart);
  std::replace(part.begin(), part.end(), '/', '\\');
  impl_->failures.push_back(Failure{op, UpperAscii(part), status, count});
}

void MemoryFileSystem::ClearFailures() {
  std::lock_guard lock(impl_->mu);
  impl_->failures.clear();
}

std::uint64_t MemoryFileSystem::AttributeQueries() const {
  std::lock_guard lock(impl_->mu);
  return impl_->attributeQueries;
}

} // namespace qp::mem
