// File checks over the real file system and drives of a Wine prefix.
#include <gtest/gtest.h>

#include "paths/uPaths.h"
#include "platform/Utf.h"
#include "registry/uRegAccess.h"

namespace {

using namespace quenlo;

class WinePaths : public testing::Test {
protected:
  void SetUp() override {
    folder_ = GetTempDir() + "quenlo paths test";
    qp::Platform().Files().CreateDirectory(folder_);
    file_ = folder_ + "\\app.exe";
    ASSERT_EQ(qp::Platform().Files().WriteFile(file_, "MZ"), 0);
  }
  void TearDown() override {
    qp::Platform().Files().DeleteFile(file_);
    qp::Platform().Files().RemoveDirectory(folder_);
  }
  std::string folder_;
  std::string file_;
};

TEST_F(WinePaths, ProbesRealFilesOnFixedDrives) {
  std::string path = file_ + " -x";
  EXPECT_EQ(ProbePath(path), kProbeFile);
  EXPECT_EQ(path, file_);
  path = "\"" + file_ + "\",1";
  EXPECT_TRUE(FileReferenceExists(ExtractIconFile(path)));
  path = folder_ + "\\";
  EXPECT_EQ(ProbePath(path), kProbeFolder);
  EXPECT_FALSE(ProbeFile(folder_ + "\\"));
  EXPECT_TRUE(ProbeFileOrFolder(folder_ + "\\"));
  EXPECT_TRUE(CommandTargetExists("\"" + file_ + "\" /s"));
  EXPECT_FALSE(CommandTargetExists("\"" + folder_ + "\\gone.exe\" /s"));
}

TEST_F(WinePaths, CdRomAndNetworkPathsAreNeverFound) {
  // scripts/wine-prefix.sh makes R: a CD-ROM drive holding oncd.exe.
  ASSERT_EQ(qp::Platform().Files().GetDriveType("R:\\"), wc::DriveCdrom);
  EXPECT_NE(qp::Platform().Files().GetAttributes("R:\\oncd.exe"), wc::InvalidFileAttributes);
  EXPECT_FALSE(ProbeFile("R:\\oncd.exe"));
  EXPECT_FALSE(FileReferenceExists("\\\\server\\share\\x.exe"));
  // Z: maps the Linux root and is a fixed drive.
  EXPECT_EQ(qp::Platform().Files().GetDriveType("Z:\\"), wc::DriveFixed);
}

TEST_F(WinePaths, BareNamesAndEnvironment) {
  EXPECT_EQ(qp::LowerAscii(LocateFile("notepad.exe")).rfind("c:\\windows\\", 0), 0u);
  EXPECT_TRUE(CommandTargetExists("rundll32 shell32.dll,Control_RunDLL"));
  EXPECT_TRUE(CommandTargetExists("notepad %1"));
  EXPECT_FALSE(FileReferenceExists("quenlo-no-such-file.dll"));
  EXPECT_TRUE(FileReferenceExists("%SystemRoot%\\system32\\cmd.exe"));
  EXPECT_EQ(ExpandEnvPath("%ProgramFiles%\\x", true), ExpandEnvPath("%ProgramW6432%\\x"));
  EXPECT_EQ(GetSystemDir(), "c:\\windows\\system32\\");
}

} // namespace
