#include "tests/conformance/RegistryConformance.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/ScopeGuard.h"
#include "platform/ScopedKey.h"
#include "platform/Utf.h"

namespace conformance {

namespace {

using qp::Bytes;
using qp::HKey;
using qp::ScopedKey;

constexpr std::uint32_t k32 = wc::KeyWow64_32Key;
constexpr std::uint32_t k64 = wc::KeyWow64_64Key;
constexpr std::uint32_t kAll = wc::KeyAllAccess;
constexpr std::uint32_t kRead = wc::KeyRead;
constexpr std::uint32_t kMaximumAllowed = 0x02000000u;
// The filter the monitor uses.
constexpr std::uint32_t kNotifyMonitor = wc::RegNotifyChangeName | wc::RegNotifyChangeLastSet;
constexpr std::uint32_t kMaxValueName = 16383;
// Long enough for any signal that is coming.
constexpr std::uint32_t kSignalMs = 10000;
// A value no registry hands out as a key.
constexpr HKey kMadeUpHandle = 0x123458;
// Capacities that hold any name and any value of the tests.
constexpr std::uint32_t kAnyName = 512;
constexpr std::uint32_t kAnyData = 1u << 20;

constexpr const char *kUserScratch = "Software\\QuenloConformance";
constexpr const char *kMachineScratch = "Software\\QuenloConformance";
constexpr const char *kHive = "QuenloConformanceHive";
constexpr const char *kClsid = "{5E0C1B7A-3D2F-4C61-9A8B-0F1E2D3C4B5A}";
constexpr const char *kAppId = "{7A3B9C1D-2E4F-4A6B-8C0D-1E2F3A4B5C6D}";
constexpr const char *kFileType = ".quenloconformance";
constexpr const char *kFilePrefix = "quenlo-conformance-";
constexpr const char *kOpenToEveryone = "D:(A;;KA;;;WD)";

// Keys in shared places that the tests make, with their roots.
struct SharedKey {
  std::uint32_t root;
  std::string path;
};

std::vector<SharedKey> SharedKeys() {
  const std::string classes = "Software\\Classes\\";
  const std::string version = "Software\\Microsoft\\Windows\\CurrentVersion\\";
  return {{wc::HkeyLocalMachine, kMachineScratch},
          {wc::HkeyLocalMachine, classes + "CLSID\\" + kClsid},
          {wc::HkeyLocalMachine, classes + "AppID\\" + kAppId},
          {wc::HkeyLocalMachine, classes + "Interface\\" + kClsid},
          {wc::HkeyLocalMachine, classes + kFileType},
          {wc::HkeyLocalMachine, version + "App Paths\\quenlo-conformance.exe"},
          {wc::HkeyLocalMachine, version + "Run\\QuenloConformance"},
          {wc::HkeyLocalMachine,
           "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\QuenloConformance"},
          {wc::HkeyCurrentUser, kUserScratch},
          {wc::HkeyCurrentUser, classes + "CLSID\\" + kClsid},
          {wc::HkeyCurrentUser, classes + kFileType}};
}

Bytes Dword(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

Bytes Sz(std::string_view utf8) {
  Bytes raw = qp::Utf8ToRawUtf16(utf8);
  raw.push_back(0);
  raw.push_back(0);
  return raw;
}

std::string Path(std::string_view parent, std::string_view child) {
  return std::string(parent) + "\\" + std::string(child);
}

// Removes a key and everything below it in one view; a key whose DACL
// keeps it is opened up first (its owner may always rewrite the DACL).
void RemoveTree(qp::IRegistry &reg, HKey parent, const std::string &path, std::uint32_t view) {
  ScopedKey key;
  long st = reg.OpenKey(parent, path, kAll | view, key.Out());
  if (st == wc::ErrorAccessDenied) {
    ScopedKey owner;
    if (reg.OpenKey(parent, path, wc::WriteDac | view, owner.Out()) == wc::ErrorSuccess)
      qp::IgnoreResult(
          reg.SetKeySecurity(owner.Get(), wc::DaclSecurityInformation, kOpenToEveryone));
    st = reg.OpenKey(parent, path, kAll | view, key.Out());
  }
  if (st != wc::ErrorSuccess)
    return;
  std::vector<std::string> subKeys;
  std::string name;
  for (std::uint32_t i = 0; reg.EnumKey(key.Get(), i, kAnyName, name) == wc::ErrorSuccess; ++i)
    subKeys.push_back(name);
  for (const std::string &sub : subKeys)
    RemoveTree(reg, key.Get(), sub, view);
  key.Reset();
  qp::IgnoreResult(reg.DeleteKeyEx(parent, path, view));
}

// An enabled privilege for the scope of a test step.
class PrivilegeScope {
public:
  PrivilegeScope(qp::ISystem &sys, std::string_view name) : sys_(sys), name_(name) {
    status_ = sys_.SetPrivilege(name_, true, nullptr);
  }
  ~PrivilegeScope() { qp::IgnoreResult(sys_.SetPrivilege(name_, false, nullptr)); }
  PrivilegeScope(const PrivilegeScope &) = delete;
  PrivilegeScope &operator=(const PrivilegeScope &) = delete;
  long Status() const { return status_; }

private:
  qp::ISystem &sys_;
  std::string name_;
  long status_ = 0;
};

// A key tree as the registry lists it.
struct TreeValue {
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
};
struct Tree {
  std::string name;
  std::uint64_t lastWrite = 0;
  std::vector<TreeValue> values;
  std::vector<Tree> subKeys;
};

Tree ReadTree(qp::IRegistry &reg, HKey key, const std::string &name) {
  Tree tree{name, 0, {}, {}};
  qp::KeyInfo info;
  if (reg.QueryInfoKey(key, info) != wc::ErrorSuccess)
    return tree;
  tree.lastWrite = info.lastWriteTime;
  for (std::uint32_t i = 0;; ++i) {
    TreeValue v;
    if (reg.EnumValue(key, i, info.maxValueNameLen + 1, info.maxValueLen, v.name, v.type, v.data) !=
        wc::ErrorSuccess)
      break;
    tree.values.push_back(std::move(v));
  }
  for (std::uint32_t i = 0;; ++i) {
    std::string sub;
    if (reg.EnumKey(key, i, info.maxSubKeyLen + 1, sub) != wc::ErrorSuccess)
      break;
    ScopedKey child;
    if (reg.OpenKey(key, sub, kRead, child.Out()) == wc::ErrorSuccess)
      tree.subKeys.push_back(ReadTree(reg, child.Get(), sub));
  }
  return tree;
}

// The tree as text, for comparisons that show what differs. The root's
// write time is left out: loading a hive may stamp it anew.
void Describe(const Tree &tree, const std::string &path, bool root, std::ostringstream &out) {
  out << "[" << path << "]";
  if (!root)
    out << " written " << tree.lastWrite;
  out << "\n";
  for (const TreeValue &v : tree.values) {
    out << "  \"" << v.name << "\" type " << v.type << ":";
    for (const std::uint8_t b : v.data)
      out << ' ' << static_cast<int>(b);
    out << "\n";
  }
  for (const Tree &sub : tree.subKeys)
    Describe(sub, path + "\\" + sub.name, false, out);
}

std::string Describe(qp::IRegistry &reg, HKey key) {
  std::ostringstream out;
  Describe(ReadTree(reg, key, ""), "", true, out);
  return out.str();
}

std::vector<std::string> SubKeyNames(qp::IRegistry &reg, HKey key) {
  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t i = 0; reg.EnumKey(key, i, kAnyName, name) == wc::ErrorSuccess; ++i)
    names.push_back(name);
  return names;
}

std::vector<std::string> ValueNames(qp::IRegistry &reg, HKey key) {
  std::vector<std::string> names;
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
  for (std::uint32_t i = 0; reg.EnumValue(key, i, kAnyName, kAnyData, name, type, data) == 0; ++i)
    names.push_back(name);
  return names;
}

} // namespace

RegistryFacts WineFacts() {
  RegistryFacts f;
  f.valuesListedByName = true;
  f.subkeysSortLowerCase = true;
  f.longestKeyName = 256;
  f.bothViewBitsMean32 = true;
  f.createNeedsParentRight = false;
  f.deleteNeedsDeleteRight = false;
  f.fileTypesShared = false;
  f.userClsidRedirected = false;
  f.classesRootMergesUser = false;
  f.watchedKeyDeleteSignals = false;
  f.securityChangeSignals = false;
  f.saveOverwrites = true;
  f.loadBelowAnyKey = true;
  f.loadedHiveWritesBack = false;
  f.failedLoadLeavesHive = true;
  f.replaceIsStub = true;
  return f;
}

RegistryFacts Windows7Facts() {
  RegistryFacts f;
  f.valuesListedByName = false;
  f.subkeysSortLowerCase = false;
  f.longestKeyName = 255; // "Registry Element Size Limits"
  f.bothViewBitsMean32 = false;
  f.createNeedsParentRight = true; // RegCreateKeyEx: "must have KEY_CREATE_SUB_KEY"
  f.deleteNeedsDeleteRight = true; // RegDeleteKey: "must have DELETE access"
  f.fileTypesShared = true;        // "Registry Keys Affected by WOW64"
  f.userClsidRedirected = true;    // the same page
  f.classesRootMergesUser = true;  // "HKEY_CLASSES_ROOT Key"
  f.watchedKeyDeleteSignals = true;
  f.securityChangeSignals = true; // REG_NOTIFY_CHANGE_SECURITY
  f.saveOverwrites = false;       // RegSaveKey: "the file must not already exist"
  f.loadBelowAnyKey = false;      // RegLoadKey: "HKEY_USERS or HKEY_LOCAL_MACHINE"
  f.loadedHiveWritesBack = true;
  f.failedLoadLeavesHive = false;
  f.replaceIsStub = false; // RegReplaceKey: "when the system is next started"
  return f;
}

void PrintTo(const RegistryRunner &runner, std::ostream *out) {
  *out << runner.name;
}

std::string RunnerName(const testing::TestParamInfo<RegistryRunner> &info) {
  return info.param.name;
}

void RegistryConformance::SetUp() {
  subject_ = GetParam().make();
  ASSERT_NE(subject_, nullptr);
  RemoveEverythingTheTestsMake();
}

void RegistryConformance::TearDown() {
  if (subject_ == nullptr)
    return;
  RemoveEverythingTheTestsMake();
  subject_.reset();
}

void RegistryConformance::RemoveEverythingTheTestsMake() {
  {
    PrivilegeScope restore(sys(), "SeRestorePrivilege");
    for (const std::uint32_t root : {wc::HkeyLocalMachine, wc::HkeyUsers})
      qp::IgnoreResult(reg().UnLoadKey(root, kHive));
  }
  for (const SharedKey &key : SharedKeys())
    for (const std::uint32_t view : {k32, k64})
      RemoveTree(reg(), key.root, key.path, view);
  const std::string temp = sys().GetTempPath();
  qp::FindData found;
  std::vector<std::string> leftovers;
  if (auto find = files().FindFirst(temp + kFilePrefix + "*", found)) {
    do
      leftovers.push_back(temp + found.name);
    while (find->Next(found));
  }
  for (const std::string &file : leftovers)
    qp::IgnoreResult(files().DeleteFile(file));
}

namespace {

std::string TempFile(qp::ISystem &sys, std::string_view name) {
  return sys.GetTempPath() + kFilePrefix + std::string(name);
}

} // namespace

// --- keys

TEST_P(RegistryConformance, CreateOpenAndPathSyntax) {
  ScopedKey key;
  std::uint32_t disposition = 99;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), &disposition), 0);
  EXPECT_EQ(disposition, wc::RegCreatedNewKey);
  ScopedKey again;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kRead, again.Out(), &disposition),
            0);
  EXPECT_EQ(disposition, wc::RegOpenedExistingKey);
  EXPECT_NE(key.Get(), again.Get());

  // Intermediate keys are made; names compare without case.
  ScopedKey deep, found;
  ASSERT_EQ(reg().CreateKey(key.Get(), "A\\B\\C", kAll, deep.Out(), nullptr), 0);
  EXPECT_EQ(reg().OpenKey(key.Get(), "a\\b", kRead, found.Out()), 0);
  EXPECT_EQ(reg().OpenKey(key.Get(), "A\\\\B\\c\\", kRead, found.Out()), 0)
      << "a doubled or trailing backslash ends a name";
  EXPECT_EQ(reg().OpenKey(key.Get(), "A\\Missing", kRead, found.Out()), wc::ErrorFileNotFound);
  EXPECT_EQ(found.Get(), 0u);
  EXPECT_EQ(reg().OpenKey(key.Get(), "\\A", kRead, found.Out()), wc::ErrorBadPathname);
  disposition = 99;
  EXPECT_EQ(reg().CreateKey(key.Get(), "\\X", kAll, found.Out(), &disposition),
            wc::ErrorBadPathname);
  EXPECT_EQ(found.Get(), 0u);
  EXPECT_EQ(disposition, 0u);
  EXPECT_EQ(SubKeyNames(reg(), key.Get()), std::vector<std::string>{"A"});

  for (const std::uint32_t root : {wc::HkeyClassesRoot, wc::HkeyCurrentUser, wc::HkeyLocalMachine,
                                   wc::HkeyUsers, wc::HkeyCurrentConfig}) {
    ScopedKey rootKey;
    EXPECT_EQ(reg().OpenKey(root, "", kRead, rootKey.Out()), 0) << std::hex << root;
  }
  // Closing a predefined root is harmless.
  EXPECT_EQ(reg().CloseKey(wc::HkeyCurrentUser), 0);
  EXPECT_EQ(reg().OpenKey(wc::HkeyCurrentUser, "Software", kRead, found.Out()), 0);
}

