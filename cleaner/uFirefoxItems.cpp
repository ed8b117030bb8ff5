// The handlers of the Firefox categories (19-24), for every profile the
// user has (uFirefoxProfiles.h): visited addresses with their session
// files, the cache, cookies, form history, downloads and the address bar's
// input history.
//
// Every database step goes through uBrowserDb.h, so that a statement meant
// for another version's layout is skipped, not failed, and a database the
// running browser holds fails the category and stays unchanged.
//
// History is removed the way Firefox clears it itself: every visit goes,
// and every place nothing but history refers to. A place a bookmark or a
// keyword refers to stays (its bookmark would otherwise point nowhere),
// with its counts reset; what hangs off removed places (annotations,
// typed inputs, origins, favicons) goes with them.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/uBrowserDb.h"
#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"
#include "cleaner/uFirefoxProfiles.h"
#include "cleaner/uItemTools.h"
#include "platform/FileOps.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "platform/WinConst.h"

namespace quenlo {

namespace {

constexpr std::string_view kPlaces = "places.sqlite";
constexpr std::string_view kFavicons = "favicons.sqlite";
constexpr std::string_view kCookies = "cookies.sqlite";
constexpr std::string_view kFormHistory = "formhistory.sqlite";
constexpr std::string_view kOldDownloads = "downloads.sqlite";
constexpr std::string_view kUrlClassifier = "urlclassifier3.sqlite";
// The open windows and tabs with their addresses: history too.
constexpr std::string_view kSessionFiles[] = {"sessionstore.jsonlz4", "sessionstore.js"};
constexpr std::string_view kSessionBackups = "sessionstore-backups";
// cache2 is today's disk cache; the other two are older versions'.
constexpr std::string_view kCacheFolders[] = {"cache2", "Cache", "OfflineCache"};

constexpr std::string_view kFileUriPrefix = "file:///";
constexpr std::string_view kFileSizeKey = "\"fileSize\"";

// --- places.sqlite: history

const TBrowserStatement kVisitsQuery{
    "SELECT p.url FROM moz_historyvisits h JOIN moz_places p ON h.place_id = p.id ORDER BY h.id",
    {"moz_historyvisits.place_id", "moz_places.id", "moz_places.url"}};

// The place delete of today's layout: foreign_count counts the bookmarks
// and keywords of a place; the two tests after it keep a place whose count
// went wrong all the same.
const TBrowserStatement kDeleteUnreferencedPlaces{
    "DELETE FROM moz_places WHERE foreign_count = 0"
    " AND NOT EXISTS (SELECT 1 FROM moz_bookmarks b WHERE b.fk = moz_places.id)"
    " AND NOT EXISTS (SELECT 1 FROM moz_keywords k WHERE k.place_id = moz_places.id)",
    {"moz_places.foreign_count", "moz_places.id", "moz_bookmarks.fk", "moz_keywords.place_id"}};
// Older layouts have no foreign_count; their keywords hang off bookmarks.
const TBrowserStatement kDeleteUnbookmarkedPlaces{
    "DELETE FROM moz_places"
    " WHERE NOT EXISTS (SELECT 1 FROM moz_bookmarks b WHERE b.fk = moz_places.id)",
    {"moz_places.id", "moz_bookmarks.fk"}};

// What refers to places that are gone; run after any place delete.
const std::vector<TBrowserStatement> &PlaceOrphanStatements() {
  static const std::vector<TBrowserStatement> statements = {
      {"DELETE FROM moz_annos"
       " WHERE NOT EXISTS (SELECT 1 FROM moz_places p WHERE p.id = moz_annos.place_id)",
       {"moz_annos.place_id", "moz_places.id"}},
      {"DELETE FROM moz_inputhistory"
       " WHERE NOT EXISTS (SELECT 1 FROM moz_places p WHERE p.id = moz_inputhistory.place_id)",
       {"moz_inputhistory.place_id", "moz_places.id"}},
      {"DELETE FROM moz_places_extra"
       " WHERE NOT EXISTS (SELECT 1 FROM moz_places p WHERE p.id = moz_places_extra.place_id)",
       {"moz_places_extra.place_id", "moz_places.id"}},
      {"DELETE FROM moz_places_metadata"
       " WHERE NOT EXISTS (SELECT 1 FROM moz_places p WHERE p.id = moz_places_metadata.place_id)",
       {"moz_places_metadata.place_id", "moz_places.id"}},
      {"DELETE FROM moz_origins"
       " WHERE NOT EXISTS (SELECT 1 FROM moz_places p WHERE p.origin_id = moz_origins.id)",
       {"moz_origins.id", "moz_places.origin_id"}},
      // Layouts before favicons.sqlite kept the icons in places.sqlite.
      {"DELETE FROM moz_favicons"
       " WHERE NOT EXISTS (SELECT 1 FROM moz_places p WHERE p.favicon_id = moz_favicons.id)",
       {"moz_favicons.id", "moz_places.favicon_id"}},
  };
  return statements;
}

// The history clean of places.sqlite. counted: the layout has
// moz_places.foreign_count.
std::vector<TBrowserStatement> HistoryStatements(bool counted) {
  std::vector<TBrowserStatement> statements = {
      {"DELETE FROM moz_historyvisits", {"moz_historyvisits"}},
      {"DELETE FROM moz_historyvisits_extra", {"moz_historyvisits_extra"}},
      // When and how long pages were looked at, and what was searched
      // for: history even where the page itself is bookmarked.
      {"DELETE FROM moz_places_metadata", {"moz_places_metadata"}},
      {"DELETE FROM moz_places_metadata_search_queries", {"moz_places_metadata_search_queries"}},
      {"DELETE FROM moz_newtab_shortcuts_interaction", {"moz_newtab_shortcuts_interaction"}},
      counted ? kDeleteUnreferencedPlaces : kDeleteUnbookmarkedPlaces,
  };
  const std::vector<TBrowserStatement> &orphans = PlaceOrphanStatements();
  statements.insert(statements.end(), orphans.begin(), orphans.end());
  // The places that stay are bookmarks without visits now. A frecency of
  // -1 with the recalculation flags set is how Firefox writes a place it
  // has not weighed yet; it weighs them again on its next start.
  const std::vector<TBrowserStatement> resets = {
      {"UPDATE moz_places SET visit_count = 0, last_visit_date = NULL, typed = 0",
       {"moz_places.visit_count", "moz_places.last_visit_date", "moz_places.typed"}},
      {"UPDATE moz_places SET frecency = -1", {"moz_places.frecency"}},
      {"UPDATE moz_places SET recalc_frecency = 1", {"moz_places.recalc_frecency"}},
      {"UPDATE moz_places SET alt_frecency = NULL, recalc_alt_frecency = 1",
       {"moz_places.alt_frecency", "moz_places.recalc_alt_frecency"}},
      {"UPDATE moz_origins SET frecency = -1, recalc_frecency = 1",
       {"moz_origins.frecency", "moz_origins.recalc_frecency"}},
      {"UPDATE moz_origins SET alt_frecency = NULL, recalc_alt_frecency = 1",
       {"moz_origins.alt_frecency", "moz_origins.recalc_alt_frecency"}},
  };
  statements.insert(statements.end(), resets.begin(), resets.end());
  return statements;
}

// --- favicons.sqlite

const TBrowserStatement kPlaceUrlsQuery{"SELECT url FROM moz_places", {"moz_places.url"}};
constexpr std::string_view kTempStoreInMemory = "PRAGMA temp_store = MEMORY";
constexpr std::string_view kCreateKeptPages =
    "CREATE TEMP TABLE IF NOT EXISTS quenlo_kept_pages(url TEXT PRIMARY KEY)";
constexpr std::string_view kAddKeptPage =
    "INSERT OR IGNORE INTO temp.quenlo_kept_pages(url) VALUES(?1)";
constexpr std::string_view kDropKeptPages = "DROP TABLE IF EXISTS temp.quenlo_kept_pages";
const std::vector<TBrowserStatement> &FaviconStatements() {
  static const std::vector<TBrowserStatement> statements = {
      {"DELETE FROM moz_icons_to_pages WHERE page_id IN (SELECT id FROM moz_pages_w_icons"
       " WHERE page_url NOT IN (SELECT url FROM temp.quenlo_kept_pages))",
       {"moz_icons_to_pages.page_id", "moz_pages_w_icons.id", "moz_pages_w_icons.page_url"}},
      {"DELETE FROM moz_pages_w_icons"
       " WHERE page_url NOT IN (SELECT url FROM temp.quenlo_kept_pages)",
       {"moz_pages_w_icons.page_url"}},
      {"DELETE FROM moz_icons WHERE root = 0 AND NOT EXISTS"
       " (SELECT 1 FROM moz_icons_to_pages t WHERE t.icon_id = moz_icons.id)",
       {"moz_icons.id", "moz_icons.root", "moz_icons_to_pages.icon_id"}},
  };
  return statements;
}
// A site's root icon ("/favicon.ico") belongs to no page; it stays while a
// kept place is on its host.
const TBrowserStatement kRootIconsQuery{
    "SELECT id, icon_url FROM moz_icons WHERE root = 1 AND NOT EXISTS"
    " (SELECT 1 FROM moz_icons_to_pages t WHERE t.icon_id = moz_icons.id)",
    {"moz_icons.id", "moz_icons.icon_url", "moz_icons.root", "moz_icons_to_pages.icon_id"}};
const TBrowserStatement kDeleteIcon{"DELETE FROM moz_icons WHERE id = ?1", {"moz_icons.id"}};

// --- the other categories

const TBrowserStatement kCookiesQuery{"SELECT id, host, name FROM moz_cookies ORDER BY id",
                                      {"moz_cookies.id", "moz_cookies.host", "moz_cookies.name"}};
const TBrowserStatement kDeleteCookie{"DELETE FROM moz_cookies WHERE id = ?1", {"moz_cookies.id"}};

const TBrowserStatement kFormHistoryQuery{"SELECT fieldname FROM moz_formhistory ORDER BY id",
                                          {"moz_formhistory.fieldname"}};
const std::vector<TBrowserStatement> &FormHistoryStatements() {
  static const std::vector<TBrowserStatement> statements = {
      {"DELETE FROM moz_formhistory", {"moz_formhistory"}},
      {"DELETE FROM moz_history_to_sources WHERE NOT EXISTS"
       " (SELECT 1 FROM moz_formhistory f WHERE f.id = moz_history_to_sources.history_id)",
       {"moz_history_to_sources.history_id", "moz_formhistory.id"}},
      {"DELETE FROM moz_sources WHERE NOT EXISTS"
       " (SELECT 1 FROM moz_history_to_sources s WHERE s.source_id = moz_sources.id)",
       {"moz_sources.id", "moz_history_to_sources.source_id"}},
  };
  return statements;
}

const TBrowserStatement kInputHistoryQuery{"SELECT input FROM moz_inputhistory ORDER BY rowid",
                                           {"moz_inputhistory.input"}};
const TBrowserStatement kDeleteInputHistory{"DELETE FROM moz_inputhistory", {"moz_inputhistory"}};

// The phishing filter's database of old versions, in the local profile.
std::vector<TBrowserStatement> ClassifierQueries() {
  return {
      {"SELECT id, domain FROM moz_classifier", {"moz_classifier.id", "moz_classifier.domain"}},
      {"SELECT id, domain FROM moz_subs", {"moz_subs.id", "moz_subs.domain"}},
  };
}
std::vector<TBrowserStatement> ClassifierStatements() {
  return {
      {"DELETE FROM moz_classifier", {"moz_classifier"}},
      {"DELETE FROM moz_subs", {"moz_subs"}},
  };
}

// Downloads of today's layout: places that carry a download annotation or
// a download visit (transition 7), with the target file's address and the
// annotation Firefox keeps its size in.
const TBrowserStatement kDownloadsQuery{
    "SELECT p.id, p.url,"
    " (SELECT a.content FROM moz_annos a JOIN moz_anno_attributes n ON n.id = a.anno_attribute_id"
    "  WHERE a.place_id = p.id AND n.name = 'downloads/destinationFileURI'),"
    " (SELECT a.content FROM moz_annos a JOIN moz_anno_attributes n ON n.id = a.anno_attribute_id"
    "  WHERE a.place_id = p.id AND n.name = 'downloads/metaData')"
    " FROM moz_places p"
    " WHERE EXISTS (SELECT 1 FROM moz_annos a JOIN moz_anno_attributes n"
    "  ON n.id = a.anno_attribute_id WHERE a.place_id = p.id AND n.name LIKE 'downloads/%')"
    " OR EXISTS (SELECT 1 FROM moz_historyvisits v WHERE v.place_id = p.id AND v.visit_type = 7)"
    " ORDER BY p.id",
    {"moz_places.id", "moz_places.url", "moz_annos.place_id", "moz_annos.anno_attribute_id",
     "moz_annos.content", "moz_anno_attributes.id", "moz_anno_attributes.name",
     "moz_historyvisits.place_id", "moz_historyvisits.visit_type"}};
// One download's history; ?1 is its place.
const std::vector<TBrowserStatement> &DownloadStatements(bool counted) {
  static const std::vector<TBrowserStatement> common = {
      {"DELETE FROM moz_annos WHERE place_id = ?1 AND anno_attribute_id IN"
       " (SELECT id FROM moz_anno_attributes WHERE name LIKE 'downloads/%')",
       {"moz_annos.place_id", "moz_annos.anno_attribute_id", "moz_anno_attributes.id",
        "moz_anno_attributes.name"}},
      {"DELETE FROM moz_historyvisits WHERE place_id = ?1 AND visit_type = 7",
       {"moz_historyvisits.place_id", "moz_historyvisits.visit_type"}},
  };
  // The place itself goes only when nothing else refers to it: no
  // bookmark, no keyword, no visit but the download's.
  static const std::vector<TBrowserStatement> current = [] {
    std::vector<TBrowserStatement> list = common;
    list.push_back({"DELETE FROM moz_places WHERE id = ?1 AND foreign_count = 0"
                    " AND NOT EXISTS (SELECT 1 FROM moz_bookmarks b WHERE b.fk = ?1)"
                    " AND NOT EXISTS (SELECT 1 FROM moz_keywords k WHERE k.place_id = ?1)"
                    " AND NOT EXISTS (SELECT 1 FROM moz_historyvisits v WHERE v.place_id = ?1)",
                    {"moz_places.id", "moz_places.foreign_count", "moz_bookmarks.fk",
                     "moz_keywords.place_id", "moz_historyvisits.place_id"}});
    return list;
  }();
  static const std::vector<TBrowserStatement> old = [] {
    std::vector<TBrowserStatement> list = common;
    list.push_back({"DELETE FROM moz_places WHERE id = ?1"
                    " AND NOT EXISTS (SELECT 1 FROM moz_bookmarks b WHERE b.fk = ?1)"
                    " AND NOT EXISTS (SELECT 1 FROM moz_historyvisits v WHERE v.place_id = ?1)",
                    {"moz_places.id", "moz_bookmarks.fk", "moz_historyvisits.place_id"}});
    return list;
  }();
  return counted ? current : old;
}

// Firefox before version 20 kept its downloads in a database of their own.
const TBrowserStatement kOldDownloadsQuery{
    "SELECT id, name, source, target, currBytes FROM moz_downloads ORDER BY id",
    {"moz_downloads.id", "moz_downloads.name", "moz_downloads.source", "moz_downloads.target",
     "moz_downloads.currBytes"}};
const TBrowserStatement kDeleteOldDownloads{"DELETE FROM moz_downloads", {"moz_downloads"}};

// --- helpers

std::string DatabaseFile(const std::string &folder, std::string_view name) {
  return folder + std::string(name);
}

// The roaming or the local folder of each profile that has one there,
// while the pass goes on; a refused profile is kept with its reason.
enum TProfileSide : std::uint8_t { psRoaming = 0, psLocal = 1 };
void ForEachProfile(TCleanPass &pass, TCleanCategory category, TProfileSide side,
                    const std::function<void(const std::string &folder)> &work) {
  const TFirefoxProfiles found = FindFirefoxProfiles();
  for (const TRefusedProfile &refused : found.refused)
    pass.AddKept(category, refused.path, refused.reason);
  for (const TFirefoxProfile &profile : found.profiles) {
    if (pass.Terminated())
      return;
    const std::string &folder = side == psRoaming ? profile.roaming : profile.local;
    if (!folder.empty() && qp::FolderExists(folder))
      work(folder);
  }
}

// Whether the table has the column; a failure to ask is recorded (a lock
// fails the category) and answers nullopt.
std::optional<bool> AskColumn(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
                              std::string_view name, std::string_view table,
                              std::string_view column) {
  try {
    return db.HasColumn(table, column);
  } catch (const ESQLiteException &error) {
    RecordDatabaseError(pass, category, name, error);
    return std::nullopt;
  }
}

std::string NoteName(std::string_view name, std::string_view sql) {
  return std::string(name) + ": " + std::string(sql);
}

// Statements run inside a unit of work (RunInTransaction) once per set of
// values: the schema is asked once, and a statement whose tables or
// columns are missing is recorded as skipped once and never run. A lock
// ends the unit of work; another failure is the statement's own.
class TCheckedStatements {
public:
  TCheckedStatements(TCleanPass &pass, TCleanCategory category, TSQLiteDatabase &db,
                     std::string_view name, const std::vector<TBrowserStatement> &statements)
      : pass_(pass), category_(category), db_(db), name_(name) {
    for (const TBrowserStatement &statement : statements) {
      const std::string missing = MissingSchema(db, statement.needs);
      if (missing.empty())
        applicable_.push_back(statement.sql);
      else
        pass.AddSkipped(category, NoteName(name, statement.sql), "no " + missing);
    }
  }
  void Run(const std::vector<TSQLiteValue> &values = {}) {
    for (std::string_view sql : applicable_) {
      if (pass_.Terminated())
        return;
      try {
        db_.Execute(sql, values);
      } catch (const ESQLiteException &error) {
        if (error.Locked())
          throw;
        // The first line is the library's message with the statement.
        std::string text = error.what();
        text.resize(std::min(text.size(), text.find_first_of("\r\n")));
        pass_.AddFailure(category_, NoteName(name_, sql), text);
      }
    }
  }

private:
  TCleanPass &pass_;
  TCleanCategory category_;
  TSQLiteDatabase &db_;
  std::string name_;
  std::vector<std::string_view> applicable_;
};

// "scheme://host:port/..." -> "host:port", lower case; empty when the
// address has no host.
std::string UrlHost(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos)
    return {};
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const std::size_t at = rest.rfind('@');
  if (at != std::string_view::npos)
    rest.remove_prefix(at + 1);
  return qp::LowerAscii(rest);
}

// favicons.sqlite keeps the pages and icons of every place: those of
// places that are gone go, and so do the icons no page uses any more.
void CleanFavicons(TCleanPass &pass, TCleanCategory category, const std::string &folder,
                   TSQLiteDatabase &places, const std::string &placesName) {
  std::vector<std::string> keptUrls;
  std::set<std::string> keptHosts;
  if (!QueryRows(pass, category, places, placesName, kPlaceUrlsQuery, [&](TSQLiteUniTable &row) {
        keptUrls.push_back(row.FieldAsString(0));
        keptHosts.insert(UrlHost(keptUrls.back()));
        return true;
      }))
    return;
  const std::string name = DatabaseFile(folder, kFavicons);
  std::unique_ptr<TSQLiteDatabase> db = OpenBrowserDatabase(pass, category, name);
  if (!db || pass.Terminated())
    return;
  qp::IgnoreResult(RunInTransaction(pass, category, *db, name, [&] {
    // The list of kept pages lives in memory: nothing new in the profile.
    db->Execute(kTempStoreInMemory);
    db->Execute(kCreateKeptPages);
    for (const std::string &url : keptUrls)
      db->Execute(kAddKeptPage, {url});
    TCheckedStatements statements(pass, category, *db, name, FaviconStatements());
    statements.Run();
    std::vector<std::int64_t> unused;
    qp::IgnoreResult(
        QueryRows(pass, category, *db, name, kRootIconsQuery, [&](TSQLiteUniTable &row) {
          if (keptHosts.count(UrlHost(row.FieldAsString(1))) == 0)
            unused.push_back(row.FieldAsInt64(0));
          return true;
        }));
    TCheckedStatements deleteIcon(pass, category, *db, name, {kDeleteIcon});
    for (const std::int64_t id : unused)
      deleteIcon.Run({id});
    db->Execute(kDropKeptPages);
  }));
}

// The history of one profile's places.sqlite.
void CleanPlacesHistory(TCleanPass &pass, const std::string &folder) {
  constexpr TCleanCategory category = ccFFVisitedURLHistory;
  const std::string name = DatabaseFile(folder, kPlaces);
  std::unique_ptr<TSQLiteDatabase> db = OpenBrowserDatabase(pass, category, name);
  if (!db)
    return;
  if (pass.Reporting()) {
    qp::IgnoreResult(QueryRows(pass, category, *db, name, kVisitsQuery, [&](TSQLiteUniTable &row) {
      pass.AddItem(category, row.FieldAsString(0), 0);
      return true;
    }));
    return;
  }
  const std::optional<bool> counted =
      AskColumn(pass, category, *db, name, "moz_places", "foreign_count");
  if (!counted)
    return;
  const bool committed = RunStatements(pass, category, *db, name, HistoryStatements(*counted));
  if (committed && !pass.Terminated())
    CleanFavicons(pass, category, folder, *db, name);
}

// "file:///C:/Users/x/My%20File.zip" (the prefix in any letter case) ->
// "C:\Users\x\My File.zip"; empty for anything that is not a local file
// with an absolute path of plain names.
std::string DownloadTargetPath(std::string_view uri) {
  if (uri.size() < kFileUriPrefix.size() ||
      !qp::EqualsNoCase(uri.substr(0, kFileUriPrefix.size()), kFileUriPrefix))
    return {};
  uri.remove_prefix(kFileUriPrefix.size());
  uri = uri.substr(0, uri.find_first_of("?#"));
  std::string path;
  for (std::size_t i = 0; i < uri.size(); ++i) {
    char c = uri[i];
    if (c == '%') {
      const auto hex = [](char h) -> int {
        if (h >= '0' && h <= '9')
          return h - '0';
        if (h >= 'a' && h <= 'f')
          return h - 'a' + 10;
        if (h >= 'A' && h <= 'F')
          return h - 'A' + 10;
        return -1;
      };
      if (i + 2 >= uri.size())
        return {};
      const int high = hex(uri[i + 1]);
      const int low = hex(uri[i + 2]);
      if (high < 0 || low < 0)
        return {};
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    path += c == '/' ? '\\' : c;
  }
  const bool drive = path.size() > 3 &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && path[2] == '\\';
  if (!drive)
    return {};
  for (std::size_t start = 3; start <= path.size();) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos)
      end = path.size();
    if (!IsPlainFileName(path.substr(start, end - start)))
      return {};
    start = end + 1;
  }
  return path;
}

