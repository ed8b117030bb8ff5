// The Win32 file-system implementation under Wine: real files below the
// temporary folder, drive types, and the 32-bit view of the system folder.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/Platform.h"
#include "platform/ScopeGuard.h"
#include "platform/Utf.h"
#include "platform/win32/WinApi.h"
#include "platform/win32/WinText.h"
#include "platform/win32/Wow64FsView.h"
#include "tests/wine/WineTestSupport.h"

namespace {

class Win32Files : public testing::Test {
protected:
  void SetUp() override {
    dir_ = qp::Platform().System().GetTempPath() + "QuenloTest";
    RemoveAll();
    ASSERT_EQ(fs().CreateDirectory(dir_), 0) << dir_;
  }
  void TearDown() override { RemoveAll(); }

  qp::IFileSystem &fs() { return qp::Platform().Files(); }
  std::string In(const std::string &name) const { return dir_ + "\\" + name; }

  void RemoveAll() {
    qp::FindData found;
    long error = 0;
    if (auto find = fs().FindFirst(In("*"), found, &error)) {
      std::vector<std::string> names;
      do {
        if ((found.attributes & wc::FileAttributeDirectory) == 0) {
          names.push_back(found.name);
        }
      } while (find->Next(found));
      find.reset();
      for (const auto &name : names) {
        fs().DeleteFile(In(name));
      }
    }
    fs().RemoveDirectory(dir_);
  }