TEST_P(RegistryConformance, NamesFoldCaseBeyondAsciiAndKeepTheirFirstSpelling) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  const std::string name = "Gr\xC3\xBC\xC3\x9F"
                           "e \xD0\x96\xD1\x83\xD0\xBA"; // "Grüße Жук"
  const std::string shouted = "GR\xC3\x9C\xC3\x9F"
                              "E \xD0\xB6\xD0\xA3\xD0\x9A"; // "GRÜßE жУК"
  ScopedKey made, opened;
  ASSERT_EQ(reg().CreateKey(key.Get(), name, kAll, made.Out(), nullptr), 0);
  EXPECT_EQ(reg().OpenKey(key.Get(), shouted, kRead, opened.Out()), 0);
  std::uint32_t disposition = 0;
  ASSERT_EQ(reg().CreateKey(key.Get(), shouted, kAll, opened.Out(), &disposition), 0);
  EXPECT_EQ(disposition, wc::RegOpenedExistingKey);
  EXPECT_EQ(SubKeyNames(reg(), key.Get()), std::vector<std::string>{name});

  const std::string ete = "\xC3\xA9t\xC3\xA9", ETE = "\xC3\x89T\xC3\x89"; // "été", "ÉTÉ"
  ASSERT_EQ(reg().SetValue(key.Get(), ete, wc::RegDword, Dword(1)), 0);
  ASSERT_EQ(reg().SetValue(key.Get(), ETE, wc::RegDword, Dword(2)), 0);
  Bytes data;
  EXPECT_EQ(reg().QueryValue(key.Get(), ETE, nullptr, &data, nullptr), 0);
  EXPECT_EQ(data, Dword(2));
  EXPECT_EQ(ValueNames(reg(), key.Get()), std::vector<std::string>{ete});
}

