// The Chrome handlers (25-30) on the in-memory machine, over real SQLite
// files with the tables today's browser makes (the CREATE text below is
// what a profile of Chromium 156 holds in its sqlite_master) and with an
// older layout: what an analysis lists, what a clean leaves, a database
// the browser holds, the profiles found, and downloaded files.
#include "ChromeFixture.h"

#include <algorithm>

#include "cleaner/uBrowserDb.h"
#include "cleaner/uChromeProfiles.h"
#include "cleaner/uCleanItems.h"

namespace quenlo {
namespace {

using test::ChromeTest;

// clang-format off
const std::vector<std::string> kHistorySchema = {
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR)",
    "CREATE TABLE urls(id INTEGER PRIMARY KEY AUTOINCREMENT,url LONGVARCHAR,title LONGVARCHAR,visit_count INTEGER DEFAULT 0 NOT NULL,typed_count INTEGER DEFAULT 0 NOT NULL,last_visit_time INTEGER NOT NULL,hidden INTEGER DEFAULT 0 NOT NULL)",
    "CREATE TABLE visits(id INTEGER PRIMARY KEY AUTOINCREMENT,url INTEGER NOT NULL,visit_time INTEGER NOT NULL,from_visit INTEGER,external_referrer_url TEXT,transition INTEGER DEFAULT 0 NOT NULL,segment_id INTEGER,visit_duration INTEGER DEFAULT 0 NOT NULL,incremented_omnibox_typed_score BOOLEAN DEFAULT FALSE NOT NULL,opener_visit INTEGER,originator_cache_guid TEXT,originator_visit_id INTEGER,originator_from_visit INTEGER,originator_opener_visit INTEGER,is_known_to_sync BOOLEAN DEFAULT FALSE NOT NULL,consider_for_ntp_most_visited BOOLEAN DEFAULT FALSE NOT NULL,visited_link_id INTEGER DEFAULT 0 NOT NULL,app_id TEXT)",
    "CREATE TABLE visit_source(id INTEGER PRIMARY KEY,source INTEGER NOT NULL)",
    "CREATE INDEX visits_url_index ON visits (url)",
    "CREATE INDEX visits_from_index ON visits (from_visit)",
    "CREATE INDEX visits_time_index ON visits (visit_time)",
    "CREATE INDEX visits_originator_id_index ON visits (originator_visit_id)",
    "CREATE TABLE keyword_search_terms (keyword_id INTEGER NOT NULL,url_id INTEGER NOT NULL,term LONGVARCHAR NOT NULL,normalized_term LONGVARCHAR NOT NULL)",
    "CREATE INDEX keyword_search_terms_index1 ON keyword_search_terms (keyword_id, normalized_term)",
    "CREATE INDEX keyword_search_terms_index2 ON keyword_search_terms (url_id)",
    "CREATE INDEX keyword_search_terms_index3 ON keyword_search_terms (term)",
    "CREATE TABLE downloads (id INTEGER PRIMARY KEY,guid VARCHAR NOT NULL,current_path LONGVARCHAR NOT NULL,target_path LONGVARCHAR NOT NULL,start_time INTEGER NOT NULL,received_bytes INTEGER NOT NULL,total_bytes INTEGER NOT NULL,state INTEGER NOT NULL,danger_type INTEGER NOT NULL,interrupt_reason INTEGER NOT NULL,hash BLOB NOT NULL,end_time INTEGER NOT NULL,opened INTEGER NOT NULL,last_access_time INTEGER NOT NULL,transient INTEGER NOT NULL,referrer VARCHAR NOT NULL,site_url VARCHAR NOT NULL,embedder_download_data VARCHAR NOT NULL,tab_url VARCHAR NOT NULL,tab_referrer_url VARCHAR NOT NULL,http_method VARCHAR NOT NULL,by_ext_id VARCHAR NOT NULL,by_ext_name VARCHAR NOT NULL,by_web_app_id VARCHAR NOT NULL,etag VARCHAR NOT NULL,last_modified VARCHAR NOT NULL,mime_type VARCHAR(255) NOT NULL,original_mime_type VARCHAR(255) NOT NULL)",
    "CREATE TABLE downloads_url_chains (id INTEGER NOT NULL,chain_index INTEGER NOT NULL,url LONGVARCHAR NOT NULL, PRIMARY KEY (id, chain_index) )",
    "CREATE TABLE downloads_slices (download_id INTEGER NOT NULL,offset INTEGER NOT NULL,received_bytes INTEGER NOT NULL,finished INTEGER NOT NULL DEFAULT 0,PRIMARY KEY (download_id, offset) )",
    "CREATE TABLE segments (id INTEGER PRIMARY KEY,name VARCHAR,url_id INTEGER NON NULL)",
    "CREATE INDEX segments_name ON segments(name)",
    "CREATE INDEX segments_url_id ON segments(url_id)",
    "CREATE TABLE segment_usage (id INTEGER PRIMARY KEY,segment_id INTEGER NOT NULL,time_slot INTEGER NOT NULL,visit_count INTEGER DEFAULT 0 NOT NULL)",
    "CREATE INDEX segment_usage_time_slot_segment_id ON segment_usage(time_slot, segment_id)",
    "CREATE INDEX segments_usage_seg_id ON segment_usage(segment_id)",
    "CREATE TABLE content_annotations(visit_id INTEGER PRIMARY KEY,visibility_score NUMERIC,floc_protected_score NUMERIC,categories VARCHAR,page_topics_model_version INTEGER,annotation_flags INTEGER NOT NULL,entities VARCHAR,related_searches VARCHAR,search_normalized_url VARCHAR,search_terms LONGVARCHAR,alternative_title VARCHAR,page_language VARCHAR,password_state INTEGER DEFAULT 0 NOT NULL,has_url_keyed_image BOOLEAN NOT NULL)",
    "CREATE TABLE context_annotations(visit_id INTEGER PRIMARY KEY,context_annotation_flags INTEGER NOT NULL,duration_since_last_visit INTEGER,page_end_reason INTEGER,total_foreground_duration INTEGER,browser_type INTEGER DEFAULT 0 NOT NULL,window_id INTEGER DEFAULT -1 NOT NULL,tab_id INTEGER DEFAULT -1 NOT NULL,task_id INTEGER DEFAULT -1 NOT NULL,root_task_id INTEGER DEFAULT -1 NOT NULL,parent_task_id INTEGER DEFAULT -1 NOT NULL,response_code INTEGER DEFAULT 0 NOT NULL)",
    "CREATE TABLE clusters(cluster_id INTEGER PRIMARY KEY AUTOINCREMENT,should_show_on_prominent_ui_surfaces BOOLEAN NOT NULL,label VARCHAR NOT NULL,raw_label VARCHAR NOT NULL,triggerability_calculated BOOLEAN NOT NULL,originator_cache_guid TEXT NOT NULL,originator_cluster_id INTEGER NOT NULL)",
    "CREATE TABLE clusters_and_visits(cluster_id INTEGER NOT NULL,visit_id INTEGER NOT NULL,score NUMERIC DEFAULT 0 NOT NULL,engagement_score NUMERIC DEFAULT 0 NOT NULL,url_for_deduping LONGVARCHAR NOT NULL,normalized_url LONGVARCHAR NOT NULL,url_for_display LONGVARCHAR NOT NULL,interaction_state INTEGER DEFAULT 0 NOT NULL,PRIMARY KEY(cluster_id,visit_id))WITHOUT ROWID",
    "CREATE INDEX clusters_for_visit ON clusters_and_visits(visit_id)",
    "CREATE TABLE cluster_keywords(cluster_id INTEGER NOT NULL,keyword VARCHAR NOT NULL,type INTEGER NOT NULL,score NUMERIC NOT NULL,collections VARCHAR NOT NULL)",
    "CREATE INDEX cluster_keywords_cluster_id_index ON cluster_keywords(cluster_id)",
    "CREATE TABLE cluster_visit_duplicates(visit_id INTEGER NOT NULL,duplicate_visit_id INTEGER NOT NULL,PRIMARY KEY(visit_id,duplicate_visit_id))WITHOUT ROWID",
    "CREATE TABLE visited_links(id INTEGER PRIMARY KEY AUTOINCREMENT,link_url_id INTEGER NOT NULL,top_level_url LONGVARCHAR NOT NULL,frame_url LONGVARCHAR NOT NULL,visit_count INTEGER DEFAULT 0 NOT NULL)",
    "CREATE INDEX visited_links_index ON visited_links (link_url_id, top_level_url, frame_url)",
    "CREATE TABLE history_sync_metadata (storage_key INTEGER PRIMARY KEY NOT NULL, value BLOB)",
    "CREATE TABLE journeys (journey_id TEXT PRIMARY KEY NOT NULL, title TEXT NOT NULL, emoji TEXT, overview TEXT, short_overview TEXT, creation_time_micros INTEGER NOT NULL)",
    "CREATE INDEX journeys_creation_time_idx ON journeys (creation_time_micros)",
    "CREATE TABLE journey_history_entries (journey_id TEXT NOT NULL, visit_timestamp_micros INTEGER NOT NULL, PRIMARY KEY (journey_id, visit_timestamp_micros)) WITHOUT ROWID",
    "CREATE INDEX journey_history_entries_timestamp_idx ON journey_history_entries (visit_timestamp_micros)",
    "CREATE TABLE journey_continuation_queries (id INTEGER PRIMARY KEY, journey_id TEXT NOT NULL, title TEXT NOT NULL, prompt TEXT NOT NULL)",
    "CREATE INDEX journey_continuation_queries_journey_id_idx ON journey_continuation_queries (journey_id)",
    "CREATE TABLE journey_sync_metadata (storage_key TEXT PRIMARY KEY NOT NULL, value BLOB NOT NULL)",
    "CREATE INDEX urls_url_index ON urls (url)",
};
const std::vector<std::string> kCookiesSchema = {
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR)",
    "CREATE TABLE cookies(creation_utc INTEGER NOT NULL,host_key TEXT NOT NULL,top_frame_site_key TEXT NOT NULL,name TEXT NOT NULL,value TEXT NOT NULL,encrypted_value BLOB NOT NULL,path TEXT NOT NULL,expires_utc INTEGER NOT NULL,is_secure INTEGER NOT NULL,is_httponly INTEGER NOT NULL,last_access_utc INTEGER NOT NULL,has_expires INTEGER NOT NULL,is_persistent INTEGER NOT NULL,priority INTEGER NOT NULL,samesite INTEGER NOT NULL,source_scheme INTEGER NOT NULL,source_port INTEGER NOT NULL,last_update_utc INTEGER NOT NULL,source_type INTEGER NOT NULL,has_cross_site_ancestor INTEGER NOT NULL)",
    "CREATE UNIQUE INDEX cookies_unique_index ON cookies(host_key, top_frame_site_key, has_cross_site_ancestor, name, path, source_scheme, source_port)",
};
const std::vector<std::string> kWebDataSchema = {
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR)",
    "CREATE TABLE autocomplete (name VARCHAR, label VARCHAR, label_normalized VARCHAR, value VARCHAR, value_lower VARCHAR, date_created INTEGER DEFAULT 0, date_last_used INTEGER DEFAULT 0, count INTEGER DEFAULT 1, PRIMARY KEY (name, label, value))",
    "CREATE TABLE autofill (name VARCHAR, value VARCHAR, value_lower VARCHAR, date_created INTEGER DEFAULT 0, date_last_used INTEGER DEFAULT 0, count INTEGER DEFAULT 1, PRIMARY KEY (name, value))",
    "CREATE INDEX autofill_name ON autofill(name)",
    "CREATE TABLE addresses (guid VARCHAR PRIMARY KEY, use_count INTEGER NOT NULL DEFAULT 0, use_date INTEGER NOT NULL DEFAULT 0, date_modified INTEGER NOT NULL DEFAULT 0, language_code VARCHAR, label VARCHAR, initial_creator_id INTEGER DEFAULT 0, record_type INTEGER)",
};
const std::vector<std::string> kLoginDataSchema = {
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR)",
    "CREATE TABLE logins (origin_url VARCHAR NOT NULL, action_url VARCHAR, username_element VARCHAR, username_value VARCHAR, password_element VARCHAR, password_value BLOB, submit_element VARCHAR, signon_realm VARCHAR NOT NULL, date_created INTEGER NOT NULL, blacklisted_by_user INTEGER NOT NULL, scheme INTEGER NOT NULL, password_type INTEGER, times_used INTEGER, form_data BLOB, display_name VARCHAR, icon_url VARCHAR, federation_url VARCHAR, skip_zero_click INTEGER, generation_upload_status INTEGER, possible_username_pairs BLOB, id INTEGER PRIMARY KEY AUTOINCREMENT, date_last_used INTEGER NOT NULL DEFAULT 0, moving_blocked_for BLOB, date_password_modified INTEGER NOT NULL DEFAULT 0, sender_email VARCHAR, sender_name VARCHAR, date_received INTEGER, sharing_notification_displayed INTEGER NOT NULL DEFAULT 0, keychain_identifier BLOB, sender_profile_image_url VARCHAR, date_last_filled INTEGER NOT NULL DEFAULT 0, actor_login_approved INTEGER NOT NULL DEFAULT 0, UNIQUE (origin_url, username_element, username_value, password_element, signon_realm))",
    "CREATE INDEX logins_signon ON logins (signon_realm)",
    "CREATE TABLE sync_entities_metadata (storage_key INTEGER PRIMARY KEY AUTOINCREMENT, metadata VARCHAR NOT NULL)",
    "CREATE TABLE sync_model_metadata (id INTEGER PRIMARY KEY AUTOINCREMENT, model_metadata VARCHAR NOT NULL)",
    "CREATE TABLE insecure_credentials (parent_id INTEGER REFERENCES logins ON UPDATE CASCADE ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED, insecurity_type INTEGER NOT NULL, create_time INTEGER NOT NULL, is_muted INTEGER NOT NULL DEFAULT 0, trigger_notification_from_backend INTEGER NOT NULL DEFAULT 0, UNIQUE (parent_id, insecurity_type))",
    "CREATE INDEX foreign_key_index ON insecure_credentials (parent_id)",
    "CREATE TABLE password_notes (id INTEGER PRIMARY KEY AUTOINCREMENT, parent_id INTEGER NOT NULL REFERENCES logins ON UPDATE CASCADE ON DELETE CASCADE DEFERRABLE INITIALLY DEFERRED, key VARCHAR NOT NULL, value BLOB, date_created INTEGER NOT NULL, confidential INTEGER, UNIQUE (parent_id, key))",
    "CREATE INDEX foreign_key_index_notes ON password_notes (parent_id)",
    "CREATE TABLE stats (origin_domain VARCHAR NOT NULL, username_value VARCHAR, dismissal_count INTEGER, update_time INTEGER NOT NULL, UNIQUE(origin_domain, username_value))",
    "CREATE INDEX stats_origin ON stats(origin_domain)",
};
const std::vector<std::string> kTopSitesSchema = {
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR)",
    "CREATE TABLE top_sites(url TEXT NOT NULL PRIMARY KEY,url_rank INTEGER NOT NULL,title TEXT NOT NULL)",
};
const std::vector<std::string> kFaviconsSchema = {
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR)",
    "CREATE TABLE icon_mapping(id INTEGER PRIMARY KEY,page_url LONGVARCHAR NOT NULL,icon_id INTEGER,page_url_type INTEGER DEFAULT 0)",
    "CREATE TABLE favicons(id INTEGER PRIMARY KEY,url LONGVARCHAR NOT NULL,icon_type INTEGER DEFAULT 1)",
    "CREATE TABLE favicon_bitmaps(id INTEGER PRIMARY KEY,icon_id INTEGER NOT NULL,last_updated INTEGER DEFAULT 0,image_data BLOB,width INTEGER DEFAULT 0,height INTEGER DEFAULT 0,last_requested INTEGER DEFAULT 0)",
    "CREATE INDEX icon_mapping_page_url_idx ON icon_mapping(page_url)",
    "CREATE INDEX icon_mapping_icon_id_idx ON icon_mapping(icon_id)",
    "CREATE INDEX favicons_url ON favicons(url)",
    "CREATE INDEX favicon_bitmaps_icon_id ON favicon_bitmaps(icon_id)",
};
// The layout of years ago: addresses in the downloads table, cookies
// keyed by creation time, autofill dates apart.
const std::vector<std::string> kOldHistorySchema = {
    "CREATE TABLE urls(id INTEGER PRIMARY KEY,url LONGVARCHAR,title LONGVARCHAR,visit_count INTEGER DEFAULT 0 NOT NULL,typed_count INTEGER DEFAULT 0 NOT NULL,last_visit_time INTEGER NOT NULL,hidden INTEGER DEFAULT 0 NOT NULL,favicon_id INTEGER DEFAULT 0 NOT NULL)",
    "CREATE TABLE visits(id INTEGER PRIMARY KEY,url INTEGER NOT NULL,visit_time INTEGER NOT NULL,from_visit INTEGER,transition INTEGER DEFAULT 0 NOT NULL,segment_id INTEGER,is_indexed BOOLEAN)",
    "CREATE TABLE segments (id INTEGER PRIMARY KEY,name VARCHAR,url_id INTEGER NON NULL,pres_index INTEGER DEFAULT -1 NOT NULL)",
    "CREATE TABLE segment_usage (id INTEGER PRIMARY KEY,segment_id INTEGER NOT NULL,time_slot INTEGER NOT NULL,visit_count INTEGER DEFAULT 0 NOT NULL)",
    "CREATE TABLE keyword_search_terms (keyword_id INTEGER NOT NULL,url_id INTEGER NOT NULL,lower_term LONGVARCHAR NOT NULL,term LONGVARCHAR NOT NULL)",
    "CREATE TABLE downloads (id INTEGER PRIMARY KEY,full_path LONGVARCHAR NOT NULL,url LONGVARCHAR NOT NULL,start_time INTEGER NOT NULL,received_bytes INTEGER NOT NULL,total_bytes INTEGER NOT NULL,state INTEGER NOT NULL)",
};
const std::vector<std::string> kOldCookiesSchema = {
    "CREATE TABLE cookies (creation_utc INTEGER NOT NULL UNIQUE PRIMARY KEY,host_key TEXT NOT NULL,name TEXT NOT NULL,value TEXT NOT NULL,path TEXT NOT NULL,expires_utc INTEGER NOT NULL,secure INTEGER NOT NULL,httponly INTEGER NOT NULL,last_access_utc INTEGER NOT NULL)",
};
const std::vector<std::string> kOldWebDataSchema = {
    "CREATE TABLE autofill (name VARCHAR, value VARCHAR, value_lower VARCHAR, pair_id INTEGER PRIMARY KEY, count INTEGER DEFAULT 1)",
    "CREATE TABLE autofill_dates ( pair_id INTEGER DEFAULT 0, date_created INTEGER DEFAULT 0)",
};
// clang-format on

