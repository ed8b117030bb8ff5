// The handlers of the Chrome categories (25-30), run over every profile
// of the user (uChromeProfiles.h): history, cache, cookies, downloads,
// form data and saved passwords.
//
// Every database step goes through uBrowserDb.h, so that a statement for
// a table this browser version lacks is skipped and recorded, a database
// the running browser holds fails the category as locked and stays as it
// was, and the clean of one database is one transaction followed by a
// checkpoint. Queries are read to their end before anything is asked of
// the main thread or written: an open read would keep the browser from
// writing its own database meanwhile.
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/uBrowserDb.h"
#include "cleaner/uChromeProfiles.h"
#include "cleaner/uCleanFiles.h"
#include "cleaner/uCleanItems.h"
#include "cleaner/uItemTools.h"
#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

namespace quenlo {

namespace {

constexpr std::string_view kHistoryDb = "History";
constexpr std::string_view kWebDataDb = "Web Data";
constexpr std::string_view kLoginDataDb = "Login Data";
// The cookie store moved below "Network" on Windows; older versions keep
// it at the profile's top, and a profile carried over can hold both.
constexpr std::string_view kCookieDbs[] = {"Network\\Cookies", "Cookies"};

// Files of the history that are no databases, from every version the
// handler knows; most of them no longer exist in today's profiles.
constexpr std::string_view kHistoryFiles[] = {
    "History Index", "Visited Links",   "Current Tabs",          "Last Tabs",
    "Last Session",  "Current Session", "History Provider Cache"};
// The monthly full-text indexes of old versions ("History Index 2012-05")
// and their journals.
constexpr std::string_view kHistoryIndexMask = "History Index *";
constexpr std::string_view kFaviconsDb = "Favicons";
constexpr std::string_view kBookmarksFile = "Bookmarks";
constexpr std::string_view kHistoryFolders[] = {"Sessions", "Sessions_Encrypted", "JumpListIcons",
                                                "JumpListIconsOld"};
constexpr std::string_view kCacheFolders[] = {"Cache", "Code Cache", "GPUCache", "Media Cache"};

qp::IFileSystem &Files() {
  return qp::Platform().Files();
}

// How notes name a database: "Default\History".
std::string DatabaseName(const TChromeProfile &profile, std::string_view file) {
  return profile.name + "\\" + std::string(file);
}

// The text columns of a row joined by " : ".
std::string JoinedColumns(const TSQLiteUniTable &row) {
  std::string text;
  for (int column = 0; column < row.ColCount(); ++column) {
    if (column > 0)
      text += " : ";
    text += row.FieldAsString(column);
  }
  return text;
}

// A database of the profile listed by its queries in an analysis and
// cleaned by its statements.
struct TDatabaseWork {
  std::string_view file;
  std::vector<TBrowserStatement> queries; // each row one finding
  std::vector<TBrowserStatement> statements;
};

void HandleDatabase(TCleanPass &pass, TCleanCategory category, const TChromeProfile &profile,
                    const TDatabaseWork &work) {
  std::unique_ptr<TSQLiteDatabase> db =
      OpenBrowserDatabase(pass, category, profile.path + std::string(work.file));
  if (!db)
    return;
  const std::string name = DatabaseName(profile, work.file);
  if (!pass.Reporting()) {
    RunStatements(pass, category, *db, name, work.statements);
    return;
  }
  std::vector<std::string> found;
  for (const TBrowserStatement &query : work.queries) {
    if (pass.Terminated())
      return;
    qp::IgnoreResult(QueryRows(pass, category, *db, name, query, [&](TSQLiteUniTable &row) {
      found.push_back(JoinedColumns(row));
      return true;
    }));
  }
  for (std::string &text : found)
    pass.AddItem(category, std::move(text), 0);
}

// --- history

const TDatabaseWork &HistoryWork() {
  // Every table that holds visits or what was derived from them; the
  // first five are the ones older versions have. Bookmarks live in a file
  // of their own, so nothing here can take one.
  static const TDatabaseWork work{
      kHistoryDb,
      {{"SELECT name FROM segments ORDER BY id", {"segments.name"}},
       {"SELECT url FROM urls ORDER BY id", {"urls.url"}}},
      {{"DELETE FROM segment_usage", {"segment_usage"}},
       {"DELETE FROM segments", {"segments"}},
       {"DELETE FROM visits", {"visits"}},
       {"DELETE FROM urls", {"urls"}},
       {"DELETE FROM keyword_search_terms", {"keyword_search_terms"}},
       {"DELETE FROM visit_source", {"visit_source"}},
       {"DELETE FROM visited_links", {"visited_links"}},
       {"DELETE FROM content_annotations", {"content_annotations"}},
       {"DELETE FROM context_annotations", {"context_annotations"}},
       {"DELETE FROM clusters_and_visits", {"clusters_and_visits"}},
       {"DELETE FROM cluster_keywords", {"cluster_keywords"}},
       {"DELETE FROM cluster_visit_duplicates", {"cluster_visit_duplicates"}},
       {"DELETE FROM clusters", {"clusters"}},
       {"DELETE FROM journey_history_entries", {"journey_history_entries"}},
       {"DELETE FROM journey_continuation_queries", {"journey_continuation_queries"}},
       {"DELETE FROM journeys", {"journeys"}},
       {"DELETE FROM history_sync_metadata", {"history_sync_metadata"}}}};
  return work;
}

// Databases the browser derives from the history: each is removed as a
// file with its journal when nobody holds it, and emptied in place while
// the browser has it open.
const std::vector<TDatabaseWork> &DerivedHistoryDatabases() {
  static const std::vector<TDatabaseWork> databases{
      {"Archived History",
       {{"SELECT url FROM urls ORDER BY id", {"urls.url"}}},
       {{"DELETE FROM visits", {"visits"}},
        {"DELETE FROM urls", {"urls"}},
        {"DELETE FROM keyword_search_terms", {"keyword_search_terms"}}}},
      {"Thumbnails",
       {{"SELECT url FROM thumbnails", {"thumbnails.url"}}},
       {{"DELETE FROM thumbnails", {"thumbnails"}}}},
      {"Top Sites",
       {{"SELECT url FROM top_sites", {"top_sites.url"}},
        {"SELECT url FROM thumbnails", {"thumbnails.url"}}},
       {{"DELETE FROM top_sites", {"top_sites"}}, {"DELETE FROM thumbnails", {"thumbnails"}}}},
      {"Shortcuts",
       {{"SELECT url FROM omni_box_shortcuts", {"omni_box_shortcuts.url"}}},
       {{"DELETE FROM omni_box_shortcuts", {"omni_box_shortcuts"}}}},
      {"Network Action Predictor",
       {{"SELECT url FROM network_action_predictor", {"network_action_predictor.url"}}},
       {{"DELETE FROM network_action_predictor", {"network_action_predictor"}},
        {"DELETE FROM resource_prefetch_predictor_host_redirect",
         {"resource_prefetch_predictor_host_redirect"}},
        {"DELETE FROM resource_prefetch_predictor_origin", {"resource_prefetch_predictor_origin"}},
        {"DELETE FROM lcp_critical_path_predictor", {"lcp_critical_path_predictor"}},
        {"DELETE FROM lcp_critical_path_predictor_initiator_origin",
         {"lcp_critical_path_predictor_initiator_origin"}}}},
  };
  return databases;
}

bool Exists(std::string_view path) {
  return Files().GetAttributes(path) != wc::InvalidFileAttributes;
}

void HandleDerivedDatabase(TCleanPass &pass, const TChromeProfile &profile,
                           const TDatabaseWork &work) {
  const std::string path = profile.path + std::string(work.file);
  const std::uint32_t attributes = Files().GetAttributes(path);
  if (attributes == wc::InvalidFileAttributes || (attributes & wc::FileAttributeDirectory) != 0)
    return;
  const bool link = (attributes & kFileAttributeReparse) != 0;
  if (!link && IsInUseStatus(Files().TestExclusiveOpen(path))) {
    HandleDatabase(pass, ccGCHistory, profile, work);
    return;
  }
  SingleFileItem(pass, ccGCHistory, profile.path, work.file);
  // A database that stayed keeps its journal and log: without them a
  // half-written change could not be rolled back.
  if (!pass.Reporting() && Exists(path))
    return;
  for (std::string_view companion : kDatabaseCompanions)
    SingleFileItem(pass, ccGCHistory, profile.path,
                   std::string(work.file) + std::string(companion));
}

// --- favicons

// A code point as UTF-8; a lone surrogate or a value past U+10FFFF is
// U+FFFD.
std::string Utf8Of(std::uint32_t code) {
  if ((code >= 0xD800 && code < 0xE000) || code > 0x10FFFF)
    code = 0xFFFD;
  std::string out;
  const auto byte = [&out](std::uint32_t value) { out += static_cast<char>(value); };
  if (code < 0x80) {
    byte(code);
  } else if (code < 0x800) {
    byte(0xC0 | (code >> 6));
    byte(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    byte(0xE0 | (code >> 12));
    byte(0x80 | ((code >> 6) & 0x3F));
    byte(0x80 | (code & 0x3F));
  } else {
    byte(0xF0 | (code >> 18));
    byte(0x80 | ((code >> 12) & 0x3F));
    byte(0x80 | ((code >> 6) & 0x3F));
    byte(0x80 | (code & 0x3F));
  }
  return out;
}

// The UTF-8 text of a JSON string's body from at (just after its opening
// quote) to its closing quote, which at is left after; nullopt when the
// text ends first.
std::optional<std::string> JsonString(std::string_view text, std::size_t &at) {
  std::string out;
  const auto hex = [&](std::size_t from, std::uint32_t &value) {
    if (from + 4 > text.size())
      return false;
    value = 0;
    for (std::size_t i = from; i < from + 4; ++i) {
      const char c = text[i];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0)
        return false;
      value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  };
  while (at < text.size()) {
    const char c = text[at++];
    if (c == '"')
      return out;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (at >= text.size())
      return std::nullopt;
    const char escaped = text[at++];
    switch (escaped) {
    case 'b':
      out += '\b';
      break;
    case 'f':
      out += '\f';
      break;
    case 'n':
      out += '\n';
      break;
    case 'r':
      out += '\r';
      break;
    case 't':
      out += '\t';
      break;
    case 'u': {
      std::uint32_t code = 0;
      if (!hex(at, code))
        return std::nullopt;
      at += 4;
      std::uint32_t low = 0;
      if (code >= 0xD800 && code < 0xDC00 && at + 6 <= text.size() && text[at] == '\\' &&
          text[at + 1] == 'u' && hex(at + 2, low) && low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        at += 6;
      }
      out += Utf8Of(code);
      break;
    }
    default: // '"', '\\', '/'
      out += escaped;
    }
  }
  return std::nullopt;
}

// The addresses the profile's bookmarks name: every "url" member of its
// "Bookmarks" file. None when the file is missing or cannot be read.
std::set<std::string> BookmarkedUrls(const TChromeProfile &profile) {
  std::set<std::string> urls;
  std::string text;
  if (Files().ReadFile(profile.path + std::string(kBookmarksFile), text) != wc::ErrorSuccess)
    return urls;
  constexpr std::string_view kKey = "\"url\"";
  const auto skipBlanks = [&](std::size_t at) {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\r' || text[at] == '\n'))
      ++at;
    return at;
  };
  for (std::size_t at = text.find(kKey); at != std::string::npos; at = text.find(kKey, at)) {
    at = skipBlanks(at + kKey.size());
    if (at >= text.size() || text[at] != ':')
      continue; // a value that reads "url", not the member
    at = skipBlanks(at + 1);
    if (at >= text.size() || text[at] != '"')
      continue;
    ++at;
    if (std::optional<std::string> url = JsonString(text, at))
      urls.insert(std::move(*url));
  }
  return urls;
}

// The icons of the pages visited go with the history; a bookmarked
// page's stay, for the bookmark shows it.
void CleanFavicons(TCleanPass &pass, const TChromeProfile &profile) {
  std::unique_ptr<TSQLiteDatabase> db =
      OpenBrowserDatabase(pass, ccGCHistory, profile.path + std::string(kFaviconsDb));
  if (!db)
    return;
  const std::string dbName = DatabaseName(profile, kFaviconsDb);
  const std::set<std::string> bookmarked = BookmarkedUrls(profile);
  std::vector<std::pair<std::int64_t, std::string>> doomed; // icon_mapping id, page
  const TBrowserStatement query{"SELECT id, page_url FROM icon_mapping ORDER BY id",
                                {"icon_mapping.id", "icon_mapping.page_url"}};
  if (!QueryRows(pass, ccGCHistory, *db, dbName, query, [&](TSQLiteUniTable &row) {
        std::string page = row.FieldAsString(1);
        if (bookmarked.count(page) == 0)
          doomed.emplace_back(row.FieldAsInt64(0), std::move(page));
        return true;
      }))
    return;
  if (pass.Reporting()) {
    for (auto &[id, page] : doomed)
      pass.AddItem(ccGCHistory, std::move(page), 0);
    return;
  }
  // The icons no page refers to any more, in the same unit of work.
  static const TBrowserStatement orphans[] = {
      {"DELETE FROM favicon_bitmaps WHERE icon_id NOT IN (SELECT icon_id FROM icon_mapping WHERE "
       "icon_id IS NOT NULL)",
       {"favicon_bitmaps.icon_id", "icon_mapping.icon_id"}},
      {"DELETE FROM favicons WHERE id NOT IN (SELECT icon_id FROM icon_mapping WHERE icon_id IS "
       "NOT NULL)",
       {"favicons.id", "icon_mapping.icon_id"}}};
  RunInTransaction(pass, ccGCHistory, *db, dbName, [&] {
    for (const auto &[id, page] : doomed) {
      if (pass.Terminated())
        return;
      db->Execute("DELETE FROM icon_mapping WHERE id = ?1", {id});
    }
    for (const TBrowserStatement &statement : orphans) {
      if (const std::string missing = MissingSchema(*db, statement.needs); !missing.empty())
        pass.AddSkipped(ccGCHistory, dbName + ": " + std::string(statement.sql), "no " + missing);
      else
        db->Execute(statement.sql);
    }
  });
}

// Old versions' index files, one by one in the profile folder.
void HandleHistoryIndexes(TCleanPass &pass, const TChromeProfile &profile) {
  pass.BasePath = profile.path;
  qp::IgnoreResult(WalkFiles(profile.path, kHistoryIndexMask, false,
                             [&](const std::string &path, const qp::FindData &entry) {
                               HandleFile(pass, ccGCHistory, path, entry, TFileRules{});
                               return !pass.Terminated();
                             }));
}

void CleanProfileHistory(TCleanPass &pass, const TChromeProfile &profile) {
  const int locks = pass.LockedDatabases;
  HandleDatabase(pass, ccGCHistory, profile, HistoryWork());
  if (pass.LockedDatabases != locks) {
    std::vector<std::string_view> names(std::begin(kHistoryFiles), std::end(kHistoryFiles));
    names.insert(names.end(), std::begin(kHistoryFolders), std::end(kHistoryFolders));
    KeepForRunningBrowser(pass, ccGCHistory, profile.path, names);
    return;
  }
  if (!pass.Terminated())
    CleanFavicons(pass, profile);
  for (const TDatabaseWork &work : DerivedHistoryDatabases()) {
    if (pass.Terminated())
      return;
    HandleDerivedDatabase(pass, profile, work);
  }
  for (std::string_view file : kHistoryFiles) {
    if (pass.Terminated())
      return;
    SingleFileItem(pass, ccGCHistory, profile.path, file);
  }
  if (!pass.Terminated())
    HandleHistoryIndexes(pass, profile);
  for (std::string_view folder : kHistoryFolders) {
    if (pass.Terminated())
      return;
    SweepFolder(pass, ccGCHistory, profile.path + std::string(folder));
  }
}

// --- cookies

struct TCookieRow {
  std::int64_t rowid = 0;
  std::string host;
  std::string name;
};

void CleanCookieDatabase(TCleanPass &pass, const TChromeProfile &profile, std::string_view file) {
  std::unique_ptr<TSQLiteDatabase> db =
      OpenBrowserDatabase(pass, ccGCCookies, profile.path + std::string(file));
  if (!db)
    return;
  const std::string dbName = DatabaseName(profile, file);
  std::vector<TCookieRow> rows;
  const TBrowserStatement query{"SELECT rowid, host_key, name FROM cookies ORDER BY rowid",
                                {"cookies.host_key", "cookies.name"}};
  if (!QueryRows(pass, ccGCCookies, *db, dbName, query, [&](TSQLiteUniTable &row) {
        rows.push_back(TCookieRow{row.FieldAsInt64(0), row.FieldAsString(1), row.FieldAsString(2)});
        return true;
      }))
    return;
  std::vector<TCookieRow> doomed;
  for (TCookieRow &row : rows) {
    if (pass.Terminated())
      return;
    if (!pass.QueryDeleteCookie(row.host))
      continue;
    if (pass.Reporting())
      pass.AddItem(ccGCCookies, row.host + " : " + row.name, 0);
    else
      doomed.push_back(std::move(row));
  }
  if (pass.Reporting() || doomed.empty())
    return;
  // One bound delete per cookie: a statement listing the spared ones
  // grows past what SQLite parses. The host and name guard against a
  // rowid the browser gave another cookie since the rows were read.
  RunInTransaction(pass, ccGCCookies, *db, dbName, [&] {
    for (const TCookieRow &row : doomed) {
      if (pass.Terminated())
        return;
      db->Execute("DELETE FROM cookies WHERE rowid = ?1 AND host_key = ?2 AND name = ?3",
                  {row.rowid, row.host, row.name});
    }
  });
}

// --- downloads

struct TDownloadRow {
  std::string name; // target path, else the address
  std::int64_t size = 0;
  std::vector<std::string> files; // the paths the browser wrote
};

// The layouts of the downloads table, newest first: the address moved to
// downloads_url_chains (the last link of the chain is where the file came
// from) and the path split into the final and the partial one.
const std::vector<TBrowserStatement> &DownloadQueries() {
  static const std::vector<TBrowserStatement> queries{
      {"SELECT d.target_path, d.current_path, d.received_bytes, (SELECT c.url FROM "
       "downloads_url_chains c WHERE c.id = d.id ORDER BY c.chain_index DESC LIMIT 1) FROM "
       "downloads d ORDER BY d.id",
       {"downloads.id", "downloads.target_path", "downloads.current_path",
        "downloads.received_bytes", "downloads_url_chains.id", "downloads_url_chains.url",
        "downloads_url_chains.chain_index"}},
      {"SELECT target_path, current_path, received_bytes, '' FROM downloads ORDER BY id",
       {"downloads.target_path", "downloads.current_path", "downloads.received_bytes"}},
      {"SELECT full_path, '', received_bytes, url FROM downloads ORDER BY id",
       {"downloads.full_path", "downloads.url", "downloads.received_bytes"}},
  };
  return queries;
}

const std::vector<TBrowserStatement> &DownloadStatements() {
  static const std::vector<TBrowserStatement> statements{
      {"DELETE FROM downloads_url_chains", {"downloads_url_chains"}},
      {"DELETE FROM downloads_slices", {"downloads_slices"}},
      {"DELETE FROM downloads", {"downloads"}},
  };
  return statements;
}

// The first layout the database has; the newest one when it has none of
// them (QueryRows then records it as skipped). Null when the schema could
// not be read (recorded).
const TBrowserStatement *DownloadQuery(TCleanPass &pass, TSQLiteDatabase &db,
                                       const std::string &dbName) {
  try {
    for (const TBrowserStatement &query : DownloadQueries())
      if (MissingSchema(db, query.needs).empty())
        return &query;
  } catch (const ESQLiteException &error) {
    RecordDatabaseError(pass, ccGCDownloads, dbName, error);
    return nullptr;
  }
  return &DownloadQueries().front();
}

void CleanProfileDownloads(TCleanPass &pass, const TChromeProfile &profile) {
  std::unique_ptr<TSQLiteDatabase> db =
      OpenBrowserDatabase(pass, ccGCDownloads, profile.path + std::string(kHistoryDb));
  if (!db)
    return;
  const std::string dbName = DatabaseName(profile, kHistoryDb);
  const bool needRows = pass.Reporting() || pass.DeleteDownloadedFiles;
  std::vector<TDownloadRow> rows;
  if (needRows) {
    const TBrowserStatement *query = DownloadQuery(pass, *db, dbName);
    if (query == nullptr)
      return;
    const bool read =
        QueryRows(pass, ccGCDownloads, *db, dbName, *query, [&](TSQLiteUniTable &row) {
          TDownloadRow download;
          for (int column : {0, 1}) {
            std::string path = row.FieldAsString(column);
            if (!path.empty() && (download.files.empty() || download.files.front() != path))
              download.files.push_back(std::move(path));
          }
          download.name = download.files.empty() ? row.FieldAsString(3) : download.files.front();
          download.size = row.FieldAsInt64(2);
          rows.push_back(std::move(download));
          return true;
        });
    // Without the paths the files cannot be told apart from the list:
    // nothing is removed then.
    if (!read && !pass.Reporting())
      return;
  }
  // The list first: when the browser holds it, the files stay with it.
  if (!pass.Reporting() && !RunStatements(pass, ccGCDownloads, *db, dbName, DownloadStatements()))
    return;
  for (const TDownloadRow &download : rows) {
    if (pass.Terminated())
      return;
    if (pass.Reporting())
      pass.AddItem(ccGCDownloads, download.name, download.size);
    if (pass.DeleteDownloadedFiles)
      for (const std::string &file : download.files)
        HandleDownloadedFile(pass, ccGCDownloads, file);
  }
}

// --- form data and passwords

const TDatabaseWork &FormWork() {
  // Today's versions keep what was typed into forms in "autocomplete",
  // with "autofill" still there from before; the oldest ones had its
  // dates apart. Addresses and cards are the user's data, not history.
  static const TDatabaseWork work{
      kWebDataDb,
      {{"SELECT name, value FROM autofill", {"autofill.name", "autofill.value"}},
       {"SELECT name, value FROM autocomplete", {"autocomplete.name", "autocomplete.value"}}},
      {{"DELETE FROM autofill_dates", {"autofill_dates"}},
       {"DELETE FROM autofill", {"autofill"}},
       {"DELETE FROM autocomplete", {"autocomplete"}}}};
  return work;
}

const TDatabaseWork &PasswordWork() {
  // The notes and insecurity marks of a login go with it (foreign keys).
  static const TDatabaseWork work{kLoginDataDb,
                                  {{"SELECT origin_url, username_value FROM logins",
                                    {"logins.origin_url", "logins.username_value"}}},
                                  {{"DELETE FROM logins", {"logins"}}}};
  return work;
}

template <typename Work> void ForEachProfile(TCleanPass &pass, Work &&work) {
  for (const TChromeProfile &profile : ChromeProfiles()) {
    if (pass.Terminated())
      return;
    work(profile);
  }
}

} // namespace

void CleanGCHistory(TCleanPass &pass) {
  ForEachProfile(pass, [&](const TChromeProfile &profile) { CleanProfileHistory(pass, profile); });
}

void CleanGCCache(TCleanPass &pass) {
  ForEachProfile(pass, [&](const TChromeProfile &profile) {
    for (std::string_view folder : kCacheFolders) {
      if (pass.Terminated())
        return;
      SweepFolder(pass, ccGCCache, profile.path + std::string(folder));
    }
  });
}

void CleanGCCookies(TCleanPass &pass) {
  ForEachProfile(pass, [&](const TChromeProfile &profile) {
    for (std::string_view file : kCookieDbs) {
      if (pass.Terminated())
        return;
      CleanCookieDatabase(pass, profile, file);
    }
  });
}

void CleanGCDownloads(TCleanPass &pass) {
  ForEachProfile(pass,
                 [&](const TChromeProfile &profile) { CleanProfileDownloads(pass, profile); });
}

void CleanGCFormInfo(TCleanPass &pass) {
  ForEachProfile(pass, [&](const TChromeProfile &profile) {
    HandleDatabase(pass, ccGCFormInfo, profile, FormWork());
  });
}

void CleanGCPasswords(TCleanPass &pass) {
  ForEachProfile(pass, [&](const TChromeProfile &profile) {
    HandleDatabase(pass, ccGCPassword, profile, PasswordWork());
  });
}

} // namespace quenlo