TEST_P(RegistryConformance, NameLengthLimits) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  const std::uint32_t limit = facts().longestKeyName;
  const std::string longest(limit, 'k'), tooLong(limit + 1, 'k');
  ScopedKey sub;
  EXPECT_EQ(reg().CreateKey(key.Get(), longest, kAll, sub.Out(), nullptr), 0);
  EXPECT_EQ(reg().CreateKey(key.Get(), tooLong, kAll, sub.Out(), nullptr),
            wc::ErrorInvalidParameter);
  EXPECT_EQ(reg().OpenKey(key.Get(), tooLong, kRead, sub.Out()), wc::ErrorInvalidParameter);
  EXPECT_EQ(reg().OpenKey(key.Get(), std::string(limit + 40, 'z'), kRead, sub.Out()),
            wc::ErrorInvalidParameter)
      << "a name too long to exist is refused, not looked for";

  qp::KeyInfo info;
  ASSERT_EQ(reg().QueryInfoKey(key.Get(), info), 0);
  EXPECT_EQ(info.subKeys, 1u);
  EXPECT_EQ(info.maxSubKeyLen, limit);
  std::string name;
  EXPECT_EQ(reg().EnumKey(key.Get(), 0, limit, name), wc::ErrorMoreData);
  EXPECT_EQ(reg().EnumKey(key.Get(), 0, limit + 1, name), 0);
  EXPECT_EQ(name, longest);

  EXPECT_EQ(reg().SetValue(key.Get(), std::string(kMaxValueName, 'v'), wc::RegDword, Dword(1)), 0);
  EXPECT_EQ(reg().SetValue(key.Get(), std::string(kMaxValueName + 1, 'v'), wc::RegDword, Dword(1)),
            wc::ErrorInvalidParameter);
}

// --- values

TEST_P(RegistryConformance, ValuesOfEveryKindRoundTripAsRawBytes) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  const std::string unicodeName = "Gr\xC3\xBC\xC3\x9F"
                                  "e \xE5\x90\x8D\xE5\x89\x8D";
  const Bytes big(100000, 0xA5);
  const std::map<std::string, std::pair<std::uint32_t, Bytes>> values = {
      {unicodeName,
       {wc::RegSz, Sz("Stra\xC3\x9F"
                      "e \xE6\x97\xA5\xE6\x9C\xAC")}},
      {"", {wc::RegExpandSz, Sz("%windir%\\x")}},
      {"multi", {wc::RegMultiSz, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}}},
      {"dword", {wc::RegDword, Dword(0x12345678)}},
      {"bigendian", {wc::RegDwordBigEndian, Bytes{0x12, 0x34, 0x56, 0x78}}},
      {"qword", {wc::RegQword, Bytes{1, 2, 3, 4, 5, 6, 7, 8}}},
      {"binary", {wc::RegBinary, Bytes{0, 1, 2, 0xFF, 0}}},
      {"none", {wc::RegNone, Bytes{}}},
      {"nonewithdata", {wc::RegNone, Bytes{7, 7}}},
      {"emptysz", {wc::RegSz, Bytes{}}},
      // Sizes that do not fit the type are stored as given.
      {"oddsz", {wc::RegSz, Bytes{'a', 0, 'b'}}},
      {"shortdword", {wc::RegDword, Bytes{1, 2, 3}}},
      {"longqword", {wc::RegQword, Bytes{1, 2, 3, 4, 5}}},
      {"unterminated", {wc::RegSz, Bytes{'x', 0, 'y', 0}}},
      {"big", {wc::RegBinary, big}},
  };
  for (const auto &[name, value] : values)
    EXPECT_EQ(reg().SetValue(key.Get(), name, value.first, value.second), 0) << name;

  for (const auto &[name, value] : values) {
    std::uint32_t type = 99, size = 99;
    Bytes data;
    EXPECT_EQ(reg().QueryValue(key.Get(), name, &type, &data, &size), 0) << name;
    EXPECT_EQ(type, value.first) << name;
    EXPECT_EQ(data, value.second) << name;
    EXPECT_EQ(size, value.second.size()) << name;
    type = size = 99;
    EXPECT_EQ(reg().QueryValue(key.Get(), name, &type, nullptr, &size), 0) << name;
    EXPECT_EQ(type, value.first) << name;
    EXPECT_EQ(size, value.second.size()) << name;
  }

  qp::KeyInfo info;
  ASSERT_EQ(reg().QueryInfoKey(key.Get(), info), 0);
  EXPECT_EQ(info.values, values.size());
  EXPECT_EQ(info.subKeys, 0u);
  EXPECT_EQ(info.maxValueNameLen, qp::Utf16Length("unterminated"));
  EXPECT_EQ(info.maxValueLen, big.size());
  EXPECT_NE(info.lastWriteTime, 0u);

  std::map<std::string, std::pair<std::uint32_t, Bytes>> listed;
  for (std::uint32_t i = 0;; ++i) {
    std::string name;
    std::uint32_t type = 0;
    Bytes data;
    const long st =
        reg().EnumValue(key.Get(), i, info.maxValueNameLen + 1, info.maxValueLen, name, type, data);
    if (st == wc::ErrorNoMoreItems)
      break;
    ASSERT_EQ(st, 0) << i;
    listed[name] = {type, data};
  }
  EXPECT_EQ(listed, values);

  // A missing value leaves no type or size behind.
  std::uint32_t type = 99, size = 99;
  EXPECT_EQ(reg().QueryValue(key.Get(), "missing", &type, nullptr, &size), wc::ErrorFileNotFound);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(size, 0u);
}

TEST_P(RegistryConformance, SmallCapacitiesAnswerMoreData) {
  ScopedKey key, sub;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  ASSERT_EQ(reg().CreateKey(key.Get(), "fourteen_units", kAll, sub.Out(), nullptr), 0);
  ASSERT_EQ(reg().SetValue(key.Get(), "value_name", wc::RegBinary, Bytes{1, 2, 3, 4}), 0);

  std::string name = "stale";
  EXPECT_EQ(reg().EnumKey(key.Get(), 0, 14, name), wc::ErrorMoreData) << "the NUL counts";
  EXPECT_EQ(name, "");
  EXPECT_EQ(reg().EnumKey(key.Get(), 0, 15, name), 0);
  EXPECT_EQ(name, "fourteen_units");
  EXPECT_EQ(reg().EnumKey(key.Get(), 1, kAnyName, name), wc::ErrorNoMoreItems);
  EXPECT_EQ(name, "");

  std::uint32_t type = 99;
  Bytes data;
  EXPECT_EQ(reg().EnumValue(key.Get(), 0, 11, 4, name, type, data), 0);
  EXPECT_EQ(name, "value_name");
  EXPECT_EQ(type, wc::RegBinary);
  EXPECT_EQ(data, (Bytes{1, 2, 3, 4}));
  struct Short {
    std::uint32_t nameCapacity, dataCapacity;
  };
  for (const Short capacity : {Short{10, 4}, Short{11, 3}, Short{11, 0}, Short{0, 0}}) {
    name = "stale";
    type = 99;
    data = {9};
    EXPECT_EQ(reg().EnumValue(key.Get(), 0, capacity.nameCapacity, capacity.dataCapacity, name,
                              type, data),
              wc::ErrorMoreData)
        << capacity.nameCapacity << "/" << capacity.dataCapacity;
    EXPECT_EQ(type, wc::RegBinary) << "the type comes with ERROR_MORE_DATA";
    EXPECT_EQ(name, "");
    EXPECT_TRUE(data.empty());
  }
  EXPECT_EQ(reg().EnumValue(key.Get(), 1, 11, 4, name, type, data), wc::ErrorNoMoreItems);
  EXPECT_EQ(type, 0u);
}

TEST_P(RegistryConformance, EnumerationOrder) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  // '[' and '_' sort after the letters when names are upper-cased and
  // before them when they are lower-cased.
  for (const char *name : {"zeta", "Alpha", "beta", "_under", "[x", "a~", "Gamma"}) {
    ScopedKey sub;
    ASSERT_EQ(reg().CreateKey(key.Get(), name, kAll, sub.Out(), nullptr), 0);
  }
  const std::vector<std::string> lower = {"[x", "_under", "Alpha", "a~", "beta", "Gamma", "zeta"};
  const std::vector<std::string> upper = {"Alpha", "a~", "beta", "Gamma", "zeta", "[x", "_under"};
  EXPECT_EQ(SubKeyNames(reg(), key.Get()), facts().subkeysSortLowerCase ? lower : upper);

  const std::vector<std::string> created = {"zeta", "_u", "Alpha", "[x", "a~"};
  for (const std::string &name : created)
    ASSERT_EQ(reg().SetValue(key.Get(), name, wc::RegDword, Dword(1)), 0);
  const std::vector<std::string> byName = {"[x", "_u", "Alpha", "a~", "zeta"};
  EXPECT_EQ(ValueNames(reg(), key.Get()), facts().valuesListedByName ? byName : created);
}