// The tables of today's History that hold visits or what came of them.
const char *const kHistoryTables[] = {"urls",
                                      "visits",
                                      "visit_source",
                                      "keyword_search_terms",
                                      "segments",
                                      "segment_usage",
                                      "content_annotations",
                                      "context_annotations",
                                      "clusters",
                                      "clusters_and_visits",
                                      "cluster_keywords",
                                      "visited_links",
                                      "journeys"};

std::vector<std::string> With(std::vector<std::string> schema,
                              const std::vector<std::string> &rows) {
  schema.insert(schema.end(), rows.begin(), rows.end());
  return schema;
}

// Visits of two addresses with everything the browser derives from them.
std::vector<std::string> VisitRows(const std::string &site) {
  const std::string url = "https://" + site + "/secret-page";
  return {
      "INSERT INTO urls(id,url,title,last_visit_time) VALUES(1,'" + url + "','Title of " + site +
          "',1)",
      "INSERT INTO urls(id,url,title,last_visit_time) VALUES(2,'https://" + site +
          "/other',"
          "'Other',2)",
      "INSERT INTO visits(id,url,visit_time) VALUES(1,1,1),(2,2,2)",
      "INSERT INTO visit_source VALUES(1,1)",
      "INSERT INTO keyword_search_terms VALUES(1,1,'" + site + " terms','" + site + " terms')",
      "INSERT INTO segments VALUES(1,'" + site + "-segment',1)",
      "INSERT INTO segment_usage VALUES(1,1,1,1)",
      "INSERT INTO content_annotations(visit_id,annotation_flags,search_terms,has_url_keyed_image)"
      " VALUES(1,0,'" +
          site + " annotated',0)",
      "INSERT INTO context_annotations(visit_id,context_annotation_flags) VALUES(1,0)",
      "INSERT INTO clusters VALUES(1,1,'" + site + " cluster','raw',1,'',0)",
      "INSERT INTO clusters_and_visits VALUES(1,1,0,0,'" + url + "','" + url + "','" + url + "',0)",
      "INSERT INTO cluster_keywords VALUES(1,'" + site + " keyword',0,0,'')",
      "INSERT INTO visited_links VALUES(1,1,'" + url + "','" + url + "',1)",
      "INSERT INTO journeys VALUES('j1','" + site + " journey',NULL,NULL,NULL,1)",
      "INSERT INTO meta VALUES('version','70')",
  };
}

