// The Internet Explorer categories' handlers (13-18) on the in-memory
// machine: the WinINet cache and its index files, cookies and the cookie
// query, visited URLs, typed addresses and the autocomplete stores.
#include "CleanItemsFixture.h"

#include "cleaner/uCleanItems.h"

namespace quenlo {
namespace {

using test::View;

const std::string kLocal = "C:\\Users\\user\\AppData\\Local";
const std::string kCache = kLocal + "\\Microsoft\\Windows\\Temporary Internet Files";
const std::string kCookies = "C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Cookies";
const std::string kHistory = kLocal + "\\Microsoft\\Windows\\History";
const std::string kIntelliForms = "HKCU\\Software\\Microsoft\\Internet Explorer\\IntelliForms";
const std::string kTypedUrls = "HKCU\\Software\\Microsoft\\Internet Explorer\\TypedURLs";
const std::string kStorage = "HKCU\\Software\\Microsoft\\Protected Storage System Provider\\";

class CleanIEItems : public test::CleanItemsTest {
protected:
  void AddCookie(const std::string &file, const std::string &content, std::uint64_t size) {
    fs.AddFile(kCookies + "\\" + file, content);
    desk.AddUrlCacheEntry({"Cookie:" + file, kCookies + "\\" + file, qp::kCookieCacheEntry, size});
  }
  bool HasEntry(const std::string &sourceUrl) {
    for (const qp::UrlCacheEntry &entry : desk.UrlCacheEntries())
      if (entry.sourceUrl == sourceUrl)
        return true;
    return false;
  }
};

// --- Temporary Internet Files

TEST_F(CleanIEItems, ContentCacheListsAllButDesktopIniAndCleanAgrees) {
  const std::string content = kCache + "\\Content.IE5";
  desk.SetCacheContainer(qp::kCacheContainerContent, content);
  fs.AddFile(content + "\\AB12CD34\\page[1].htm", "12345");
  fs.AddFile(content + "\\AB12CD34\\desktop.ini", "look");
  fs.AddFile(content + "\\desktop.ini", "look");
  fs.AddFile(content + "\\stray.tmp", "s");
  fs.AddFile(content + "\\index.dat", "idx");
  fs.SetInUse(content + "\\index.dat", true);
  fs.AddFile(content + "\\EF56\\held.js", "j");
  fs.SetInUse(content + "\\EF56\\held.js", true);

  const TCategoryResult analysed = Run(CleanIECache, ccIECache, smReport).categories[ccIECache];
  // Names are cut from the container's parent folder.
  EXPECT_EQ(
      Sorted(Names(analysed.items)),
      (std::vector<std::string>{"Content.IE5\\AB12CD34\\page[1].htm", "Content.IE5\\stray.tmp"}));
  EXPECT_EQ(Sorted(Names(analysed.kept)),
            (std::vector<std::string>{"Content.IE5\\EF56\\held.js (in use)",
                                      "Content.IE5\\index.dat (in use by the Internet cache)"}));

  const TPassResult cleaned = Run(CleanIECache, ccIECache, smClean);
  // WinINet's own folders stay, emptied: it cannot store an entry in a
  // folder its index names when the folder is gone.
  EXPECT_TRUE(fs.Exists(content + "\\AB12CD34"));
  EXPECT_FALSE(fs.Exists(content + "\\AB12CD34\\page[1].htm"));
  EXPECT_FALSE(fs.Exists(content + "\\stray.tmp"));
  EXPECT_TRUE(fs.Exists(content + "\\desktop.ini"));
  EXPECT_TRUE(fs.Exists(content + "\\EF56\\held.js"));
  // Only the index file goes to the list for deletion at restart.
  EXPECT_EQ(cleaned.filesInUse, std::vector<std::string>{content + "\\index.dat"});
  EXPECT_EQ(cleaned.categories[ccIECache].kept.size(), 2u);
}

// Wine shows a Unix link to a folder as a plain folder; one lying where
// WinINet keeps its own folders is not emptied through.
TEST_F(CleanIEItems, AnUnmarkedLinkAmongTheCacheFoldersIsNotEmptiedThrough) {
  const std::string content = kCache + "\\Content.IE5";
  desk.SetCacheContainer(qp::kCacheContainerContent, content);
  fs.AddFile(content + "\\AB12CD34\\page.htm", "p");
  fs.AddFile("C:\\Elsewhere\\mine.txt", "m");
  fs.AddLink(content + "\\QWERTY12", "C:\\Elsewhere",
             qp::mem::MemoryFileSystem::LinkKind::FromTarget,
             qp::mem::MemoryFileSystem::LinkMark::Unmarked);

  const TPassResult cleaned = Run(CleanIECache, ccIECache, smClean);
  EXPECT_FALSE(fs.Exists(content + "\\AB12CD34\\page.htm"));
  EXPECT_TRUE(fs.Exists("C:\\Elsewhere\\mine.txt"));
  EXPECT_EQ(Names(cleaned.categories[ccIECache].kept),
            std::vector<std::string>{"Content.IE5\\QWERTY12 (" + std::string(kReasonLink) + ")"});
}

TEST_F(CleanIEItems, WithoutWinInetTheCacheFolderIsCleanedButForThePhishingFilter) {
  fs.AddFile(kCache + "\\Content.IE5\\X1\\a.gif", "a");
  fs.AddFile(kCache + "\\Low\\Content.IE5\\b.gif", "b");
  fs.AddFile(kCache + "\\AntiPhishing\\list.dat", "keep");
  fs.AddFile(kCache + "\\direct.txt", "d");
  fs.AddFile("C:\\Elsewhere\\mine.txt", "m");
  fs.AddLink(kCache + "\\Linked", "C:\\Elsewhere");

  const TCategoryResult analysed = Run(CleanIECache, ccIECache, smReport).categories[ccIECache];
  EXPECT_EQ(Sorted(Names(analysed.items)),
            (std::vector<std::string>{"Content.IE5\\X1\\a.gif", "Low\\Content.IE5\\b.gif"}));

  Run(CleanIECache, ccIECache, smClean);
  EXPECT_FALSE(fs.Exists(kCache + "\\Content.IE5\\X1\\a.gif"));
  EXPECT_TRUE(fs.Exists(kCache + "\\Content.IE5\\X1"));
  EXPECT_FALSE(fs.Exists(kCache + "\\Low\\Content.IE5\\b.gif"));
  EXPECT_TRUE(fs.Exists(kCache + "\\AntiPhishing\\list.dat"));
  EXPECT_TRUE(fs.Exists(kCache + "\\direct.txt"));
  EXPECT_TRUE(fs.Exists("C:\\Elsewhere\\mine.txt"));
}

// --- Cookies

TEST_F(CleanIEItems, CookiesAreNamedByFileAndAskedByTheirThirdLine) {
  AddCookie("user@example[1].txt", "id\nabc\nexample.com/\n", 120);
  AddCookie("user@keep[1].txt", "id\r\nabc\r\nkeep.example/\r\n", 80);
  AddCookie("user@short[1].txt", "id\nabc\n", 10); // no third line: passed over
  desk.AddUrlCacheEntry(
      {"Cookie:user@gone/", kCookies + "\\missing.txt", qp::kCookieCacheEntry, 5});
  desk.AddUrlCacheEntry({"Cookie:user@other/", "", 0, 5}); // not a cookie entry
  desk.SetCacheContainer(qp::kCacheContainerCookies, kCookies);
  fs.AddFile(kCookies + "\\index.dat", "idx");
  fs.SetInUse(kCookies + "\\index.dat", true);

  std::vector<std::string> asked;
  const auto ask = [&](const std::string &url, bool &canDelete) {
    asked.push_back(url);
    canDelete = url != "keep.example/";
  };
  TPassResult analysed;
  {
    analysed.selected.set(ccIECookies);
    std::atomic<bool> terminated{false};
    TCleanPass pass(smReport, analysed, terminated, mainThread);
    pass.OnQueryDeleteCookie = ask;
    CleanIECookies(pass);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{"example.com/", "keep.example/"}));
  const TCategoryResult &cookies = analysed.categories[ccIECookies];
  ASSERT_EQ(Names(cookies.items), std::vector<std::string>{"user@example[1].txt"});
  EXPECT_EQ(cookies.items[0].Size, 120);
  EXPECT_EQ(Names(cookies.kept),
            std::vector<std::string>{"Cookies\\index.dat (in use by the Internet cache)"});
  EXPECT_TRUE(analysed.filesInUse.empty());