TEST_P(RegistryConformance, DeletingValuesAndKeys) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  ASSERT_EQ(reg().SetValue(key.Get(), "v", wc::RegDword, Dword(1)), 0);
  EXPECT_EQ(reg().DeleteValue(key.Get(), "V"), 0);
  EXPECT_EQ(reg().QueryValue(key.Get(), "v", nullptr, nullptr, nullptr), wc::ErrorFileNotFound);
  EXPECT_EQ(reg().DeleteValue(key.Get(), "v"), wc::ErrorFileNotFound);

  ScopedKey child;
  ASSERT_EQ(reg().CreateKey(key.Get(), "Parent\\Child", kAll, child.Out(), nullptr), 0);
  child.Reset();
  EXPECT_EQ(reg().DeleteKey(key.Get(), "Parent"), wc::ErrorAccessDenied) << "it has a subkey";
  EXPECT_EQ(reg().DeleteKey(key.Get(), "Parent\\Child"), 0);
  EXPECT_EQ(reg().DeleteKey(key.Get(), "Parent\\Child"), wc::ErrorFileNotFound);
  EXPECT_EQ(reg().DeleteKey(key.Get(), "Parent"), 0);
  EXPECT_EQ(reg().DeleteKey(wc::HkeyCurrentUser, ""), wc::ErrorAccessDenied);

  // A handle can delete its own key; afterwards it answers 1018.
  ScopedKey self;
  ASSERT_EQ(reg().CreateKey(key.Get(), "Self", kAll, self.Out(), nullptr), 0);
  ASSERT_EQ(reg().DeleteKey(self.Get(), ""), 0);
  qp::KeyInfo info;
  std::string name;
  ScopedKey below;
  std::unique_ptr<qp::IChangeWatch> watch;
  EXPECT_EQ(reg().QueryInfoKey(self.Get(), info), wc::ErrorKeyDeleted);
  EXPECT_EQ(reg().EnumKey(self.Get(), 0, kAnyName, name), wc::ErrorKeyDeleted);
  EXPECT_EQ(reg().QueryValue(self.Get(), "", nullptr, nullptr, nullptr), wc::ErrorKeyDeleted);
  EXPECT_EQ(reg().SetValue(self.Get(), "v", wc::RegDword, Dword(1)), wc::ErrorKeyDeleted);
  EXPECT_EQ(reg().OpenKey(self.Get(), "", kRead, below.Out()), wc::ErrorKeyDeleted);
  EXPECT_EQ(reg().CreateKey(self.Get(), "x", kAll, below.Out(), nullptr), wc::ErrorKeyDeleted);
  EXPECT_EQ(reg().NotifyChangeKeyValue(self.Get(), false, kNotifyMonitor, watch),
            wc::ErrorKeyDeleted);
  const HKey closed = self.Release();
  EXPECT_EQ(reg().CloseKey(closed), 0);
  EXPECT_EQ(reg().CloseKey(closed), wc::ErrorInvalidHandle);
  EXPECT_EQ(reg().QueryInfoKey(closed, info), wc::ErrorInvalidHandle);
}

TEST_P(RegistryConformance, AccessRightsOfAHandle) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  ScopedKey readOnly, sub;
  ASSERT_EQ(reg().OpenKey(wc::HkeyCurrentUser, kUserScratch, kRead, readOnly.Out()), 0);
  EXPECT_EQ(reg().SetValue(readOnly.Get(), "v", wc::RegDword, Dword(1)), wc::ErrorAccessDenied);
  EXPECT_EQ(reg().DeleteValue(readOnly.Get(), "v"), wc::ErrorAccessDenied);
  EXPECT_EQ(reg().CreateKey(readOnly.Get(), "New", kAll, sub.Out(), nullptr),
            facts().createNeedsParentRight ? wc::ErrorAccessDenied : wc::ErrorSuccess);
  std::string sddl;
  ScopedKey querying;
  ASSERT_EQ(reg().OpenKey(wc::HkeyCurrentUser, kUserScratch, wc::KeyQueryValue, querying.Out()), 0);
  std::unique_ptr<qp::IChangeWatch> watch;
  EXPECT_EQ(reg().NotifyChangeKeyValue(querying.Get(), false, kNotifyMonitor, watch),
            wc::ErrorAccessDenied);
  EXPECT_EQ(reg().GetKeySecurity(querying.Get(), wc::DaclSecurityInformation, sddl),
            wc::ErrorAccessDenied);
  EXPECT_EQ(reg().SetKeySecurity(readOnly.Get(), wc::DaclSecurityInformation, kOpenToEveryone),
            wc::ErrorAccessDenied);
  qp::KeyInfo info;
  EXPECT_EQ(reg().QueryInfoKey(kMadeUpHandle, info), wc::ErrorInvalidHandle);
}

// --- the 32-bit and 64-bit views