class CleanChrome : public ChromeTest {};

// --- profiles

TEST_F(CleanChrome, EveryProfileFolderIsFoundInAFixedOrderButNoLinkAndNoBrowserOwnProfile) {
  for (const char *name : {"Profile 10", "Default", "Profile 2"})
    fs.AddDir(Profile(name));
  fs.AddFile(Profile("Work", "Preferences"), "{}");
  fs.AddDir(Profile("Crashpad"));                             // no profile
  fs.AddFile(Profile("System Profile", "Preferences"), "{}"); // the browser's, no history
  fs.AddFile(Profile("Guest Profile", "History"), "x");       // holds history
  fs.AddDir("C:\\Elsewhere\\Profile");
  fs.AddFile("C:\\Elsewhere\\Profile\\Preferences", "{}");
  fs.AddLink(Profile("Profile 3"), "C:\\Elsewhere\\Profile");
  fs.AddLink(Profile("Profile 4"), "C:\\Elsewhere\\Profile",
             qp::mem::MemoryFileSystem::LinkKind::Folder,
             qp::mem::MemoryFileSystem::LinkMark::Unmarked);

  std::vector<std::string> names;
  for (const TChromeProfile &profile : ChromeProfiles())
    names.push_back(profile.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Default", "Profile 2", "Profile 10", "Guest Profile",
                                             "Work"}));

  // A user data folder that is a link leads elsewhere: no profile at all.
  fs.Remove(std::string(test::kChromeUserData));
  fs.AddDir("C:\\Elsewhere\\Data\\Default");
  fs.AddLink(qp::WithoutTrailingBackslash(test::kChromeUserData), "C:\\Elsewhere\\Data");
  EXPECT_TRUE(ChromeProfiles().empty());
}