// The "fileSize" number of a download's metaData annotation; -1 without.
std::int64_t MetaDataFileSize(std::string_view json) {
  const std::size_t key = json.find(kFileSizeKey);
  if (key == std::string_view::npos)
    return -1;
  std::size_t at = json.find_first_not_of(" \t\r\n", key + kFileSizeKey.size());
  if (at == std::string_view::npos || json[at] != ':')
    return -1;
  at = json.find_first_not_of(" \t\r\n", at + 1);
  std::int64_t size = 0;
  std::size_t digits = 0;
  for (; at != std::string_view::npos && at < json.size() && json[at] >= '0' && json[at] <= '9';
       ++at, ++digits) {
    if (size > (INT64_MAX - 9) / 10)
      return -1;
    size = size * 10 + (json[at] - '0');
  }
  return digits == 0 ? -1 : size;
}

struct TDownload {
  std::int64_t id = 0;
  std::string url;
  std::string path; // empty when the target is no local file
  std::int64_t size = -1;
};

void ListDownload(TCleanPass &pass, const TDownload &download) {
  std::int64_t size = download.size;
  if (size < 0 && !download.path.empty())
    size = GetFileSizeByName(download.path);
  pass.AddItem(ccFFDownloadHistory, download.path.empty() ? download.url : download.path,
               size < 0 ? 0 : size);
}

