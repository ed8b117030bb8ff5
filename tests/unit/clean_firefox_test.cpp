// The Firefox categories on the in-memory machine with real database
// files: every profile the ini files list, history removed with the
// bookmarks kept whole, cookies spared by the cookie query in any number,
// downloads with their files only on request, a database the browser
// holds left unchanged, and nothing of the removed history left readable.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FirefoxDbFixture.h"
#include "cleaner/uBrowserDb.h"
#include "cleaner/uCleanItems.h"
#include "cleaner/uFirefoxProfiles.h"

namespace quenlo::test {
namespace {

using Strings = std::vector<std::string>;

Strings Sorted(Strings names) {
  std::sort(names.begin(), names.end());
  return names;
}

bool Contains(const std::string &bytes, std::string_view text) {
  return bytes.find(text) != std::string::npos;
}

// --- profile discovery

class FirefoxProfilesTest : public MemoryTest {};

TEST_F(FirefoxProfilesTest, EveryProfileOfBothFilesIsListedOnceWithItsLocalFolder) {
  // A byte order mark, CR LF lines, comments, blanks and a profile named
  // twice (by profiles.ini and again by installs.ini, in other case).
  fs.AddFile(
      std::string(kFirefoxRoaming) + "\\profiles.ini",
      "\xEF\xBB\xBF; written by Firefox\r\n"
      "[Install308046B0AF4A39CB]\r\nDefault=Profiles/abc.default-release\r\nLocked=1\r\n\r\n"
      "[Profile1]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles/old.default\r\n"
      "Default=1\r\n\r\n"
      "[Profile0]\r\n Name = release \r\nIsRelative=1\r\nPath=Profiles/abc.default-release\r\n"
      "\r\n[Profile2]\r\nName=elsewhere\r\nIsRelative=0\r\nPath=D:\\Firefox\\Work\r\n"
      "\r\n[General]\r\nStartWithLastProfile=1\r\nVersion=2\r\n");
  fs.AddFile(std::string(kFirefoxRoaming) + "\\installs.ini",
             "[308046B0AF4A39CB]\nDefault=Profiles/ABC.default-release\nLocked=1\n"
             "[E7CF176E110C211B]\nDefault=Profiles/esr.default-esr\n");
  const TFirefoxProfiles found = FindFirefoxProfiles();
  std::vector<std::string> listed;
  for (const TFirefoxProfile &profile : found.profiles)
    listed.push_back(profile.roaming + " | " + profile.local);
  const std::string roaming = std::string(kFirefoxRoaming) + "\\Profiles\\";
  const std::string local = std::string(kFirefoxLocal) + "\\Profiles\\";
  EXPECT_EQ(listed, (Strings{roaming + "old.default\\ | " + local + "old.default\\",
                             roaming + "abc.default-release\\ | " + local + "abc.default-release\\",
                             // Firefox keeps an absolute profile's cache in it.
                             "D:\\Firefox\\Work\\ | D:\\Firefox\\Work\\",
                             roaming + "esr.default-esr\\ | " + local + "esr.default-esr\\"}));
  EXPECT_TRUE((found.refused).empty());
}

TEST_F(FirefoxProfilesTest, PathsLeadingOutOfAProfileAreRefusedWithTheirReason) {
  const std::string firefox = kFirefoxRoaming;
  std::string reason;
  // Each would make a clean reach a folder that is no profile.
  for (const TFirefoxProfileEntry &entry : std::vector<TFirefoxProfileEntry>{
           {"../../..", true},
           {"Profiles/../../../Documents", true},
           {"Profiles/./x", true},
           {"C:/Users/user/Documents", true}, // "relative", but with a drive
           {"/Users/user", true},
           {"Profiles/a\x01"
            "b",
            true},
           {"C:\\", false},
           {"C:\\Windows", false},
           {"C:\\Users\\user", false},
           {"C:\\Users\\user\\..\\..", false},
           {"Profiles\\x", false}, // "absolute", but relative
           {"\\\\server\\share", false},
       }) {
    reason.clear();
    EXPECT_EQ(ResolveFirefoxProfile(entry, firefox, reason), "") << entry.path;
    EXPECT_NE(reason, "") << entry.path;
  }
  EXPECT_EQ(ResolveFirefoxProfile({"Profiles/abc.default", true}, firefox, reason),
            firefox + "\\Profiles\\abc.default");
  EXPECT_EQ(ResolveFirefoxProfile({"D:\\Profiles\\Mine\\", false}, firefox, reason),
            "D:\\Profiles\\Mine");

  // A hostile profiles.ini: the refused path is named, nothing is listed.
  fs.AddFile(firefox + "\\profiles.ini", "[Profile0]\nIsRelative=0\nPath=C:\\\n");
  const TFirefoxProfiles found = FindFirefoxProfiles();
  EXPECT_TRUE((found.profiles).empty());
  ASSERT_EQ(found.refused.size(), 1u);
  EXPECT_EQ(found.refused[0].path, "C:\\");
}

TEST_F(FirefoxProfilesTest, WithoutProfilesIniEveryProfileFolderIsTaken) {
  const std::string profiles = std::string(kFirefoxRoaming) + "\\Profiles\\";
  fs.AddDir(profiles + "one.default");
  fs.AddDir(profiles + "two.default-release");
  fs.AddFile(profiles + "stray.txt", "x");
  fs.AddDir("C:\\Outside");
  fs.AddLink(profiles + "linked.default", "C:\\Outside");
  std::vector<std::string> listed;
  for (const TFirefoxProfile &profile : FindFirefoxProfiles().profiles)
    listed.push_back(profile.roaming);
  EXPECT_EQ(Sorted(listed),
            Sorted(Strings{profiles + "one.default\\", profiles + "two.default-release\\"}));
}

// --- visited addresses (19)

class FirefoxHistoryTest : public FirefoxDbTest {
protected:
  void SetUp() override {
    FirefoxDbTest::SetUp();
    profile = AddProfile("abc.default-release");
    second = AddProfile("xyz.default");
    places = profile + "places.sqlite";
    favicons = profile + "favicons.sqlite";
    MakeDatabase(places, kFirefoxPlacesSchema,
                 {
                     "INSERT INTO moz_origins VALUES(1,'http://','visited.example',100,0,NULL,0,"
                     "NULL,NULL)",
                     "INSERT INTO moz_origins VALUES(2,'https://','bookmarked.example',200,0,NULL,"
                     "0,NULL,NULL)",
                     "INSERT INTO moz_places(id,url,title,rev_host,visit_count,frecency,"
                     "last_visit_date,guid,foreign_count,url_hash,origin_id) VALUES"
                     "(1,'http://visited.example/secret-page','Secret title',"
                     "'elpmaxe.detisiv.',2,100,1700,'g1',0,11,1),"
                     "(2,'https://bookmarked.example/kept','Kept','elpmaxe.dekramkoob.',3,200,"
                     "1800,'g2',1,22,2),"
                     "(3,'https://bookmarked.example/keyword','Keyword','elpmaxe.dekramkoob.',1,"
                     "50,1900,'g3',1,33,2)",
                     "INSERT INTO moz_historyvisits(id,from_visit,place_id,visit_date,visit_type) "
                     "VALUES(1,0,1,1600,1),(2,1,1,1700,1),(3,0,2,1800,1),(4,0,3,1900,2)",
                     "INSERT INTO moz_bookmarks(id,type,fk,parent,position,title,guid) VALUES"
                     "(1,2,NULL,0,0,'','root________'),(2,1,2,1,0,'Kept','b2')",
                     "INSERT INTO moz_keywords(id,keyword,place_id) VALUES(1,'kw',3)",
                     "INSERT INTO moz_anno_attributes VALUES(1,'secret/anno'),(2,'kept/anno')",
                     "INSERT INTO moz_annos(id,place_id,anno_attribute_id,content) VALUES"
                     "(1,1,1,'secret anno text'),(2,2,2,'kept anno text')",
                     "INSERT INTO moz_inputhistory VALUES(1,'secret-input',1),(2,'kept-input',1)",
                     "INSERT INTO moz_places_metadata_search_queries VALUES(1,'secret search "
                     "terms')",
                     "INSERT INTO moz_places_metadata(id,place_id,created_at,search_query_id) "
                     "VALUES(1,1,5,1),(2,2,6,NULL)",
                     "INSERT INTO moz_newtab_shortcuts_interaction VALUES(1,2,0,99,0,1)",
                 });
    MakeDatabase(favicons, kFirefoxFaviconsSchema,
                 {
                     "INSERT INTO moz_pages_w_icons VALUES(1,'http://visited.example/"
                     "secret-page',11),(2,'https://bookmarked.example/kept',22)",
                     "INSERT INTO moz_icons(id,icon_url,fixed_icon_url_hash,root,data) VALUES"
                     "(1,'http://visited.example/secret-icon.png',1,0,x'00'),"
                     "(2,'https://bookmarked.example/icon.png',2,0,x'00'),"
                     "(3,'http://visited.example/favicon.ico',3,1,x'00'),"
                     "(4,'https://bookmarked.example/favicon.ico',4,1,x'00')",
                     "INSERT INTO moz_icons_to_pages(page_id,icon_id) VALUES(1,1),(2,2)",
                 });
    MakeDatabase(second + "places.sqlite", kFirefoxPlacesSchema,
                 {"INSERT INTO moz_places(id,url,guid) VALUES(1,'http://second.example/','s1')",
                  "INSERT INTO moz_historyvisits(id,place_id,visit_type) VALUES(1,1,1)"});
    fs.AddFile(profile + "sessionstore.jsonlz4", "mozLz40 http://visited.example/secret-page");
    fs.AddFile(profile + "sessionstore-backups\\recovery.jsonlz4", "tabs");
  }

