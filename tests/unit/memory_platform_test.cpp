// The in-memory Windows model: registry views and aliases, handles and status
// codes, the file system's path rules and WOW64 view, system facts.
#include <gtest/gtest.h>

#include <thread>

#include "platform/Utf.h"
#include "platform/memory/MemoryPlatform.h"

namespace {

using qp::HKey;
using qp::mem::View;
using qp::mem::Wow64Layout;

constexpr std::uint32_t kRead = wc::KeyRead;
constexpr std::uint32_t k32 = wc::KeyWow64_32Key;
constexpr std::uint32_t k64 = wc::KeyWow64_64Key;

class MemoryFixture : public ::testing::Test {
protected:
  qp::mem::MemoryPlatform platform;
  qp::mem::MemoryRegistry &reg = platform.Reg();
  qp::mem::MemoryFileSystem &fs = platform.Fs();
  qp::mem::MemorySystem &sys = platform.Sys();

  long Open(HKey root, std::string_view path, std::uint32_t sam, HKey &out) {
    return reg.OpenKey(root, path, sam, out);
  }
  // Status of opening and closing at once.
  long Probe(HKey root, std::string_view path, std::uint32_t sam) {
    HKey key = 0;
    const long st = reg.OpenKey(root, path, sam, key);
    if (st == 0)
      reg.CloseKey(key);
    return st;
  }
  std::string QueryText(HKey key, std::string_view name) {
    qp::Bytes data;
    if (reg.QueryValue(key, name, nullptr, &data, nullptr) != 0)
      return "<missing>";
    std::string text = qp::RawUtf16ToUtf8(data);
    while (!text.empty() && text.back() == '\0')
      text.pop_back();
    return text;
  }
  std::vector<std::string> EnumNames(HKey key) {
    std::vector<std::string> names;
    std::string name;
    for (std::uint32_t i = 0; reg.EnumKey(key, i, 256, name) == 0; ++i)
      names.push_back(name);
    return names;
  }
};

using MemoryRegistryViews = MemoryFixture;
using MemoryRegistryClasses = MemoryFixture;
using MemoryRegistryHandles = MemoryFixture;
using MemoryRegistryData = MemoryFixture;
using MemoryFsPaths = MemoryFixture;
using MemoryFsView = MemoryFixture;
using MemoryFsOps = MemoryFixture;
using MemorySystemFacts = MemoryFixture;
using MemoryRegistryModel = MemoryFixture;
using ThreadedMemoryPlatform = MemoryFixture;

TEST_F(MemoryRegistryViews, Windows7RedirectsClsidAndSoftwareButSharesClasses) {
  ASSERT_TRUE(reg.SetString(View::V32, "HKLM\\Software\\Classes\\CLSID\\{A}", "", "a32"));
  EXPECT_TRUE(reg.KeyExists(View::Phys, "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{A}"));
  EXPECT_TRUE(reg.KeyExists(View::Phys, "HKLM\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\{A}"));
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\Classes\\CLSID\\{A}"));
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Classes\\CLSID\\{A}", kRead | k32), 0);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Classes\\CLSID\\{A}", kRead | k64), 2);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Classes\\CLSID\\{A}", kRead), 2);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software", kRead | k32 | k64), 87);

  reg.SetString(View::V32, "HKLM\\Software\\Classes\\.txt", "", "txtfile");
  reg.SetString(View::V32, "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S",
                "", "p");
  EXPECT_EQ(reg.GetText(View::V64, "HKLM\\Software\\Classes\\.txt", ""), "txtfile");
  EXPECT_EQ(reg.GetString(View::V64, "HKLM\\Software\\Classes\\.txt", ""),
            std::string("txtfile", 8));
  EXPECT_TRUE(reg.KeyExists(
      View::V64, "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S"));

  reg.CreateKey(View::V32, "HKLM\\Software\\Vendor\\App");
  EXPECT_TRUE(reg.KeyExists(View::Phys, "HKLM\\SOFTWARE\\Wow6432Node\\Vendor\\App"));
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\Vendor"));
  // A path naming Wow6432Node is taken as it is.
  reg.CreateKey(View::V32, "HKLM\\Software\\Wow6432Node\\Other");
  EXPECT_TRUE(reg.KeyExists(View::Phys, "HKLM\\SOFTWARE\\Wow6432Node\\Other"));
  EXPECT_FALSE(reg.KeyExists(View::Phys, "HKLM\\SOFTWARE\\Wow6432Node\\Wow6432Node"));
  // The user's CLSID key has a 32-bit copy too.
  reg.CreateKey(View::V32, "HKCU\\Software\\Classes\\CLSID\\{B}");
  EXPECT_TRUE(reg.KeyExists(View::Phys, "HKCU\\Software\\Classes\\Wow6432Node\\CLSID\\{B}"));

  // A 32-bit process sees the 32-bit view without asking for it.
  sys.SetProcessIs64Bit(false);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Classes\\CLSID\\{A}", kRead), 0);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Vendor\\App", kRead), 0);
}