// --- history

TEST_F(CleanChrome, AnalysisListsTheHistoryOfEveryProfileAndChangesNothing) {
  MakeDatabase(Profile("Default", "History"), With(kHistorySchema, VisitRows("first.example")));
  MakeDatabase(Profile("Profile 1", "History"), With(kHistorySchema, VisitRows("second.example")));
  fs.AddFile(Profile("Default", "Sessions\\Session_1"), "tabs");
  // The other categories' databases, all read by the same analysis.
  MakeDatabase(Profile("Default", "Network\\Cookies"), kCookiesSchema);
  MakeDatabase(Profile("Default", "Web Data"), kWebDataSchema);
  MakeDatabase(Profile("Default", "Login Data"), kLoginDataSchema);
  MakeDatabase(Profile("Default", "Favicons"), kFaviconsSchema);
  const auto hostBefore = HostListing();
  const std::string machineBefore = MachineDump();
  const std::pair<TCategoryHandler, TCleanCategory> others[] = {{CleanGCCookies, ccGCCookies},
                                                                {CleanGCDownloads, ccGCDownloads},
                                                                {CleanGCFormInfo, ccGCFormInfo},
                                                                {CleanGCPasswords, ccGCPassword}};
  for (const auto &[handler, category] : others)
    EXPECT_EQ(RunChrome(handler, category, smReport).categories[category].outcome, coDone)
        << category;

  const TPassResult result = RunChrome(CleanGCHistory, ccGCHistory, smReport);
  const TCategoryResult &history = result.categories[ccGCHistory];
  EXPECT_EQ(history.outcome, coDone);
  EXPECT_EQ(Names(history.items),
            (std::vector<std::string>{
                "first.example-segment", "https://first.example/secret-page",
                "https://first.example/other", "Session_1", "second.example-segment",
                "https://second.example/secret-page", "https://second.example/other"}));
  EXPECT_TRUE(history.failures.empty()) << Names(history.failures).front();
  EXPECT_EQ(HostListing(), hostBefore);
  EXPECT_EQ(MachineDump(), machineBefore);
}

