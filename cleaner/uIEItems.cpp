// The handlers of the Internet Explorer categories (13-18): the WinINet
// cache and its index files, cookies, visited URLs, typed addresses, the
// autocomplete stores and the Favorites menu order.
#include <vector>

#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"
#include "cleaner/uItemTools.h"
#include "paths/uSysUtils.h"
#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/Utf.h"

namespace quenlo {

namespace {

constexpr std::string_view kTypedUrls = "Software\\Microsoft\\Internet Explorer\\TypedURLs";
constexpr std::string_view kIntelliForms = "Software\\Microsoft\\Internet Explorer\\IntelliForms";
constexpr std::string_view kProtectedStorage =
    "Software\\Microsoft\\Protected Storage System Provider\\";
constexpr std::string_view kProtectedStorageData = "\\Data";
constexpr std::string_view kFavoritesMenu =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites";
// IntelliForms values that hold settings, not data.
constexpr std::string_view kAskUser = "askuser";
constexpr std::string_view kPsMigrated = "psmigrated";

constexpr std::string_view kCookiePattern = "cookie:";
constexpr std::string_view kVisitedPattern = "visited:";
constexpr std::string_view kIndexFileMask = "index.dat";
constexpr std::string_view kDesktopIni = "desktop.ini";
constexpr std::string_view kAntiPhishing = "antiphishing";
// A cookie file's third line is the cookie's domain and path.
constexpr std::size_t kCookieUrlLine = 2;

qp::IDesktop &Desktop() {
  return qp::Platform().Desktop();
}

std::string NamePart(std::string_view path) {
  const std::size_t slash = path.find_last_of('\\');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ParentFolder(std::string_view path) {
  return qp::WithTrailingBackslash(qp::FolderOf(qp::WithoutTrailingBackslash(path)));
}

// A cache folder (a container, a folder of the cache) that may be emptied:
// "" when it is missing or refused (recorded).
std::string CacheFolder(TCleanPass &pass, TCleanCategory category, std::string_view path) {
  const std::string folder = qp::WithoutTrailingBackslash(path);
  if (path.empty() || !IsRealFolder(folder))
    return {};
  pass.MarkFound(category);
  if (!IsSafeBaseFolder(folder)) {
    pass.AddFailure(category, folder, std::string(kReasonUnsafeFolder));
    return {};
  }
  return folder;
}

// WinINet holds its containers' index files open while any program has it
// loaded - this one too, which has just asked it for the containers - and
// makes them again as soon as they are gone. They are never deleted during
// a pass: an analysis keeps them and a clean records them for deletion
// when Windows restarts, so that both list the same.
constexpr std::string_view kReasonCacheIndex = "in use by the Internet cache";

bool IsCacheIndex(const qp::FindData &entry) {
  return !IsLink(entry) && qp::EqualsNoCase(entry.name, kIndexFileMask);
}

void KeepCacheIndex(TCleanPass &pass, TCleanCategory category, const std::string &fullPath) {
  if (!pass.Reporting())
    pass.AddFileInUse(fullPath);
  pass.AddKept(category, RelativeName(pass.BasePath, fullPath), std::string(kReasonCacheIndex));
}

TFileRules CacheRules() {
  TFileRules rules;
  rules.plainDelete = true;
  rules.filesInUse = irIndexDat;
  return rules;
}

// The index files of a WinINet container (cookies or history): kept in
// use while the browser or the shell holds them, and then recorded for
// deletion when Windows restarts.
void WalkContainerIndex(TCleanPass &pass, TCleanCategory category, std::uint32_t container) {
  std::string path;
  if (pass.Terminated() || !Desktop().GetUrlCacheContainer(container, path))
    return;
  const std::string folder = CacheFolder(pass, category, path);
  if (folder.empty())
    return;
  pass.BasePath = ParentFolder(folder);
  pass.CacheContainer = category;
  const TFileRules rules = CacheRules();
  qp::IgnoreResult(WalkFiles(folder, kIndexFileMask, true,
                             [&](const std::string &file, const qp::FindData &entry) {
                               if (IsCacheIndex(entry))
                                 KeepCacheIndex(pass, category, file);
                               else
                                 HandleFile(pass, category, file, entry, rules);
                               return !pass.Terminated();
                             }));
}

// One folder of the content cache, in either mode; files named
// "desktop.ini" are the folder's look, not cache.
void HandleCacheFolder(TCleanPass &pass, std::string_view path) {
  const std::string folder = CacheFolder(pass, ccIECache, path);
  if (folder.empty())
    return;
  const TFileRules rules = CacheRules();
  const auto onFile = [&](const std::string &file, const qp::FindData &entry) {
    if (pass.Terminated())
      return false;
    if (IsCacheIndex(entry))
      KeepCacheIndex(pass, ccIECache, file);
    else if (!qp::EqualsNoCase(entry.name, kDesktopIni))
      HandleFile(pass, ccIECache, file, entry, rules);
    return !pass.Terminated();
  };
  if (pass.Reporting()) {
    qp::IgnoreResult(WalkFiles(folder, kAllFilesMask, true, onFile));
    return;
  }
  // The folders directly in the cache are WinINet's own, named in its
  // index: it stores every new entry in one of them and cannot when it is
  // gone, so they are emptied and kept. Deeper folders go whole.
  qp::IgnoreResult(WalkFolders(folder, kAllFilesMask, true, [&](const std::string &sub) {
    if (IsRealFolder(sub) && !qp::LeadsElsewhere(sub) &&
        qp::EqualsNoCase(qp::FolderOf(sub), folder))
      qp::IgnoreResult(WalkFiles(sub, kAllFilesMask, false, onFile));
    else
      RemoveWalkedFolder(pass, ccIECache, sub, rules);
    return !pass.Terminated();
  }));
  if (!pass.Terminated())
    qp::IgnoreResult(WalkFiles(folder, kAllFilesMask, false, onFile));
}

// The URL cache entries of a pattern and type, taken before any is
// deleted.
std::vector<qp::UrlCacheEntry> CacheEntries(TCleanPass &pass, std::string_view pattern,
                                            std::uint32_t type) {
  std::vector<qp::UrlCacheEntry> entries;
  Desktop().EnumUrlCache(pattern, [&](const qp::UrlCacheEntry &entry) {
    if ((entry.entryType & type) != 0)
      entries.push_back(entry);
    return !pass.Terminated();
  });
  return entries;
}

void DeleteCacheEntry(TCleanPass &pass, TCleanCategory category, const std::string &name,
                      const qp::UrlCacheEntry &entry) {
  RecordDeleteStatus(pass, category, name, Desktop().DeleteUrlCacheEntry(entry.sourceUrl));
}

// The cookie's domain and path from its file; nullopt when the file
// cannot be read or is too short.
std::optional<std::string> CookieUrl(const std::string &localFile) {
  std::string data;
  if (localFile.empty() || qp::Platform().Files().ReadFile(localFile, data) != wc::ErrorSuccess)
    return std::nullopt;
  std::size_t start = 0;
  for (std::size_t line = 0; start < data.size(); ++line) {
    std::size_t end = data.find('\n', start);
    if (end == std::string::npos)
      end = data.size();
    if (line == kCookieUrlLine) {
      std::string text = data.substr(start, end - start);
      if (!text.empty() && text.back() == '\r')
        text.pop_back();
      if (text.empty())
        return std::nullopt;
      return text;
    }
    if (end == data.size())
      break;
    start = end + 1;
  }
  return std::nullopt;
}

// "Visited: user@http://example.com/" lists as "http://example.com/".
std::string VisitedUrl(const std::string &sourceUrl) {
  const std::size_t at = sourceUrl.find('@');
  return at == std::string::npos ? sourceUrl : sourceUrl.substr(at + 1);
}

} // namespace

void CleanIECache(TCleanPass &pass) {
  std::string container;
  if (Desktop().GetUrlCacheContainer(qp::kCacheContainerContent, container) && !container.empty()) {
    pass.BasePath = ParentFolder(container);
    HandleCacheFolder(pass, container);
    return;
  }
  // Without WinINet's answer: every folder of the Temporary Internet Files
  // but the phishing filter's; files lying there directly stay.
  const std::string root = GetSpecialFolderPath(kCsidlInternetCache);
  if (root.empty() || !IsRealFolder(root))
    return;
  pass.MarkFound(ccIECache);
  pass.BasePath = qp::WithTrailingBackslash(root);
  std::vector<std::string> subfolders;
  qp::FindData entry;
  if (std::unique_ptr<qp::IFindHandle> find =
          qp::Platform().Files().FindFirst(pass.BasePath + "*.*", entry)) {
    do {
      if ((entry.attributes & wc::FileAttributeDirectory) != 0 && !IsLink(entry) &&
          entry.name != "." && entry.name != ".." && qp::LowerAscii(entry.name) != kAntiPhishing)
        subfolders.push_back(pass.BasePath + entry.name);
    } while (find->Next(entry));
  }
  for (const std::string &folder : subfolders) {
    if (pass.Terminated())
      return;
    HandleCacheFolder(pass, folder);
  }
}

void CleanIECookies(TCleanPass &pass) {
  for (const qp::UrlCacheEntry &entry : CacheEntries(pass, kCookiePattern, qp::kCookieCacheEntry)) {
    if (pass.Terminated())
      return;
    pass.MarkFound(ccIECookies);
    // An entry whose file cannot be read is passed over.
    const std::optional<std::string> url = CookieUrl(entry.localFile);
    if (!url || !pass.QueryDeleteCookie(*url))
      continue;
    const std::string name = NamePart(entry.localFile);
    if (pass.Reporting())
      pass.AddItem(ccIECookies, name, static_cast<std::int64_t>(entry.size));
    else
      DeleteCacheEntry(pass, ccIECookies, name, entry);
  }
  WalkContainerIndex(pass, ccIECookies, qp::kCacheContainerCookies);
}

void CleanIEVisitedUrls(TCleanPass &pass) {
  for (const qp::UrlCacheEntry &entry :
       CacheEntries(pass, kVisitedPattern, qp::kUrlHistoryCacheEntry)) {
    if (pass.Terminated())
      return;
    pass.MarkFound(ccIEVisitedURLHistory);
    const std::string name = VisitedUrl(entry.sourceUrl);
    if (pass.Reporting())
      pass.AddItem(ccIEVisitedURLHistory, name, 0);
    else
      DeleteCacheEntry(pass, ccIEVisitedURLHistory, name, entry);
  }
  // The history object's own store: what the cache entries do not cover.
  // Where it cannot be had (no browser) there is nothing of it to clear.
  if (!pass.Reporting() && !pass.Terminated())
    qp::IgnoreResult(Desktop().ClearUrlHistory());
  WalkContainerIndex(pass, ccIEVisitedURLHistory, qp::kCacheContainerHistory);
}

void CleanIETypedUrls(TCleanPass &pass) {
  TPassKey key(pass, kTypedUrls);
  std::vector<std::string> names;
  if (!OpenCategoryKey(pass, ccIETypedURLs, key, kTypedUrls) || !key.Reg().GetValueNames(names))
    return;
  for (const std::string &name : names) {
    if (pass.Terminated())
      return;
    if (!pass.Reporting()) {
      RecordDeleteStatus(pass, ccIETypedURLs, ValueFinding(kTypedUrls, name),
                         key.Reg().DeleteValue(name));
      continue;
    }
    // An address as its text; anything else the key holds as the value.
    const TValueKind kind = key.Reg().GetDataType(name);
    const std::string text =
        kind == vkString || kind == vkExpandString ? key.Reg().ReadString(name) : std::string();
    pass.AddItem(ccIETypedURLs, text.empty() ? ValueFinding(kTypedUrls, name) : text, 0);
  }
}

void CleanIEAutoComplete(TCleanPass &pass) {
  TPassKey key(pass, kIntelliForms);
  std::vector<std::string> names;
  std::vector<std::string> subKeys;
  if (OpenCategoryKey(pass, ccIEAutoComplete, key, kIntelliForms)) {
    if (!key.Reg().GetValueNames(names))
      names.clear();
    if (!key.Reg().GetKeyNames(subKeys))
      subKeys.clear();
  }
  for (const std::string &name : names) {
    if (pass.Terminated())
      return;
    const std::string lower = qp::LowerAscii(name);
    if (name.empty() || lower == kAskUser || lower == kPsMigrated)
      continue;
    if (pass.Reporting())
      pass.AddItem(ccIEAutoComplete, ValueFinding(kIntelliForms, name), 0);
    else
      RecordDeleteStatus(pass, ccIEAutoComplete, ValueFinding(kIntelliForms, name),
                         key.Reg().DeleteValue(name));
  }
  // The stores below IntelliForms go whole; an analysis names them so
  // that it lists what a clean removes.
  for (const std::string &sub : subKeys) {
    if (pass.Terminated())
      return;
    const std::string path = std::string(kIntelliForms) + "\\" + sub;
    if (pass.Reporting())
      pass.AddItem(ccIEAutoComplete, KeyFinding(path), 0);
    else
      RecordDeleteStatus(pass, ccIEAutoComplete, KeyFinding(path), DeleteKeyTreeStatus(path));
  }
  key.Reg().CloseKey();

  // The protected storage of the user, by logon name and by SID; a name
  // that is not a single key name is no user's.
  std::string user;
  if (GetLogonUserName(user) && !user.empty() && user.find('\\') == std::string::npos)
    KeyItem(pass, ccIEAutoComplete,
            std::string(kProtectedStorage) + user + std::string(kProtectedStorageData));
  std::string sid;
  if (GetUserSidText(sid) && !sid.empty() && sid.find('\\') == std::string::npos)
    KeyItem(pass, ccIEAutoComplete,
            std::string(kProtectedStorage) + sid + std::string(kProtectedStorageData));
}

void CleanIEFavoritesMenu(TCleanPass &pass) {
  KeyItem(pass, ccIEFavoritesMenuOrderHistory, kFavoritesMenu);
}

} // namespace quenlo