TEST_F(MemoryRegistryViews, WineAndThirtyTwoBitWindowsLayouts) {
  reg.SetLayout(Wow64Layout::Wine);
  reg.CreateKey(View::V32, "HKLM\\Software\\Classes\\.txt");
  reg.CreateKey(View::V32, "HKLM\\Software\\Classes\\AppID\\{C}");
  reg.CreateKey(View::V32, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\x.exe");
  reg.CreateKey(View::V32, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  EXPECT_TRUE(reg.KeyExists(View::Phys, "HKLM\\SOFTWARE\\Classes\\Wow6432Node\\.txt"));
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\Classes\\.txt"));
  EXPECT_TRUE(reg.KeyExists(View::V64, "HKLM\\Software\\Classes\\AppID\\{C}"));
  EXPECT_TRUE(reg.KeyExists(
      View::V64, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\x.exe"));
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"));

  qp::mem::MemoryPlatform x86;
  x86.Sys().SetOs64Bit(false);
  x86.Reg().CreateKey(View::V32, "HKLM\\Software\\Classes\\CLSID\\{D}");
  EXPECT_TRUE(x86.Reg().KeyExists(View::Phys, "HKLM\\Software\\Classes\\CLSID\\{D}"));
  HKey key = 0;
  EXPECT_EQ(
      x86.Reg().OpenKey(wc::HkeyLocalMachine, "Software\\Classes\\CLSID\\{D}", kRead | k64, key),
      0);
  x86.Reg().CloseKey(key);
}

TEST_F(MemoryRegistryViews, HandlesKeepTheirViewAndHkcrTakesTheFlag) {
  reg.SetString(View::V32, "HKLM\\Software\\Classes\\CLSID\\{E}", "", "32");
  reg.SetString(View::V64, "HKLM\\Software\\Classes\\CLSID\\{E}", "", "64");
  reg.SetString(View::V32, "HKCU\\Software\\Classes\\CLSID\\{F}", "", "user32");
  HKey clsid = 0, sub = 0;
  ASSERT_EQ(Open(wc::HkeyClassesRoot, "CLSID", kRead | k32, clsid), 0);
  EXPECT_EQ(EnumNames(clsid), (std::vector<std::string>{"{E}", "{F}"}));
  ASSERT_EQ(Open(clsid, "{E}", kRead, sub), 0); // no flag: the parent's view
  EXPECT_EQ(QueryText(sub, ""), "32");
  reg.CloseKey(sub);
  ASSERT_EQ(Open(clsid, "{E}", kRead | k64, sub), 0);
  EXPECT_EQ(QueryText(sub, ""), "64");
  reg.CloseKey(sub);
  reg.CloseKey(clsid);
  ASSERT_EQ(Open(wc::HkeyClassesRoot, "CLSID", kRead, clsid), 0);
  EXPECT_EQ(EnumNames(clsid), (std::vector<std::string>{"{E}"}));
  reg.CloseKey(clsid);

  // The 32-bit HKLM\Software is Wow6432Node, which lists the shared Classes.
  HKey software = 0;
  ASSERT_EQ(Open(wc::HkeyLocalMachine, "Software", kRead | k32, software), 0);
  const std::vector<std::string> names = EnumNames(software);
  EXPECT_NE(std::find(names.begin(), names.end(), "Classes"), names.end());
  reg.CloseKey(software);
  const std::string dump = reg.Dump("HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID");
  EXPECT_NE(dump.find("[HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{E}]\n\"\"=1:32\\0"),
            std::string::npos)
      << dump;

  // Names over 255 units come only from the builder.
  HKey made = 0;
  EXPECT_EQ(
      reg.CreateKey(wc::HkeyCurrentUser, std::string(256, 'n'), wc::KeyAllAccess, made, nullptr),
      87);
}

TEST_F(MemoryRegistryClasses, MergesUserOverMachineAndRoutesWrites) {
  reg.SetString(View::Phys, "HKLM\\Software\\Classes\\.a", "", "machine");
  reg.SetString(View::Phys, "HKLM\\Software\\Classes\\.a", "Extra", "m-extra");
  reg.CreateKey(View::Phys, "HKLM\\Software\\Classes\\.B");
  reg.SetString(View::Phys, "HKCU\\Software\\Classes\\.a", "", "user");
  reg.CreateKey(View::Phys, "HKCU\\Software\\Classes\\.c");

  HKey root = 0;
  ASSERT_EQ(Open(wc::HkeyClassesRoot, "", kRead, root), 0);
  std::vector<std::string> names = EnumNames(root);
  std::erase(names, "Wow6432Node");
  EXPECT_EQ(names, (std::vector<std::string>{".a", ".B", ".c"}));
  reg.CloseKey(root);

  HKey a = 0;
  ASSERT_EQ(Open(wc::HkeyClassesRoot, ".A", wc::KeyAllAccess, a), 0);
  EXPECT_EQ(QueryText(a, ""), "user");
  EXPECT_EQ(QueryText(a, "extra"), "m-extra");
  qp::KeyInfo info;
  ASSERT_EQ(reg.QueryInfoKey(a, info), 0);
  EXPECT_EQ(info.values, 2u);
  EXPECT_EQ(reg.SetValue(a, "New", wc::RegDword, {1, 0, 0, 0}), 0);
  EXPECT_TRUE(reg.ValueExists(View::Phys, "HKCU\\Software\\Classes\\.a", "New"));
  reg.CloseKey(a);

  HKey created = 0;
  std::uint32_t disposition = 0;
  ASSERT_EQ(
      reg.CreateKey(wc::HkeyClassesRoot, ".B\\shell", wc::KeyAllAccess, created, &disposition), 0);
  EXPECT_EQ(disposition, wc::RegCreatedNewKey);
  reg.CloseKey(created);
  ASSERT_EQ(reg.CreateKey(wc::HkeyClassesRoot, ".a\\shell", wc::KeyAllAccess, created, nullptr), 0);
  reg.CloseKey(created);
  EXPECT_TRUE(reg.KeyExists(View::Phys, "HKLM\\Software\\Classes\\.B\\shell"));
  EXPECT_TRUE(reg.KeyExists(View::Phys, "HKCU\\Software\\Classes\\.a\\shell"));
  EXPECT_FALSE(reg.KeyExists(View::Phys, "HKLM\\Software\\Classes\\.a\\shell"));

  // Deletes take the user's copy first.
  EXPECT_EQ(reg.DeleteKey(wc::HkeyClassesRoot, ".a\\shell"), 0);
  EXPECT_EQ(reg.DeleteKey(wc::HkeyClassesRoot, ".a"), 0);
  EXPECT_EQ(reg.GetText(View::V64, "HKCR\\.a", ""), "machine");
  EXPECT_EQ(reg.DeleteKey(wc::HkeyClassesRoot, ".a"), 0);
  EXPECT_EQ(reg.DeleteKey(wc::HkeyClassesRoot, ".a"), 2);

  // HKCU is the user's key below HKU, HKCC the current hardware profile.
  reg.CreateKey(View::Phys, "HKCU\\Software\\Vendor");
  EXPECT_TRUE(reg.KeyExists(
      View::Phys, "HKU\\S-1-5-21-1004336348-1177238915-682003330-1001\\Software\\Vendor"));
  reg.CreateKey(View::Phys,
                "HKLM\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\Software");
  EXPECT_EQ(Probe(wc::HkeyCurrentConfig, "Software", kRead), 0);
}

TEST_F(MemoryRegistryHandles, AccessDeletionAndLeaks) {
  reg.CreateKey(View::V64, "HKLM\\Software\\Vendor\\Sub");
  const std::size_t before = reg.OpenHandleCount();
  HKey ro = 0, rw = 0;
  ASSERT_EQ(Open(wc::HkeyLocalMachine, "Software\\Vendor", kRead, ro), 0);
  ASSERT_EQ(Open(wc::HkeyLocalMachine, "software\\VENDOR", wc::KeyAllAccess, rw), 0);
  EXPECT_NE(ro, rw);
  EXPECT_LT(ro, 0x80000000u);
  EXPECT_EQ(reg.OpenHandleCount(), before + 2);
  EXPECT_EQ(reg.SetValue(ro, "v", wc::RegDword, {1, 0, 0, 0}), 5);
  EXPECT_EQ(reg.DeleteValue(ro, "v"), 5);
  HKey sub = 0;
  EXPECT_EQ(reg.CreateKey(ro, "New", wc::KeyAllAccess, sub, nullptr), 5);
  EXPECT_EQ(reg.SetValue(rw, "v", wc::RegDword, {1, 0, 0, 0}), 0);

  EXPECT_EQ(Open(wc::HkeyLocalMachine, "Software\\Vendor\\Sub", kRead, sub), 0);
  EXPECT_EQ(reg.DeleteKey(wc::HkeyLocalMachine, "Software\\Vendor"), 5); // has a subkey
  EXPECT_EQ(reg.DeleteKey(rw, "Sub"), 0);
  qp::KeyInfo info;
  std::string name;
  EXPECT_EQ(reg.QueryInfoKey(sub, info), 1018);
  EXPECT_EQ(reg.EnumKey(sub, 0, 256, name), 1018);
  EXPECT_EQ(reg.QueryValue(sub, "", nullptr, nullptr, nullptr), 1018);
  EXPECT_EQ(reg.CloseKey(sub), 0);
  EXPECT_EQ(reg.CloseKey(sub), 6);
  reg.CloseKey(ro);
  reg.CloseKey(rw);
  EXPECT_EQ(reg.OpenHandleCount(), before);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Missing", kRead), 2);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "\\Software", kRead), 161);

  // Keys that refuse access, writing or deletion.
  reg.CreateKey(View::V64, "HKLM\\Software\\Locked");
  reg.CreateKey(View::V64, "HKLM\\Software\\ReadOnly");
  reg.CreateKey(View::V64, "HKLM\\Software\\Kept");
  reg.SetDenyAccess(View::V64, "HKLM\\Software\\Locked", true);
  reg.SetDenyWrite(View::V64, "HKLM\\Software\\ReadOnly", true);
  reg.SetDenyDelete(View::V64, "HKLM\\Software\\Kept", true);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Locked", kRead), 5);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\ReadOnly", kRead), 0);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\ReadOnly", wc::KeyAllAccess), 5);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\ReadOnly", wc::WriteOwner), 5);
  EXPECT_EQ(reg.DeleteKey(wc::HkeyLocalMachine, "Software\\Kept"), 5);
  HKey owner = 0;
  std::string sddl;
  ASSERT_EQ(Open(wc::HkeyLocalMachine, "Software\\Kept", wc::WriteOwner | wc::ReadControl, owner),
            0);
  EXPECT_EQ(reg.SetKeySecurity(owner, 4, "D:(A;OICI;GA;;;BU)"), 5); // no WRITE_DAC
  EXPECT_EQ(reg.SetKeySecurity(owner, 1, "O:S-1-5-32-545"), 0);
  ASSERT_EQ(reg.GetKeySecurity(owner, 1 | 4, sddl), 0);
  EXPECT_EQ(sddl.substr(0, 16), "O:S-1-5-32-545D:");
  reg.CloseKey(owner);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Kept", wc::KeyAllAccess), 0);

  // RegDeleteKeyEx deletes in the view it is given; RegDeleteKey in the
  // process's own.
  reg.CreateKey(View::V32, "HKLM\\Software\\Both");
  reg.CreateKey(View::V64, "HKLM\\Software\\Both");
  EXPECT_EQ(reg.DeleteKeyEx(wc::HkeyLocalMachine, "Software\\Both", k32), 0);
  EXPECT_FALSE(reg.KeyExists(View::V32, "HKLM\\Software\\Both"));
  EXPECT_TRUE(reg.KeyExists(View::V64, "HKLM\\Software\\Both"));
  EXPECT_EQ(reg.DeleteKey(wc::HkeyLocalMachine, "Software\\Both"), 0);
  EXPECT_FALSE(reg.KeyExists(View::V64, "HKLM\\Software\\Both"));
}