  std::string dir_;
};

TEST_F(Win32Files, WholeFilesAttributesAndSearch) {
  const std::string content("line 1\r\n\0binary\xFF", 17);
  const std::string unicodeName = "Gr\xC3\xBC\xC3\x9F"
                                  "e \xE6\x97\xA5.txt";
  ASSERT_EQ(fs().WriteFile(In("a.txt"), content), 0);
  ASSERT_EQ(fs().WriteFile(In(unicodeName), "x"), 0);
  // CREATE_ALWAYS: a second write replaces the content.
  ASSERT_EQ(fs().WriteFile(In("b.txt"), "longer content"), 0);
  ASSERT_EQ(fs().WriteFile(In("b.txt"), "short"), 0);

  std::string read;
  EXPECT_EQ(fs().ReadFile(In("a.txt"), read), 0);
  EXPECT_EQ(read, content);
  EXPECT_EQ(fs().ReadFile(In("b.txt"), read), 0);
  EXPECT_EQ(read, "short");
  EXPECT_EQ(fs().ReadFile(In("missing.txt"), read), wc::ErrorFileNotFound);

  long error = -1;
  const std::uint32_t fileAttributes = fs().GetAttributes(In("a.txt"), &error);
  EXPECT_NE(fileAttributes, wc::InvalidFileAttributes);
  EXPECT_EQ(fileAttributes & wc::FileAttributeDirectory, 0u);
  EXPECT_EQ(error, 0);
  EXPECT_NE(fs().GetAttributes(dir_) & wc::FileAttributeDirectory, 0u);
  EXPECT_EQ(fs().GetAttributes(In("missing.txt"), &error), wc::InvalidFileAttributes);
  EXPECT_EQ(error, wc::ErrorFileNotFound);
  EXPECT_EQ(fs().GetAttributes(In("nodir\\missing.txt"), &error), wc::InvalidFileAttributes);
  EXPECT_EQ(error, wc::ErrorPathNotFound);
  // The non-ASCII name reached the file system as UTF-16.
  EXPECT_NE(::GetFileAttributesW((qp::win32::Wide(dir_) + L"\\Gr\u00FC\u00DFe \u65E5.txt").c_str()),
            INVALID_FILE_ATTRIBUTES);

  std::map<std::string, std::uint64_t> found;
  qp::FindData data;
  auto find = fs().FindFirst(In("*"), data, &error);
  ASSERT_NE(find, nullptr);
  EXPECT_EQ(error, 0);
  do {
    found[data.name] = data.size;
    EXPECT_NE(data.lastWriteTime, 0u) << data.name;
  } while (find->Next(data));
  EXPECT_EQ(found, (std::map<std::string, std::uint64_t>{
                       {".", 0}, {"..", 0}, {"a.txt", 17}, {"b.txt", 5}, {unicodeName, 1}}));

  EXPECT_EQ(fs().FindFirst(In("*.none"), data, &error), nullptr);
  EXPECT_EQ(error, wc::ErrorFileNotFound);
  EXPECT_EQ(fs().FindFirst(In("nodir\\*"), data, &error), nullptr);
  EXPECT_EQ(error, wc::ErrorPathNotFound);
}

TEST_F(Win32Files, CopyMoveDeleteAndFolders) {
  ASSERT_EQ(fs().WriteFile(In("src.txt"), "source"), 0);
  ASSERT_EQ(fs().WriteFile(In("other.txt"), "other"), 0);

  EXPECT_EQ(fs().CopyFile(In("src.txt"), In("copy.txt"), true), 0);
  EXPECT_EQ(fs().CopyFile(In("src.txt"), In("other.txt"), true), wc::ErrorFileExists);
  EXPECT_EQ(fs().CopyFile(In("src.txt"), In("other.txt"), false), 0);
  EXPECT_EQ(fs().CopyFile(In("missing.txt"), In("x.txt"), false), wc::ErrorFileNotFound);
  std::string read;
  EXPECT_EQ(fs().ReadFile(In("other.txt"), read), 0);
  EXPECT_EQ(read, "source");

  EXPECT_EQ(fs().MoveFile(In("copy.txt"), In("src.txt"), 0), wc::ErrorAlreadyExists);
  EXPECT_EQ(fs().MoveFile(In("copy.txt"), In("moved.txt"), 0), 0);
  EXPECT_EQ(fs().GetAttributes(In("copy.txt")), wc::InvalidFileAttributes);
  EXPECT_EQ(fs().WriteFile(In("moved.txt"), "new"), 0);
  EXPECT_EQ(fs().MoveFile(In("moved.txt"), In("src.txt"), 1), 0);
  EXPECT_EQ(fs().ReadFile(In("src.txt"), read), 0);
  EXPECT_EQ(read, "new");

  EXPECT_EQ(fs().CreateDirectory(In("sub")), 0);
  EXPECT_EQ(fs().CreateDirectory(In("sub")), wc::ErrorAlreadyExists);
  EXPECT_EQ(fs().WriteFile(In("sub\\f"), "f"), 0);
  EXPECT_EQ(fs().RemoveDirectory(In("sub")), wc::ErrorDirNotEmpty);
  EXPECT_EQ(fs().DeleteFile(In("sub\\f")), 0);
  EXPECT_EQ(fs().DeleteFile(In("sub\\f")), wc::ErrorFileNotFound);
  EXPECT_EQ(fs().RemoveDirectory(In("sub")), 0);

  // Nothing to recycle: the shell reports a failure (the bin itself is not
  // touched, it lives in the Linux user's home under Wine).
  EXPECT_NE(fs().RecycleFile(In("missing.txt")), 0);

  // Appending creates a missing file and never rewrites what was there.
  EXPECT_EQ(fs().AppendFile(In("log.txt"), "one\r\n"), 0);
  EXPECT_EQ(fs().AppendFile(In("log.txt"), "two\r\n"), 0);
  EXPECT_EQ(fs().ReadFile(In("log.txt"), read), 0);
  EXPECT_EQ(read, "one\r\ntwo\r\n");
  EXPECT_EQ(fs().AppendFile(In("no folder\\log.txt"), "x"), wc::ErrorPathNotFound);

  // A file another program wrote is put on the disk; a missing one says so.
  EXPECT_EQ(fs().FlushFile(In("src.txt")), 0);
  EXPECT_EQ(fs().FlushFile(In("missing.txt")), wc::ErrorFileNotFound);
}

// A lock file keeps every other opener out, this process's own included,
// and is gone once let go of.
TEST_F(Win32Files, ALockFileIsHeldAloneAndGoesOnRelease) {
  std::unique_ptr<qp::IFileLock> held;
  ASSERT_EQ(fs().OpenLockFile(In("index.lock"), held), 0);
  std::unique_ptr<qp::IFileLock> second;
  EXPECT_EQ(fs().OpenLockFile(In("index.lock"), second), wc::ErrorSharingViolation);
  EXPECT_EQ(second, nullptr);
  std::string read;
  EXPECT_EQ(fs().ReadFile(In("index.lock"), read), wc::ErrorSharingViolation);
  EXPECT_NE(fs().GetAttributes(In("index.lock")), wc::InvalidFileAttributes);
  held.reset();
  EXPECT_EQ(fs().GetAttributes(In("index.lock")), wc::InvalidFileAttributes);
  EXPECT_EQ(fs().OpenLockFile(In("index.lock"), second), 0);
  second.reset();
  EXPECT_EQ(fs().OpenLockFile(In("no such folder\\index.lock"), held), wc::ErrorPathNotFound);
}

// The owner and access list calls reach the system. Wine answers a set
// DACL with success but keeps only what its Unix mode bits can say (its
// answer afterwards is the synthetic list of SYSTEM, the user and
// Everyone), so what the folder then holds is checked on the model only.
TEST_F(Win32Files, AccessListCallsReachTheSystem) {
  constexpr std::uint32_t kDacl = wc::DaclSecurityInformation;
  const std::string folder = In("safe");
  ASSERT_EQ(fs().CreateDirectory(folder), 0);
  EXPECT_EQ(fs().SetFileSecurity(folder, kDacl, "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"), 0);
  std::string sddl;
  ASSERT_EQ(fs().GetFileSecurity(folder, kDacl, sddl), 0);
  EXPECT_EQ(sddl.rfind("D:", 0), 0u) << sddl;
  EXPECT_NE(sddl.find("(A;"), std::string::npos) << sddl;
  std::string owner;
  ASSERT_EQ(fs().GetFileSecurity(folder, wc::OwnerSecurityInformation, owner), 0);
  EXPECT_EQ(owner.rfind("O:", 0), 0u) << owner;
  EXPECT_NE(fs().SetFileSecurity(folder, kDacl, "D:(bad"), 0);
  EXPECT_EQ(fs().GetFileSecurity(In("missing"), kDacl, sddl), wc::ErrorFileNotFound);
  qp::IgnoreResult(fs().RemoveDirectory(folder));
}

TEST(Win32Drives, DriveTypesOfThePrefix) {
  qp::IFileSystem &fs = qp::Platform().Files();
  EXPECT_EQ(fs.GetDriveType("C:\\"), wc::DriveFixed);
  EXPECT_EQ(fs.GetDriveType("Z:\\"), wc::DriveFixed);
  EXPECT_EQ(fs.GetDriveType("R:\\"), wc::DriveCdrom);
  EXPECT_EQ(fs.GetDriveType("Q:\\"), wc::DriveNoRootDir);
  EXPECT_NE(fs.GetAttributes("R:\\oncd.exe"), wc::InvalidFileAttributes);
}

TEST(Win32Wow64View, MapsTheSystemFolderLikeARedirectedProcess) {
  using qp::win32::MapToWow64View;
  const qp::win32::Wow64Folders f{L"C:\\Windows\\System32", L"C:\\Windows\\SysWOW64",
                                  L"C:\\Windows"};
  EXPECT_EQ(MapToWow64View(L"C:\\Windows\\System32", f), L"C:\\Windows\\SysWOW64");
  EXPECT_EQ(MapToWow64View(L"c:\\WINDOWS\\system32\\", f), L"C:\\Windows\\SysWOW64\\");
  EXPECT_EQ(MapToWow64View(L"c:\\windows\\system32\\x\\y.dll", f),
            L"C:\\Windows\\SysWOW64\\x\\y.dll");
  EXPECT_EQ(MapToWow64View(L"C:\\Windows\\System32\\drivers\\x.sys", f),
            L"C:\\Windows\\SysWOW64\\drivers\\x.sys");
  EXPECT_EQ(MapToWow64View(L"C:\\Windows\\System32\\*", f), L"C:\\Windows\\SysWOW64\\*");
  // Shared folders and lookalikes stay.
  for (const wchar_t *same :
       {L"C:\\Windows\\System32x\\a", L"C:\\Windows\\System32\\catroot\\a",
        L"C:\\Windows\\System32\\CATROOT2", L"C:\\Windows\\System32\\drivers\\etc\\hosts",
        L"C:\\Windows\\System32\\LogFiles", L"C:\\Windows\\System32\\spool\\drivers",
        L"C:\\Windows\\System32\\DriverStore\\FileRepository", L"D:\\Windows\\System32\\a",
        L"C:\\Windows\\notepad.exe", L"C:\\Windows"}) {
    EXPECT_EQ(MapToWow64View(same, f), same);
  }
  EXPECT_EQ(MapToWow64View(L"C:\\Windows\\System32\\catrootx", f),
            L"C:\\Windows\\SysWOW64\\catrootx");
  EXPECT_EQ(MapToWow64View(L"C:\\Windows\\Sysnative\\cmd.exe", f),
            L"C:\\Windows\\System32\\cmd.exe");
}

TEST(Win32Wow64View, SwitchedThreadSeesTheWow64SystemFolder) {
  qp::IFileSystem &fs = qp::Platform().Files();
  wchar_t wow[MAX_PATH] = {};
  ASSERT_GT(::GetSystemWow64DirectoryW(wow, MAX_PATH), 0u);
  const std::string sysWow64 = qp::win32::Narrow(wow);
  const std::string system = qp::Platform().System().GetSystemDirectory();
  const std::string probe = "\\quenlo_wow_probe.txt";
  ASSERT_EQ(fs.WriteFile(sysWow64 + probe, "32"), 0);

  EXPECT_EQ(fs.GetAttributes(system + probe), wc::InvalidFileAttributes);
  std::uintptr_t previous = 7;
  ASSERT_TRUE(fs.SwitchFsView(previous));
  EXPECT_EQ(previous, 0u);
  EXPECT_NE(fs.GetAttributes(system + probe), wc::InvalidFileAttributes);
  EXPECT_NE(fs.GetAttributes(qp::UpperAscii(system) + probe), wc::InvalidFileAttributes);
  qp::FindData data;
  long error = 0;
  EXPECT_NE(fs.FindFirst(system + "\\quenlo_wow_probe.*", data, &error), nullptr);
  std::string read;
  EXPECT_EQ(fs.ReadFile(system + probe, read), 0);
  EXPECT_EQ(read, "32");
  // cmd.exe exists only in the 64-bit folder of a Wine prefix.
  EXPECT_EQ(fs.GetAttributes(system + "\\cmd.exe"), wc::InvalidFileAttributes);
  // drivers\etc is shared between the views.
  EXPECT_NE(fs.GetAttributes(system + "\\drivers\\etc\\hosts"), wc::InvalidFileAttributes);

  // Switching again keeps the view until the outer revert.
  std::uintptr_t inner = 0;
  ASSERT_TRUE(fs.SwitchFsView(inner));
  EXPECT_EQ(inner, 1u);
  fs.RevertFsView(inner);
  EXPECT_NE(fs.GetAttributes(system + probe), wc::InvalidFileAttributes);
  fs.RevertFsView(previous);

  EXPECT_EQ(fs.GetAttributes(system + probe), wc::InvalidFileAttributes);
  EXPECT_NE(fs.GetAttributes(system + "\\cmd.exe"), wc::InvalidFileAttributes);
  EXPECT_EQ(fs.DeleteFile(sysWow64 + probe), 0);
}

} // namespace