TEST_F(CleanChrome, HistoryCleanEmptiesEveryHistoryTableAndLeavesNoAddressInTheFile) {
  const std::string db = Profile("Default", "History");
  MakeDatabase(db, With(kHistorySchema, VisitRows("first.example")));
  const auto hostBefore = HostListing();

  const TPassResult result = RunChrome(CleanGCHistory, ccGCHistory, smClean);
  EXPECT_EQ(result.categories[ccGCHistory].outcome, coDone);
  EXPECT_TRUE(result.categories[ccGCHistory].failures.empty());
  for (const char *table : kHistoryTables)
    EXPECT_EQ(Count(db, table), 0) << table;
  EXPECT_EQ(Count(db, "meta"), 1); // the browser's own bookkeeping stays
  const std::string bytes = HostBytes(db);
  for (const char *text : {"first.example", "secret-page", "Title of"})
    EXPECT_EQ(bytes.find(text), std::string::npos) << text;
  // No file was added beside the database (a journal left behind).
  EXPECT_EQ(test::FileNames(HostListing()), test::FileNames(hostBefore));

  EXPECT_TRUE(
      RunChrome(CleanGCHistory, ccGCHistory, smReport).categories[ccGCHistory].items.empty());
}

TEST_F(CleanChrome, OldHistoryLayoutIsCleanedAndTheTablesItLacksAreSkipped) {
  const std::string db = Profile("Default", "History");
  MakeDatabase(db,
               With(kOldHistorySchema,
                    {"INSERT INTO urls(url,last_visit_time) VALUES('http://old.example/',1)",
                     "INSERT INTO visits(url,visit_time) VALUES(1,1)",
                     "INSERT INTO segments(name,url_id) VALUES('old',1)",
                     "INSERT INTO downloads VALUES(1,'C:\\old\\a.exe','http://a.example/a.exe',1,"
                     "10,10,1),(2,'','http://b.example/b.exe',1,3,10,2)"}));
  // Its downloads name their paths, else their addresses.
  EXPECT_EQ(
      Names(RunChrome(CleanGCDownloads, ccGCDownloads, smReport).categories[ccGCDownloads].items),
      (std::vector<std::string>{"C:\\old\\a.exe", "http://b.example/b.exe"}));
  RunChrome(CleanGCDownloads, ccGCDownloads, smClean);
  EXPECT_EQ(Count(db, "downloads"), 0);

  const TPassResult result = RunChrome(CleanGCHistory, ccGCHistory, smClean);
  const TCategoryResult &history = result.categories[ccGCHistory];
  EXPECT_EQ(history.outcome, coDone);
  for (const char *table : {"urls", "visits", "segments"})
    EXPECT_EQ(Count(db, table), 0) << table;
  const std::vector<std::string> skipped = Names(history.skipped);
  EXPECT_NE(std::find(skipped.begin(), skipped.end(),
                      "Default\\History: DELETE FROM visited_links (no table visited_links)"),
            skipped.end());
}

TEST_F(CleanChrome, HistoryTheBrowserHoldsFailsLockedAndStaysByteForByte) {
  const std::string db = Profile("Default", "History");
  MakeDatabase(db, With(kHistorySchema, VisitRows("first.example")));
  const std::string before = HostBytes(db);
  fs.AddFile(Profile("Default", "Sessions\\Session_1"), "https://first.example/");
  TSQLiteDatabase browser(HostPath(db), omReadWrite);
  browser.Execute("BEGIN EXCLUSIVE");

  const TPassResult result = RunChrome(CleanGCHistory, ccGCHistory, smClean);
  EXPECT_EQ(result.categories[ccGCHistory].outcome, coFailed);
  EXPECT_EQ(result.categories[ccGCHistory].reason, kReasonLocked);
  browser.Rollback();
  EXPECT_EQ(HostBytes(db), before);
  // The running browser's session files stay with its database.
  EXPECT_TRUE(fs.Exists(Profile("Default", "Sessions\\Session_1")));
  EXPECT_EQ(Names(result.categories[ccGCHistory].kept),
            (std::vector<std::string>{Profile("Default", "Sessions") + " (" +
                                      std::string(kReasonBrowserRunning) + ")"}));
}

