#include "scanner/uScanThread.h"

#include <algorithm>

#include "paths/uProbeCache.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr const char *kFixedExclusions[] = {
    "Environment",
    "Software\\Classes",
    "Software\\Microsoft\\imejp\\10.0",
    "Software\\Microsoft\\Speech\\Recognizers\\Tokens",
    "Software\\Microsoft\\Tracing",
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache",
    "Software\\Microsoft\\Windows\\CurrentVersion\\ime\\china\\imesc",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Extensions",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Paint\\Recent File List",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Wordpad\\Recent File List",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSaveMRU",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder",
    ("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\VolumeCaches\\Active Setup Temp "
     "Folders"),
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run-",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices-",
    "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts",
    "Software\\Microsoft\\Windows\\Help",
    "Software\\Microsoft\\Windows\\HTML Help",
    "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    "Software\\Microsoft\\Windows Search\\Gather\\Windows\\SystemIndex",
};

constexpr const char *kControlSetExclusions[] = {
    "\\Services\\Eventlog",
    "\\Services\\SharedAccess\\Defaults\\FirewallPolicy",
    "\\Services\\SysmonLog",
    "\\Services\\VXD",
    "\\Control\\BackupRestore",
    "\\Control\\InstalledFiles",
    "\\Control\\Session Manager",
    "\\Control\\SessionManager",
    "\\Control\\CrashControl",
    "\\Control\\VirtualDeviceDrivers",
    "\\Control\\WMI",
};

constexpr const char *kTrailingExclusions[] = {
    "Software\\Microsoft\\Advanced INF Setup",
    "Software\\Microsoft\\Internet Explorer\\Low Rights",
    "Software\\Wow6432Node",
};

// "ControlSet" followed by exactly three characters.
bool IsNumberedControlSet(std::string_view name) {
  return name.size() == 13 && qp::EqualsNoCase(name.substr(0, 10), "ControlSet");
}

} // namespace

std::vector<std::string> BuildExclusionList() {
  std::vector<std::string> list(std::begin(kFixedExclusions), std::end(kFixedExclusions));
  for (const char *tail : kControlSetExclusions)
    list.push_back(std::string("System\\CurrentControlSet") + tail);
  TRegistryAccess reg(wc::KeyRead);
  reg.SetRootKey(wc::HkeyLocalMachine);
  std::vector<std::string> names;
  if (reg.OpenKey("System", false) && reg.GetKeyNames(names)) {
    for (const std::string &name : names)
      if (IsNumberedControlSet(name))
        list.push_back("System\\" + name);
  }
  list.insert(list.end(), std::begin(kTrailingExclusions), std::end(kTrailingExclusions));
  return list;
}

// --- TSortedTextList

void TSortedTextList::Assign(std::vector<std::string> items) {
  for (std::string &item : items)
    item = qp::UpperAscii(item);
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  items_ = std::move(items);
}

namespace {
// Byte order of the upper-cased texts, without building them.
int CompareUpper(std::string_view upper, std::string_view text) {
  const std::size_t n = std::min(upper.size(), text.size());
  for (std::size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
    const auto a = static_cast<unsigned char>(upper[i]);
    const auto b = static_cast<unsigned char>(c);
    if (a != b)
      return a < b ? -1 : 1;
  }
  return upper.size() == text.size() ? 0 : (upper.size() < text.size() ? -1 : 1);
}
} // namespace

bool TSortedTextList::Contains(std::string_view text) const {
  const auto it = std::lower_bound(
      items_.begin(), items_.end(), text,
      [](const std::string &item, std::string_view t) { return CompareUpper(item, t) < 0; });
  return it != items_.end() && CompareUpper(*it, text) == 0;
}

// --- TScanThread