TEST_P(RegistryConformance, ThirtyTwoAndSixtyFourBitViews) {
  const std::string scratch = kMachineScratch;
  auto make = [&](std::uint32_t root, const std::string &path, std::uint32_t view) {
    ScopedKey key;
    EXPECT_EQ(reg().CreateKey(root, path, kAll | view, key.Out(), nullptr), 0) << path;
  };
  auto probe = [&](std::uint32_t root, const std::string &path, std::uint32_t sam) {
    ScopedKey key;
    return reg().OpenKey(root, path, kRead | sam, key.Out());
  };
  const std::uint32_t hklm = wc::HkeyLocalMachine, hkcu = wc::HkeyCurrentUser;
  make(hklm, Path(scratch, "Only32"), k32);
  make(hklm, Path(scratch, "Only64"), k64);
  EXPECT_EQ(probe(hklm, Path(scratch, "Only32"), k32), 0);
  EXPECT_EQ(probe(hklm, Path(scratch, "Only32"), k64), wc::ErrorFileNotFound);
  EXPECT_EQ(probe(hklm, Path(scratch, "Only64"), k32), wc::ErrorFileNotFound);
  EXPECT_EQ(probe(hklm, Path(scratch, "Only64"), 0), 0) << "a 64-bit program's own view";
  EXPECT_EQ(probe(hklm, "Software\\Wow6432Node\\QuenloConformance\\Only32", k64), 0);
  if (facts().bothViewBitsMean32) {
    EXPECT_EQ(probe(hklm, Path(scratch, "Only32"), k32 | k64), 0);
    EXPECT_EQ(probe(hklm, Path(scratch, "Only64"), k32 | k64), wc::ErrorFileNotFound);
  } else {
    EXPECT_EQ(probe(hklm, Path(scratch, "Only64"), k32 | k64), wc::ErrorInvalidParameter);
  }

  // Keys both views share, and keys each has its own copy of.
  const std::string classes = "Software\\Classes\\";
  const std::string version = "Software\\Microsoft\\Windows\\CurrentVersion\\";
  struct Case {
    std::uint32_t root;
    std::string path;
    bool shared;
  };
  const Case cases[] = {
      {hklm, classes + "AppID\\" + kAppId, true},
      {hklm, version + "App Paths\\quenlo-conformance.exe", true},
      {hklm, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\QuenloConformance", true},
      {hkcu, Path(kUserScratch, "Shared"), true},
      {hklm, classes + "CLSID\\" + kClsid, false},
      {hklm, classes + "Interface\\" + kClsid, false},
      {hklm, version + "Run\\QuenloConformance", false},
      {hklm, classes + kFileType, facts().fileTypesShared},
      {hkcu, classes + "CLSID\\" + kClsid, !facts().userClsidRedirected},
  };
  for (const Case &c : cases) {
    make(c.root, c.path, k32);
    EXPECT_EQ(probe(c.root, c.path, k64), c.shared ? 0 : wc::ErrorFileNotFound) << c.path;
    EXPECT_EQ(reg().DeleteKeyEx(c.root, c.path, k32), 0) << c.path;
    EXPECT_EQ(probe(c.root, c.path, k32), wc::ErrorFileNotFound) << c.path;
  }

  // Where the 32-bit classes are, and how HKCR shows them.
  const std::string clsid = classes + "CLSID\\" + kClsid;
  make(hklm, clsid, k32);
  EXPECT_EQ(probe(hklm, std::string("Software\\Wow6432Node\\Classes\\CLSID\\") + kClsid, k64), 0);
  EXPECT_EQ(probe(hklm, std::string("Software\\Classes\\Wow6432Node\\CLSID\\") + kClsid, k64), 0)
      << "Software\\Wow6432Node\\Classes links to Software\\Classes\\Wow6432Node";
  EXPECT_EQ(probe(wc::HkeyClassesRoot, std::string("CLSID\\") + kClsid, k32), 0);
  EXPECT_EQ(probe(wc::HkeyClassesRoot, std::string("CLSID\\") + kClsid, k64),
            wc::ErrorFileNotFound);
  ScopedKey clsid32;
  ASSERT_EQ(reg().OpenKey(hklm, "Software\\Classes\\CLSID", kRead | k32, clsid32.Out()), 0);
  const std::vector<std::string> names = SubKeyNames(reg(), clsid32.Get());
  EXPECT_NE(std::find(names.begin(), names.end(), kClsid), names.end());

  // RegDeleteKeyEx deletes in the view it is given, RegDeleteKey in the
  // program's own.
  make(hklm, Path(scratch, "Both"), k32);
  make(hklm, Path(scratch, "Both"), k64);
  EXPECT_EQ(reg().DeleteKeyEx(hklm, Path(scratch, "Both"), k32), 0);
  EXPECT_EQ(probe(hklm, Path(scratch, "Both"), k32), wc::ErrorFileNotFound);
  EXPECT_EQ(probe(hklm, Path(scratch, "Both"), k64), 0);
  EXPECT_EQ(reg().DeleteKey(hklm, Path(scratch, "Both")), 0);
  EXPECT_EQ(probe(hklm, Path(scratch, "Both"), k64), wc::ErrorFileNotFound);
}

TEST_P(RegistryConformance, ClassesRootAndTheUsersClasses) {
  const std::string path = std::string("Software\\Classes\\") + kFileType;
  ScopedKey machine, user, merged;
  ASSERT_EQ(reg().CreateKey(wc::HkeyLocalMachine, path, kAll, machine.Out(), nullptr), 0);
  ASSERT_EQ(reg().SetValue(machine.Get(), "", wc::RegSz, Sz("machine")), 0);
  ASSERT_EQ(reg().SetValue(machine.Get(), "MachineOnly", wc::RegSz, Sz("m")), 0);
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, path, kAll, user.Out(), nullptr), 0);
  ASSERT_EQ(reg().SetValue(user.Get(), "", wc::RegSz, Sz("user")), 0);
  ASSERT_EQ(reg().OpenKey(wc::HkeyClassesRoot, kFileType, kRead, merged.Out()), 0);
  Bytes data;
  ASSERT_EQ(reg().QueryValue(merged.Get(), "", nullptr, &data, nullptr), 0);
  EXPECT_EQ(data, Sz(facts().classesRootMergesUser ? "user" : "machine"));
  EXPECT_EQ(reg().QueryValue(merged.Get(), "MachineOnly", nullptr, &data, nullptr), 0);
  machine.Reset();
  merged.Reset();
  ASSERT_EQ(reg().DeleteKey(wc::HkeyLocalMachine, path), 0);
  EXPECT_EQ(reg().OpenKey(wc::HkeyClassesRoot, kFileType, kRead, merged.Out()),
            facts().classesRootMergesUser ? 0 : wc::ErrorFileNotFound);
}

// --- security

TEST_P(RegistryConformance, ADenyingAclRefusesTheOpen) {
  ScopedKey key, target;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  ASSERT_EQ(reg().CreateKey(key.Get(), "Guarded", kAll, target.Out(), nullptr), 0);
  auto open = [&](std::uint32_t sam) {
    ScopedKey k;
    return reg().OpenKey(key.Get(), "Guarded", sam, k.Out());
  };
  struct Expect {
    std::uint32_t sam;
    long status;
  };
  struct Acl {
    const char *sddl;
    std::vector<Expect> opens;
  };
  const long denied = wc::ErrorAccessDenied;
  // The owner (Administrators, the group every test user is in) may always
  // read the security and write the DACL.
  const Acl acls[] = {
      {"D:(D;;CC;;;WD)(A;;KA;;;WD)",
       {{kRead, denied},
        {wc::KeyQueryValue, denied},
        {wc::KeySetValue, 0},
        {kAll, denied},
        {kMaximumAllowed, 0},
        {wc::WriteDac, 0}}},
      {"D:(A;;KR;;;WD)", {{kRead, 0}, {wc::KeySetValue, denied}, {kAll, denied}}},
      {"D:(D;;KA;;;BU)(A;;KA;;;WD)", {{kRead, denied}, {wc::KeySetValue, denied}}},
      {"D:(A;IO;KA;;;WD)", {{kRead, denied}, {wc::ReadControl, 0}}},
      {"D:", {{kRead, denied}, {wc::ReadControl, 0}, {wc::WriteDac, 0}, {kMaximumAllowed, 0}}},
      {kOpenToEveryone, {{kRead, 0}, {kAll, 0}}},
  };
  for (const Acl &acl : acls) {
    ASSERT_EQ(reg().SetKeySecurity(target.Get(), wc::DaclSecurityInformation, acl.sddl), 0)
        << acl.sddl;
    std::string back;
    ASSERT_EQ(reg().GetKeySecurity(target.Get(), wc::DaclSecurityInformation, back), 0);
    EXPECT_EQ(back, acl.sddl);
    for (const Expect &e : acl.opens)
      EXPECT_EQ(open(e.sam), e.status) << acl.sddl << " asking 0x" << std::hex << e.sam;
  }

  // A handle keeps the access it was given when it was opened.
  ASSERT_EQ(reg().SetKeySecurity(target.Get(), wc::DaclSecurityInformation, "D:"), 0);
  EXPECT_EQ(reg().SetValue(target.Get(), "v", wc::RegDword, Dword(1)), 0);
  ScopedKey sub;
  EXPECT_EQ(reg().CreateKey(target.Get(), "Sub", kAll, sub.Out(), nullptr), 0);
  sub.Reset();
  EXPECT_EQ(reg().DeleteKey(target.Get(), "Sub"), 0);
  EXPECT_EQ(reg().DeleteKey(key.Get(), "Guarded"),
            facts().deleteNeedsDeleteRight ? denied : wc::ErrorSuccess);
  if (facts().deleteNeedsDeleteRight) {
    ASSERT_EQ(reg().SetKeySecurity(target.Get(), wc::DaclSecurityInformation, kOpenToEveryone), 0);
    EXPECT_EQ(reg().DeleteKey(key.Get(), "Guarded"), 0);
  }

  std::string sddl;
  ASSERT_EQ(reg().GetKeySecurity(key.Get(),
                                 wc::OwnerSecurityInformation | wc::DaclSecurityInformation, sddl),
            0);
  EXPECT_EQ(sddl.rfind("O:", 0), 0u) << sddl;
  EXPECT_NE(sddl.find("D:"), std::string::npos) << sddl;
  EXPECT_EQ(reg().SetKeySecurity(key.Get(), wc::DaclSecurityInformation, "not sddl"),
            wc::ErrorInvalidParameter);
}

// --- change notification

namespace {

// A watch armed through a handle of its own, so that each case is alone on
// its handle.
struct Armed {
  ScopedKey handle;
  std::unique_ptr<qp::IChangeWatch> watch;
};

} // namespace