TEST_F(CleanChrome, TopSitesGoesAsAFileUnlessTheBrowserHasItOpen) {
  const std::string topSites = Profile("Default", "Top Sites");
  MakeDatabase(topSites, With(kTopSitesSchema,
                              {"INSERT INTO top_sites VALUES('https://top.example/',0,'Top')"}));
  fs.AddFile(topSites + "-journal");
  fs.AddFile(topSites + "-wal");
  fs.AddFile(Profile("Default", "Current Session"), "old session");

  EXPECT_EQ(Names(RunChrome(CleanGCHistory, ccGCHistory, smReport).categories[ccGCHistory].items),
            (std::vector<std::string>{"Top Sites", "Top Sites-journal", "Top Sites-wal",
                                      "Current Session"}));

  // Held open: its rows go, the file and its journal stay.
  fs.SetInUse(topSites, true);
  EXPECT_EQ(Names(RunChrome(CleanGCHistory, ccGCHistory, smReport).categories[ccGCHistory].items),
            (std::vector<std::string>{"https://top.example/", "Current Session"}));
  RunChrome(CleanGCHistory, ccGCHistory, smClean);
  EXPECT_EQ(Count(topSites, "top_sites"), 0);
  EXPECT_TRUE(fs.Exists(topSites));
  EXPECT_TRUE(fs.Exists(topSites + "-journal"));
  EXPECT_TRUE(fs.Exists(topSites + "-wal"));
  EXPECT_FALSE(fs.Exists(Profile("Default", "Current Session")));

  fs.SetInUse(topSites, false);
  const TPassResult result = RunChrome(CleanGCHistory, ccGCHistory, smClean);
  EXPECT_EQ(result.categories[ccGCHistory].outcome, coDone);
  EXPECT_FALSE(fs.Exists(topSites));
  EXPECT_FALSE(fs.Exists(topSites + "-journal"));
  EXPECT_FALSE(fs.Exists(topSites + "-wal"));
}

TEST_F(CleanChrome, IconsOfVisitedPagesGoButABookmarkedPageKeepsItsIcon) {
  const std::string db = Profile("Default", "Favicons");
  const std::string booked = "https://booked.example/a?b=1&c=<x>";
  MakeDatabase(db, With(kFaviconsSchema,
                        {"INSERT INTO icon_mapping(id,page_url,icon_id) VALUES"
                         "(1,'https://visited.example/',1),(2,'" +
                             booked + "',2)",
                         "INSERT INTO favicons(id,url) VALUES(1,'https://visited.example/i.ico'),"
                         "(2,'https://booked.example/i.ico')",
                         "INSERT INTO favicon_bitmaps(id,icon_id,image_data) VALUES(1,1,x'01'),"
                         "(2,2,x'02')"}));
  // As the browser writes it: "&" and "<" escaped; a folder named "url".
  fs.AddFile(
      Profile("Default", "Bookmarks"),
      "{\"roots\": {\"bookmark_bar\": {\"children\": [ {\"name\": \"url\", "
      "\"type\": \"url\",\n \"url\" : \"https://booked.example/a?b=1\\u0026c=\\u003Cx>\"} ]}}}");
  fs.AddFile(Profile("Default", "History Index 2012-05"), "index");
  fs.AddFile(Profile("Default", "History Index 2012-05-journal"), "journal");

  EXPECT_EQ(Names(RunChrome(CleanGCHistory, ccGCHistory, smReport).categories[ccGCHistory].items),
            (std::vector<std::string>{"https://visited.example/", "History Index 2012-05",
                                      "History Index 2012-05-journal"}));
  const TPassResult result = RunChrome(CleanGCHistory, ccGCHistory, smClean);
  EXPECT_EQ(result.categories[ccGCHistory].outcome, coDone);
  EXPECT_EQ(Count(db, "icon_mapping WHERE page_url = '" + booked + "'"), 1);
  EXPECT_EQ(Count(db, "icon_mapping"), 1);
  EXPECT_EQ(Count(db, "favicons WHERE id = 2"), 1);
  EXPECT_EQ(Count(db, "favicons"), 1);
  EXPECT_EQ(Count(db, "favicon_bitmaps"), 1);
  EXPECT_EQ(HostBytes(db).find("visited.example"), std::string::npos);
  EXPECT_FALSE(fs.Exists(Profile("Default", "History Index 2012-05")));
  EXPECT_FALSE(fs.Exists(Profile("Default", "History Index 2012-05-journal")));
  EXPECT_TRUE(fs.Exists(Profile("Default", "Bookmarks")));

  // A bookmark file cut short keeps nothing it does not name whole.
  const std::string other = Profile("Profile 1", "Favicons");
  MakeDatabase(other, With(kFaviconsSchema, {"INSERT INTO icon_mapping(id,page_url,icon_id) "
                                             "VALUES(1,'https://cut.example/',1)"}));
  fs.AddFile(Profile("Profile 1", "Bookmarks"), "{\"url\": \"https://cut.example/\\u00");
  RunChrome(CleanGCHistory, ccGCHistory, smClean);
  EXPECT_EQ(Count(other, "icon_mapping"), 0);
}

// --- cookies