TEST_F(MemoryRegistryData, EnumerationOrderLimitsAndFaults) {
  const std::string path = "HKLM\\Software\\Data";
  reg.SetDword(View::V64, path, "first", 1);
  reg.SetDword(View::V64, path, "second", 2);
  reg.SetDword(View::V64, path, "FIRST", 3); // keeps its place and its name
  reg.CreateKey(View::V64, path + "\\beta");
  reg.CreateKey(View::V64, path + "\\Alpha");
  reg.CreateKey(View::V64, path + "\\" + std::string(256, 'x'));
  HKey key = 0;
  ASSERT_EQ(Open(wc::HkeyLocalMachine, "Software\\Data", wc::KeyAllAccess, key), 0);

  std::string name;
  std::uint32_t type = 0;
  qp::Bytes data;
  ASSERT_EQ(reg.EnumValue(key, 0, 100, 100, name, type, data), 0);
  EXPECT_EQ(name, "first");
  EXPECT_EQ(data, (qp::Bytes{3, 0, 0, 0}));
  EXPECT_EQ(reg.EnumValue(key, 1, 100, 3, name, type, data), 234);
  EXPECT_EQ(reg.EnumValue(key, 1, 6, 100, name, type, data), 234);
  EXPECT_EQ(reg.EnumValue(key, 2, 100, 100, name, type, data), 259);

  ASSERT_EQ(reg.EnumKey(key, 0, 256, name), 0);
  EXPECT_EQ(name, "Alpha");
  ASSERT_EQ(reg.EnumKey(key, 1, 256, name), 0);
  EXPECT_EQ(name, "beta");
  EXPECT_EQ(reg.EnumKey(key, 2, 256, name), 234);
  EXPECT_EQ(reg.EnumKey(key, 2, 257, name), 0);
  EXPECT_EQ(reg.EnumKey(key, 3, 257, name), 259);

  qp::KeyInfo info;
  ASSERT_EQ(reg.QueryInfoKey(key, info), 0);
  EXPECT_EQ(info.subKeys, 3u);
  EXPECT_EQ(info.maxSubKeyLen, 256u);
  EXPECT_EQ(info.values, 2u);
  EXPECT_EQ(info.maxValueNameLen, 6u);
  EXPECT_EQ(info.maxValueLen, 4u);

  std::uint32_t size = 0;
  EXPECT_EQ(reg.QueryValue(key, "second", &type, nullptr, &size), 0);
  EXPECT_EQ(type, wc::RegDword);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(reg.QueryValue(key, "third", &type, nullptr, &size), 2);

  reg.InjectFailure(qp::mem::RegOp::QueryValue, "software\\data", 1012);
  EXPECT_EQ(reg.QueryValue(key, "second", nullptr, nullptr, nullptr), 1012);
  EXPECT_EQ(reg.QueryValue(key, "second", nullptr, nullptr, nullptr), 0);
  reg.CloseKey(key);

  EXPECT_TRUE(reg.HasQueryReflectionKey());
  bool disabled = true;
  EXPECT_EQ(reg.QueryReflectionKey(wc::HkeyLocalMachine, disabled), 0);
  EXPECT_FALSE(disabled);
  reg.SetReflectionQueryStatus(120);
  EXPECT_EQ(reg.QueryReflectionKey(wc::HkeyLocalMachine, disabled), 120);
}

