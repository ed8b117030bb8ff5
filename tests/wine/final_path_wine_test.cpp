// IFileSystem::GetFinalPath under Wine, and the entry test built on it, on
// real files below the temporary folder: a plain file names itself, an 8.3
// path its long form, a missing one answers 2 or 3. (Links cannot be made
// from here: Wine's CreateSymbolicLink answers success and makes nothing;
// the clean test, tests/wine/cleaner_cli_test.sh, makes Unix links.)
#include <gtest/gtest.h>

#include <string>

#include "platform/FileOps.h"
#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinText.h"

namespace {

class Win32FinalPath : public testing::Test {
protected:
  void SetUp() override {
    dir_ = qp::Platform().System().GetTempPath() + "QuenloFinalPath";
    TearDown();
    ASSERT_EQ(fs().CreateDirectory(dir_), 0);
    ASSERT_EQ(fs().CreateDirectory(Long()), 0);
    ASSERT_EQ(fs().WriteFile(Long() + "\\File Name.txt", "x"), 0);
  }
  void TearDown() override {
    qp::IgnoreResult(fs().DeleteFile(Long() + "\\File Name.txt"));
    qp::IgnoreResult(fs().RemoveDirectory(Long()));
    qp::IgnoreResult(fs().RemoveDirectory(dir_));
  }
  qp::IFileSystem &fs() { return qp::Platform().Files(); }
  std::string Long() const { return dir_ + "\\A Long Folder Name"; }
  // What the system calls the path in full (no 8.3 names).
  static std::string LongPath(const std::string &path) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = ::GetLongPathNameW(qp::win32::Wide(path).c_str(), buffer, MAX_PATH * 2);
    return length == 0 ? std::string() : qp::win32::Narrow(std::wstring_view(buffer, length));
  }

  std::string dir_;
};

TEST_F(Win32FinalPath, PlainAndShortPathsNameTheLongPathAndMissingOnesAnswerTheirStatus) {
  const std::string file = Long() + "\\File Name.txt";
  const std::string expected = LongPath(file);
  ASSERT_FALSE(expected.empty());
  std::string out;
  ASSERT_EQ(fs().GetFinalPath(file, out), 0);
  EXPECT_TRUE(qp::EqualsNoCase(out, expected)) << out << " / " << expected;
  EXPECT_EQ(out.rfind("\\\\?\\", 0), std::string::npos) << out;

  wchar_t shortName[MAX_PATH * 2];
  const DWORD length = ::GetShortPathNameW(qp::win32::Wide(file).c_str(), shortName, MAX_PATH * 2);
  ASSERT_NE(length, 0u);
  const std::string shortPath = qp::win32::Narrow(std::wstring_view(shortName, length));
  EXPECT_NE(shortPath, file); // the long names have 8.3 forms
  ASSERT_EQ(fs().GetFinalPath(shortPath, out), 0);
  EXPECT_TRUE(qp::EqualsNoCase(out, expected)) << shortPath << " -> " << out;

  // A folder, with or without its closing backslash, names itself alone.
  ASSERT_EQ(fs().GetFinalPath(Long() + "\\", out), 0);
  EXPECT_TRUE(qp::EqualsNoCase(out, LongPath(Long()))) << out;
  ASSERT_EQ(fs().GetFinalPath("C:\\", out), 0);
  EXPECT_EQ(out, "C:\\");

  EXPECT_EQ(fs().GetFinalPath(Long() + "\\missing.txt", out), wc::ErrorFileNotFound);
  EXPECT_EQ(out, "");
  EXPECT_EQ(fs().GetFinalPath(Long() + "\\nowhere\\x.txt", out), wc::ErrorPathNotFound);

  // The entries of a folder reached through its 8.3 name are its own.
  const std::string shortFolder = shortPath.substr(0, shortPath.find_last_of('\\'));
  const qp::TFolderFinalPath folder(shortFolder);
  ASSERT_TRUE(folder.Known());
  EXPECT_FALSE(folder.LeadsElsewhere("File Name.txt"));
  EXPECT_FALSE(qp::LeadsElsewhere(file));
}

} // namespace