TEST_F(CleanChrome, CookiesBeyondAThousandSparedAreKeptInBothCookieFiles) {
  std::vector<std::string> rows;
  for (int i = 0; i < 1200; ++i)
    rows.push_back("INSERT INTO cookies VALUES(" + std::to_string(i) + ",'keep.example','','k" +
                   std::to_string(i) + "','v',x'','/',1,0,0,1,1,1,1,0,0,443,1,0,0)");
  for (int i = 0; i < 300; ++i)
    rows.push_back("INSERT INTO cookies VALUES(" + std::to_string(5000 + i) +
                   ",'drop.example','','d" + std::to_string(i) +
                   "','v',x'','/',1,0,0,1,1,1,1,0,0,443,1,0,0)");
  const std::string current = Profile("Default", "Network\\Cookies");
  const std::string old = Profile("Default", "Cookies");
  MakeDatabase(current, With(kCookiesSchema, rows));
  MakeDatabase(old, With(kOldCookiesSchema,
                         {"INSERT INTO cookies VALUES(1,'keep.example','a','v','/',1,0,0,1)",
                          "INSERT INTO cookies VALUES(2,'drop.example','b','v','/',1,0,0,1)"}));
  const test::TChromeRunOptions spare{false, {"keep.example"}};

  const TPassResult analysed = RunChrome(CleanGCCookies, ccGCCookies, smReport, spare);
  const std::vector<std::string> names = Names(analysed.categories[ccGCCookies].items);
  ASSERT_EQ(names.size(), 301u);
  EXPECT_EQ(names.front(), "drop.example : d0");
  EXPECT_EQ(names.back(), "drop.example : b");

  const TPassResult cleaned = RunChrome(CleanGCCookies, ccGCCookies, smClean, spare);
  EXPECT_EQ(cleaned.categories[ccGCCookies].outcome, coDone);
  EXPECT_TRUE(cleaned.categories[ccGCCookies].failures.empty());
  EXPECT_EQ(Count(current, "cookies"), 1200);
  EXPECT_EQ(Count(current, "cookies WHERE host_key = 'keep.example'"), 1200);
  EXPECT_EQ(Count(old, "cookies"), 1);
  EXPECT_EQ(Count(old, "cookies WHERE host_key = 'keep.example'"), 1);
}

// --- downloads

std::vector<std::string> DownloadRows() {
  return {
      "INSERT INTO downloads(id,guid,current_path,target_path,start_time,received_bytes,"
      "total_bytes,state,danger_type,interrupt_reason,hash,end_time,opened,last_access_time,"
      "transient,referrer,site_url,embedder_download_data,tab_url,tab_referrer_url,http_method,"
      "by_ext_id,by_ext_name,by_web_app_id,etag,last_modified,mime_type,original_mime_type) "
      "VALUES(1,'g1','C:\\Users\\user\\Downloads\\tool.zip','C:\\Users\\user\\Downloads\\tool.zip',"
      "1,5000000000,5000000000,1,0,0,x'',1,0,0,0,'','','','','','','','','','','','',''),"
      "(2,'g2','','',1,7,9,2,0,0,x'',1,0,0,0,'','','','','','','','','','','','',''),"
      "(3,'g3','C:\\Users\\user\\Downloads\\link.zip','C:\\Users\\user\\Downloads\\link.zip',"
      "1,1,1,1,0,0,x'',1,0,0,0,'','','','','','','','','','','','',''),"
      "(4,'g4','C:\\Users\\user\\Downloads\\held.zip','C:\\Users\\user\\Downloads\\held.zip',"
      "1,1,1,1,0,0,x'',1,0,0,0,'','','','','','','','','','','','',''),"
      "(5,'g5','C:\\Users\\user\\Downloads\\unpacked','C:\\Users\\user\\Downloads\\unpacked',"
      "1,1,1,1,0,0,x'',1,0,0,0,'','','','','','','','','','','','',''),"
      "(6,'g6','Downloads\\relative.zip','Downloads\\relative.zip',"
      "1,1,1,1,0,0,x'',1,0,0,0,'','','','','','','','','','','','',''),"
      "(7,'g7','C:\\Users\\user\\Downloads\\..\\up.zip','C:\\Windows\\win.ini',"
      "1,1,1,1,0,0,x'',1,0,0,0,'','','','','','','','','','','','','')",
      "INSERT INTO downloads_url_chains VALUES(1,0,'https://dl.example/tool'),"
      "(2,0,'https://dl.example/first'),(2,1,'https://mirror.example/interrupted')",
      "INSERT INTO downloads_slices VALUES(2,0,7,0)",
  };
}

class CleanChromeDownloads : public ChromeTest {
protected:
  void SetUp() override {
    ChromeTest::SetUp();
    MakeDatabase(db, With(kHistorySchema, DownloadRows()));
    fs.AddFile("C:\\Users\\user\\Downloads\\tool.zip", "the user's file");
    fs.AddFile("C:\\Windows\\win.ini", "[windows]");
    fs.AddFile("C:\\Users\\user\\Downloads\\unpacked\\inside.txt", "unpacked");
    fs.AddFile("C:\\Users\\user\\up.zip", "above the downloads");
    fs.AddFile("C:\\Users\\user\\Documents\\precious.zip", "elsewhere");
    fs.AddLink("C:\\Users\\user\\Downloads\\link.zip", "C:\\Users\\user\\Documents\\precious.zip");
    fs.AddFile("C:\\Users\\user\\Downloads\\held.zip", "open");
    fs.SetInUse("C:\\Users\\user\\Downloads\\held.zip", true);
  }
  const std::string db = Profile("Default", "History");
};

TEST_F(CleanChromeDownloads, AnalysisListsEachDownloadByPathElseByItsLastAddress) {
  const TCategoryResult result =
      RunChrome(CleanGCDownloads, ccGCDownloads, smReport).categories[ccGCDownloads];
  ASSERT_EQ(result.items.size(), 7u);
  EXPECT_EQ(result.items[0].Name, "C:\\Users\\user\\Downloads\\tool.zip");
  EXPECT_EQ(result.items[0].Size, 5000000000);
  EXPECT_EQ(result.items[1].Name, "https://mirror.example/interrupted");
  EXPECT_EQ(result.items[1].Size, 7);
  EXPECT_TRUE(result.kept.empty()); // the files are not the category's unless asked for
}