  TPassResult cleaned;
  {
    cleaned.selected.set(ccIECookies);
    std::atomic<bool> terminated{false};
    TCleanPass pass(smClean, cleaned, terminated, mainThread);
    pass.OnQueryDeleteCookie = ask;
    CleanIECookies(pass);
  }
  EXPECT_FALSE(HasEntry("Cookie:user@example[1].txt"));
  EXPECT_TRUE(HasEntry("Cookie:user@keep[1].txt"));
  EXPECT_TRUE(HasEntry("Cookie:user@short[1].txt"));
  EXPECT_TRUE(HasEntry("Cookie:user@other/"));
  EXPECT_EQ(cleaned.filesInUse, std::vector<std::string>{kCookies + "\\index.dat"});
}

// --- Visited URLs

TEST_F(CleanIEItems, VisitedUrlsLoseTheirUserPartAndTheHistoryIsCleared) {
  desk.AddUrlCacheEntry({"Visited: user@http://example.com/a@b", "", qp::kUrlHistoryCacheEntry, 0});
  desk.AddUrlCacheEntry({"Visited: user@file:///C:/x.txt", "", qp::kUrlHistoryCacheEntry, 0});
  desk.AddUrlCacheEntry({"Visited: user@http://nohistory/", "", 0, 0});
  desk.SetCacheContainer(qp::kCacheContainerHistory, kHistory + "\\History.IE5");
  fs.AddFile(kHistory + "\\History.IE5\\index.dat", "i");
  fs.AddFile(kHistory + "\\History.IE5\\MSHist012\\index.dat", "i");
  fs.AddFile(kHistory + "\\History.IE5\\MSHist012\\other.dat", "o");

  const TPassResult analysed = Run(CleanIEVisitedUrls, ccIEVisitedURLHistory, smReport);
  const TCategoryResult &visited = analysed.categories[ccIEVisitedURLHistory];
  EXPECT_EQ(Names(visited.items),
            (std::vector<std::string>{"http://example.com/a@b", "file:///C:/x.txt"}));
  // WinINet makes its index files again as soon as they are gone (Wine does
  // even when nobody holds them): kept, whether in use or not.
  EXPECT_EQ(
      Sorted(Names(visited.kept)),
      (std::vector<std::string>{"History.IE5\\MSHist012\\index.dat (in use by the Internet cache)",
                                "History.IE5\\index.dat (in use by the Internet cache)"}));
  EXPECT_EQ(desk.UrlHistoryClears(), 0);

  desk.SetUrlCacheDeleteFails("Visited: user@file:///C:/x.txt", wc::ErrorAccessDenied);
  const TPassResult cleaned = Run(CleanIEVisitedUrls, ccIEVisitedURLHistory, smClean);
  EXPECT_FALSE(HasEntry("Visited: user@http://example.com/a@b"));
  EXPECT_TRUE(HasEntry("Visited: user@http://nohistory/"));
  EXPECT_EQ(desk.UrlHistoryClears(), 1);
  EXPECT_TRUE(fs.Exists(kHistory + "\\History.IE5\\MSHist012\\index.dat"));
  EXPECT_TRUE(fs.Exists(kHistory + "\\History.IE5\\MSHist012\\other.dat"));
  EXPECT_EQ(cleaned.filesInUse.size(), 2u);
  const TCategoryResult &result = cleaned.categories[ccIEVisitedURLHistory];
  EXPECT_EQ(result.outcome, coIncomplete);
  EXPECT_EQ(Names(result.failures), std::vector<std::string>{"file:///C:/x.txt (access denied)"});
}

// --- Autocomplete Data

TEST_F(CleanIEItems, AutocompleteKeepsItsSettingsInAnyCaseAndAnalysisChangesNothing) {
  reg.SetRaw(View::V32, kIntelliForms, "AskUser", wc::RegDword, {1, 0, 0, 0});
  reg.SetRaw(View::V32, kIntelliForms, "PSMIGRATED", wc::RegDword, {1, 0, 0, 0});
  reg.SetRaw(View::V32, kIntelliForms, "form1", wc::RegBinary, {1, 2, 3});
  reg.SetRaw(View::V32, kIntelliForms + "\\Storage2", "hash", wc::RegBinary, {4});
  reg.SetRaw(View::V32, kStorage + "user\\Data\\x", "v", wc::RegBinary, {5});
  reg.SetRaw(View::V32, kStorage + "S-1-5-21-1004336348-1177238915-682003330-1001\\Data", "v",
             wc::RegBinary, {6});
  reg.CreateKey(View::V32, kStorage + "someone\\Data");

  const std::string before = reg.Dump();
  const TPassResult analysed = Run(CleanIEAutoComplete, ccIEAutoComplete, smReport);
  EXPECT_EQ(reg.Dump(), before);
  EXPECT_EQ(Names(analysed.categories[ccIEAutoComplete].items),
            (std::vector<std::string>{
                kIntelliForms + ", form1", kIntelliForms + "\\Storage2", kStorage + "user\\Data",
                kStorage + "S-1-5-21-1004336348-1177238915-682003330-1001\\Data"}));

  Run(CleanIEAutoComplete, ccIEAutoComplete, smClean);
  EXPECT_TRUE(reg.ValueExists(View::V32, kIntelliForms, "AskUser"));
  EXPECT_TRUE(reg.ValueExists(View::V32, kIntelliForms, "PSMIGRATED"));
  EXPECT_FALSE(reg.ValueExists(View::V32, kIntelliForms, "form1"));
  EXPECT_FALSE(reg.KeyExists(View::V32, kIntelliForms + "\\Storage2"));
  EXPECT_FALSE(reg.KeyExists(View::V32, kStorage + "user\\Data"));
  EXPECT_TRUE(reg.KeyExists(View::V32, kStorage + "user"));
  EXPECT_FALSE(
      reg.KeyExists(View::V32, kStorage + "S-1-5-21-1004336348-1177238915-682003330-1001\\Data"));
  EXPECT_TRUE(reg.KeyExists(View::V32, kStorage + "someone\\Data")); // another user's
}

} // namespace
} // namespace quenlo