TEST_P(RegistryConformance, WatchSignalsForValuesAndDirectSubkeys) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  ASSERT_EQ(reg().SetValue(key.Get(), "kept", wc::RegDword, Dword(1)), 0);
  auto arm = [&](bool subtree, std::uint32_t filter) {
    Armed a;
    EXPECT_EQ(reg().OpenKey(wc::HkeyCurrentUser, kUserScratch, kRead, a.handle.Out()), 0);
    EXPECT_EQ(reg().NotifyChangeKeyValue(a.handle.Get(), subtree, filter, a.watch), 0);
    EXPECT_NE(a.watch, nullptr);
    return a;
  };
  struct Case {
    const char *what;
    std::uint32_t filter;
    std::function<void()> change;
    bool signals;
  };
  auto set = [&](const char *name, std::uint32_t type, Bytes data) {
    return [&, name, type, data] { EXPECT_EQ(reg().SetValue(key.Get(), name, type, data), 0); };
  };
  auto makeSub = [&](const char *name) {
    return [&, name] {
      ScopedKey sub;
      EXPECT_EQ(reg().CreateKey(key.Get(), name, kAll, sub.Out(), nullptr), 0);
    };
  };
  auto dropSub = [&](const char *name) {
    return [&, name] { EXPECT_EQ(reg().DeleteKey(key.Get(), name), 0); };
  };
  const Case cases[] = {
      {"value created", kNotifyMonitor, set("v", wc::RegDword, Dword(1)), true},
      {"value changed", kNotifyMonitor, set("v", wc::RegDword, Dword(2)), true},
      {"type alone changed", kNotifyMonitor, set("v", wc::RegBinary, Dword(2)), true},
      {"same type and data", kNotifyMonitor, set("v", wc::RegBinary, Dword(2)), false},
      {"value deleted", kNotifyMonitor, [&] { EXPECT_EQ(reg().DeleteValue(key.Get(), "v"), 0); },
       true},
      {"missing value deleted", kNotifyMonitor,
       [&] { EXPECT_EQ(reg().DeleteValue(key.Get(), "v"), wc::ErrorFileNotFound); }, false},
      {"subkey created", kNotifyMonitor, makeSub("Sub"), true},
      {"subkey opened again", kNotifyMonitor, makeSub("Sub"), false},
      {"subkey deleted", kNotifyMonitor, dropSub("Sub"), true},
      {"subkey created, values watched", wc::RegNotifyChangeLastSet, makeSub("Sub2"), false},
      {"value created, names watched", wc::RegNotifyChangeName, set("w", wc::RegDword, Dword(1)),
       false},
      {"subkey deleted, names watched", wc::RegNotifyChangeName, dropSub("Sub2"), true},
  };
  for (const Case &c : cases) {
    Armed a = arm(false, c.filter);
    EXPECT_FALSE(a.watch->Wait(0)) << c.what;
    c.change();
    EXPECT_EQ(a.watch->Wait(c.signals ? kSignalMs : subject().QuietMs()), c.signals) << c.what;
    if (c.signals) {
      EXPECT_TRUE(a.watch->Wait(0)) << c.what << ": a watch stays signalled";
    }
  }

  // Two watches on one handle both see the change; a change before a watch
  // is armed is not seen by it.
  Armed a = arm(false, kNotifyMonitor);
  std::unique_ptr<qp::IChangeWatch> second;
  ASSERT_EQ(reg().NotifyChangeKeyValue(a.handle.Get(), false, kNotifyMonitor, second), 0);
  ASSERT_EQ(reg().SetValue(key.Get(), "x", wc::RegDword, Dword(1)), 0);
  EXPECT_TRUE(a.watch->Wait(kSignalMs));
  EXPECT_TRUE(second->Wait(kSignalMs));
  ASSERT_EQ(reg().SetValue(key.Get(), "x", wc::RegDword, Dword(2)), 0);
  ASSERT_EQ(reg().NotifyChangeKeyValue(a.handle.Get(), false, kNotifyMonitor, second), 0);
  EXPECT_FALSE(second->Wait(subject().QuietMs()));
}

TEST_P(RegistryConformance, WatchSeesDeeperChangesOnlyWithSubtree) {
  ScopedKey key, child;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  ASSERT_EQ(reg().CreateKey(key.Get(), "Child", kAll, child.Out(), nullptr), 0);
  for (const bool subtree : {false, true}) {
    auto arm = [&](Armed &a) {
      ASSERT_EQ(reg().OpenKey(key.Get(), "", kRead, a.handle.Out()), 0);
      ASSERT_EQ(reg().NotifyChangeKeyValue(a.handle.Get(), subtree, kNotifyMonitor, a.watch), 0);
    };
    const std::uint32_t wait = subtree ? kSignalMs : subject().QuietMs();
    Armed value, created, deleted;
    ASSERT_NO_FATAL_FAILURE(arm(value));
    ASSERT_EQ(reg().SetValue(child.Get(), "v", wc::RegDword, Dword(subtree ? 2 : 1)), 0);
    EXPECT_EQ(value.watch->Wait(wait), subtree) << "a value of a subkey";

    ASSERT_NO_FATAL_FAILURE(arm(created));
    ScopedKey grandchild;
    ASSERT_EQ(reg().CreateKey(child.Get(), "Grandchild", kAll, grandchild.Out(), nullptr), 0);
    grandchild.Reset();
    EXPECT_EQ(created.watch->Wait(wait), subtree) << "a subkey's subkey created";

    ASSERT_NO_FATAL_FAILURE(arm(deleted));
    ASSERT_EQ(reg().DeleteKey(child.Get(), "Grandchild"), 0);
    EXPECT_EQ(deleted.watch->Wait(wait), subtree) << "a subkey's subkey deleted";
  }
}

TEST_P(RegistryConformance, TheFirstWatchOnAHandleSetsWhatItsWatchesSee) {
  ScopedKey key, child, handle;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  ASSERT_EQ(reg().CreateKey(key.Get(), "Child", kAll, child.Out(), nullptr), 0);
  ASSERT_EQ(reg().OpenKey(key.Get(), "", kRead, handle.Out()), 0);
  std::unique_ptr<qp::IChangeWatch> values, names;
  ASSERT_EQ(reg().NotifyChangeKeyValue(handle.Get(), false, wc::RegNotifyChangeLastSet, values), 0);
  ASSERT_EQ(reg().NotifyChangeKeyValue(handle.Get(), true, wc::RegNotifyChangeName, names), 0);
  ScopedKey sub;
  ASSERT_EQ(reg().CreateKey(key.Get(), "New", kAll, sub.Out(), nullptr), 0);
  EXPECT_FALSE(names->Wait(subject().QuietMs())) << "the second watch asked for names";
  ASSERT_EQ(reg().SetValue(key.Get(), "v", wc::RegDword, Dword(1)), 0);
  EXPECT_TRUE(values->Wait(kSignalMs));
  EXPECT_TRUE(names->Wait(kSignalMs)) << "and sees values, as the first asked";

  // Still so for a watch armed after they were signalled.
  std::unique_ptr<qp::IChangeWatch> later;
  ASSERT_EQ(reg().NotifyChangeKeyValue(handle.Get(), true, kNotifyMonitor, later), 0);
  ASSERT_EQ(reg().SetValue(child.Get(), "v", wc::RegDword, Dword(1)), 0);
  EXPECT_FALSE(later->Wait(subject().QuietMs())) << "no subtree";
}

TEST_P(RegistryConformance, DeletingOrClosingTheWatchedKey) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  for (const bool subtree : {false, true}) {
    ScopedKey doomed;
    ASSERT_EQ(reg().CreateKey(key.Get(), "Doomed", kAll, doomed.Out(), nullptr), 0);
    std::unique_ptr<qp::IChangeWatch> onDoomed, onParent;
    ASSERT_EQ(reg().NotifyChangeKeyValue(doomed.Get(), subtree, kNotifyMonitor, onDoomed), 0);
    ASSERT_EQ(reg().NotifyChangeKeyValue(key.Get(), false, kNotifyMonitor, onParent), 0);
    ASSERT_EQ(reg().DeleteKey(key.Get(), "Doomed"), 0);
    EXPECT_TRUE(onParent->Wait(kSignalMs));
    EXPECT_EQ(onDoomed->Wait(facts().watchedKeyDeleteSignals ? kSignalMs : subject().QuietMs()),
              facts().watchedKeyDeleteSignals);
    qp::KeyInfo info;
    std::unique_ptr<qp::IChangeWatch> again;
    EXPECT_EQ(reg().QueryInfoKey(doomed.Get(), info), wc::ErrorKeyDeleted);
    EXPECT_EQ(reg().NotifyChangeKeyValue(doomed.Get(), subtree, kNotifyMonitor, again),
              wc::ErrorKeyDeleted);
    EXPECT_EQ(again, nullptr);
    doomed.Reset();
    EXPECT_TRUE(onDoomed->Wait(kSignalMs)) << "closing the handle signals";
  }

  // Closing another handle to the same key does not.
  ScopedKey watched, other;
  ASSERT_EQ(reg().OpenKey(wc::HkeyCurrentUser, kUserScratch, kRead, watched.Out()), 0);
  ASSERT_EQ(reg().OpenKey(wc::HkeyCurrentUser, kUserScratch, kRead, other.Out()), 0);
  std::unique_ptr<qp::IChangeWatch> watch;
  ASSERT_EQ(reg().NotifyChangeKeyValue(watched.Get(), false, kNotifyMonitor, watch), 0);
  other.Reset();
  EXPECT_FALSE(watch->Wait(subject().QuietMs()));
  watched.Reset();
  EXPECT_TRUE(watch->Wait(kSignalMs));
}

