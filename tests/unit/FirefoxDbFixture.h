// The Firefox handlers' tests run on the in-memory machine, with every
// database a real SQLite file in a host folder: the machine holds an
// empty file at the database's path (so that the handler finds it) and
// the pass's path map opens the host file of the same relative path.
//
// The schemas are the CREATE statements of a profile Firefox ESR wrote
// (sqlite_master), plus one layout of the old versions.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "CleanItemsFixture.h"
#include "cleaner/uSQLite3Table.h"

namespace quenlo::test {

// places.sqlite as Firefox ESR writes it (user_version 86).
inline constexpr const char *kFirefoxPlacesSchema = R"sql(
CREATE TABLE moz_origins ( id INTEGER PRIMARY KEY, prefix TEXT NOT NULL, host TEXT NOT NULL, frecency INTEGER NOT NULL, recalc_frecency INTEGER NOT NULL DEFAULT 0, alt_frecency INTEGER, recalc_alt_frecency INTEGER NOT NULL DEFAULT 0, block_until_ms INTEGER, block_pages_until_ms INTEGER, UNIQUE (prefix, host) );
CREATE TABLE moz_places (   id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, typed INTEGER DEFAULT 0 NOT NULL, frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date INTEGER , guid TEXT, foreign_count INTEGER DEFAULT 0 NOT NULL, url_hash INTEGER DEFAULT 0 NOT NULL , description TEXT, preview_image_url TEXT, site_name TEXT, origin_id INTEGER REFERENCES moz_origins(id), recalc_frecency INTEGER NOT NULL DEFAULT 0, alt_frecency INTEGER, recalc_alt_frecency INTEGER NOT NULL DEFAULT 0);
CREATE TABLE moz_places_extra (  place_id INTEGER PRIMARY KEY NOT NULL, sync_json TEXT, FOREIGN KEY (place_id) REFERENCES moz_places(id) ON DELETE CASCADE );
CREATE INDEX moz_places_url_hashindex ON moz_places (url_hash);
CREATE INDEX moz_places_hostindex ON moz_places (rev_host);
CREATE INDEX moz_places_visitcount ON moz_places (visit_count);
CREATE INDEX moz_places_frecencyindex ON moz_places (frecency);
CREATE INDEX moz_places_lastvisitdateindex ON moz_places (last_visit_date);
CREATE UNIQUE INDEX moz_places_guid_uniqueindex ON moz_places (guid);
CREATE INDEX moz_places_originidindex ON moz_places (origin_id);
CREATE INDEX moz_places_altfrecencyindex ON moz_places (alt_frecency);
CREATE TABLE moz_historyvisits (  id INTEGER PRIMARY KEY, from_visit INTEGER, place_id INTEGER, visit_date INTEGER, visit_type INTEGER, session INTEGER, source INTEGER DEFAULT 0 NOT NULL, triggeringPlaceId INTEGER);
CREATE TABLE moz_historyvisits_extra (  visit_id INTEGER PRIMARY KEY NOT NULL, sync_json TEXT, FOREIGN KEY (visit_id) REFERENCES moz_historyvisits(id) ON   DELETE CASCADE);
CREATE INDEX moz_historyvisits_placedateindex ON moz_historyvisits (place_id, visit_date);
CREATE INDEX moz_historyvisits_fromindex ON moz_historyvisits (from_visit);
CREATE INDEX moz_historyvisits_dateindex ON moz_historyvisits (visit_date);
CREATE TABLE moz_inputhistory (  place_id INTEGER NOT NULL, input LONGVARCHAR NOT NULL, use_count INTEGER, PRIMARY KEY (place_id, input));
CREATE TABLE moz_bookmarks (  id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL, parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER, folder_type TEXT, dateAdded INTEGER, lastModified INTEGER, guid TEXT, syncStatus INTEGER NOT NULL DEFAULT 0, syncChangeCounter INTEGER NOT NULL DEFAULT 1);
CREATE TABLE moz_bookmarks_deleted (  guid TEXT PRIMARY KEY, dateRemoved INTEGER NOT NULL DEFAULT 0);
CREATE INDEX moz_bookmarks_itemindex ON moz_bookmarks (fk, type);
CREATE INDEX moz_bookmarks_parentindex ON moz_bookmarks (parent, position);
CREATE INDEX moz_bookmarks_itemlastmodifiedindex ON moz_bookmarks (fk, lastModified);
CREATE INDEX moz_bookmarks_dateaddedindex ON moz_bookmarks (dateAdded);
CREATE UNIQUE INDEX moz_bookmarks_guid_uniqueindex ON moz_bookmarks (guid);
CREATE TABLE moz_keywords (  id INTEGER PRIMARY KEY AUTOINCREMENT, keyword TEXT UNIQUE, place_id INTEGER, post_data TEXT);
CREATE UNIQUE INDEX moz_keywords_placepostdata_uniqueindex ON moz_keywords (place_id, post_data);
CREATE TABLE moz_anno_attributes (  id INTEGER PRIMARY KEY, name VARCHAR(32) UNIQUE NOT NULL);
CREATE TABLE moz_annos (  id INTEGER PRIMARY KEY, place_id INTEGER NOT NULL, anno_attribute_id INTEGER, content LONGVARCHAR, flags INTEGER DEFAULT 0, expiration INTEGER DEFAULT 0, type INTEGER DEFAULT 0, dateAdded INTEGER DEFAULT 0, lastModified INTEGER DEFAULT 0);
CREATE UNIQUE INDEX moz_annos_placeattributeindex ON moz_annos (place_id, anno_attribute_id);
CREATE TABLE moz_items_annos (  id INTEGER PRIMARY KEY, item_id INTEGER NOT NULL, anno_attribute_id INTEGER, content LONGVARCHAR, flags INTEGER DEFAULT 0, expiration INTEGER DEFAULT 0, type INTEGER DEFAULT 0, dateAdded INTEGER DEFAULT 0, lastModified INTEGER DEFAULT 0);
CREATE UNIQUE INDEX moz_items_annos_itemattributeindex ON moz_items_annos (item_id, anno_attribute_id);
CREATE TABLE moz_meta (key TEXT PRIMARY KEY, value NOT NULL) WITHOUT ROWID ;
CREATE TABLE moz_places_metadata (id INTEGER PRIMARY KEY, place_id INTEGER NOT NULL, referrer_place_id INTEGER, created_at INTEGER NOT NULL DEFAULT 0, updated_at INTEGER NOT NULL DEFAULT 0, total_view_time INTEGER NOT NULL DEFAULT 0, typing_time INTEGER NOT NULL DEFAULT 0, key_presses INTEGER NOT NULL DEFAULT 0, scrolling_time INTEGER NOT NULL DEFAULT 0, scrolling_distance INTEGER NOT NULL DEFAULT 0, document_type INTEGER NOT NULL DEFAULT 0, search_query_id INTEGER, FOREIGN KEY (place_id) REFERENCES moz_places(id) ON DELETE CASCADE, FOREIGN KEY (referrer_place_id) REFERENCES moz_places(id) ON DELETE CASCADE, FOREIGN KEY(search_query_id) REFERENCES moz_places_metadata_search_queries(id) ON DELETE CASCADE CHECK(place_id != referrer_place_id) );
CREATE UNIQUE INDEX moz_places_metadata_placecreated_uniqueindex ON moz_places_metadata (place_id, created_at);
CREATE INDEX moz_places_metadata_referrerindex ON moz_places_metadata (referrer_place_id);
CREATE TABLE moz_places_metadata_search_queries ( id INTEGER PRIMARY KEY, terms TEXT NOT NULL UNIQUE );
CREATE TABLE moz_previews_tombstones (   hash TEXT PRIMARY KEY ) WITHOUT ROWID;
CREATE TABLE moz_newtab_shortcuts_interaction (   id INTEGER PRIMARY KEY,   place_id INTEGER NOT NULL REFERENCES moz_places(id) ON DELETE CASCADE,   event_type INTEGER NOT NULL,   timestamp_s INTEGER NOT NULL,   pinned INTEGER NOT NULL CHECK (pinned IN (0, 1)),   tile_position INTEGER NOT NULL);
CREATE INDEX moz_newtab_shortcuts_interaction_placeidindex ON moz_newtab_shortcuts_interaction (place_id);
)sql";

