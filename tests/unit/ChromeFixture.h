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

class ChromeTest : public CleanItemsTest {
protected:
  void SetUp() override {
    CleanItemsTest::SetUp();
    std::string pattern =
        (std::filesystem::path(::testing::TempDir()) / "quenlo-chrome-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    host_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(host_, ignored);
  }

  static std::string Profile(const std::string &profile, const std::string &file = {}) {
    return std::string(kChromeUserData) + profile + (file.empty() ? "" : "\\" + file);
  }

  // The host file a platform path leads to.
  std::string HostPath(std::string_view platformPath) const {
    std::string relative;
    for (char c : platformPath)
      if (c != ':')
        relative += c == '\\' ? '/' : c;
    return (host_ / relative).string();
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

  std::string HostBytes(const std::string &platformPath) const {
    std::ifstream in(HostPath(platformPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
    TPassResult result;
    result.mode = mode;
    result.selected.set(category);
    std::atomic<bool> terminated{false};
    TCleanPass pass(mode, result, terminated, mainThread);
    pass.SetCurrent(category);
    pass.DatabasePathMap = [this](std::string_view path) { return HostPath(path); };
    pass.DeleteDownloadedFiles = options.deleteDownloadedFiles;
    pass.OnQueryDeleteCookie = [&options](const std::string &url, bool &canDelete) {
      for (const std::string &spared : options.sparedHosts)
        if (url == spared)
          canDelete = false;
    };
    result.categories[category].outcome = coNotFound;
    handler(pass);
    result.end = peComplete;
    return result;
  }

  std::filesystem::path host_;
};

} // namespace quenlo::test