TEST_P(RegistryConformance, SecurityChangesAndTheSecurityFilter) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  Armed security, monitor;
  for (Armed *a : {&security, &monitor})
    ASSERT_EQ(reg().OpenKey(key.Get(), "", kRead, a->handle.Out()), 0);
  ASSERT_EQ(reg().NotifyChangeKeyValue(security.handle.Get(), false, wc::RegNotifyChangeSecurity,
                                       security.watch),
            0);
  ASSERT_EQ(reg().NotifyChangeKeyValue(monitor.handle.Get(), false, kNotifyMonitor, monitor.watch),
            0);
  ASSERT_EQ(reg().SetKeySecurity(key.Get(), wc::DaclSecurityInformation, kOpenToEveryone), 0);
  EXPECT_EQ(security.watch->Wait(facts().securityChangeSignals ? kSignalMs : subject().QuietMs()),
            facts().securityChangeSignals);
  EXPECT_FALSE(monitor.watch->Wait(subject().QuietMs()));
}

// --- threads

TEST_P(ThreadedRegistryNotification, WaitersOnWorkerThreadsWakeForTheirOwnKey) {
  constexpr int kKeys = 8;
  ScopedKey root;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, root.Out(), nullptr), 0);
  std::vector<ScopedKey> keys(kKeys + 1);
  std::vector<std::unique_ptr<qp::IChangeWatch>> watches(kKeys + 1);
  for (int i = 0; i <= kKeys; ++i) {
    ASSERT_EQ(reg().CreateKey(root.Get(), "K" + std::to_string(i), kAll, keys[i].Out(), nullptr),
              0);
    ASSERT_EQ(reg().NotifyChangeKeyValue(keys[i].Get(), false, kNotifyMonitor, watches[i]), 0);
  }
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kKeys; ++i)
    waiters.emplace_back([&, i] {
      if (watches[i]->Wait(kSignalMs))
        ++woken;
    });
  for (int i = 0; i < kKeys; ++i)
    EXPECT_EQ(reg().SetValue(keys[i].Get(), "v", wc::RegDword, Dword(i)), 0);
  for (std::thread &t : waiters)
    t.join();
  EXPECT_EQ(woken.load(), kKeys);
  EXPECT_FALSE(watches[kKeys]->Wait(subject().QuietMs())) << "the key nobody changed";
}

TEST_P(ThreadedRegistryNotification, ChangesFromOtherThreadsWakeTheWaiter) {
  ScopedKey root;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, root.Out(), nullptr), 0);
  constexpr int kWriters = 4, kRounds = 25;
  std::atomic<int> signalled{0}, failures{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      const std::string name = "W" + std::to_string(w);
      ScopedKey own;
      if (reg().CreateKey(root.Get(), name, kAll, own.Out(), nullptr) != 0) {
        ++failures;
        return;
      }
      for (int round = 0; round < kRounds; ++round) {
        std::unique_ptr<qp::IChangeWatch> watch;
        if (reg().NotifyChangeKeyValue(own.Get(), true, kNotifyMonitor, watch) != 0) {
          ++failures;
          continue;
        }
        ScopedKey sub;
        const bool made = reg().CreateKey(own.Get(), "Sub", kAll, sub.Out(), nullptr) == 0 &&
                          reg().SetValue(sub.Get(), "v", wc::RegDword, Dword(round)) == 0;
        sub.Reset();
        if (!made || reg().DeleteKey(own.Get(), "Sub") != 0)
          ++failures;
        if (watch->Wait(kSignalMs))
          ++signalled;
      }
    });
  // Meanwhile this thread keeps reading the parent key.
  for (int i = 0; i < kWriters * kRounds; ++i) {
    qp::KeyInfo info;
    EXPECT_EQ(reg().QueryInfoKey(root.Get(), info), 0);
  }
  for (std::thread &t : writers)
    t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(signalled.load(), kWriters * kRounds);
}

// --- saved keys

namespace {

// Fills a key with a small tree of every kind of value.
void Populate(qp::IRegistry &reg, HKey key) {
  ASSERT_EQ(reg.SetValue(key, "", wc::RegSz, Sz("default")), 0);
  ASSERT_EQ(reg.SetValue(key,
                         "Gr\xC3\xBC\xC3\x9F"
                         "e",
                         wc::RegExpandSz, Sz("%TEMP%\\x")),
            0);
  ASSERT_EQ(reg.SetValue(key, "multi", wc::RegMultiSz, Bytes{'a', 0, 0, 0, 0, 0}), 0);
  ASSERT_EQ(reg.SetValue(key, "dword", wc::RegDword, Dword(7)), 0);
  ASSERT_EQ(reg.SetValue(key, "qword", wc::RegQword, Bytes{1, 2, 3, 4, 5, 6, 7, 8}), 0);
  ASSERT_EQ(reg.SetValue(key, "odd", wc::RegBinary, Bytes{1, 2, 3}), 0);
  ASSERT_EQ(reg.SetValue(key, "none", wc::RegNone, Bytes{}), 0);
  for (const char *path : {"Sub", "Sub\\Deeper", "\xE5\x90\x8D\xE5\x89\x8D", "Empty"}) {
    ScopedKey sub;
    ASSERT_EQ(reg.CreateKey(key, path, kAll, sub.Out(), nullptr), 0);
    if (std::string_view(path) != "Empty") {
      ASSERT_EQ(reg.SetValue(sub.Get(), "in", wc::RegDword, Dword(1)), 0);
    }
  }
}

} // namespace

TEST_P(RegistryConformance, SaveNeedsTheBackupPrivilege) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  const std::string file = TempFile(sys(), "save.hiv");
  ASSERT_EQ(sys().SetPrivilege("SeBackupPrivilege", false, nullptr), 0);
  EXPECT_EQ(reg().SaveKey(key.Get(), file), wc::ErrorPrivilegeNotHeld);
  std::string content = "stale";
  EXPECT_EQ(files().ReadFile(file, content), 0) << "the file is made before the check";
  EXPECT_EQ(content, "");
  ASSERT_EQ(files().DeleteFile(file), 0);

  PrivilegeScope backup(sys(), "SeBackupPrivilege");
  ASSERT_EQ(backup.Status(), 0);
  EXPECT_EQ(reg().SaveKey(key.Get(), file), 0);
  EXPECT_NE(files().GetAttributes(file), wc::InvalidFileAttributes);
  EXPECT_EQ(reg().SaveKey(key.Get(), file),
            facts().saveOverwrites ? wc::ErrorSuccess : wc::ErrorAlreadyExists);
  EXPECT_EQ(reg().SaveKey(key.Get(), TempFile(sys(), "missing\\x.hiv")), wc::ErrorPathNotFound);
  // Any handle will do, whatever it may do to the key.
  ScopedKey readOnly;
  ASSERT_EQ(reg().OpenKey(wc::HkeyCurrentUser, kUserScratch, kRead, readOnly.Out()), 0);
  EXPECT_EQ(reg().SaveKey(readOnly.Get(), TempFile(sys(), "readonly.hiv")), 0);
}