TEST_F(MemoryFsPaths, DrivesNamesAndStatusCodes) {
  EXPECT_EQ(fs.GetDriveType("C:\\"), wc::DriveFixed);
  EXPECT_EQ(fs.GetDriveType("Q:\\"), wc::DriveNoRootDir);
  fs.SetDrive('d', wc::DriveCdrom);
  fs.AddFile("D:\\setup.exe");
  EXPECT_EQ(fs.GetDriveType("D:\\"), wc::DriveCdrom);
  EXPECT_NE(fs.GetAttributes("d:/SETUP.EXE"), wc::InvalidFileAttributes);
  fs.AddFile("\\\\server\\share\\tool.exe");
  EXPECT_EQ(fs.GetDriveType("\\\\server\\share\\"), wc::DriveRemote);
  EXPECT_NE(fs.GetAttributes("\\\\SERVER\\Share\\tool.exe"), wc::InvalidFileAttributes);

  long error = 0;
  EXPECT_EQ(fs.GetAttributes("Q:\\x.exe", &error), wc::InvalidFileAttributes);
  EXPECT_EQ(error, 3);
  fs.GetAttributes("C:\\Windows\\nothing.exe", &error);
  EXPECT_EQ(error, 2);
  fs.GetAttributes("C:\\Nowhere\\nothing.exe", &error);
  EXPECT_EQ(error, 3);
  fs.GetAttributes("C:\\Windows\\notepad.exe\\x", &error);
  EXPECT_EQ(error, 3);
  fs.GetAttributes("C:\\Windows\\note*.exe", &error);
  EXPECT_EQ(error, 123);
  fs.GetAttributes("C:\\Windows\\a:b", &error);
  EXPECT_EQ(error, 123);
  fs.GetAttributes("C:\\Windows\\notepad.exe\\", &error);
  EXPECT_EQ(error, 123);
  EXPECT_EQ(fs.GetAttributes("C:\\Windows\\", &error) & wc::FileAttributeDirectory,
            wc::FileAttributeDirectory);
  EXPECT_NE(fs.GetAttributes("C:") & wc::FileAttributeDirectory, 0u);
  EXPECT_NE(fs.GetAttributes("C:\\") & wc::FileAttributeDirectory, 0u);
  EXPECT_NE(fs.GetAttributes("C:\\Windows\\System32\\..\\NOTEPAD.EXE"), wc::InvalidFileAttributes);
  EXPECT_EQ(fs.AttributeQueries(), 13u);
}

TEST_F(MemoryFsPaths, NormalisationSharesAndMoves) {
  fs.AddFile("C:\\Dir\\file.txt", "x");
  EXPECT_NE(fs.GetAttributes("C:\\Dir\\file.txt. . "), wc::InvalidFileAttributes);
  EXPECT_NE(fs.GetAttributes("C:\\\\Dir\\.\\file.txt"), wc::InvalidFileAttributes);
  EXPECT_NE(fs.GetAttributes("C:/Dir/"), wc::InvalidFileAttributes);
  long error = 0;
  fs.GetAttributes("\\\\nobody\\share\\x.exe", &error);
  EXPECT_EQ(error, 53);
  EXPECT_EQ(fs.GetDriveType("\\\\nobody\\share\\"), wc::DriveNoRootDir);
  fs.SetDrive('E', wc::DriveRemovable);
  EXPECT_EQ(fs.CreateDirectory("E:\\Backup"), 0);
  EXPECT_EQ(fs.MoveFile("C:\\Dir\\file.txt", "E:\\Backup\\file.txt", 1), 17);
  EXPECT_EQ(fs.CopyFile("C:\\Dir\\file.txt", "E:\\Backup\\file.txt", false), 0);
  EXPECT_EQ(fs.MoveFile("C:\\Dir", "C:\\Dir\\Inner", 0), 32);
  EXPECT_EQ(fs.MoveFile("C:\\Dir\\file.txt", "C:\\Dir\\FILE.TXT", 0), 0);
  EXPECT_EQ(fs.List("C:\\Dir"), (std::vector<std::string>{"FILE.TXT"}));
  fs.SetDrive('E', wc::DriveNoRootDir);
  EXPECT_EQ(fs.GetAttributes("E:\\Backup\\file.txt", &error), wc::InvalidFileAttributes);
  EXPECT_EQ(error, 3);
}