inline constexpr const char *kFirefoxFaviconsSchema = R"sql(
CREATE TABLE moz_icons ( id INTEGER PRIMARY KEY, icon_url TEXT NOT NULL, fixed_icon_url_hash INTEGER NOT NULL, width INTEGER NOT NULL DEFAULT 0, root INTEGER NOT NULL DEFAULT 0, color INTEGER, expire_ms INTEGER NOT NULL DEFAULT 0, flags INTEGER NOT NULL DEFAULT 0, data BLOB );
CREATE INDEX moz_icons_iconurlhashindex ON moz_icons (fixed_icon_url_hash);
CREATE TABLE moz_pages_w_icons ( id INTEGER PRIMARY KEY, page_url TEXT NOT NULL, page_url_hash INTEGER NOT NULL );
CREATE INDEX moz_pages_w_icons_urlhashindex ON moz_pages_w_icons (page_url_hash);
CREATE TABLE moz_icons_to_pages ( page_id INTEGER NOT NULL, icon_id INTEGER NOT NULL, expire_ms INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (page_id, icon_id), FOREIGN KEY (page_id) REFERENCES moz_pages_w_icons ON DELETE CASCADE, FOREIGN KEY (icon_id) REFERENCES moz_icons ON DELETE CASCADE ) WITHOUT ROWID ;
)sql";