TEST_P(RegistryConformance, ASavedTreeLoadsBackExactly) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  ASSERT_NO_FATAL_FAILURE(Populate(reg(), key.Get()));
  const std::string file = TempFile(sys(), "tree.hiv");
  {
    PrivilegeScope backup(sys(), "SeBackupPrivilege");
    ASSERT_EQ(reg().SaveKey(key.Get(), file), 0);
  }
  const std::string original = Describe(reg(), key.Get());

  ASSERT_EQ(sys().SetPrivilege("SeRestorePrivilege", false, nullptr), 0);
  EXPECT_EQ(reg().LoadKey(wc::HkeyLocalMachine, kHive, file), wc::ErrorPrivilegeNotHeld);
  PrivilegeScope restore(sys(), "SeRestorePrivilege");
  ASSERT_EQ(restore.Status(), 0);
  for (const std::uint32_t root : {wc::HkeyLocalMachine, wc::HkeyUsers}) {
    ASSERT_EQ(reg().LoadKey(root, kHive, file), 0) << std::hex << root;
    {
      ScopedKey loaded;
      ASSERT_EQ(reg().OpenKey(root, kHive, kRead, loaded.Out()), 0);
      EXPECT_EQ(Describe(reg(), loaded.Get()), original);
    }
    EXPECT_EQ(reg().LoadKey(root, kHive, file), wc::ErrorAlreadyExists);
    EXPECT_EQ(reg().UnLoadKey(root, kHive), 0);
  }

  // Elsewhere than directly below HKLM or HKU.
  EXPECT_EQ(reg().LoadKey(key.Get(), "Mount", file),
            facts().loadBelowAnyKey ? wc::ErrorSuccess : wc::ErrorInvalidParameter);
  EXPECT_EQ(reg().LoadKey(key.Get(), "Sub", file),
            facts().loadBelowAnyKey ? wc::ErrorAlreadyExists : wc::ErrorInvalidParameter);
  EXPECT_EQ(reg().LoadKey(wc::HkeyLocalMachine, "QuenloConformanceMissing\\Sub", file),
            facts().loadBelowAnyKey ? wc::ErrorFileNotFound : wc::ErrorInvalidParameter);
  if (facts().loadBelowAnyKey) {
    EXPECT_EQ(reg().UnLoadKey(key.Get(), "Mount"), 0);
  }
}

TEST_P(RegistryConformance, LoadRefusesMissingAndForeignFiles) {
  PrivilegeScope restore(sys(), "SeRestorePrivilege");
  ASSERT_EQ(restore.Status(), 0);
  EXPECT_EQ(reg().LoadKey(wc::HkeyLocalMachine, kHive, TempFile(sys(), "missing.hiv")),
            wc::ErrorFileNotFound);
  EXPECT_EQ(reg().LoadKey(wc::HkeyLocalMachine, kHive, TempFile(sys(), "missing\\x.hiv")),
            wc::ErrorPathNotFound);
  for (const std::string_view content : {std::string_view("garbage\n"), std::string_view("")}) {
    const std::string file = TempFile(sys(), "foreign.hiv");
    ASSERT_EQ(files().WriteFile(file, content), 0);
    EXPECT_EQ(reg().LoadKey(wc::HkeyLocalMachine, kHive, file), wc::ErrorNotRegistryFile)
        << "content '" << content << "'";
    ScopedKey leftover;
    EXPECT_EQ(reg().OpenKey(wc::HkeyLocalMachine, kHive, kRead, leftover.Out()),
              facts().failedLoadLeavesHive ? wc::ErrorSuccess : wc::ErrorFileNotFound);
    if (facts().failedLoadLeavesHive) {
      qp::KeyInfo info;
      ASSERT_EQ(reg().QueryInfoKey(leftover.Get(), info), 0);
      EXPECT_EQ(info.subKeys + info.values, 0u) << "an empty hive";
      leftover.Reset();
      EXPECT_EQ(reg().UnLoadKey(wc::HkeyLocalMachine, kHive), 0);
    }
  }
}

TEST_P(RegistryConformance, UnloadAndChangesToALoadedHive) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  const std::string file = TempFile(sys(), "unload.hiv");
  {
    PrivilegeScope backup(sys(), "SeBackupPrivilege");
    ASSERT_EQ(reg().SaveKey(key.Get(), file), 0);
  }
  PrivilegeScope restore(sys(), "SeRestorePrivilege");
  ASSERT_EQ(reg().LoadKey(wc::HkeyLocalMachine, kHive, file), 0);
  {
    ScopedKey loaded;
    ASSERT_EQ(reg().OpenKey(wc::HkeyLocalMachine, kHive, kAll, loaded.Out()), 0);
    ASSERT_EQ(reg().SetValue(loaded.Get(), "added", wc::RegDword, Dword(1)), 0);
    EXPECT_EQ(reg().UnLoadKey(wc::HkeyLocalMachine, kHive), wc::ErrorAccessDenied)
        << "a handle is open";
  }
  EXPECT_EQ(reg().UnLoadKey(wc::HkeyCurrentUser, kUserScratch), wc::ErrorAccessDenied)
      << "not a loaded hive";
  ASSERT_EQ(sys().SetPrivilege("SeRestorePrivilege", false, nullptr), 0);
  EXPECT_EQ(reg().UnLoadKey(wc::HkeyLocalMachine, kHive), wc::ErrorPrivilegeNotHeld);
  ASSERT_EQ(sys().SetPrivilege("SeRestorePrivilege", true, nullptr), 0);
  EXPECT_EQ(reg().UnLoadKey(wc::HkeyLocalMachine, kHive), 0);
  ScopedKey gone;
  EXPECT_EQ(reg().OpenKey(wc::HkeyLocalMachine, kHive, kRead, gone.Out()), wc::ErrorFileNotFound);
  EXPECT_EQ(reg().UnLoadKey(wc::HkeyLocalMachine, kHive), wc::ErrorFileNotFound);

  ASSERT_EQ(reg().LoadKey(wc::HkeyLocalMachine, kHive, file), 0);
  ScopedKey reloaded;
  ASSERT_EQ(reg().OpenKey(wc::HkeyLocalMachine, kHive, kRead, reloaded.Out()), 0);
  EXPECT_EQ(reg().QueryValue(reloaded.Get(), "added", nullptr, nullptr, nullptr),
            facts().loadedHiveWritesBack ? wc::ErrorSuccess : wc::ErrorFileNotFound);
  reloaded.Reset();
  EXPECT_EQ(reg().UnLoadKey(wc::HkeyLocalMachine, kHive), 0);
}

TEST_P(RegistryConformance, ReplaceKeyTakesEffectAtTheNextBootOrNever) {
  ScopedKey key;
  ASSERT_EQ(reg().CreateKey(wc::HkeyCurrentUser, kUserScratch, kAll, key.Out(), nullptr), 0);
  ASSERT_EQ(reg().SetValue(key.Get(), "generation", wc::RegDword, Dword(1)), 0);
  const std::string first = TempFile(sys(), "first.hiv"), second = TempFile(sys(), "second.hiv");
  const std::string old = TempFile(sys(), "old.hiv");
  {
    PrivilegeScope backup(sys(), "SeBackupPrivilege");
    ASSERT_EQ(reg().SaveKey(key.Get(), first), 0);
    ASSERT_EQ(reg().SetValue(key.Get(), "generation", wc::RegDword, Dword(2)), 0);
    ASSERT_EQ(reg().SaveKey(key.Get(), second), 0);
  }
  PrivilegeScope restore(sys(), "SeRestorePrivilege");
  ASSERT_EQ(reg().LoadKey(wc::HkeyLocalMachine, kHive, first), 0);
  auto generation = [&] {
    ScopedKey hive;
    Bytes data;
    if (reg().OpenKey(wc::HkeyLocalMachine, kHive, kRead, hive.Out()) != 0 ||
        reg().QueryValue(hive.Get(), "generation", nullptr, &data, nullptr) != 0)
      return Bytes{};
    return data;
  };
  EXPECT_EQ(reg().ReplaceKey(wc::HkeyLocalMachine, kHive, second, old), 0);
  EXPECT_EQ(generation(), Dword(1)) << "nothing changes before the next boot";
  EXPECT_EQ(files().GetAttributes(old) != wc::InvalidFileAttributes, !facts().replaceIsStub)
      << "the old file receives the hive";
  if (subject().SimulateReboot()) {
    EXPECT_EQ(generation(), Dword(facts().replaceIsStub ? 1 : 2));
  }
}

} // namespace conformance