TEST_F(MemoryFsPaths, FindFirstListsDotsAndMatchesWildcards) {
  fs.AddDir("C:\\Data\\Empty");
  fs.AddFile("C:\\Data\\a.txt", "12345");
  fs.AddFile("C:\\Data\\b.log");
  auto names = [&](std::string_view pattern, long &error) {
    std::vector<std::string> out;
    qp::FindData data;
    auto find = fs.FindFirst(pattern, data, &error);
    if (!find)
      return out;
    do
      out.push_back(data.name);
    while (find->Next(data));
    return out;
  };
  long error = 0;
  EXPECT_EQ(names("C:\\Data\\*", error),
            (std::vector<std::string>{".", "..", "a.txt", "b.log", "Empty"}));
  EXPECT_EQ(names("C:\\Data\\*.TXT", error), (std::vector<std::string>{"a.txt"}));
  EXPECT_EQ(names("C:\\Data\\Empty\\*.*", error), (std::vector<std::string>{".", ".."}));
  EXPECT_EQ(names("C:\\Data\\?.log", error), (std::vector<std::string>{"b.log"}));
  EXPECT_EQ(names("C:\\Data", error), (std::vector<std::string>{"Data"}));
  const std::vector<std::string> root = names("C:\\*", error);
  EXPECT_EQ(std::count(root.begin(), root.end(), ".."), 0);
  EXPECT_TRUE(names("C:\\Data\\*.exe", error).empty());
  EXPECT_EQ(error, 2);
  EXPECT_TRUE(names("C:\\Nothing\\*", error).empty());
  EXPECT_EQ(error, 3);
  qp::FindData data;
  ASSERT_TRUE(fs.FindFirst("c:/data/A.TXT", data, &error));
  EXPECT_EQ(data.size, 5u);
}

TEST_F(MemoryFsView, RedirectionFollowsProcessBitnessAndThreadSwitch) {
  const char *regedit32 = "C:\\Windows\\System32\\regedit.exe"; // only in SysWOW64
  const char *hosts = "C:\\Windows\\System32\\drivers\\etc\\hosts";
  fs.AddFile(hosts);
  EXPECT_EQ(fs.GetAttributes(regedit32), wc::InvalidFileAttributes);
  std::uintptr_t previous = 0;
  ASSERT_TRUE(fs.SwitchFsView(previous));
  EXPECT_NE(fs.GetAttributes(regedit32), wc::InvalidFileAttributes);
  EXPECT_NE(fs.GetAttributes(hosts), wc::InvalidFileAttributes);
  EXPECT_EQ(fs.GetAttributes("C:\\Windows\\System32\\svchost.exe"), wc::InvalidFileAttributes);
  fs.RevertFsView(previous);
  EXPECT_EQ(fs.GetAttributes(regedit32), wc::InvalidFileAttributes);
  EXPECT_EQ(fs.GetAttributes("C:\\Windows\\Sysnative\\svchost.exe"), wc::InvalidFileAttributes);

  sys.SetProcessIs64Bit(false);
  EXPECT_NE(fs.GetAttributes(regedit32), wc::InvalidFileAttributes);
  EXPECT_NE(fs.GetAttributes("C:\\Windows\\Sysnative\\svchost.exe"), wc::InvalidFileAttributes);
  ASSERT_TRUE(fs.SwitchFsView(previous));
  EXPECT_EQ(fs.GetAttributes(regedit32), wc::InvalidFileAttributes);
  EXPECT_NE(fs.GetAttributes("C:\\Windows\\System32\\svchost.exe"), wc::InvalidFileAttributes);
  fs.RevertFsView(previous);

  sys.SetOs64Bit(false);
  EXPECT_FALSE(fs.SwitchFsView(previous));
}

TEST_F(MemoryFsOps, FileAndFolderOperations) {
  EXPECT_EQ(fs.WriteFile("C:\\NoDir\\x.txt", "x"), 3);
  EXPECT_EQ(fs.WriteFile("C:\\Data.txt", "one"), 0);
  EXPECT_EQ(fs.CreateDirectory("C:\\Dir"), 0);
  EXPECT_EQ(fs.CreateDirectory("C:\\Dir"), 183);
  EXPECT_EQ(fs.CreateDirectory("C:\\No\\Dir"), 3);
  EXPECT_EQ(fs.CopyFile("C:\\Data.txt", "C:\\Dir\\copy.txt", true), 0);
  EXPECT_EQ(fs.CopyFile("C:\\Data.txt", "C:\\Dir\\copy.txt", true), 80);
  EXPECT_EQ(fs.MoveFile("C:\\Data.txt", "C:\\Dir\\copy.txt", 0), 183);
  EXPECT_EQ(fs.WriteFile("C:\\Data.txt", "two"), 0);
  EXPECT_EQ(fs.MoveFile("C:\\Data.txt", "C:\\Dir\\copy.txt", 1), 0);
  EXPECT_EQ(fs.Content("C:\\Dir\\copy.txt"), "two");
  EXPECT_FALSE(fs.Exists("C:\\Data.txt"));
  EXPECT_EQ(fs.RemoveDirectory("C:\\Dir"), 145);
  std::string data;
  EXPECT_EQ(fs.ReadFile("C:\\Dir\\copy.txt", data), 0);
  EXPECT_EQ(data, "two");
  EXPECT_EQ(fs.RecycleFile("C:\\Dir\\copy.txt"), 0);
  EXPECT_NE(fs.RecycleFile("C:\\Dir\\copy.txt"), 0);
  EXPECT_EQ(fs.Recycled(), (std::vector<std::string>{"C:\\Dir\\copy.txt"}));
  EXPECT_EQ(fs.DeleteFile("C:\\Dir"), 5);
  EXPECT_EQ(fs.RemoveDirectory("C:\\Dir"), 0);
  fs.InjectFailure(qp::mem::MemoryFileSystem::Op::Write, "locked", 32);
  EXPECT_EQ(fs.WriteFile("C:\\Locked.txt", "x"), 32);
  EXPECT_EQ(fs.WriteFile("C:\\Locked.txt", "x"), 0);
}