inline constexpr const char *kFirefoxCookiesSchema = R"sql(
CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER DEFAULT 0, schemeMap INTEGER DEFAULT 0, isPartitionedAttributeSet INTEGER DEFAULT 0, updateTime INTEGER, CONSTRAINT moz_uniqueid UNIQUE (name, host, path, originAttributes));
)sql";

// formhistory.sqlite: Firefox writes it on the first form entry it keeps.
inline constexpr const char *kFirefoxFormHistorySchema = R"sql(
CREATE TABLE moz_formhistory (id INTEGER PRIMARY KEY, fieldname TEXT NOT NULL, value TEXT NOT NULL, timesUsed INTEGER, firstUsed INTEGER, lastUsed INTEGER, guid TEXT);
CREATE TABLE moz_deleted_formhistory (id INTEGER PRIMARY KEY, timeDeleted INTEGER, guid TEXT);
CREATE TABLE moz_sources (id INTEGER PRIMARY KEY, source TEXT NOT NULL);
CREATE TABLE moz_history_to_sources (history_id INTEGER, source_id INTEGER, PRIMARY KEY (history_id, source_id), FOREIGN KEY (history_id) REFERENCES moz_formhistory(id) ON DELETE CASCADE, FOREIGN KEY (source_id) REFERENCES moz_sources(id) ON DELETE CASCADE) WITHOUT ROWID;
CREATE INDEX moz_formhistory_index ON moz_formhistory (fieldname);
)sql";

// The layout of the old versions: icons in places.sqlite, no
// foreign_count, downloads in a database of their own.
inline constexpr const char *kOldFirefoxPlacesSchema = R"sql(
CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR, rev_host LONGVARCHAR, visit_count INTEGER DEFAULT 0, hidden INTEGER DEFAULT 0 NOT NULL, typed INTEGER DEFAULT 0 NOT NULL, favicon_id INTEGER, frecency INTEGER DEFAULT -1 NOT NULL, last_visit_date INTEGER);
CREATE TABLE moz_historyvisits (id INTEGER PRIMARY KEY, from_visit INTEGER, place_id INTEGER, visit_date INTEGER, visit_type INTEGER, session INTEGER);
CREATE TABLE moz_inputhistory (place_id INTEGER NOT NULL, input LONGVARCHAR NOT NULL, use_count INTEGER, PRIMARY KEY (place_id, input));
CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER DEFAULT NULL, parent INTEGER, position INTEGER, title LONGVARCHAR, keyword_id INTEGER, folder_type TEXT, dateAdded INTEGER, lastModified INTEGER);
CREATE TABLE moz_keywords (id INTEGER PRIMARY KEY AUTOINCREMENT, keyword TEXT UNIQUE);
CREATE TABLE moz_favicons (id INTEGER PRIMARY KEY, url LONGVARCHAR UNIQUE, data BLOB, mime_type VARCHAR(32), expiration LONG);
CREATE TABLE moz_anno_attributes (id INTEGER PRIMARY KEY, name VARCHAR(32) UNIQUE NOT NULL);
CREATE TABLE moz_annos (id INTEGER PRIMARY KEY, place_id INTEGER NOT NULL, anno_attribute_id INTEGER, mime_type VARCHAR(32) DEFAULT NULL, content LONGVARCHAR, flags INTEGER DEFAULT 0, expiration INTEGER DEFAULT 0, type INTEGER DEFAULT 0, dateAdded INTEGER DEFAULT 0, lastModified INTEGER DEFAULT 0);
)sql";

inline constexpr const char *kOldFirefoxDownloadsSchema = R"sql(
CREATE TABLE moz_downloads (id INTEGER PRIMARY KEY, name TEXT, source TEXT, target TEXT, tempPath TEXT, startTime INTEGER, endTime INTEGER, state INTEGER, referrer TEXT, entityID TEXT, currBytes INTEGER NOT NULL DEFAULT 0, maxBytes INTEGER NOT NULL DEFAULT -1, mimeType TEXT, preferredApplication TEXT, preferredAction INTEGER NOT NULL DEFAULT 0, autoResume INTEGER NOT NULL DEFAULT 0);
)sql";