TScanThread::TScanThread(TCategorySet categories, const std::vector<std::string> &ignoreList,
                         const TCategoryChecks &checks, qp::TMainThread &mainThread)
    : main_(mainThread), checks_(checks), requested_(categories) {
  std::vector<std::string> scanIgnore;
  for (const std::string &line : ignoreList) {
    const auto slash = line.find('\\');
    if (slash == std::string::npos)
      continue;
    const std::uint32_t root = RootKeyFromName(std::string_view(line).substr(0, slash));
    scanIgnore.push_back(RootKeyShortName(root) + line.substr(slash));
  }
  ignoreList_.Assign(std::move(scanIgnore));
  exclusionList_.Assign(BuildExclusionList());
}

TScanThread::~TScanThread() {
  Terminate();
  Join();
}

void TScanThread::Start() {
  thread_ = std::thread([this] { Run(); });
}

void TScanThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
    thread_.join();
}

void TScanThread::Run() {
  try {
    Execute();
  } catch (const std::exception &e) {
    Fail(e.what());
  } catch (...) {
    Fail("unknown error");
  }
  if (OnTerminate)
    main_.Queue(OnTerminate);
}

// The test counts of categories a stop cut short do not count.
void TScanThread::DiscardUnfinished() {
  for (int c = 0; c < CategoryCount; ++c)
    if (processed_[c] < counted_[c])
      tested_[c] = 0;
}

void TScanThread::Fail(const std::string &reason) {
  // The scan ends; the categories not completed keep their previous
  // statistics, and the reason is kept for the scanner to report.
  failure_ = reason.empty() ? "unknown error" : reason;
  Terminate();
  DiscardUnfinished();
}

void TScanThread::Execute() {
  progress_ = TScanProgress{};
  total_ = 0;
  items_ = 0;
  counted_.fill(0);
  processed_.fill(0);
  tested_.fill(0);

  // File probes are memoised for this scan on this thread.
  const TProbeCacheScope probeCache;
  TRegistryAccess access(wc::KeyRead);
  // The 64-bit view is scanned on its own only where Windows has one.
  const bool both = ReflectionAvailable && ProcessOnWow64;
  for (const bool counting : {true, false}) {
    for (int c = 0; c < CategoryCount; ++c) {
      const auto category = static_cast<TErrorCategory>(c);
      current_ = category;
      if (!requested_.Contains(category))
        continue;
      for (const TRegistryView view : {rv32, rv64}) {
        if (view == rv64 && (!both || category == ecShellFolders))
          break;
        if (Terminated())
          break;
        access.CloseKey();
        access.SetView(view);
        if (checks_[c])
          checks_[c](*this, access, counting);
      }
      if (!counting && counted_[c] == 0) {
        progress_.Location.clear();
        progress_.CategoryProgress = 100;
        progress_.Category = category;
        DeliverProgress();
      }
      if (!counting && !Terminated())
        completed_.Add(category);
      if (Terminated())
        break;
    }
  }
  access.CloseKey();
  if (Terminated())
    DiscardUnfinished();
}

void TScanThread::DeliverProgress() {
  if (!OnProgress || Terminated())
    return;
  const TScanProgress copy = progress_;
  main_.Synchronize([&] { OnProgress(copy); });
}

void TScanThread::CountSubKeys(TRegistryAccess &access, int depth) {
  if (depth == 1) {
    qp::KeyInfo info;
    if (access.GetKeyInfo(info)) {
      counted_[current_] += static_cast<int>(info.subKeys);
      total_ += static_cast<int>(info.subKeys);
    }
    return;
  }
  access.WalkSubKeys(true, depth, [this](TRegistryAccess &scratch, const std::string &path) {
    return CountingVisitor(scratch, path);
  });
}

void TScanThread::CountValues(TRegistryAccess &access) {
  qp::KeyInfo info;
  if (access.GetKeyInfo(info)) {
    counted_[current_] += static_cast<int>(info.values);
    total_ += static_cast<int>(info.values);
  }
}

TWalkResult TScanThread::CountingVisitor(TRegistryAccess &, const std::string &) {
  ++counted_[current_];
  ++total_;
  return Terminated() ? wrStop : wrDescend;
}