// The file a download left, when the user asked for the files too: a
// regular file only, never a folder or a link, nor one in use.
void DeleteDownloadedFiles(TCleanPass &pass, const std::vector<TDownload> &downloads) {
  if (!pass.DeleteDownloadedFiles)
    return;
  for (const TDownload &download : downloads) {
    if (pass.Terminated())
      return;
    if (!download.path.empty())
      HandleDownloadedFile(pass, ccFFDownloadHistory, download.path);
  }
}

// A download row read: an analysis lists it, a clean keeps it for the
// statements and the files. Always true: every row is read.
bool TakeDownload(TCleanPass &pass, TDownload download, std::vector<TDownload> &downloads) {
  if (pass.Reporting())
    ListDownload(pass, download);
  else
    downloads.push_back(std::move(download));
  return true;
}

void CleanPlacesDownloads(TCleanPass &pass, const std::string &folder) {
  constexpr TCleanCategory category = ccFFDownloadHistory;
  const std::string name = DatabaseFile(folder, kPlaces);
  std::unique_ptr<TSQLiteDatabase> db = OpenBrowserDatabase(pass, category, name);
  if (!db)
    return;
  std::vector<TDownload> downloads;
  if (!QueryRows(pass, category, *db, name, kDownloadsQuery,
                 [&](TSQLiteUniTable &row) {
                   TDownload download;
                   download.id = row.FieldAsInt64(0);
                   download.url = row.FieldAsString(1);
                   download.path = DownloadTargetPath(row.FieldAsString(2));
                   download.size = MetaDataFileSize(row.FieldAsString(3));
                   return TakeDownload(pass, std::move(download), downloads);
                 }) ||
      pass.Reporting() || downloads.empty())
    return;
  const std::optional<bool> counted =
      AskColumn(pass, category, *db, name, "moz_places", "foreign_count");
  if (!counted)
    return;
  const bool committed = RunInTransaction(pass, category, *db, name, [&] {
    TCheckedStatements each(pass, category, *db, name, DownloadStatements(*counted));
    for (const TDownload &download : downloads) {
      if (pass.Terminated())
        return;
      each.Run({download.id});
    }
    TCheckedStatements orphans(pass, category, *db, name, PlaceOrphanStatements());
    orphans.Run();
  });
  if (!committed || pass.Terminated())
    return;
  CleanFavicons(pass, category, folder, *db, name);
  DeleteDownloadedFiles(pass, downloads);
}