  std::string profile, second, places, favicons;
};

TEST_F(FirefoxHistoryTest, AnalysisListsEveryVisitOfEveryProfileAndChangesNothing) {
  const std::string hostBefore = HostDump();
  const std::string machineBefore = MachineDump();
  const TPassResult result = RunFirefox(CleanFFVisitedUrls, ccFFVisitedURLHistory, smReport);
  const TCategoryResult &history = result.categories[ccFFVisitedURLHistory];
  EXPECT_EQ(history.outcome, coDone);
  EXPECT_EQ(Names(history.items),
            (Strings{"http://visited.example/secret-page", "http://visited.example/secret-page",
                     "https://bookmarked.example/kept", "https://bookmarked.example/keyword",
                     "sessionstore.jsonlz4", "recovery.jsonlz4", "http://second.example/"}));
  EXPECT_TRUE((history.failures).empty());
  // Not a byte of a database changed, no "-wal" or "-shm" appeared.
  EXPECT_EQ(HostDump(), hostBefore);
  EXPECT_EQ(MachineDump(), machineBefore);
}

TEST_F(FirefoxHistoryTest, CleanRemovesTheHistoryAndKeepsEveryBookmarkWhole) {
  const TPassResult result = RunFirefox(CleanFFVisitedUrls, ccFFVisitedURLHistory, smClean);
  const TCategoryResult &history = result.categories[ccFFVisitedURLHistory];
  EXPECT_EQ(history.outcome, coDone);
  EXPECT_TRUE((Names(history.failures)).empty());

  EXPECT_EQ(Rows(places, "SELECT count(*) FROM moz_historyvisits"), (Strings{"0"}));
  // The bookmarked and the keyword's places stay, unvisited.
  EXPECT_EQ(Rows(places, "SELECT id, url, visit_count, last_visit_date, typed, frecency,"
                         " recalc_frecency FROM moz_places ORDER BY id"),
            (Strings{"2|https://bookmarked.example/kept|0|NULL|0|-1|1",
                     "3|https://bookmarked.example/keyword|0|NULL|0|-1|1"}));
  EXPECT_EQ(Rows(places, "SELECT count(*) FROM moz_bookmarks b WHERE b.fk IS NOT NULL AND NOT"
                         " EXISTS (SELECT 1 FROM moz_places p WHERE p.id = b.fk)"),
            (Strings{"0"}));
  EXPECT_EQ(Rows(places, "SELECT keyword, place_id FROM moz_keywords"), (Strings{"kw|3"}));
  EXPECT_EQ(Rows(places, "SELECT id, host FROM moz_origins"), (Strings{"2|bookmarked.example"}));
  EXPECT_EQ(Rows(places, "SELECT place_id, content FROM moz_annos"), (Strings{"2|kept anno text"}));
  EXPECT_EQ(Rows(places, "SELECT place_id, input FROM moz_inputhistory"),
            (Strings{"2|kept-input"}));
  EXPECT_EQ(Rows(places, "SELECT count(*) FROM moz_places_metadata"), (Strings{"0"}));
  EXPECT_EQ(Rows(places, "SELECT count(*) FROM moz_places_metadata_search_queries"),
            (Strings{"0"}));
  EXPECT_EQ(Rows(places, "SELECT count(*) FROM moz_newtab_shortcuts_interaction"), (Strings{"0"}));

  // The icons of the bookmark stay, with its site's root icon.
  EXPECT_EQ(Rows(favicons, "SELECT page_url FROM moz_pages_w_icons"),
            (Strings{"https://bookmarked.example/kept"}));
  EXPECT_EQ(Rows(favicons, "SELECT id FROM moz_icons ORDER BY id"), (Strings{"2", "4"}));
  EXPECT_EQ(Rows(favicons, "SELECT page_id, icon_id FROM moz_icons_to_pages"), (Strings{"2|2"}));

  // The second profile was cleaned too.
  EXPECT_EQ(Rows(second + "places.sqlite", "SELECT count(*) FROM moz_places"), (Strings{"0"}));
  EXPECT_FALSE(fs.Exists(profile + "sessionstore.jsonlz4"));
  EXPECT_FALSE(fs.Exists(profile + "sessionstore-backups"));
}

TEST_F(FirefoxHistoryTest, NoRemovedAddressStaysReadableInTheFiles) {
  const TPassResult result = RunFirefox(CleanFFVisitedUrls, ccFFVisitedURLHistory, smClean);
  ASSERT_EQ(result.categories[ccFFVisitedURLHistory].outcome, coDone);
  for (const std::string &file : {places, places + "-wal", favicons, favicons + "-wal"}) {
    const std::string bytes = HostBytes(file);
    for (std::string_view text :
         {"visited.example", "elpmaxe.detisiv", "secret-page", "Secret title",
          "secret search terms", "secret-input", "secret anno text", "secret-icon"})
      EXPECT_FALSE(Contains(bytes, text)) << file << ": " << text;
  }
  // What stays is still there.
  EXPECT_TRUE(Contains(HostBytes(places), "https://bookmarked.example/kept"));
}

TEST_F(FirefoxHistoryTest, ADatabaseTheBrowserHoldsFailsTheCategoryAndStaysUnchanged) {
  const std::string before = HostBytes(places);
  TSQLiteDatabase browser(HostPath(places), omReadWrite);
  browser.Execute("BEGIN EXCLUSIVE");
  browser.Execute("UPDATE moz_places SET title = title");
  const TPassResult result = RunFirefox(CleanFFVisitedUrls, ccFFVisitedURLHistory, smClean);
  const TCategoryResult &history = result.categories[ccFFVisitedURLHistory];
  EXPECT_EQ(history.outcome, coFailed);
  EXPECT_EQ(history.reason, kReasonLocked);
  browser.Rollback();
  EXPECT_EQ(HostBytes(places), before);
  EXPECT_EQ(Rows(places, "SELECT count(*) FROM moz_historyvisits"), (Strings{"4"}));
  // The running browser's session files stay with its database.
  EXPECT_TRUE(fs.Exists(profile + "sessionstore.jsonlz4"));
  EXPECT_TRUE(fs.Exists(profile + "sessionstore-backups\\recovery.jsonlz4"));
  EXPECT_EQ(Sorted(Names(history.kept)),
            Sorted(Strings{
                profile + "sessionstore.jsonlz4 (" + std::string(kReasonBrowserRunning) + ")",
                profile + "sessionstore-backups (" + std::string(kReasonBrowserRunning) + ")"}));
}

TEST_F(FirefoxDbTest, TheOldLayoutKeepsItsBookmarksAndLosesItsOrphanIcons) {
  const std::string profile = AddProfile("old.default");
  const std::string places = profile + "places.sqlite";
  MakeDatabase(places, kOldFirefoxPlacesSchema,
               {
                   "INSERT INTO moz_favicons(id,url) VALUES(1,'http://gone.example/favicon.ico'),"
                   "(2,'http://kept.example/favicon.ico')",
                   "INSERT INTO moz_places(id,url,visit_count,favicon_id,last_visit_date) VALUES"
                   "(1,'http://gone.example/',4,1,10),(2,'http://kept.example/',2,2,20)",
                   "INSERT INTO moz_historyvisits(id,place_id) VALUES(1,1),(2,2)",
                   "INSERT INTO moz_bookmarks(id,type,fk,parent) VALUES(1,1,2,0)",
                   "INSERT INTO moz_inputhistory VALUES(1,'gone',1)",
               });
  const TPassResult result = RunFirefox(CleanFFVisitedUrls, ccFFVisitedURLHistory, smClean);
  const TCategoryResult &history = result.categories[ccFFVisitedURLHistory];
  EXPECT_EQ(history.outcome, coDone);
  EXPECT_TRUE((Names(history.failures)).empty());
  EXPECT_EQ(Rows(places, "SELECT id, visit_count, last_visit_date FROM moz_places"),
            (Strings{"2|0|NULL"}));
  EXPECT_EQ(Rows(places, "SELECT id FROM moz_favicons"), (Strings{"2"}));
  EXPECT_EQ(Rows(places, "SELECT count(*) FROM moz_inputhistory"), (Strings{"0"}));
  EXPECT_FALSE(Contains(HostBytes(places), "gone.example"));
  // Today's tables are not there: skipped, not failed.
  EXPECT_FALSE(history.skipped.empty());
}

// --- cookies (21)

TEST_F(FirefoxDbTest, CookiesSparedByTheCookieQueryStayInAnyNumber) {
  const std::string profile = AddProfile("abc.default-release");
  const std::string cookies = profile + "cookies.sqlite";
  MakeDatabase(cookies, kFirefoxCookiesSchema);
  {
    TSQLiteDatabase db(HostPath(cookies), omReadWrite);
    TSQLiteTransaction transaction(db);
    // More spared cookies than a statement with one term per cookie can
    // hold, each on a host of its own, with the ones to delete among them.
    for (int i = 0; i < 1200; ++i)
      db.Execute("INSERT INTO moz_cookies(name, value, host, path) VALUES(?1, 'v', ?2, '/')",
                 {"keep" + std::to_string(i), ".spared" + std::to_string(i) + ".example"});
    for (const char *host : {".tracker.example", "ads.example"})
      db.Execute("INSERT INTO moz_cookies(name, value, host, path) VALUES('id', 'v', ?1, '/')",
                 {std::string(host)});
    db.Execute("INSERT INTO moz_cookies(name, value, host, path) VALUES('id2', 'v', "
               "'.tracker.example', '/x')");
    transaction.Commit();
  }
  TFirefoxRunOptions options;
  for (int i = 0; i < 1200; ++i)
    options.cookieAnswers[".spared" + std::to_string(i) + ".example"] = false;

  const TPassResult analysis = RunFirefox(CleanFFCookies, ccFFCookies, smReport, options);
  EXPECT_EQ(Names(analysis.categories[ccFFCookies].items),
            (Strings{".tracker.example : id", "ads.example : id", ".tracker.example : id2"}));
  // One question per host, not per cookie.
  EXPECT_EQ(cookieQueries[".tracker.example"], 1);

  const TPassResult clean = RunFirefox(CleanFFCookies, ccFFCookies, smClean, options);
  EXPECT_EQ(clean.categories[ccFFCookies].outcome, coDone);
  EXPECT_TRUE((Names(clean.categories[ccFFCookies].failures)).empty());
  EXPECT_EQ(Rows(cookies, "SELECT count(*) FROM moz_cookies WHERE name LIKE 'keep%'"),
            (Strings{"1200"}));
  EXPECT_EQ(Rows(cookies, "SELECT count(*) FROM moz_cookies WHERE name NOT LIKE 'keep%'"),
            (Strings{"0"}));
  EXPECT_FALSE(Contains(HostBytes(cookies), "tracker.example"));
}

// --- downloads (23)

class FirefoxDownloadsTest : public FirefoxDbTest {
protected:
  void SetUp() override {
    FirefoxDbTest::SetUp();
    profile = AddProfile("abc.default-release");
    places = profile + "places.sqlite";
    MakeDatabase(
        places, kFirefoxPlacesSchema,
        {
            "INSERT INTO moz_places(id,url,guid,foreign_count) VALUES"
            "(1,'http://dl.example/report.pdf','d1',0),(2,'http://dl.example/tool.zip','d2',0),"
            "(3,'http://dl.example/blob','d3',0),(4,'http://dl.example/bookmarked.iso','d4',1),"
            "(5,'http://dl.example/link.exe','d5',0),(6,'http://dl.example/folder','d6',0),"
            "(7,'http://dl.example/busy.msi','d7',0),(8,'http://page.example/','p8',0)",
            "INSERT INTO moz_bookmarks(id,type,fk,parent) VALUES(1,1,4,0)",
            "INSERT INTO moz_historyvisits(id,place_id,visit_type) VALUES"
            "(1,1,7),(2,2,7),(3,3,7),(4,4,7),(5,5,7),(6,6,7),(7,7,7),(8,8,1),(9,2,1)",
            "INSERT INTO moz_anno_attributes VALUES(1,'downloads/destinationFileURI'),"
            "(2,'downloads/metaData')",
            // The prefix in capitals, percent-encoded names; a size in the
            // metaData, one on disk only; a target that is no local file.
            "INSERT INTO moz_annos(place_id,anno_attribute_id,content) VALUES"
            "(1,1,'FILE:///C:/Users/user/Downloads/My%20Report%C3%A9.pdf'),"
            "(1,2,'{\"state\":1,\"endTime\":17,\"fileSize\": 4096}'),"
            "(2,1,'file:///C:/Users/user/Downloads/tool.zip'),"
            "(3,1,'blob:http://dl.example/1234'),"
            "(4,1,'file:///C:/Users/user/Downloads/bookmarked.iso'),"
            "(5,1,'file:///C:/Users/user/Downloads/link.exe'),"
            "(6,1,'file:///C:/Users/user/Downloads/folder'),"
            "(7,1,'file:///C:/Users/user/Downloads/busy.msi')",
        });
    fs.AddFile("C:\\Users\\user\\Downloads\\My Report\xC3\xA9.pdf", std::string(10, 'p'));
    fs.AddFile("C:\\Users\\user\\Downloads\\tool.zip", "zipzip");
    fs.AddFile("C:\\Users\\user\\Downloads\\bookmarked.iso", "iso");
    fs.AddFile("C:\\Users\\user\\Documents\\precious.exe", "mine");
    fs.AddLink("C:\\Users\\user\\Downloads\\link.exe", "C:\\Users\\user\\Documents\\precious.exe");
    fs.AddFile("C:\\Users\\user\\Downloads\\folder\\inside.txt", "in");
    fs.AddFile("C:\\Users\\user\\Downloads\\busy.msi", "msi");
    fs.SetInUse("C:\\Users\\user\\Downloads\\busy.msi", true);
  }

