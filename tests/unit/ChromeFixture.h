// Shared by the tests of the Chrome handlers: real SQLite files on the
// host that the in-memory machine's database paths lead to (each platform
// path exists in the model as a placeholder file, SQLite opens the host
// file the pass's path map names), and listings of both sides.
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

inline constexpr const char *kChromeUserData =
    "C:\\Users\\user\\AppData\\Local\\Google\\Chrome\\User Data\\";

inline std::vector<std::string> FileNames(const std::map<std::string, std::string> &listing) {
  std::vector<std::string> names;
  for (const auto &[name, bytes] : listing)
    names.push_back(name);
  return names;
}

struct TChromeRunOptions {
  bool deleteDownloadedFiles = false;
  // Cookie addresses the user keeps (the cookie query answers false).
  std::vector<std::string> sparedHosts;
};

class ChromeTest : public HostDatabaseTest {
protected:
  static std::string Profile(const std::string &profile, const std::string &file = {}) {
    return std::string(kChromeUserData) + profile + (file.empty() ? "" : "\\" + file);
  }

  // A database at the platform path made of the statements (CREATE TABLE
  // and INSERT text), with its placeholder in the model.
  void MakeDatabase(const std::string &platformPath, const std::vector<std::string> &sql) {
    const std::string file = HostPath(platformPath);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary).flush();
    TSQLiteDatabase db(file, omReadWrite);
    TSQLiteTransaction transaction(db);
    for (const std::string &statement : sql)
      db.Execute(statement);
    transaction.Commit();
    fs.AddFile(platformPath, "sqlite placeholder");
  }

  long long Count(const std::string &platformPath, const std::string &table) {
    TSQLiteDatabase db(HostPath(platformPath), omReadOnly);
    TSQLiteUniTable rows(db, "SELECT count(*) FROM " + table);
    return rows.FieldAsInt64(0);
  }

  // Every host file with its bytes: what a change or a new file shows in.
  std::map<std::string, std::string> HostListing() const {
    std::map<std::string, std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(host_)) {
      if (!entry.is_regular_file())
        continue;
      std::ifstream in(entry.path(), std::ios::binary);
      files[entry.path().string()] =
          std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
  }

  TPassResult RunChrome(TCategoryHandler handler, TCleanCategory category, TScanMode mode,
                        const TChromeRunOptions &options = {}) {
    return RunMapped(handler, category, mode,
                     {.deleteDownloadedFiles = options.deleteDownloadedFiles,
                      .onCookie = [&options](const std::string &url, bool &canDelete) {
                        for (const std::string &spared : options.sparedHosts)
                          if (url == spared)
                            canDelete = false;
                      }});
  }
};

} // namespace quenlo::test