void CleanOldDownloads(TCleanPass &pass, const std::string &folder) {
  constexpr TCleanCategory category = ccFFDownloadHistory;
  const std::string name = DatabaseFile(folder, kOldDownloads);
  std::unique_ptr<TSQLiteDatabase> db = OpenBrowserDatabase(pass, category, name);
  if (!db)
    return;
  std::vector<TDownload> downloads;
  if (!QueryRows(pass, category, *db, name, kOldDownloadsQuery,
                 [&](TSQLiteUniTable &row) {
                   TDownload download;
                   download.id = row.FieldAsInt64(0);
                   download.url = row.FieldAsString(2);
                   if (download.url.empty())
                     download.url = row.FieldAsString(1);
                   download.path = DownloadTargetPath(row.FieldAsString(3));
                   download.size = row.FieldIsNull(4) ? -1 : row.FieldAsInt64(4);
                   return TakeDownload(pass, std::move(download), downloads);
                 }) ||
      pass.Reporting())
    return;
  if (RunStatements(pass, category, *db, name, {kDeleteOldDownloads}) && !pass.Terminated())
    DeleteDownloadedFiles(pass, downloads);
}

// One database with the queries that list it and the statements that
// clear it.
struct TSimpleDatabase {
  std::string_view file;
  std::vector<TBrowserStatement> queries;
  std::vector<TBrowserStatement> statements;
  std::function<std::string(TSQLiteUniTable &row)> finding;
};