inline constexpr const char *kRoaming = "C:\\Users\\user\\AppData\\Roaming";
inline constexpr const char *kLocal = "C:\\Users\\user\\AppData\\Local";
inline constexpr const char *kFirefoxRoaming =
    "C:\\Users\\user\\AppData\\Roaming\\Mozilla\\Firefox";
inline constexpr const char *kFirefoxLocal = "C:\\Users\\user\\AppData\\Local\\Mozilla\\Firefox";

struct TFirefoxRunOptions {
  bool deleteDownloadedFiles = false;
  // The cookie query's answer by host; a host not named may be deleted.
  std::map<std::string, bool> cookieAnswers;
};

class FirefoxDbTest : public HostDatabaseTest {
protected:
  // A database at the machine path: the schema (statements separated by
  // ";" at a line's end), then the rows. In WAL mode, as Firefox keeps it.
  void MakeDatabase(const std::string &machinePath, std::string_view schema,
                    const std::vector<std::string> &rows = {}) {
    fs.AddFile(machinePath, "");
    const std::string file = HostPath(machinePath);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary).flush();
    TSQLiteDatabase db(file, omReadWrite);
    { TSQLiteUniTable wal(db, "PRAGMA journal_mode=WAL"); }
    TSQLiteTransaction transaction(db);
    for (std::size_t start = 0; start < schema.size();) {
      std::size_t end = schema.find(";\n", start);
      if (end == std::string_view::npos)
        end = schema.size();
      const std::string statement(schema.substr(start, end - start));
      if (statement.find_first_not_of(" \n") != std::string::npos)
        db.Execute(statement);
      start = end + 2;
    }
    for (const std::string &row : rows)
      db.Execute(row);
    transaction.Commit();
  }

  // Answers of one query on the host file, each row's fields joined by
  // "|".
  std::vector<std::string> Rows(const std::string &machinePath, std::string_view sql) {
    std::vector<std::string> rows;
    TSQLiteDatabase db(HostPath(machinePath), omReadOnly);
    for (TSQLiteUniTable row(db, sql); !row.Eof(); row.Next()) {
      std::string text;
      for (int i = 0; i < row.ColCount(); ++i)
        text += (i == 0 ? "" : "|") + (row.FieldIsNull(i) ? "NULL" : row.FieldAsString(i));
      rows.push_back(text);
    }
    return rows;
  }

  // Every host file below the host folder with its size and bytes.
  std::string HostDump() const {
    std::string out;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(host_)) {
      out += entry.path().string();
      if (entry.is_regular_file()) {
        std::ifstream in(entry.path(), std::ios::binary);
        out +=
            " " + std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      }
      out += "\n";
    }
    return out;
  }

  // A profile listed in profiles.ini; answers its roaming folder (with a
  // closing backslash).
  std::string AddProfile(const std::string &leaf) {
    profilesIni_ += "[Profile" + std::to_string(profileCount_++) + "]\r\nName=" + leaf +
                    "\r\nIsRelative=1\r\nPath=Profiles/" + leaf + "\r\n\r\n";
    fs.AddFile(std::string(kFirefoxRoaming) + "\\profiles.ini", profilesIni_);
    fs.AddDir(std::string(kFirefoxRoaming) + "\\Profiles\\" + leaf);
    return std::string(kFirefoxRoaming) + "\\Profiles\\" + leaf + "\\";
  }
  std::string LocalOf(const std::string &leaf) {
    fs.AddDir(std::string(kFirefoxLocal) + "\\Profiles\\" + leaf);
    return std::string(kFirefoxLocal) + "\\Profiles\\" + leaf + "\\";
  }

  // One handler as a pass of the mode runs it, the databases mapped to the
  // host files.
  TPassResult RunFirefox(TCategoryHandler handler, TCleanCategory category, TScanMode mode,
                         const TFirefoxRunOptions &options = {}) {
    return RunMapped(handler, category, mode,
                     {.deleteDownloadedFiles = options.deleteDownloadedFiles,
                      .onCookie = [this, &options](const std::string &url, bool &canDelete) {
                        ++cookieQueries[url];
                        const auto answer = options.cookieAnswers.find(url);
                        if (answer != options.cookieAnswers.end())
                          canDelete = answer->second;
                      }});
  }

  std::map<std::string, int> cookieQueries;

private:
  std::string profilesIni_;
  int profileCount_ = 0;
};

} // namespace quenlo::test