// As under Windows: no second holder, nothing reads, replaces, deletes or
// recycles the file (or its folder) while held, and it is gone on release.
TEST_F(MemoryFsOps, LockFilesAreHeldAloneAndGoOnRelease) {
  fs.AddDir("C:\\Day");
  std::unique_ptr<qp::IFileLock> held, second;
  ASSERT_EQ(fs.OpenLockFile("C:\\Day\\index.lock", held), 0);
  EXPECT_EQ(fs.OpenLockFile("C:\\day\\INDEX.LOCK", second), wc::ErrorSharingViolation);
  std::string read;
  EXPECT_EQ(fs.ReadFile("C:\\Day\\index.lock", read), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.WriteFile("C:\\Day\\index.lock", "x"), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.DeleteFile("C:\\Day\\index.lock"), wc::ErrorSharingViolation);
  fs.AddFile("C:\\Day\\other.txt", "o");
  EXPECT_EQ(fs.MoveFile("C:\\Day\\other.txt", "C:\\Day\\index.lock", 1), wc::ErrorSharingViolation);
  EXPECT_EQ(fs.RecycleFile("C:\\Day"), wc::ErrorSharingViolation);
  held.reset();
  EXPECT_FALSE(fs.Exists("C:\\Day\\index.lock"));
  EXPECT_EQ(fs.OpenLockFile("C:\\Day\\index.lock", second), 0);
  EXPECT_EQ(fs.OpenLockFile("C:\\None\\index.lock", held), wc::ErrorPathNotFound);
  // A file that went while held (its folder went) is not taken for a new
  // file of that name when the lock is let go of.
  fs.Remove("C:\\Day");
  fs.AddFile("C:\\Day\\index.lock", "someone else's");
  second.reset();
  EXPECT_EQ(fs.Content("C:\\Day\\index.lock"), "someone else's");
}

// What a protected backup folder and a taken file rely on: a folder's
// protected DACL reaches what is made in it, and an owner other than the
// user needs SeRestorePrivilege.
TEST_F(MemoryFsOps, OwnersAndAccessListsOfFilesAndFolders) {
  constexpr std::uint32_t kOwner = wc::OwnerSecurityInformation;
  constexpr std::uint32_t kDacl = wc::DaclSecurityInformation;
  fs.AddDir("C:\\Safe");
  std::string sddl;
  ASSERT_EQ(fs.GetFileSecurity("C:\\Safe", kOwner | kDacl, sddl), 0);
  EXPECT_EQ(sddl, std::string("O:BA") + qp::mem::MemoryFileSystem::DefaultFileDacl);
  EXPECT_EQ(fs.SetFileSecurity("C:\\Safe", kDacl, "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"), 0);
  fs.AddFile("C:\\Safe\\Sub\\0", "hive");
  ASSERT_EQ(fs.GetFileSecurity("C:\\Safe\\Sub\\0", kDacl, sddl), 0);
  EXPECT_EQ(sddl, "D:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)") << "no entry for users comes down";
  EXPECT_EQ(fs.GetFileSecurity("C:\\Missing", kDacl, sddl), wc::ErrorFileNotFound);
  EXPECT_EQ(fs.SetFileSecurity("C:\\Safe", kDacl, "D:(A;;FA;;BA)"), wc::ErrorInvalidParameter);
  EXPECT_EQ(fs.SetFileSecurity("C:\\Safe", kDacl, "O:BA"), wc::ErrorInvalidParameter)
      << "a part the caller did not name";

  std::string user;
  ASSERT_TRUE(sys.GetUserSid(user));
  EXPECT_EQ(fs.SetFileSecurity("C:\\Safe", kOwner, "O:" + user), wc::ErrorInvalidOwner);
  ASSERT_EQ(sys.SetPrivilege("SeTakeOwnershipPrivilege", true, nullptr), 0);
  EXPECT_EQ(fs.SetFileSecurity("C:\\Safe", kOwner, "O:" + user), 0);
  const std::string installer = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  EXPECT_EQ(fs.SetFileSecurity("C:\\Safe", kOwner, "O:" + installer), wc::ErrorInvalidOwner)
      << "giving a file to another account takes the restore privilege";
  ASSERT_EQ(sys.SetPrivilege("SeRestorePrivilege", true, nullptr), 0);
  EXPECT_EQ(fs.SetFileSecurity("C:\\Safe", kOwner, "O:" + installer), 0);
  ASSERT_EQ(fs.GetFileSecurity("C:\\Safe", kOwner, sddl), 0);
  EXPECT_EQ(sddl, "O:" + installer);
}