void HandleSimpleDatabase(TCleanPass &pass, TCleanCategory category, const std::string &folder,
                          const TSimpleDatabase &database) {
  const std::string name = DatabaseFile(folder, database.file);
  std::unique_ptr<TSQLiteDatabase> db = OpenBrowserDatabase(pass, category, name);
  if (!db)
    return;
  if (!pass.Reporting()) {
    qp::IgnoreResult(RunStatements(pass, category, *db, name, database.statements));
    return;
  }
  for (const TBrowserStatement &query : database.queries)
    qp::IgnoreResult(QueryRows(pass, category, *db, name, query, [&](TSQLiteUniTable &row) {
      pass.AddItem(category, database.finding(row), 0);
      return true;
    }));
}

std::string FirstField(TSQLiteUniTable &row) {
  return row.FieldAsString(0);
}

std::string ClassifierRecord(TSQLiteUniTable &row) {
  return "Record " + row.FieldAsString(0) + ": " + row.FieldAsString(1);
}

} // namespace

void CleanFFVisitedUrls(TCleanPass &pass) {
  constexpr TCleanCategory category = ccFFVisitedURLHistory;
  ForEachProfile(pass, category, psRoaming, [&](const std::string &folder) {
    const int locks = pass.LockedDatabases;
    CleanPlacesHistory(pass, folder);
    if (pass.LockedDatabases != locks) {
      KeepForRunningBrowser(pass, category, folder,
                            {kSessionFiles[0], kSessionFiles[1], kSessionBackups});
      return;
    }
    for (std::string_view file : kSessionFiles)
      if (!pass.Terminated())
        SingleFileItem(pass, category, folder, file);
    if (!pass.Terminated())
      SweepFolder(pass, category, folder + std::string(kSessionBackups));
  });
}