TEST_F(CleanChromeDownloads, CleanRemovesTheListAndTheFilesOnlyWhenAskedAndOnlyRegularOnes) {
  const std::string files = FileDump("C:\\Users\\user");
  RunChrome(CleanGCDownloads, ccGCDownloads, smClean);
  for (const char *table : {"downloads", "downloads_url_chains", "downloads_slices"})
    EXPECT_EQ(Count(db, table), 0) << table;
  EXPECT_EQ(FileDump("C:\\Users\\user"), files);

  MakeDatabase(Profile("Profile 1", "History"), With(kHistorySchema, DownloadRows()));
  const TPassResult result = RunChrome(CleanGCDownloads, ccGCDownloads, smClean, {true, {}});
  EXPECT_FALSE(fs.Exists("C:\\Users\\user\\Downloads\\tool.zip"));
  EXPECT_TRUE(fs.IsLink("C:\\Users\\user\\Downloads\\link.zip"));
  EXPECT_EQ(fs.Content("C:\\Users\\user\\Documents\\precious.zip"), "elsewhere");
  EXPECT_TRUE(fs.Exists("C:\\Users\\user\\Downloads\\held.zip"));
  EXPECT_TRUE(fs.Exists("C:\\Users\\user\\Downloads\\unpacked\\inside.txt"));
  EXPECT_TRUE(fs.Exists("C:\\Windows\\win.ini"));
  EXPECT_TRUE(fs.Exists("C:\\Users\\user\\up.zip"));
  EXPECT_EQ(Sorted(Names(result.categories[ccGCDownloads].kept)),
            Sorted({"C:\\Users\\user\\Downloads\\unpacked (a folder, not a downloaded file)",
                    "C:\\Users\\user\\Downloads\\held.zip (in use)",
                    "C:\\Users\\user\\Downloads\\link.zip (a link to elsewhere, left in place)",
                    "Downloads\\relative.zip (not a plain absolute path)",
                    "C:\\Users\\user\\Downloads\\..\\up.zip (not a plain absolute path)",
                    "C:\\Windows\\win.ini (refused: not a folder the cleaner may empty)"}));
}

TEST_F(CleanChromeDownloads, FilesStayWhenTheListIsLocked) {
  TSQLiteDatabase browser(HostPath(db), omReadWrite);
  browser.Execute("BEGIN EXCLUSIVE");
  const TPassResult result = RunChrome(CleanGCDownloads, ccGCDownloads, smClean, {true, {}});
  browser.Rollback();
  EXPECT_EQ(result.categories[ccGCDownloads].reason, kReasonLocked);
  EXPECT_TRUE(fs.Exists("C:\\Users\\user\\Downloads\\tool.zip"));
  EXPECT_EQ(Count(db, "downloads"), 7);
}

// --- form data and passwords

TEST_F(CleanChrome, FormDataOfBothTablesIsListedAndRemovedButAddressesStay) {
  const std::string db = Profile("Default", "Web Data");
  MakeDatabase(db, With(kWebDataSchema,
                        {"INSERT INTO autofill(name,value) VALUES('email','me@example.com')",
                         "INSERT INTO autocomplete(name,label,value) VALUES('q','','searched')",
                         "INSERT INTO addresses(guid) VALUES('home')"}));
  MakeDatabase(Profile("Profile 1", "Web Data"),
               With(kOldWebDataSchema, {"INSERT INTO autofill VALUES('city','Paris','paris',1,1)",
                                        "INSERT INTO autofill_dates VALUES(1,1)"}));
  EXPECT_EQ(
      Names(RunChrome(CleanGCFormInfo, ccGCFormInfo, smReport).categories[ccGCFormInfo].items),
      (std::vector<std::string>{"email : me@example.com", "q : searched", "city : Paris"}));
  RunChrome(CleanGCFormInfo, ccGCFormInfo, smClean);
  EXPECT_EQ(Count(db, "autofill"), 0);
  EXPECT_EQ(Count(db, "autocomplete"), 0);
  EXPECT_EQ(Count(db, "addresses"), 1);
  EXPECT_EQ(Count(Profile("Profile 1", "Web Data"), "autofill_dates"), 0);
}

TEST_F(CleanChrome, PasswordsGoWithTheirNotes) {
  const std::string db = Profile("Default", "Login Data");
  MakeDatabase(db,
               With(kLoginDataSchema,
                    {"INSERT INTO logins(id,origin_url,username_value,signon_realm,date_created,"
                     "blacklisted_by_user,scheme) VALUES(1,'https://bank.example/','me','r',1,0,0)",
                     "INSERT INTO password_notes(parent_id,key,date_created) VALUES(1,'note',1)"}));
  EXPECT_EQ(
      Names(RunChrome(CleanGCPasswords, ccGCPassword, smReport).categories[ccGCPassword].items),
      (std::vector<std::string>{"https://bank.example/ : me"}));
  RunChrome(CleanGCPasswords, ccGCPassword, smClean);
  EXPECT_EQ(Count(db, "logins"), 0);
  EXPECT_EQ(Count(db, "password_notes"), 0);
}

// --- cache

TEST_F(CleanChrome, CacheFoldersOfEveryProfileAreSweptAndAFileInUseStays) {
  fs.AddFile(Profile("Default", "Cache\\Cache_Data\\f_000001"), "cached");
  fs.AddFile(Profile("Default", "Code Cache\\js\\index"), "code");
  fs.AddFile(Profile("Profile 1", "GPUCache\\data_0"), "gpu");
  fs.AddFile(Profile("Profile 1", "GPUCache\\data_1"), "held");
  fs.SetInUse(Profile("Profile 1", "GPUCache\\data_1"), true);
  fs.AddFile(Profile("Default", "Bookmarks"), "{}");

  EXPECT_EQ(Names(RunChrome(CleanGCCache, ccGCCache, smReport).categories[ccGCCache].items),
            (std::vector<std::string>{"Cache_Data\\f_000001", "js\\index", "data_0"}));
  const TPassResult result = RunChrome(CleanGCCache, ccGCCache, smClean);
  EXPECT_FALSE(fs.Exists(Profile("Default", "Cache")));
  EXPECT_FALSE(fs.Exists(Profile("Default", "Code Cache")));
  EXPECT_FALSE(fs.Exists(Profile("Profile 1", "GPUCache\\data_0")));
  EXPECT_TRUE(fs.Exists(Profile("Profile 1", "GPUCache\\data_1")));
  EXPECT_TRUE(fs.Exists(Profile("Default", "Bookmarks")));
  EXPECT_EQ(Names(result.categories[ccGCCache].kept),
            (std::vector<std::string>{"data_1 (in use)"}));
}

} // namespace
} // namespace quenlo