TEST_F(MemorySystemFacts, DefaultsEnvironmentAndMessages) {
  qp::VersionInfo version;
  ASSERT_TRUE(sys.GetVersion(version));
  EXPECT_EQ(version.major * 100 + version.minor, 601u);
  EXPECT_EQ(version.build, 7601u);
  EXPECT_EQ(sys.IsWow64Process(), false);
  EXPECT_TRUE(sys.ProcessIs64Bit());
  EXPECT_EQ(sys.GetSystemDirectory(), "C:\\Windows\\system32");
  EXPECT_EQ(sys.GetTempPath(), "C:\\Users\\user\\AppData\\Local\\Temp\\");

  EXPECT_EQ(sys.ExpandEnvironmentStrings("%programfiles%\\x;%NoSuch%;100%;%windir%"),
            "C:\\Program Files\\x;%NoSuch%;100%;C:\\Windows");
  EXPECT_EQ(sys.ExpandEnvironmentStrings("%NoSuch%SystemDrive%"), "%NoSuchC:");
  sys.SetProcessIs64Bit(false);
  EXPECT_EQ(sys.IsWow64Process(), true);
  EXPECT_EQ(sys.ExpandEnvironmentStrings("%ProgramFiles%|%ProgramW6432%"),
            "C:\\Program Files (x86)|C:\\Program Files");
  sys.SetOs64Bit(false);
  EXPECT_EQ(sys.ExpandEnvironmentStrings("%ProgramW6432%"), "%ProgramW6432%");
  sys.SetExpandFails(true);
  EXPECT_EQ(sys.ExpandEnvironmentStrings("x"), std::nullopt);

  EXPECT_EQ(sys.SystemMessage(2), "The system cannot find the file specified.");
  EXPECT_EQ(sys.SystemMessage(1018),
            "Illegal operation attempted on a registry key that has been marked for deletion.");
  EXPECT_EQ(sys.SystemMessage(4242), "Unknown error 4242");

  std::string folder;
  ASSERT_TRUE(sys.GetSpecialFolder(wc::CsidlAppData | wc::CsidlFlagCreate, true, folder));
  EXPECT_EQ(folder, "C:\\Users\\user\\AppData\\Roaming");
  EXPECT_TRUE(fs.Exists(folder));
  sys.SetSpecialFolder(wc::CsidlAppData, std::nullopt);
  EXPECT_FALSE(sys.GetSpecialFolder(wc::CsidlAppData, false, folder));

  EXPECT_EQ(sys.SfcIsKeyProtected(wc::HkeyClassesRoot, "CLSID\\{X}", 0), false);
  sys.SetSfcProtectedKeys(std::set<std::string>{"HKCR\\CLSID\\{X}"});
  EXPECT_EQ(sys.SfcIsKeyProtected(wc::HkeyClassesRoot, "clsid\\{x}", 0), true);
  sys.SetSfcProtectedKeys(std::nullopt);
  EXPECT_EQ(sys.SfcIsKeyProtected(wc::HkeyClassesRoot, "CLSID\\{X}", 0), std::nullopt);
}

// What the shared registry tests cannot see through Wine: a standard
// user's token, the builder as another program, torn hive files, the
// Windows side of ReplaceKey and fault injection.
TEST_F(MemoryRegistryModel, StandardUserTokenAndPrivileges) {
  EXPECT_FALSE(sys.PrivilegeEnabled("SeBackupPrivilege"));
  EXPECT_EQ(sys.SetPrivilege("SeBackupPrivilege", true, nullptr), 0);
  EXPECT_TRUE(sys.PrivilegeEnabled("sebackupprivilege"));
  EXPECT_EQ(sys.SetPrivilege("SeNoSuchPrivilege", true, nullptr), 1313);
  EXPECT_TRUE(sys.PrivilegeEnabled("SeChangeNotifyPrivilege")) << "enabled by default";

  reg.CreateKey(View::V64, "HKLM\\Software\\Vendor");
  reg.CreateKey(View::V64, "HKCU\\Software\\Vendor");
  sys.SetAdmin(false);
  EXPECT_FALSE(sys.PrivilegeEnabled("SeBackupPrivilege")) << "the token no longer holds it";
  EXPECT_EQ(sys.SetPrivilege("SeRestorePrivilege", true, nullptr), wc::ErrorNotAllAssigned);
  EXPECT_EQ(sys.SetPrivilege("SeShutdownPrivilege", true, nullptr), 0);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Vendor", kRead), 0);
  EXPECT_EQ(Probe(wc::HkeyLocalMachine, "Software\\Vendor", wc::KeyAllAccess), 5);
  EXPECT_EQ(Probe(wc::HkeyCurrentUser, "Software\\Vendor", wc::KeyAllAccess), 0)
      << "the user's own hive grants the user";
  EXPECT_NE(reg.KeySecurity(View::V64, "HKCU\\Software\\Vendor")
                .find("(A;CI;KA;;;S-1-5-21-1004336348-1177238915-682003330-1001)"),
            std::string::npos);
  HKey key = 0;
  ASSERT_EQ(Open(wc::HkeyCurrentUser, "Software\\Vendor", wc::KeyAllAccess, key), 0);
  EXPECT_EQ(reg.SetKeySecurity(key, 4, "D:(X;;KA;;;WD)"), 87);
  EXPECT_EQ(reg.SetKeySecurity(key, 4, "D:(A;;KA;;;NOBODY)"), 87);
  reg.CloseKey(key);

  sys.SetPrivilegeResult(wc::ErrorNotAllAssigned);
  EXPECT_EQ(sys.SetPrivilege("SeShutdownPrivilege", false, nullptr), wc::ErrorNotAllAssigned);
  EXPECT_TRUE(sys.PrivilegeEnabled("SeShutdownPrivilege")) << "a forced answer changes nothing";
}

TEST_F(MemoryRegistryModel, BuilderChangesSignalLikeAnotherProgram) {
  reg.CreateKey(View::V64, "HKCU\\Software\\Watched\\Sub");
  HKey key = 0;
  ASSERT_EQ(Open(wc::HkeyCurrentUser, "Software\\Watched", kRead, key), 0);
  std::unique_ptr<qp::IChangeWatch> value, removed;
  ASSERT_EQ(reg.NotifyChangeKeyValue(key, false, 5, value), 0);
  reg.SetDword(View::V64, "HKCU\\Software\\Watched", "v", 1);
  EXPECT_TRUE(value->Wait(0));
  reg.CloseKey(key);
  ASSERT_EQ(Open(wc::HkeyCurrentUser, "Software\\Watched", kRead, key), 0);
  ASSERT_EQ(reg.NotifyChangeKeyValue(key, false, 5, removed), 0);
  reg.SetDword(View::V64, "HKCU\\Software\\Watched", "v", 1);
  EXPECT_FALSE(removed->Wait(0)) << "the same data again";
  EXPECT_TRUE(reg.DeleteTree(View::V64, "HKCU\\Software\\Watched\\Sub"));
  EXPECT_TRUE(removed->Wait(0));
  reg.CloseKey(key);
}