  std::string profile, places;
};

TEST_F(FirefoxDownloadsTest, AnalysisListsEachDownloadWithItsPathAndSize) {
  const std::string before = HostDump();
  const TPassResult result = RunFirefox(CleanFFDownloads, ccFFDownloadHistory, smReport);
  const TCategoryResult &downloads = result.categories[ccFFDownloadHistory];
  std::vector<std::string> listed;
  for (const TCleanItem &item : downloads.items)
    listed.push_back(item.Name + " " + std::to_string(item.Size));
  EXPECT_EQ(listed, (Strings{"C:\\Users\\user\\Downloads\\My Report\xC3\xA9.pdf 4096",
                             "C:\\Users\\user\\Downloads\\tool.zip 6", "http://dl.example/blob 0",
                             "C:\\Users\\user\\Downloads\\bookmarked.iso 3",
                             "C:\\Users\\user\\Downloads\\link.exe 0",
                             "C:\\Users\\user\\Downloads\\folder 0",
                             "C:\\Users\\user\\Downloads\\busy.msi 3"}));
  EXPECT_EQ(HostDump(), before);
}

TEST_F(FirefoxDownloadsTest, CleanRemovesTheHistoryAndLeavesTheFilesUnlessAsked) {
  const std::string filesBefore = FileDump("C:\\Users\\user\\Downloads");
  const TPassResult result = RunFirefox(CleanFFDownloads, ccFFDownloadHistory, smClean);
  EXPECT_EQ(result.categories[ccFFDownloadHistory].outcome, coDone);
  EXPECT_TRUE((Names(result.categories[ccFFDownloadHistory].failures)).empty());
  EXPECT_EQ(FileDump("C:\\Users\\user\\Downloads"), filesBefore);
  EXPECT_EQ(Rows(places, "SELECT count(*) FROM moz_annos"), (Strings{"0"}));
  EXPECT_EQ(Rows(places, "SELECT place_id FROM moz_historyvisits ORDER BY id"),
            (Strings{"8", "2"}));
  // A page visited apart from its download, and a bookmark, stay.
  EXPECT_EQ(Rows(places, "SELECT id FROM moz_places ORDER BY id"), (Strings{"2", "4", "8"}));
  EXPECT_FALSE(Contains(HostBytes(places), "report.pdf"));
}

TEST_F(FirefoxDownloadsTest, FilesGoOnRequestButNeverALinkAFolderOrAFileInUse) {
  TFirefoxRunOptions options;
  options.deleteDownloadedFiles = true;
  const TPassResult result = RunFirefox(CleanFFDownloads, ccFFDownloadHistory, smClean, options);
  const TCategoryResult &downloads = result.categories[ccFFDownloadHistory];
  EXPECT_FALSE(fs.Exists("C:\\Users\\user\\Downloads\\My Report\xC3\xA9.pdf"));
  EXPECT_FALSE(fs.Exists("C:\\Users\\user\\Downloads\\tool.zip"));
  EXPECT_FALSE(fs.Exists("C:\\Users\\user\\Downloads\\bookmarked.iso"));
  EXPECT_TRUE(fs.IsLink("C:\\Users\\user\\Downloads\\link.exe"));
  EXPECT_EQ(fs.Content("C:\\Users\\user\\Documents\\precious.exe"), "mine");
  EXPECT_EQ(fs.Content("C:\\Users\\user\\Downloads\\folder\\inside.txt"), "in");
  EXPECT_TRUE(fs.Exists("C:\\Users\\user\\Downloads\\busy.msi"));
  EXPECT_EQ(
      Sorted(Names(downloads.kept)),
      Sorted(Strings{"C:\\Users\\user\\Downloads\\link.exe (" + std::string(kReasonLink) + ")",
                     "C:\\Users\\user\\Downloads\\folder (a folder, not a downloaded file)",
                     "C:\\Users\\user\\Downloads\\busy.msi (in use)"}));
}

TEST_F(FirefoxDbTest, TheOldDownloadsDatabaseIsListedAndCleared) {
  const std::string profile = AddProfile("old.default");
  const std::string downloads = profile + "downloads.sqlite";
  MakeDatabase(downloads, kOldFirefoxDownloadsSchema,
               {"INSERT INTO moz_downloads(id,name,source,target,currBytes) VALUES"
                "(1,'setup.exe','http://old.example/setup.exe',"
                "'file:///C:/Users/user/Downloads/setup.exe',5000),"
                "(2,'x','http://old.example/x',NULL,7)"});
  fs.AddFile("C:\\Users\\user\\Downloads\\setup.exe", "exe");
  const TPassResult analysis = RunFirefox(CleanFFDownloads, ccFFDownloadHistory, smReport);
  std::vector<std::string> listed;
  for (const TCleanItem &item : analysis.categories[ccFFDownloadHistory].items)
    listed.push_back(item.Name + " " + std::to_string(item.Size));
  EXPECT_EQ(listed,
            (Strings{"C:\\Users\\user\\Downloads\\setup.exe 5000", "http://old.example/x 7"}));
  TFirefoxRunOptions options;
  options.deleteDownloadedFiles = true;
  const TPassResult clean = RunFirefox(CleanFFDownloads, ccFFDownloadHistory, smClean, options);
  EXPECT_EQ(clean.categories[ccFFDownloadHistory].outcome, coDone);
  EXPECT_EQ(Rows(downloads, "SELECT count(*) FROM moz_downloads"), (Strings{"0"}));
  EXPECT_FALSE(fs.Exists("C:\\Users\\user\\Downloads\\setup.exe"));
}

// --- form history (22), input history (24), cache (20)

TEST_F(FirefoxDbTest, FormAndInputHistoryAreListedAndCleared) {
  const std::string profile = AddProfile("abc.default-release");
  MakeDatabase(profile + "formhistory.sqlite", kFirefoxFormHistorySchema,
               {"INSERT INTO moz_formhistory(id,fieldname,value) VALUES(1,'searchbar','secret "
                "query'),(2,'email','me@example.com')",
                "INSERT INTO moz_sources VALUES(1,'search-engine')",
                "INSERT INTO moz_history_to_sources VALUES(1,1)"});
  MakeDatabase(profile + "places.sqlite", kFirefoxPlacesSchema,
               {"INSERT INTO moz_places(id,url,guid) VALUES(1,'http://a.example/','a')",
                "INSERT INTO moz_inputhistory VALUES(1,'typed text',2)"});

  EXPECT_EQ(Names(RunFirefox(CleanFFFormHistory, ccFFFormHistory, smReport)
                      .categories[ccFFFormHistory]
                      .items),
            (Strings{"searchbar", "email"}));
  EXPECT_EQ(Names(RunFirefox(CleanFFInputHistory, ccFFInputHistory, smReport)
                      .categories[ccFFInputHistory]
                      .items),
            (Strings{"typed text"}));

  EXPECT_EQ(
      RunFirefox(CleanFFFormHistory, ccFFFormHistory, smClean).categories[ccFFFormHistory].outcome,
      coDone);
  EXPECT_EQ(RunFirefox(CleanFFInputHistory, ccFFInputHistory, smClean)
                .categories[ccFFInputHistory]
                .outcome,
            coDone);
  EXPECT_EQ(Rows(profile + "formhistory.sqlite",
                 "SELECT (SELECT count(*) FROM moz_formhistory) || (SELECT count(*) FROM "
                 "moz_history_to_sources) || (SELECT count(*) FROM moz_sources)"),
            (Strings{"000"}));
  EXPECT_FALSE(Contains(HostBytes(profile + "formhistory.sqlite"), "secret query"));
  EXPECT_EQ(Rows(profile + "places.sqlite", "SELECT count(*) FROM moz_inputhistory"),
            (Strings{"0"}));
  // The input history clean touches nothing else of places.sqlite.
  EXPECT_EQ(Rows(profile + "places.sqlite", "SELECT url FROM moz_places"),
            (Strings{"http://a.example/"}));
}

TEST_F(FirefoxDbTest, TheCacheOfTheLocalProfileIsSwept) {
  AddProfile("abc.default-release");
  const std::string local = LocalOf("abc.default-release");
  fs.AddFile(local + "cache2\\entries\\0123ABCD", std::string(20, 'c'));
  fs.AddFile(local + "cache2\\index", "idx");
  fs.AddFile(local + "startupCache\\keep.bin", "not the web cache");
  const TPassResult analysis = RunFirefox(CleanFFCache, ccFFCache, smReport);
  EXPECT_EQ(Sorted(Names(analysis.categories[ccFFCache].items)),
            Sorted(Strings{"entries\\0123ABCD", "index"}));
  const TPassResult clean = RunFirefox(CleanFFCache, ccFFCache, smClean);
  EXPECT_EQ(clean.categories[ccFFCache].outcome, coDone);
  EXPECT_FALSE(fs.Exists(local + "cache2\\entries\\0123ABCD"));
  EXPECT_TRUE(fs.Exists(local + "startupCache\\keep.bin"));
}

} // namespace
} // namespace quenlo::test