void CleanFFCache(TCleanPass &pass) {
  constexpr TCleanCategory category = ccFFCache;
  ForEachProfile(pass, category, psLocal, [&](const std::string &folder) {
    for (std::string_view cache : kCacheFolders) {
      if (pass.Terminated())
        return;
      const std::string path = folder + std::string(cache);
      if (qp::FolderExists(path))
        SweepFolder(pass, category, path);
    }
    if (!pass.Terminated())
      HandleSimpleDatabase(
          pass, category, folder,
          {kUrlClassifier, ClassifierQueries(), ClassifierStatements(), ClassifierRecord});
  });
}

void CleanFFCookies(TCleanPass &pass) {
  constexpr TCleanCategory category = ccFFCookies;
  ForEachProfile(pass, category, psRoaming, [&](const std::string &folder) {
    const std::string name = DatabaseFile(folder, kCookies);
    std::unique_ptr<TSQLiteDatabase> db = OpenBrowserDatabase(pass, category, name);
    if (!db)
      return;
    // The cookie query is asked once per host: its answer is the host's.
    std::map<std::string, bool> allowed;
    std::vector<std::int64_t> doomed;
    if (!QueryRows(pass, category, *db, name, kCookiesQuery,
                   [&](TSQLiteUniTable &row) {
                     const std::string host = row.FieldAsString(1);
                     auto known = allowed.find(host);
                     if (known == allowed.end())
                       known = allowed.emplace(host, pass.QueryDeleteCookie(host)).first;
                     if (!known->second)
                       return !pass.Terminated();
                     if (pass.Reporting())
                       pass.AddItem(category, host + " : " + row.FieldAsString(2), 0);
                     else
                       doomed.push_back(row.FieldAsInt64(0));
                     return true;
                   }) ||
        pass.Reporting() || doomed.empty())
      return;
    // Bound, one cookie at a time: any number of spared cookies.
    qp::IgnoreResult(RunInTransaction(pass, category, *db, name, [&] {
      TCheckedStatements deleteCookie(pass, category, *db, name, {kDeleteCookie});
      for (const std::int64_t id : doomed) {
        if (pass.Terminated())
          return;
        deleteCookie.Run({id});
      }
    }));
  });
}

void CleanFFFormHistory(TCleanPass &pass) {
  constexpr TCleanCategory category = ccFFFormHistory;
  ForEachProfile(pass, category, psRoaming, [&](const std::string &folder) {
    HandleSimpleDatabase(pass, category, folder,
                         {kFormHistory, {kFormHistoryQuery}, FormHistoryStatements(), FirstField});
  });
}

void CleanFFDownloads(TCleanPass &pass) {
  ForEachProfile(pass, ccFFDownloadHistory, psRoaming, [&](const std::string &folder) {
    CleanPlacesDownloads(pass, folder);
    if (!pass.Terminated())
      CleanOldDownloads(pass, folder);
  });
}

void CleanFFInputHistory(TCleanPass &pass) {
  constexpr TCleanCategory category = ccFFInputHistory;
  ForEachProfile(pass, category, psRoaming, [&](const std::string &folder) {
    HandleSimpleDatabase(pass, category, folder,
                         {kPlaces, {kInputHistoryQuery}, {kDeleteInputHistory}, FirstField});
  });
}

} // namespace quenlo