TEST_F(MemoryRegistryModel, TornHiveFilesAreRefusedWhole) {
  reg.SetMultiString(View::V64, "HKCU\\Software\\Saved\\A", "m", {"x", "y"});
  reg.SetDword(View::V64, "HKCU\\Software\\Saved\\B", "d", 3);
  ASSERT_EQ(sys.SetPrivilege("SeBackupPrivilege", true, nullptr), 0);
  ASSERT_EQ(sys.SetPrivilege("SeRestorePrivilege", true, nullptr), 0);
  HKey key = 0;
  ASSERT_EQ(Open(wc::HkeyCurrentUser, "Software\\Saved", kRead, key), 0);
  const std::string file = "C:\\Users\\user\\AppData\\Local\\Temp\\saved.hiv";
  ASSERT_EQ(reg.SaveKey(key, file), 0);
  reg.CloseKey(key);
  const std::string whole = fs.Content(file).value_or("");
  int cuts = 0;
  for (std::size_t cut = 0; cut < whole.size(); cut = whole.find('\n', cut + 1)) {
    fs.AddFile(file, whole.substr(0, cut));
    EXPECT_EQ(reg.LoadKey(wc::HkeyLocalMachine, "Torn", file), 1017) << "cut at " << cut;
    EXPECT_FALSE(reg.KeyExists(View::Phys, "HKLM\\Torn"));
    ++cuts;
  }
  EXPECT_GE(cuts, 5);
  std::string flipped = whole;
  flipped[flipped.find("value ") + 6] = 'g'; // not a hex digit
  fs.AddFile(file, flipped);
  EXPECT_EQ(reg.LoadKey(wc::HkeyLocalMachine, "Torn", file), 1017);
  fs.AddFile(file, whole);
  EXPECT_EQ(reg.LoadKey(wc::HkeyLocalMachine, "Torn", file), 0);
  EXPECT_EQ(reg.GetRaw(View::Phys, "HKLM\\Torn\\B", "d")->second, (qp::Bytes{3, 0, 0, 0}));
}

TEST_F(MemoryRegistryModel, WindowsReplaceKeyNeedsAHiveAndTheRestorePrivilege) {
  reg.CreateKey(View::V64, "HKLM\\Software\\Plain");
  ASSERT_EQ(sys.SetPrivilege("SeRestorePrivilege", true, nullptr), 0);
  const char *newFile = "C:\\new.hiv";
  fs.AddFile(newFile, "QUENLO MODEL HIVE 1\nkey - 1 4241 443a\nend 1\n");
  EXPECT_EQ(reg.ReplaceKey(wc::HkeyLocalMachine, "Software\\Plain", newFile, "C:\\old.hiv"), 87);
  EXPECT_EQ(reg.ReplaceKey(wc::HkeyLocalMachine, "Software\\Missing", newFile, "C:\\old.hiv"), 2);
  ASSERT_EQ(sys.SetPrivilege("SeRestorePrivilege", false, nullptr), 0);
  EXPECT_EQ(reg.ReplaceKey(wc::HkeyLocalMachine, "Software\\Plain", newFile, "C:\\old.hiv"), 1314);

  // The hook closes every handle, as a restart would.
  HKey key = 0;
  ASSERT_EQ(Open(wc::HkeyLocalMachine, "Software\\Plain", kRead, key), 0);
  std::unique_ptr<qp::IChangeWatch> watch;
  ASSERT_EQ(reg.NotifyChangeKeyValue(key, false, 5, watch), 0);
  reg.SimulateReboot();
  EXPECT_TRUE(watch->Wait(0));
  EXPECT_EQ(reg.CloseKey(key), 6);
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

TEST_F(MemoryRegistryModel, FaultsCanBeInjectedIntoTheNewOperations) {
  reg.CreateKey(View::V64, "HKCU\\Software\\Faulty");
  HKey key = 0;
  ASSERT_EQ(Open(wc::HkeyCurrentUser, "Software\\Faulty", kRead, key), 0);
  std::unique_ptr<qp::IChangeWatch> watch;
  std::string sddl;
  reg.InjectFailure(qp::mem::RegOp::Notify, "faulty", 1450);
  reg.InjectFailure(qp::mem::RegOp::GetSecurity, "faulty", 1450);
  reg.InjectFailure(qp::mem::RegOp::Save, "faulty", 112);
  EXPECT_EQ(reg.NotifyChangeKeyValue(key, false, 5, watch), 1450);
  EXPECT_EQ(watch, nullptr);
  EXPECT_EQ(reg.GetKeySecurity(key, 4, sddl), 1450);
  EXPECT_EQ(reg.SaveKey(key, "C:\\x.hiv"), 112);
  EXPECT_FALSE(fs.Exists("C:\\x.hiv"));
  EXPECT_EQ(reg.NotifyChangeKeyValue(key, false, 5, watch), 0);
  reg.CloseKey(key);
}

TEST_F(ThreadedMemoryPlatform, ConcurrentUseAndPerThreadFsView) {
  std::uintptr_t previous = 0;
  ASSERT_TRUE(fs.SwitchFsView(previous));
  bool otherSees = true;
  std::thread worker([&] {
    otherSees = fs.GetAttributes("C:\\Windows\\System32\\regedit.exe") != wc::InvalidFileAttributes;
    for (int i = 0; i < 200; ++i) {
      HKey key = 0;
      if (reg.CreateKey(wc::HkeyCurrentUser, "Software\\T" + std::to_string(i), wc::KeyAllAccess,
                        key, nullptr) == 0)
        reg.CloseKey(key);
    }
  });
  for (int i = 0; i < 200; ++i) {
    HKey key = 0;
    if (Open(wc::HkeyCurrentUser, "Software", kRead, key) == 0) {
      EnumNames(key);
      reg.CloseKey(key);
    }
  }
  worker.join();
  fs.RevertFsView(previous);
  EXPECT_FALSE(otherSees);
  EXPECT_EQ(reg.SubKeyNames(View::V64, "HKCU\\Software").size(), 201u); // with Classes
  EXPECT_EQ(reg.OpenHandleCount(), 0u);
}

} // namespace