TWalkResult TScanThread::ExclusionVisitor(TRegistryAccess &, const std::string &path) {
  ++counted_[current_];
  ++total_;
  if (Terminated())
    return wrStop;
  return exclusionList_.Contains(path) ? wrSkip : wrDescend;
}

void TScanThread::ReportProgress(const std::string &location) {
  const int before = progress_.CategoryProgress;
  progress_.Location = location;
  ++items_;
  const int processed = ++processed_[current_];
  const int counted = counted_[current_];
  progress_.Category = current_;
  progress_.CategoryProgress =
      counted == 0 ? 100
                   : static_cast<int>(std::min<long long>(100, (processed + 1LL) * 100 / counted));
  progress_.TotalProgress =
      total_ == 0 ? 100 : static_cast<int>(std::min<long long>(100, items_ * 100LL / total_));
  if (processed < 2 || progress_.CategoryProgress == 100 || progress_.CategoryProgress != before)
    DeliverProgress();
}

bool TScanThread::CountTest(bool outcome) {
  ++tested_[current_];
  return outcome;
}

bool TScanThread::IsIgnored(std::uint32_t root, const std::string &keyPath,
                            const std::string &valueName) const {
  const std::string keyText = RootKeyShortName(root) + "\\" + keyPath;
  if (ignoreList_.Contains(keyText))
    return true;
  return ignoreList_.Contains(keyText + "\\\\:" + valueName);
}

void TScanThread::AddError(std::uint32_t root, TRegistryView view, const TFinding &finding) {
  pending_.RootKey = root;
  pending_.View64 = view == rv64 ? 1 : 0;
  pending_.Data = finding.data;
  pending_.KeyPath = finding.keyPath;
  pending_.ValueName = finding.valueName;
  pending_.Target = finding.target;
  pending_.Kind = finding.kind;
  pending_.Actions =
      finding.actions.Empty() ? TRepairActionSet::Of(finding.action) : finding.actions;
  pending_.Action = finding.action;
  pending_.TestId = finding.testId;
  pending_.Category = current_;
  pending_.Ignored = IsIgnored(root, finding.keyPath, finding.valueName) ? 1 : 0;
  if (Terminated() || !OnFinding)
    return;
  const TRegErrorInfo copy = pending_;
  main_.Synchronize([&] { OnFinding(copy); });
}

bool TScanThread::ReadStringValue(std::string &out, TRegistryAccess &key, TRepairAction action,
                                  std::string_view valueName) {
  out.clear();
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  qp::IRegistry &reg = qp::Platform().Registry();
  if (key.CurrentKey() == 0 ||
      reg.QueryValue(key.CurrentKey(), valueName, &type, nullptr, &size) != wc::ErrorSuccess ||
      type == wc::RegNone)
    return false;
  if (type != wc::RegSz && type != wc::RegExpandSz) {
    CountTest(true);
    const std::string name(valueName);
    AddError(key.RootKey(), key.View(),
             {.data = name,
              .keyPath = key.CurrentPath(),
              .valueName = name,
              .target = "REG_SZ or REG_EXPAND_SZ",
              .kind = ekInvalidValueType,
              .action = action,
              .testId = 83});
    return false;
  }
  if (size == 0)
    return true;
  qp::Bytes data;
  if (reg.QueryValue(key.CurrentKey(), valueName, &type, &data, &size) != wc::ErrorSuccess)
    return false;
  out = CutAtNul(DataToText(type, data));
  return true;
}

bool TScanThread::OpenKey(TRegistryAccess &access, std::string_view path) {
  access.CloseKey();
  return access.OpenKey(path, false);
}

bool TScanThread::OpenCheckedKey(TRegistryAccess &access, std::string_view path) {
  if (!OpenKey(access, path))
    return false;
  if (access.IsView64() && IsKeyReflected(access)) {
    access.CloseKey();
    return false;
  }
  return true;
}

bool TScanThread::ClsidExists(TRegistryView view, std::string_view clsid) {
  if (clsid.empty())
    return false;
  return KeyExists(wc::HkeyClassesRoot, view, "CLSID\\" + std::string(clsid));
}

} // namespace quenlo
